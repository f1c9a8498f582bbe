// Sections in which a record of the run is being written (the stop record,
// a history transaction), so that an exit forced by a second Ctrl+C never
// cuts one in half: the exit waits until no section is open.
//
// Thread-safety: any thread may open a section, and sections of several
// threads may overlap. A section must not wait for anything that could
// wait for a person (a stalled pipe, a locked database): open it once the
// writing itself begins.
#ifndef QUARNEX_STATION_RESULT_WRITING_H_
#define QUARNEX_STATION_RESULT_WRITING_H_

namespace quarnex {

// Holds off ExitWhenNoResultIsWritten while it lives.
class ResultWriting {
 public:
  ResultWriting();
  ~ResultWriting();
  ResultWriting(const ResultWriting&) = delete;
  ResultWriting& operator=(const ResultWriting&) = delete;
};

// Waits until no ResultWriting is alive, then ends the process with
// `status` at once (no destructors, no flushing of stdio). Sections opened
// after the call never begin.
[[noreturn]] void ExitWhenNoResultIsWritten(int status);

}  // namespace quarnex

#endif  // QUARNEX_STATION_RESULT_WRITING_H_
