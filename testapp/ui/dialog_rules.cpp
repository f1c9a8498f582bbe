// The settings dialogs' rules.
#include "testapp/ui/dialog_rules.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "testapp/station/station_run.h"

namespace quarnex {
namespace {

constexpr uint32_t kMaxU32 = std::numeric_limits<uint32_t>::max();

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// A byte that continues a UTF-8 character.
bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

uint32_t ParseUnsignedDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  uint64_t value = 0;
  bool any_digit = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    any_digit = true;
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > kMaxU32) return 0;
  }
  return any_digit ? static_cast<uint32_t>(value) : 0;
}

bool ReadWholeNumber(std::string_view text, uint32_t* value) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (begin == end) return false;
  uint64_t parsed = 0;
  for (size_t i = begin; i < end; ++i) {
    if (!IsDigit(text[i])) return false;
    parsed = parsed * 10 + static_cast<uint64_t>(text[i] - '0');
    if (parsed > kMaxU32) return false;
  }
  *value = static_cast<uint32_t>(parsed);
  return true;
}

namespace {

// Adds a problem for `field` unless its text reads a number in [min, max].
void CheckRange(std::vector<FieldProblem>* problems, int field, std::string_view text, uint32_t min,
                uint32_t max) {
  uint32_t value = 0;
  if (ReadWholeNumber(text, &value) && value >= min && value <= max) return;
  problems->push_back({field, std::to_string(min) + " to " + std::to_string(max)});
}

}  // namespace

std::vector<FieldProblem> CheckTestDialog(const TestDialogInput& input) {
  std::vector<FieldProblem> problems;
  CheckRange(&problems, kFieldPortIndex, input.port_index, kMinPortIndex, kMaxPortIndex);
  uint32_t first = 0;
  uint32_t count = 0;
  if (ReadWholeNumber(input.port_count, &count) && count >= kPortCountMin &&
      count <= kPortCountMax) {
    if (ReadWholeNumber(input.port_index, &first) && first >= kMinPortIndex &&
        first <= kMaxPortIndex && first + count - 1 > kMaxPortIndex) {
      problems.push_back({kFieldPortCount, "at most " + std::to_string(kMaxPortIndex - first + 1) +
                                               " from port " + std::to_string(first)});
    }
  } else {
    problems.push_back({kFieldPortCount, "1 to " + std::to_string(kPortCountMax)});
  }
  CheckRange(&problems, kFieldPacketSize, input.packet_size, kPacketSizeMin, kPacketSizeMax);
  if (input.selected_mode != kLoopback && input.file_name.size() > kMaxFileNameLength) {
    problems.push_back(
        {kFieldFileName, "at most " + std::to_string(kMaxFileNameLength) + " bytes"});
  }
  return problems;
}

std::vector<FieldProblem> CheckOptions(const OptionsInput& input) {
  std::vector<FieldProblem> problems;
  if (input.pause_after_checked) {
    CheckRange(&problems, kFieldPauseAfter, input.pause_after, 1,
               static_cast<uint32_t>(std::numeric_limits<int32_t>::max()));
  }
  CheckRange(&problems, kFieldDelay, input.delay, 0, kMaxDelayMs);
  CheckRange(&problems, kFieldUpdateInterval, input.update_interval, 0, kMaxUpdateIntervalMs);
  return problems;
}

namespace {

std::string_view WithoutBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<FieldProblem> CheckMetricsOption(const MetricsInput& input) {
  if (IsMetricsAddress(WithoutBlanks(input.address))) return {};
  return {{kFieldMetricsAddress, std::string("use ") + kMetricsAddressForm}};
}

MetricsSetting ReadMetricsFields(const MetricsInput& input) {
  return {input.serve, std::string(WithoutBlanks(input.address))};
}

std::vector<FieldProblem> CheckTimeouts(std::string_view multiplier, std::string_view constant) {
  std::vector<FieldProblem> problems;
  CheckRange(&problems, kFieldMultiplier, multiplier, 0, kMaxU32);
  CheckRange(&problems, kFieldConstant, constant, 0, kMaxU32);
  return problems;
}

const char* FileLabelText(int mode) {
  return mode == kReceiveOnly ? kCompareFileLabel : kTransmitFileLabel;
}

void ApplyTestDialogOk(const TestDialogInput& input, TestDialogValues* values) {
  TestSettings& test = values->Test;
  const uint32_t packet_size = ParseUnsignedDecimal(input.packet_size);
  test.PortIndex = static_cast<int32_t>(ParseUnsignedDecimal(input.port_index));
  const uint32_t port_count = ParseUnsignedDecimal(input.port_count);
  test.PortCount = port_count >= static_cast<uint32_t>(kPortCountMin) &&
                           port_count <= static_cast<uint32_t>(kPortCountMax)
                       ? static_cast<int32_t>(port_count)
                       : 1;
  if (packet_size >= kPacketSizeMin && packet_size <= static_cast<uint32_t>(kPacketSizeMax)) {
    values->PacketSize = static_cast<int32_t>(packet_size);
  }
  test.Mode = input.selected_mode;
  if (test.Mode != kLoopback) {
    size_t length = std::min(input.file_name.size(), kMaxFileNameLength);
    // A cut inside a multi-byte character would leave a name no file has.
    if (length < input.file_name.size()) {
      while (length > 0 && IsContinuationByte(input.file_name[length])) --length;
    }
    std::memset(test.FileName, 0, sizeof(test.FileName));
    std::memcpy(test.FileName, input.file_name.data(), length);
    test.FileNameLength = static_cast<uint8_t>(length);
  } else {
    test.FileNameLength = 0;
  }
}

void ApplyOptionsOk(const OptionsInput& input, TestSettings* test) {
  if (input.pause_after_checked) {
    const int32_t count = static_cast<int32_t>(ParseUnsignedDecimal(input.pause_after));
    if (count > 0) test->PauseAfter = count;
  } else {
    test->PauseAfter = 0;
  }
  test->TimeoutBlockedThreads = input.timeout_blocked_threads ? 1 : 0;
  test->Delay = ParseUnsignedDecimal(input.delay);
  test->UpdateInterval = ParseUnsignedDecimal(input.update_interval);
}

TimeoutSettings ReadTimeoutFields(std::string_view multiplier, std::string_view constant) {
  return TimeoutSettings{ParseUnsignedDecimal(multiplier), ParseUnsignedDecimal(constant)};
}

std::string ReceivedText(const std::vector<uint8_t>& data, uint32_t length) {
  const size_t n = std::min(static_cast<size_t>(length), data.size());
  const auto end = std::find(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n), 0);
  return std::string(data.begin(), end);
}

}  // namespace quarnex
