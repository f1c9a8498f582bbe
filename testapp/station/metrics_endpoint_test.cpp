#include "testapp/station/metrics_endpoint.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"
#include "testapp/settings/settings_state.h"
#include "testapp/station/http_get_test_util.h"

namespace quarnex {
namespace {

// One opened port with `packets` judged, all good.
RunSnapshot OnePort(int64_t packets, double elapsed_s) {
  RunSnapshot figures;
  figures.ElapsedSeconds = elapsed_s;
  figures.Ports.resize(1);
  PortSnapshot& port = figures.Ports[0];
  port.Opened = port.Counters.Open = true;
  port.Counters.PortNumber = 4;
  port.Counters.PacketCount = packets;
  port.Counters.GoodPacketCount = packets;
  port.Counters.TotalPacketTime = 2.0 * static_cast<double>(packets);
  return figures;
}

std::string Scrape(const MetricsEndpoint& endpoint) {
  const std::optional<HttpReply> reply = HttpGet(endpoint.Port(), "/metrics");
  if (!reply) return "no reply";
  EXPECT_EQ(reply->status, 200);
  return reply->body;
}

const std::string kCount =
    "quarnex_packet_time_seconds_count{port=\"4\",station=\"bay-2\",mode=\"transmit\"} ";
constexpr char kPackets[] =
    "quarnex_packets_total{port=\"4\",station=\"bay-2\",mode=\"transmit\"} ";

TEST(MetricsEndpointTest, ServesWhatTheRunnerPublishedAndKeepsTheFinalFigures) {
  // The run the endpoint follows; it outlives the endpoint.
  const auto context = std::make_unique<RunContext>();
  std::string error;
  auto endpoint = MetricsEndpoint::Start("127.0.0.1:0", "bay-2", &error);
  ASSERT_NE(endpoint, nullptr) << error;
  ASSERT_GT(endpoint->Port(), 0);

  RunDescription run;
  run.mode = kTransmitOnly;
  run.packet_size = 64;
  // One slot in the run; no row, as no port opened in this process.
  context->settings.Test.PortCount = 1;
  CellStore no_rows;
  endpoint->RunStarted(*context, run, 1767225600, no_rows);
  endpoint->RunInterval(OnePort(10, 1.0), OnePort(0, 0.0));
  std::string text = Scrape(*endpoint);
  EXPECT_NE(text.find(std::string(kPackets) + "10\n"), std::string::npos) << text;
  EXPECT_NE(text.find("quarnex_run_finished{station=\"bay-2\",mode=\"transmit\"} 0\n"),
            std::string::npos)
      << text;
  EXPECT_NE(
      text.find("quarnex_run_start_time_seconds{station=\"bay-2\",mode=\"transmit\"} 1767225600\n"),
      std::string::npos)
      << text;

  // Packets the loop saw between two publications wait for the next one:
  // a scrape never counts more packets in the histogram than good packets.
  PortContext& live = context->run.Ports[0];
  live.GoodPacketCount.store(12);
  live.TotalPacketTime.store(24.0);
  endpoint->RunPolled({0}, 1.5);
  live.GoodPacketCount.store(0);
  live.TotalPacketTime.store(0.0);
  text = Scrape(*endpoint);
  EXPECT_NE(text.find(kCount + "10\n"), std::string::npos) << text;

  // The stop record's figures are final: a report the loop would still
  // make after them never shows, so no counter runs past the summary.
  endpoint->RunStopping(OnePort(17, 1.5));
  endpoint->RunInterval(OnePort(19, 2.0), OnePort(17, 1.5));
  RunOutcome outcome;
  outcome.end_reason = EndReason::kDuration;
  outcome.figures = OnePort(19, 2.0);
  endpoint->RunEnded(outcome);
  text = Scrape(*endpoint);
  EXPECT_NE(text.find(std::string(kPackets) + "17\n"), std::string::npos) << text;
  EXPECT_NE(text.find(kCount + "17\n"), std::string::npos) << text;
  EXPECT_NE(text.find("quarnex_run_finished{station=\"bay-2\",mode=\"transmit\"} 1\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(endpoint->Text(), text.substr(text.find("# HELP quarnex_")));
}

TEST(MetricsEndpointTest, ARunThatDidNotStartIsShownFinished) {
  std::string error;
  auto endpoint = MetricsEndpoint::Start("127.0.0.1:0", "bay-2", &error);
  ASSERT_NE(endpoint, nullptr) << error;
  RunOutcome outcome;
  outcome.run.mode = kTransmitOnly;
  outcome.end_reason = EndReason::kNotStarted;
  outcome.figures = OnePort(0, 0.0);
  outcome.figures.Ports[0].Opened = outcome.figures.Ports[0].Counters.Open = false;
  endpoint->RunEnded(outcome);
  const std::string text = Scrape(*endpoint);
  EXPECT_NE(text.find("quarnex_run_finished{station=\"bay-2\",mode=\"transmit\"} 1\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("quarnex_port_state{port=\"4\",station=\"bay-2\",mode=\"transmit\","
                      "state=\"not_opened\"} 1\n"),
            std::string::npos)
      << text;
}

// A client connected to 127.0.0.1:`port` that sends `sent` and then
// nothing more, holding the connection until it goes.
class HeldClient {
 public:
  HeldClient(int port, const std::string& sent) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ =
        fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        send(fd_, sent.data(), sent.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(sent.size());
  }
  ~HeldClient() {
    if (fd_ >= 0) close(fd_);
  }
  HeldClient(const HeldClient&) = delete;
  HeldClient& operator=(const HeldClient&) = delete;

  bool connected() const { return connected_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

TEST(MetricsEndpointTest, IdleAndSlowClientsDoNotHoldUpAScrape) {
  const auto context = std::make_unique<RunContext>();
  std::string error;
  auto endpoint = MetricsEndpoint::Start("127.0.0.1:0", "bay-2", &error);
  ASSERT_NE(endpoint, nullptr) << error;
  RunDescription run;
  run.mode = kTransmitOnly;
  context->settings.Test.PortCount = 1;
  CellStore no_rows;
  endpoint->RunStarted(*context, run, 1767225600, no_rows);
  endpoint->RunInterval(OnePort(10, 1.0), OnePort(0, 0.0));

  // One client connected and silent, one stuck halfway through its
  // request: each holds a worker of the server while the scrape comes.
  const HeldClient idle(endpoint->Port(), "");
  const HeldClient slow(endpoint->Port(), "GET /metr");
  ASSERT_TRUE(idle.connected());
  ASSERT_TRUE(slow.connected());
  // Give the server time to hand both to its workers, so the scrape comes
  // behind them.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The client's limit is long, and far below the time a held worker
  // would keep the scrape waiting behind them.
  const std::optional<HttpReply> reply = HttpGet(endpoint->Port(), "/metrics", 10.0);
  ASSERT_TRUE(reply.has_value()) << "no reply while other clients were held";
  EXPECT_EQ(reply->status, 200);
  EXPECT_NE(reply->body.find(std::string(kPackets) + "10\n"), std::string::npos) << reply->body;
}

TEST(MetricsEndpointTest, AnAddressInUseIsRefusedWithALine) {
  std::string error;
  auto first = MetricsEndpoint::Start("127.0.0.1:0", "a", &error);
  ASSERT_NE(first, nullptr) << error;
  const std::string taken = "127.0.0.1:" + std::to_string(first->Port());
  EXPECT_EQ(MetricsEndpoint::Start(taken, "b", &error), nullptr);
  EXPECT_TRUE(error.starts_with("cannot serve metrics on " + taken + ": ")) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace quarnex
