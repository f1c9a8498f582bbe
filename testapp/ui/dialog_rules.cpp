// The settings dialogs' rules.
#include "testapp/ui/dialog_rules.h"

#include <algorithm>
#include <cstring>
#include <limits>

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

const char* FileLabelText(int mode) {
  return mode == kReceiveOnly ? kCompareFileLabel : kTransmitFileLabel;
}

void ApplyTestDialogOk(const TestDialogInput& input, TestDialogValues* values) {
  TestSettings& test = values->Test;
  const uint32_t packet_size = ParseUnsignedDecimal(input.packet_size);
  test.PortIndex = static_cast<int32_t>(ParseUnsignedDecimal(input.port_index));
  test.PortCount = 1;
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
