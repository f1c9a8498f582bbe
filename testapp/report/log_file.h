// The result log: a text file that grows across launches, with a start
// record when a run starts and a stop record with every open port's counters
// when it stops.
//
// Records are appended to "Quarnex.LOG" in the current folder. Line ends are
// CR LF, the stored format, written explicitly because Linux streams have no
// text mode. Each record is flushed as soon as it is written, so a crash
// loses nothing already logged. When the file cannot be opened the tester
// keeps no log: every write is skipped.
//
// A log that cannot be written is told, never silently lost. The caller
// asks TakeFailure() after Open() and after each record it writes, and shows
// what it gets (a status-bar text, a line on standard error):
//
//   LogFile log;
//   log.Open();
//   WriteStartRecord(log, ...);
//   if (std::optional<std::string> failure = log.TakeFailure()) Tell(*failure);
//
// A failed record may be torn: part of it reached the file. The next record
// then starts with a line end of its own, so its first line is not glued to
// the torn one; the records themselves keep their format byte for byte.
//
// Thread-safety: a LogFile is used by one thread at a time (the main thread
// writes every record). The counters it logs are a snapshot the caller took,
// so the writers never touch live port records.
#ifndef QUARNEX_REPORT_LOG_FILE_H_
#define QUARNEX_REPORT_LOG_FILE_H_

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/report/port_counters.h"
#include "testapp/settings/records.h"

namespace quarnex {

// The log's file name, in the current folder.
inline constexpr char kLogFileName[] = "Quarnex.LOG";

// Owner of the log stream. Closed when destroyed.
class LogFile {
 public:
  // A log that is not open: every write is skipped.
  LogFile() = default;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  LogFile(LogFile&&) = default;
  LogFile& operator=(LogFile&&) = default;
  ~LogFile() = default;

  // Opens `path` for appending, creating it if missing; a log that was open
  // is closed first. Returns false, leaving the log closed, if the file
  // cannot be opened; TakeFailure() then tells why.
  bool Open(const char* path = kLogFileName);
  // Closes the stream; later writes are skipped. Harmless when not open.
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  // Appends `text` with every "\n" stored as "\r\n", then flushes the
  // stream. Skipped when the log is not open. A record that does not reach
  // the file whole is a failure (see TakeFailure); the log stays open, and
  // the next record is written after a "\r\n" of its own.
  void WriteRecord(std::string_view text);

  // The failure not told yet, once, or nothing: "cannot open the log PATH:
  // REASON" or "cannot write the log PATH: REASON", PATH as given to Open,
  // REASON the system's English text for the error ("No space left on
  // device"). Only the first failure of a series is kept and told; once a
  // record reaches the file whole again, the next failure is told anew.
  std::optional<std::string> TakeFailure();
  // Whether the last record written failed. False before any record, and
  // after Open.
  bool LastRecordFailed() const { return last_record_failed_; }

 private:
  // Keeps "cannot `what` the log ...: <`error`'s text>" unless a failure
  // waits to be told or this one continues a series (the last record failed).
  void NoteFailure(const char* what, int error);

  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::string path_;
  std::optional<std::string> untold_failure_;
  bool last_record_failed_ = false;
};

// Writes the start record: the timestamp of `now`, the test parameters
// (settings.PortCount and `packet_size`, the size the run really uses) and
// the five port settings, then each of `line_notes` on a line of its own
// (the ports whose lines run at another rate than BitRate; a run without
// any writes the record as it always was). Skipped when the log is not open.
void WriteStartRecord(LogFile& log, const TestSettings& settings, int32_t packet_size,
                      const PortSettings& port, const std::vector<std::string>& line_notes,
                      std::time_t now);
// The same with the current time.
void WriteStartRecord(LogFile& log, const TestSettings& settings, int32_t packet_size,
                      const PortSettings& port, const std::vector<std::string>& line_notes = {});

// Writes one port's counter block (without its "[COM%d]" header). The
// average packet-time line appears only when some packet was good.
void WritePortResults(LogFile& log, const PortCounters& counters);

// Writes the stop record: a "[COM%d]" header and counter block for each of
// `open_ports` (the ports still open, in slot order), then the timestamp of
// `now`. Skipped when the log is not open.
void WriteStopRecord(LogFile& log, const std::vector<PortCounters>& open_ports, std::time_t now);
// The same with the current time.
void WriteStopRecord(LogFile& log, const std::vector<PortCounters>& open_ports);

}  // namespace quarnex

#endif  // QUARNEX_REPORT_LOG_FILE_H_
