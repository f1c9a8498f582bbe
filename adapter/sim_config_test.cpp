// The QUARNEX_SIM text form.
#include "adapter/sim_config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace quarnex {
namespace {

SimConfig Parse(const std::string& text, std::vector<std::string>* problems = nullptr) {
  SimConfig config;
  std::vector<std::string> local;
  ParseSimConfig(text, &config, problems != nullptr ? problems : &local);
  return config;
}

std::vector<int> Ports(const SimConfig& c) {
  std::vector<int> v;
  for (const auto& entry : c.ports) v.push_back(entry.first);
  return v;
}

TEST(SimConfigTest, EmptyTextIsTheDefaultSixteenLoopbackPorts) {
  for (const char* text : {"", " ", ";;"}) {
    SimConfig c;
    EXPECT_TRUE(ParseSimConfig(text, &c, nullptr)) << text;
    ASSERT_EQ(c.ports.size(), 16u);
    EXPECT_EQ(c.ports.begin()->first, 1);
    EXPECT_EQ(c.ports.rbegin()->first, 16);
    for (const auto& [port, far] : c.ports) EXPECT_EQ(far.kind, FarEndKind::kLoopback) << port;
    EXPECT_FALSE(c.faults.any());
  }
  EXPECT_EQ(DefaultSimConfig().ports.size(), 16u);
}

TEST(SimConfigTest, PortListsAndFarEnds) {
  const SimConfig c = Parse(
      "ports=1-4,10,20-21;far=sink;2=loopback;3=source:pattern:512;4=source:file=/data/a:b.bin:256;"
      "10=source;20-21=nullmodem");
  EXPECT_EQ(Ports(c), (std::vector<int>{1, 2, 3, 4, 10, 20, 21}));
  EXPECT_EQ(c.ports.at(1).kind, FarEndKind::kSink);
  EXPECT_EQ(c.ports.at(2).kind, FarEndKind::kLoopback);
  EXPECT_EQ(c.ports.at(3).kind, FarEndKind::kSource);
  EXPECT_EQ(c.ports.at(3).frame_size, 512u);
  EXPECT_TRUE(c.ports.at(3).file.empty());
  EXPECT_EQ(c.ports.at(4).file, "/data/a:b.bin");  // a colon inside the path is kept
  EXPECT_EQ(c.ports.at(4).frame_size, 256u);
  EXPECT_EQ(c.ports.at(10).frame_size, kDefaultSourceFrameSize);
  EXPECT_EQ(c.ports.at(20).kind, FarEndKind::kNullModem);
  EXPECT_EQ(c.ports.at(20).peer, 21);
  EXPECT_EQ(c.ports.at(21).peer, 20);
}

TEST(SimConfigTest, NullModemRangesPairNeighboursAndSinglePairsNameThePeer) {
  const SimConfig c = Parse("ports=1-8;1-4=nullmodem;5=nullmodem:8");
  EXPECT_EQ(c.ports.at(1).peer, 2);
  EXPECT_EQ(c.ports.at(2).peer, 1);
  EXPECT_EQ(c.ports.at(3).peer, 4);
  EXPECT_EQ(c.ports.at(4).peer, 3);
  EXPECT_EQ(c.ports.at(5).peer, 8);
  EXPECT_EQ(c.ports.at(8).peer, 5);
  EXPECT_EQ(c.ports.at(6).kind, FarEndKind::kLoopback);
}

TEST(SimConfigTest, BrokenCableFallsBackToTheDefaultFarEnd) {
  std::vector<std::string> problems;
  // Port 3 is re-wired after pairing, so port 2 has no cable back.
  const SimConfig c = Parse("ports=1-4;far=sink;2-3=nullmodem;3=loopback", &problems);
  EXPECT_EQ(c.ports.at(2).kind, FarEndKind::kSink);
  EXPECT_EQ(c.ports.at(3).kind, FarEndKind::kLoopback);
  EXPECT_FALSE(problems.empty());
}

TEST(SimConfigTest, FaultsAndSeed) {
  const SimConfig c = Parse(
      "fault.corrupt=0.01;fault.drop=0.02;fault.cut=0.03;fault.linerr=0.004:0x18;fault.refuse=0.05:"
      "5;"
      "fault.hang=0.06;fault.instant=1;fault.ports=2-3;seed=42");
  EXPECT_DOUBLE_EQ(c.faults.corrupt, 0.01);
  EXPECT_DOUBLE_EQ(c.faults.drop, 0.02);
  EXPECT_DOUBLE_EQ(c.faults.cut, 0.03);
  EXPECT_DOUBLE_EQ(c.faults.line_error, 0.004);
  EXPECT_EQ(c.faults.line_error_mask, 0x18u);
  EXPECT_DOUBLE_EQ(c.faults.refuse, 0.05);
  EXPECT_EQ(c.faults.refuse_error, 5u);
  EXPECT_DOUBLE_EQ(c.faults.hang, 0.06);
  EXPECT_DOUBLE_EQ(c.faults.instant, 1.0);
  EXPECT_EQ(c.fault_ports, (std::set<int>{2, 3}));
  EXPECT_EQ(c.seed, 42u);
  EXPECT_TRUE(c.faults.any());
}

TEST(SimConfigTest, BadItemsAreSkippedAndTheRestApplies) {
  const char* kBad[] = {
      "ports=",
      "ports=5-2",
      "ports=1-x",
      "ports=1000",
      "far=nullmodem",
      "far=tap",
      "far=source:0",
      "far=source:file=",
      "3=sink",
      "1-3=nullmodem",
      "1=nullmodem:40",
      "fault.drop=1.5",
      "fault.drop=-0.1",
      "fault.drop=abc",
      "fault.cut=0.1:3",
      "fault.smoke=0.1",
      "fault.refuse=0.1:997",
      "seed=-1",
      "novalue",
      "colour=blue",
      "fault.linerr=0.1:zz",
      "fault.ports=",
      "unplug=",
      "unplug=0",
      "unplug=-1",
      "unplug=abc",
      "unplug=nan",
      "unplug=inf",
      "unplug=2e6",
      "unplug=2:",
      "unplug=2:x",
      "unplug=2:5",
      "unplug=2:1:2",
  };
  for (const char* bad : kBad) {
    SimConfig c;
    std::vector<std::string> problems;
    EXPECT_FALSE(ParseSimConfig(std::string("ports=1-2;") + bad + ";seed=9", &c, &problems)) << bad;
    EXPECT_EQ(problems.size(), 1u) << bad;
    EXPECT_EQ(c.seed, 9u) << bad;  // items after the bad one still apply
    EXPECT_EQ(Ports(c), (std::vector<int>{1, 2})) << bad;
    EXPECT_TRUE(c.unplug_after.empty()) << bad;
  }
}

TEST(SimConfigTest, UnplugTimesGoToTheListedPortsOrToEveryPort) {
  using Times = std::map<int, std::chrono::nanoseconds>;
  auto ms = [](int64_t n) { return std::chrono::nanoseconds(std::chrono::milliseconds(n)); };
  struct Case {
    const char* text;
    Times expected;
  };
  const Case cases[] = {
      {"ports=1-2", {}},
      {"ports=1-3;unplug=2", {{1, ms(2000)}, {2, ms(2000)}, {3, ms(2000)}}},
      {"ports=1-4;unplug=0.25:2,4", {{2, ms(250)}, {4, ms(250)}}},
      // Items apply as a whole: the port list may come later.
      {"unplug=1.5:3;ports=1-4", {{3, ms(1500)}}},
      {"unplug=1;ports=7-8", {{7, ms(1000)}, {8, ms(1000)}}},
      // A later item for the same port wins.
      {"ports=1-3;unplug=5;unplug=0.001:2", {{1, ms(5000)}, {2, ms(1)}, {3, ms(5000)}}},
      {"ports=1-2;unplug=0.001:2;unplug=5", {{1, ms(5000)}, {2, ms(5000)}}},
  };
  for (const Case& c : cases) {
    SimConfig config;
    std::vector<std::string> problems;
    EXPECT_TRUE(ParseSimConfig(c.text, &config, &problems)) << c.text;
    EXPECT_EQ(config.unplug_after, c.expected) << c.text;
  }
}

TEST(SimConfigTest, RefusalWithPendingCodeFallsBackToGenFailure) {
  for (const char* text : {"fault.refuse=0.5:997", "fault.refuse=0.5:996", "fault.refuse=0.5:0"}) {
    std::vector<std::string> problems;
    const SimConfig c = Parse(text, &problems);
    EXPECT_EQ(c.faults.refuse_error, kErrorGenFailure) << text;
    EXPECT_DOUBLE_EQ(c.faults.refuse, 0.5) << text;
    EXPECT_EQ(problems.size(), 1u) << text;
  }
}

TEST(SimConfigTest, AProblemQuotesAtMostEightyCharactersOfTheItem) {
  struct Case {
    std::string item;
    std::string quoted;  // as the problem line shows it
  };
  const std::string long_path(120000, 'x');
  const Case cases[] = {
      {"seed=" + long_path, "seed=" + std::string(75, 'x') + "..."},
      {"7=source:file=" + long_path, "7=source:file=" + std::string(66, 'x') + "..."},
      {"fault.drop=\x1b[2J", "fault.drop=?[2J"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> problems;
    Parse("ports=1-2;" + c.item, &problems);
    ASSERT_EQ(problems.size(), 1u) << c.quoted;
    EXPECT_EQ(problems[0].substr(0, problems[0].find("': ")), "ignored '" + c.quoted) << c.quoted;
  }
}

}  // namespace
}  // namespace quarnex
