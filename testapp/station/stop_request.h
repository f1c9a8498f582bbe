// StopRequest: requests to end a run early (Ctrl+C, SIGTERM, SIGHUP in
// quarnex-run). The first ends the run, a later one cuts the waits after it
// short: the station's outputs wait on it while they finish what they keep
// of a run (a history transaction, a lingering endpoint).
//
// Thread-safe: the signal watcher requests while the main thread waits.
#ifndef QUARNEX_STATION_STOP_REQUEST_H_
#define QUARNEX_STATION_STOP_REQUEST_H_

#include <condition_variable>
#include <mutex>

namespace quarnex {

class StopRequest {
 public:
  void Request();
  bool Requested() const;
  // How many requests were made so far.
  int Count() const;
  // Waits until a request is made or `timeout_ms` passed; true when made.
  bool WaitFor(double timeout_ms);
  // Waits until more than `seen` requests were made or `timeout_ms`
  // passed; true when they were.
  bool WaitForMoreThan(int seen, double timeout_ms);

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  int requests_ = 0;  // guarded by mu_
};

}  // namespace quarnex

#endif  // QUARNEX_STATION_STOP_REQUEST_H_
