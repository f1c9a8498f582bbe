#include "testapp/station/station_outputs.h"

#if defined(_WIN32)
#include <cstdlib>
#else
#include <unistd.h>
#endif

#include <climits>
#include <utility>

#include "testapp/station/pass_fail.h"
#include "testapp/station/station_features.h"

#if QUARNEX_HAVE_PROMETHEUS
#include "testapp/station/metrics_endpoint.h"
#endif
#if QUARNEX_HAVE_SQLITE
#include "testapp/station/history_recorder.h"
#include "testapp/station/history_report.h"
#include "testapp/station/run_history.h"
#endif

namespace quarnex {

// The history and the recorder that writes into it, in that order, so the
// recorder goes first.
struct StationOutputs::History {
#if QUARNEX_HAVE_SQLITE
  std::unique_ptr<RunHistory> file;
  std::unique_ptr<HistoryRecorder> recorder;
#endif
};

std::string StationLabel(const StationRun& station) {
  if (station.label) return *station.label;
#if defined(_WIN32)
  // The computer's name, without the socket library for gethostname.
  const char* computer = std::getenv("COMPUTERNAME");
  return computer != nullptr && computer[0] != '\0' ? computer : "localhost";
#else
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof(host) - 1) != 0 || host[0] == '\0') return "localhost";
  return host;
#endif
}

StationOutputs::StationOutputs() = default;
StationOutputs::~StationOutputs() = default;

bool StationOutputs::Open(const StationRun& station, std::string* error) {
  const std::string label = StationLabel(station);
#if QUARNEX_HAVE_PROMETHEUS
  if (station.metrics_address) {
    std::unique_ptr<MetricsEndpoint> endpoint =
        MetricsEndpoint::Start(*station.metrics_address, label, error);
    if (endpoint == nullptr) return false;
    const std::string& address = *station.metrics_address;
    std::fprintf(stderr, "%s: metrics at http://%s:%d/metrics\n", kRunnerName,
                 address.substr(0, address.rfind(':')).c_str(), endpoint->Port());
    metrics_ = std::move(endpoint);
    linger_s_ = station.metrics_linger_s;
  }
#endif
#if QUARNEX_HAVE_SQLITE
  if (station.db_path) {
    auto history = std::make_unique<History>();
    history->file = RunHistory::Open(*station.db_path, /*create=*/true, error);
    if (history->file == nullptr) return false;
    history->recorder =
        std::make_unique<HistoryRecorder>(*history->file, label, station.db_intervals);
    history_ = std::move(history);
  }
#endif
  (void)label, (void)error;
  return true;
}

std::vector<RunObserver*> StationOutputs::Observers() const {
  std::vector<RunObserver*> observers;
  if (metrics_) observers.push_back(metrics_.get());
#if QUARNEX_HAVE_SQLITE
  if (history_) observers.push_back(history_->recorder.get());
#endif
  return observers;
}

void StationOutputs::Linger(StopRequest& stop) const {
  if (metrics_ && linger_s_ > 0) stop.WaitFor(linger_s_ * 1000.0);
}

int PrintHistory(const std::string& path, const std::optional<std::string>& label,
                 const std::optional<std::string>& since, bool json, std::FILE* out) {
#if QUARNEX_HAVE_SQLITE
  std::string error;
  std::unique_ptr<RunHistory> history = RunHistory::Open(path, /*create=*/false, &error);
  std::vector<HistoryRun> runs;
  HistoryFilter filter;
  filter.label = label;
  filter.since = since;
  if (history == nullptr || !history->Query(filter, &runs, &error)) {
    std::fprintf(stderr, "%s: %s\n", kRunnerName, error.c_str());
    return kExitNoPorts;
  }
  const std::string text = json ? HistoryJsonLines(runs) : HistoryTable(runs);
  std::fwrite(text.data(), 1, text.size(), out);
  return std::fflush(out) == 0 ? kExitPass : kExitNoPorts;
#else
  (void)path, (void)label, (void)since, (void)json, (void)out;
  return kExitNoPorts;
#endif
}

}  // namespace quarnex
