#include "testapp/report/log_file.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#include "testapp/platform/message_quote.h"
#include "testapp/platform/open_error.h"
#include "testapp/platform/regular_file.h"
#include "testapp/report/text_format.h"

namespace quarnex {
namespace {

// Texts of the port settings by value. A value outside a table writes
// nothing, so the next label continues the same line, as it always has.
constexpr const char* kParityTexts[] = {"No parity\n", "Odd\n", "Even\n", "Mark\n", "Space\n"};
constexpr const char* kStopBitsTexts[] = {"1\n", "1.5\n", "2\n"};
constexpr const char* kFlowControlTexts[] = {"No Flow\n", "Xon/Xoff\n", "Rts/Cts\n", "Dtr/Dsr\n",
                                             "Rts control\n"};

template <size_t N>
void AppendSettingText(std::string* text, const char* const (&table)[N], uint32_t value) {
  if (value < N) *text += table[value];
}

// The average packet time as the log prints it: whole milliseconds, the
// fraction dropped. Out-of-range values read 0 or the largest value instead
// of an undefined conversion.
unsigned AveragePacketTime(double total_ms, int64_t good_packets) {
  const double average = total_ms / static_cast<double>(good_packets);
  if (!(average >= 0.0)) return 0;
  if (average >= static_cast<double>(std::numeric_limits<unsigned>::max())) {
    return std::numeric_limits<unsigned>::max();
  }
  return static_cast<unsigned>(average);
}

void AppendPortResults(std::string* text, const PortCounters& c) {
  AppendFormatC(text, "Number of packets: %" PRId64 "\n", c.PacketCount);
  // Without a good packet there is no average, so the line is left out
  // rather than showing the result of a division by zero.
  if (c.PacketCount > c.ErrorCount && c.GoodPacketCount > 0) {
    AppendFormatC(text, "Packet time (ms):  %u\n",
                  AveragePacketTime(c.TotalPacketTime, c.GoodPacketCount));
  }
  AppendFormatC(text, "Number of Errors:  %" PRId64 "\n", c.ErrorCount);
  // "  Write failed:    3": the names in a column 17 wide.
  for (size_t i = kFirstErrorCause; i < kPacketCounterCount; ++i) {
    const PacketCounterField& field = kPacketCounterFields[i];
    AppendFormatC(text, "  %-17s%" PRId64 "\n", (std::string(field.name) + ":").c_str(),
                  c.*field.member);
  }
}

// The reason for `error` in English whatever the C library's locale, as
// every other text of the tester (Qt sets the locale from the environment).
std::string ErrorText(int error) {
  if (error == 0) return "the write was cut short";
  return OpenErrorText(error);
}

}  // namespace

bool LogFile::Open(const char* path) {
  file_.reset();
  path_ = path;
  last_record_failed_ = false;
  // Binary append: the CR LF line ends are written by WriteRecord itself.
  errno = 0;
  file_.reset(OpenFileForWriting(path, /*append=*/true));
  if (file_ == nullptr) {
    NoteFailure("open", errno);
    return false;
  }
  return true;
}

void LogFile::Close() { file_.reset(); }

void LogFile::WriteRecord(std::string_view text) {
  if (!file_) return;
  std::string bytes;
  bytes.reserve(text.size() + text.size() / 8 + 2);
  // A torn record ends inside a line; the next one must not continue it.
  if (last_record_failed_) bytes += "\r\n";
  for (const char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  // One write per record, so a failure has one cause and one place.
  errno = 0;
  const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file_.get());
  int error = errno;
  // Each record reaches the file at once, so a crash loses nothing logged.
  const bool flushed = std::fflush(file_.get()) == 0;
  if (error == 0) error = errno;
  if (written == bytes.size() && flushed && !std::ferror(file_.get())) {
    last_record_failed_ = false;
    return;
  }
  // The error flag is sticky: cleared, the next record gets its own try
  // (the disk may have room again by then).
  std::clearerr(file_.get());
  NoteFailure("write", error);
  last_record_failed_ = true;
}

std::optional<std::string> LogFile::TakeFailure() {
  std::optional<std::string> failure;
  failure.swap(untold_failure_);
  return failure;
}

void LogFile::NoteFailure(const char* what, int error) {
  if (untold_failure_ || last_record_failed_) return;
  untold_failure_ = std::string("cannot ") + what + " the log " + QuotePathForMessage(path_) +
                    ": " + ErrorText(error);
}

void WriteStartRecord(LogFile& log, const TestSettings& settings, int32_t packet_size,
                      const PortSettings& port, const std::vector<std::string>& line_notes,
                      std::time_t now) {
  if (!log.IsOpen()) return;
  std::string text;
  AppendFormatC(&text, "\n\n\n>>> TEST START: %s\n\n", LogTimestamp(now).c_str());
  text += "\n*** TEST PARAMETERS ***\n\n";
  AppendFormatC(&text, "Number of ports:     %d\n", settings.PortCount);
  AppendFormatC(&text, "Packet size (bytes): %d\n", packet_size);
  text += "\n*** PORT SETTINGS ***\n\n";
  AppendFormatC(&text, "Speed (bps):         %d\n", port.BaudRate);
  AppendFormatC(&text, "Byte size:           %d\n", port.ByteSize);
  text += "Parity:              ";
  AppendSettingText(&text, kParityTexts, port.Parity);
  text += "Number of stop bits: ";
  AppendSettingText(&text, kStopBitsTexts, port.StopBits);
  text += "Flow control:        ";
  AppendSettingText(&text, kFlowControlTexts, static_cast<uint32_t>(port.FlowControl));
  if (!line_notes.empty()) {
    text += '\n';
    for (const std::string& note : line_notes) text += note + '\n';
  }
  log.WriteRecord(text);
}

void WriteStartRecord(LogFile& log, const TestSettings& settings, int32_t packet_size,
                      const PortSettings& port, const std::vector<std::string>& line_notes) {
  WriteStartRecord(log, settings, packet_size, port, line_notes, std::time(nullptr));
}

void WritePortResults(LogFile& log, const PortCounters& counters) {
  if (!log.IsOpen()) return;
  std::string text;
  AppendPortResults(&text, counters);
  log.WriteRecord(text);
}

void WriteStopRecord(LogFile& log, const std::vector<PortCounters>& open_ports, std::time_t now) {
  if (!log.IsOpen()) return;
  std::string text;
  for (const PortCounters& port : open_ports) {
    AppendFormatC(&text, "\n\n[COM%d]\n", port.PortNumber);
    AppendPortResults(&text, port);
  }
  AppendFormatC(&text, "\n\n\n>>> TEST STOP: %s\n\n", LogTimestamp(now).c_str());
  log.WriteRecord(text);
}

void WriteStopRecord(LogFile& log, const std::vector<PortCounters>& open_ports) {
  WriteStopRecord(log, open_ports, std::time(nullptr));
}

}  // namespace quarnex
