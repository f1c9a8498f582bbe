// quarnex-run scraped by a real Prometheus server: a 4-port run on the
// simulated adapter with one corrupting port, a `prometheus` started on
// free local ports with a scrape every second, and its HTTP API asked for
// what it stored. The counters must equal the runner's JSON summary for
// every port.
//
// Skipped, with a line saying why, where the `prometheus` program is not
// installed (QUARNEX_PROMETHEUS may name it).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "testapp/runner/station_test_util.h"
#include "testapp/station/http_get_test_util.h"

namespace quarnex {
namespace {

namespace fs = std::filesystem;

constexpr char kStation[] = "burn-in-7";
// Port 3 corrupts one received frame in twenty.
constexpr char kSim[] = "ports=1-4;fault.corrupt=0.05;fault.ports=3;seed=7";

std::optional<std::string> FindPrometheus() {
  if (const char* named = std::getenv("QUARNEX_PROMETHEUS"); named != nullptr && *named != '\0') {
    return std::string(named);
  }
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const fs::path candidate = fs::path(dir) / "prometheus";
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return std::nullopt;
}

// A TCP port no one listened on a moment ago. Another process may still
// take it before Prometheus does; the caller tries again then.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

template <typename Condition>
bool WaitUntil(Condition condition, double timeout_s) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// A Prometheus server scraping one target every second, its data in the
// sandbox.
class PrometheusServer {
 public:
  PrometheusServer(const std::string& program, const StationSandbox& box, int target_port) {
    const fs::path config = box.dir() / "prometheus.yml";
    std::ofstream(config) << "global:\n"
                             "  scrape_interval: 1s\n"
                             "  scrape_timeout: 1s\n"
                             "  evaluation_interval: 1s\n"
                             "scrape_configs:\n"
                             "  - job_name: quarnex\n"
                             "    static_configs:\n"
                             "      - targets: ['127.0.0.1:"
                          << target_port << "']\n";
    // A port taken between FreePort and the server's bind ends the server
    // at once: try another.
    for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
      const int port = FreePort();
      const std::string name = "prometheus" + std::to_string(attempt);
      server_ = std::make_unique<ChildProcess>(
          std::vector<std::string>{program, "--config.file=" + config.string(),
                                   "--storage.tsdb.path=" + (box.dir() / name).string(),
                                   "--web.listen-address=127.0.0.1:" + std::to_string(port),
                                   "--log.level=warn"},
          std::vector<std::string>{}, std::vector<std::string>{}, box.dir(),
          box.dir() / (name + ".out"), box.dir() / (name + ".err"));
      const bool ready = WaitUntil(
          [&] {
            if (server_->Wait(0).has_value()) return true;
            const std::optional<HttpReply> reply = HttpGet(port, "/-/ready", 2.0);
            return reply && reply->status == 200;
          },
          kStationTimeoutS);
      if (ready && !server_->Wait(0).has_value()) port_ = port;
      log_ += server_->Err();
    }
  }
  ~PrometheusServer() {
    if (server_) {
      server_->Signal(SIGTERM);
      server_->Wait(kStationTimeoutS);
    }
  }

  int port() const { return port_; }  // 0 when it never came up
  const std::string& log() const { return log_; }

  // The samples an instant query returns now, by their labels' values
  // `key_labels` joined with "/" (e.g. "3/data_mismatch").
  std::map<std::string, double> Query(const std::string& query,
                                      const std::vector<std::string>& key_labels) const {
    std::map<std::string, double> samples;
    const std::optional<HttpReply> reply =
        HttpGet(port_, "/api/v1/query?query=" + UrlEscape(query));
    if (!reply || reply->status != 200) return samples;
    const QJsonObject answer = JsonLine(reply->body);
    for (const QJsonValue& item : answer["data"].toObject()["result"].toArray()) {
      const QJsonObject metric = item.toObject()["metric"].toObject();
      std::string key;
      for (const std::string& label : key_labels) {
        if (!key.empty()) key += "/";
        key += metric[QString::fromStdString(label)].toString().toStdString();
      }
      samples[key] = item.toObject()["value"].toArray()[1].toString().toDouble();
    }
    return samples;
  }

 private:
  std::unique_ptr<ChildProcess> server_;
  int port_ = 0;
  std::string log_;
};

// The port the runner says it serves its metrics on; 0 before it said so.
int MetricsPort(const std::string& err) {
  static const std::string kSaid = "metrics at http://127.0.0.1:";
  const size_t at = err.find(kSaid);
  return at == std::string::npos ? 0 : std::atoi(err.c_str() + at + kSaid.size());
}

TEST(MetricsPrometheusTest, ScrapedCountersEqualTheSummaryForEveryPort) {
  const std::optional<std::string> prometheus = FindPrometheus();
  if (!prometheus) {
    GTEST_SKIP() << "no prometheus program (Debian package prometheus, which scripts/install-deps "
                    "installs; or set QUARNEX_PROMETHEUS): the check against a real Prometheus "
                    "server did not run";
  }
  StationSandbox box;
  // The run ends after 6 s; the endpoint then keeps serving its final
  // figures until the SIGTERM below.
  StationRunner runner(
      box,
      {"--ports", "1-4", "--packet-size", "256", "--duration", "6", "--json", "--quiet", "--no-log",
       "--label", kStation, "--metrics", "127.0.0.1:0", "--metrics-linger", "600"},
      kSim);
  int metrics_port = 0;
  ASSERT_TRUE(
      WaitUntil([&] { return (metrics_port = MetricsPort(runner.Err())) > 0; }, kStationTimeoutS))
      << runner.Err();

  const PrometheusServer server(*prometheus, box, metrics_port);
  ASSERT_GT(server.port(), 0) << "prometheus did not come up:\n" << server.log();

  ASSERT_TRUE(runner.WaitForOutput("\"type\":\"summary\"", kStationTimeoutS)) << runner.Err();
  const QJsonObject summary = SummaryOf(runner.Out());
  ASSERT_FALSE(summary.isEmpty()) << runner.Out();

  // At least two scrapes, and one since the runner published its final
  // figures: from then on every scrape shows exactly those.
  const std::string station = std::string("{station=\"") + kStation + "\"}";
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto scrapes =
            server.Query("count_over_time(quarnex_run_finished" + station + "[10m])", {});
        const auto finished = server.Query("quarnex_run_finished" + station, {});
        return !scrapes.empty() && scrapes.begin()->second >= 2 && !finished.empty() &&
               finished.begin()->second == 1.0;
      },
      kStationTimeoutS))
      << "Prometheus never scraped the final figures twice:\n"
      << server.log() << runner.Err();

  const auto packets = server.Query("quarnex_packets_total" + station, {"port"});
  const auto good = server.Query("quarnex_good_packets_total" + station, {"port"});
  const auto errors = server.Query("quarnex_errors_total" + station, {"port"});
  const auto causes = server.Query("quarnex_error_causes_total" + station, {"port", "cause"});
  const auto line_errors = server.Query("quarnex_line_errors_total" + station, {"port", "kind"});
  const QJsonArray ports = summary["ports"].toArray();
  ASSERT_EQ(ports.size(), 4);
  EXPECT_EQ(packets.size(), 4u);
  EXPECT_EQ(errors.size(), 4u);
  for (const QJsonValue& value : ports) {
    const QJsonObject port = value.toObject();
    const std::string number = std::to_string(port["port"].toInt());
    SCOPED_TRACE("port " + number);
    const QJsonObject counters = port["counters"].toObject();
    ASSERT_TRUE(packets.contains(number));
    EXPECT_EQ(packets.at(number), counters["packets"].toDouble());
    EXPECT_EQ(good.at(number), counters["good_packets"].toDouble());
    EXPECT_EQ(errors.at(number), counters["errors"].toDouble());
    for (const char* cause : {"write_failed", "write_aborted", "read_failed", "read_aborted",
                              "length_mismatch", "data_mismatch"}) {
      EXPECT_EQ(causes.at(number + "/" + cause), counters[cause].toDouble()) << cause;
    }
    const QJsonObject kinds = port["line_errors"].toObject();
    for (const QString& kind : kinds.keys()) {
      EXPECT_EQ(line_errors.at(number + "/" + kind.toStdString()), kinds[kind].toDouble())
          << kind.toStdString();
    }
    EXPECT_GT(counters["packets"].toDouble(), 0);
    // The fault hit port 3 alone, so the comparison saw errors.
    EXPECT_EQ(counters["errors"].toDouble() > 0, number == "3");
  }

  // Every query of the dashboard in contrib/grafana is one this server
  // takes, with Grafana's variables filled in.
  const QJsonObject dashboard =
      JsonLine(ReadWholeFile(QUARNEX_SOURCE_DIR "/contrib/grafana/quarnex.json"));
  int queries = 0;
  for (const QJsonValue& panel : dashboard["panels"].toArray()) {
    for (const QJsonValue& target : panel.toObject()["targets"].toArray()) {
      std::string expr = target.toObject()["expr"].toString().toStdString();
      for (const auto& [variable, value] :
           {std::pair<std::string, std::string>{"$station", kStation},
            {"$port", ".*"},
            {"$__rate_interval", "1m"},
            {"$__range", "10m"}}) {
        for (size_t at; (at = expr.find(variable)) != std::string::npos;) {
          expr.replace(at, variable.size(), value);
        }
      }
      ++queries;
      const std::optional<HttpReply> reply =
          HttpGet(server.port(), "/api/v1/query?query=" + UrlEscape(expr));
      ASSERT_TRUE(reply.has_value()) << expr;
      EXPECT_EQ(reply->status, 200) << expr << "\n" << reply->body;
    }
  }
  EXPECT_GT(queries, 10);

  runner.Signal(SIGTERM);
  EXPECT_EQ(runner.Wait(kStationTimeoutS), summary["exit_status"].toInt());
}

}  // namespace
}  // namespace quarnex
