// What a test station keeps besides standard output and the log, made from
// the StationRun a program fills: the Prometheus endpoint (quarnex-run
// --metrics), the history of runs (--db), and the listing of that history
// (--history).
//
// Each part is built only where its library was found (prometheus-cpp,
// SQLite); the options parser refuses the options of a missing part, so
// the calls below never meet one.
//
// The runner's main thread only.
#ifndef QUARNEX_STATION_STATION_OUTPUTS_H_
#define QUARNEX_STATION_STATION_OUTPUTS_H_

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testapp/station/run_observer.h"
#include "testapp/station/station_run.h"
#include "testapp/station/stop_request.h"

namespace quarnex {

// The station's name: its label (--label), else the host name
// ("localhost" when it cannot be read).
std::string StationLabel(const StationRun& station);

class StationOutputs {
 public:
  StationOutputs();
  ~StationOutputs();
  StationOutputs(const StationOutputs&) = delete;
  StationOutputs& operator=(const StationOutputs&) = delete;

  // Starts the endpoint and opens the history `station` asks for, and
  // tells on standard error where the metrics are served. False and
  // *error (one line) when the address cannot be bound or the history
  // cannot be opened.
  bool Open(const StationRun& station, std::string* error);

  // The observers for RunnerOutput; they live as long as this object.
  std::vector<RunObserver*> Observers() const;

  // After the run: with --metrics-linger, serves the final metrics until
  // that time has passed or `stop` is requested (Ctrl+C, SIGTERM).
  void Linger(StopRequest& stop) const;

 private:
  std::unique_ptr<RunObserver> metrics_;
  struct History;
  std::unique_ptr<History> history_;
  double linger_s_ = 0.0;
};

// --history FILE: writes the runs recorded in `path` (of station `label`,
// started at or after `since`, when given) to `out` as a table, or as JSON
// lines with `json`. Returns kExitPass, or
// kExitNoPorts after one line on standard error when the file cannot be
// read.
int PrintHistory(const std::string& path, const std::optional<std::string>& label,
                 const std::optional<std::string>& since, bool json, std::FILE* out);

}  // namespace quarnex

#endif  // QUARNEX_STATION_STATION_OUTPUTS_H_
