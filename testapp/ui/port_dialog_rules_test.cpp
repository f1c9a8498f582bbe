#include "testapp/ui/port_dialog_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "testapp/platform/test_support.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/configure_port.h"

namespace quarnex {
namespace {

TEST(PortDialogRules, ListsTheTestRangeAsFarAsAMapReaches) {
  const struct {
    int32_t index;
    int32_t count;
    std::vector<int> ports;
  } cases[] = {
      {1, 1, {1}},   {3, 4, {3, 4, 5, 6}}, {998, 5, {998, 999}},  // a map names ports up to 999
      {1000, 2, {}}, {999, 128, {999}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ListedPorts(c.index, c.count), c.ports) << c.index << " " << c.count;
  }
}

// Runs each case in a folder of its own with quarnex.cfg written there.
class LineSummaryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(work_.entered()); }
  static void WriteConfig(const std::string& text) { std::ofstream(kConfigFileName) << text; }

  TempWorkFolder work_{"quarnex-line-"};
  // What a run reads the same file into.
  DeviceConfigBlock block_{};
  TesterOptions options_;
};

TEST_F(LineSummaryTest, ShowsTheLineARunSetsUp) {
  const struct {
    const char* config;
    const char* text;
  } cases[] = {
      {"BitRate=115200\nTxCharacterSize=3\nParity=0\n",
       "115200 bit/s, 8 data bits, no parity, no flow control"},
      {"This line explains BitRate\nBitRate=9600\nTxCharacterSize=1\nParity=1\nAutoDcdCts=1\n",
       "9600 bit/s, 7 data bits, odd parity, RTS/CTS flow control"},
      // AutoDcdCts is one byte: 256 leaves it 0.
      {"TxCharacterSize=2\r\nParity=2\r\nAutoDcdCts=256\r\n",
       "no BitRate (unpaced; a serial port keeps its rate), 6 data bits, even parity, "
       "no flow control"},
      // RxCharacterSize is not what the line sends; a code past 3 runs 8 bits.
      {"BitRate=-5\nTxCharacterSize=9\nRxCharacterSize=1\nParity=7\nOverlapWrite=1\n",
       "no BitRate (unpaced; a serial port keeps its rate), 8 data bits, even parity, "
       "no flow control"},
      {"BitRate=57600\nBitRate=38400\n", "38400 bit/s, 5 data bits, no parity, no flow control"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    WriteConfig(c.config);
    const LineSummary line = ReadLineSummary(kConfigFileName);
    EXPECT_TRUE(line.file_read);
    EXPECT_EQ(line.problem, "");
    EXPECT_EQ(LineSummaryText(line), c.text);

    // The run's own reading agrees with what the dialog showed.
    std::string reason;
    ASSERT_TRUE(LoadConfigFile(kConfigFileName, {}, block_, options_, &reason)) << reason;
    const DeviceConfigBlock& run = block_;
    EXPECT_EQ(line.bit_rate, BlockBitRate(run));
    EXPECT_EQ(line.parity != 'N', BlockParity(run) != 0);
    EXPECT_EQ(line.hardware_flow, run.bytes[block::kAutoDcdCts] != 0);
    ResetTesterOptions(options_);
  }
}

TEST_F(LineSummaryTest, AFileThatCannotBeReadShowsWhyAndTheEmptyConfiguration) {
  LineSummary line = ReadLineSummary(kConfigFileName);
  EXPECT_FALSE(line.file_read);
  EXPECT_EQ(line.problem, "quarnex.cfg: no such file");
  EXPECT_EQ(LineSummaryText(line),
            "no BitRate (unpaced; a serial port keeps its rate), 5 data bits, no parity, "
            "no flow control");

  std::filesystem::create_directory(kConfigFileName);
  line = ReadLineSummary(kConfigFileName);
  EXPECT_FALSE(line.file_read);
  EXPECT_EQ(line.problem, "quarnex.cfg: not a regular file");
}

ListedDevice ById(const std::string& name, const std::string& node) {
  return DescribeSerialDevice({SerialDevice::Kind::kById, "/dev/serial/by-id/" + name, name, node});
}
ListedDevice Node(SerialDevice::Kind kind, const std::string& name) {
  return DescribeSerialDevice({kind, "/dev/" + name, name, "/dev/" + name});
}

TEST(PortDialogRules, ChoicesListTheFoundDevicesThenMappedOnesWithMissingMarked) {
  const std::vector<ListedDevice> found = {
      ById("usb-FTDI_FT232R_A50285BI-if00-port0", "/dev/ttyUSB0"),
      Node(SerialDevice::Kind::kUart, "ttyS0"),
  };
  DeviceMap map;
  PutDeviceEntry(&map, {1, "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0", true});
  PutDeviceEntry(&map, {2, "/dev/pts/7", false});
  PutDeviceEntry(&map, {3, "/dev/serial/by-id/usb-Gone-if00-port0", false});
  PutDeviceEntry(&map, {4, "sim", false});
  PutDeviceEntry(&map, {5, "/dev/ttyS0", false});
  PutDeviceEntry(&map, {7, "/dev/serial/by-id/usb-Gone-if00-port0", true});  // listed once
  PutDeviceEntry(&map, {20, "/dev/ttyACM9", false});  // outside the range: not listed
  const std::set<std::string> present = {"/dev/pts/7"};
  const std::vector<int> ports = ListedPorts(1, 8);

  const std::vector<DeviceChoice> choices = DeviceChoices(
      found, map, ports, [&present](const std::string& path) { return present.count(path) > 0; });
  std::vector<std::string> texts, paths;
  for (const DeviceChoice& c : choices) {
    texts.push_back(c.text);
    paths.push_back(c.path);
  }
  EXPECT_EQ(texts,
            (std::vector<std::string>{
                "Simulated adapter", "usb-FTDI_FT232R_A50285BI-if00-port0 (/dev/ttyUSB0)",
                "/dev/ttyS0", "/dev/pts/7", "/dev/serial/by-id/usb-Gone-if00-port0 (missing)"}));
  EXPECT_EQ(paths, (std::vector<std::string>{
                       "sim", "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0", "/dev/ttyS0",
                       "/dev/pts/7", "/dev/serial/by-id/usb-Gone-if00-port0"}));
  EXPECT_NE(choices[1].tip.find("leads to /dev/ttyUSB0"), std::string::npos) << choices[1].tip;

  // Each port opens on its own entry; a port without one on the simulator.
  const int expected_choice[] = {1, 3, 4, 0, 2, 0, 4, 0};
  for (size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(ChoiceOf(choices, FindDeviceEntry(map, ports[i])), expected_choice[i])
        << "port " << ports[i];
  }

  // A field's text stands for its choice's path; typed text for itself.
  const struct {
    const char* text;
    const char* path;
  } fields[] = {
      {"Simulated adapter", "sim"},
      {"usb-FTDI_FT232R_A50285BI-if00-port0 (/dev/ttyUSB0)",
       "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0"},
      {"/dev/serial/by-id/usb-Gone-if00-port0 (missing)", "/dev/serial/by-id/usb-Gone-if00-port0"},
      {"  /dev/pts/3\t", "/dev/pts/3"},
      {"sim", "sim"},
      {"simulated adapter", "simulated adapter"},
      {"", ""},
  };
  for (const auto& f : fields) EXPECT_EQ(ChoicePath(choices, f.text), f.path) << f.text;
}

TEST(PortDialogRules, OkRefusesWhatAMapCannotHold) {
  const std::vector<PortRowInput> rows = {
      {1, "sim", true},
      {2, "/dev/pts/3", false},
      {3, "", false},
      {4, "dev/ttyS0", false},
      {5, "/dev/ttyS0,loop", true},
      {6, "/dev/tty\x1b[2J", false},
      {7, "/" + std::string(4095, 'x'), false},
      {8, "/dev/serial/by-id/usb-A,B-if00", true},
  };
  const std::vector<FieldProblem> problems = CheckPortRows(rows);
  std::vector<std::pair<int, std::string>> seen;
  for (const FieldProblem& p : problems) seen.emplace_back(p.field, p.text);
  EXPECT_EQ(seen, (std::vector<std::pair<int, std::string>>{
                      {2, "choose a device or type its path"},
                      {3, "a device path starts with /"},
                      {4, "a device path may not end in ,loop"},
                      {5, "the device path holds a control character"},
                      {6, "the device path is longer than 4095 characters"},
                  }));
}

TEST(PortDialogRules, OkReplacesTheListedPortsAndKeepsTheOthers) {
  DeviceMap map;
  PutDeviceEntry(&map, {1, "/dev/ttyUSB0", true});
  PutDeviceEntry(&map, {2, "/dev/pts/1", false});
  PutDeviceEntry(&map, {7, "/dev/ttyS3", false});
  ApplyPortDialogOk({{1, "sim", true}, {2, "/dev/pts/4", true}, {3, "/dev/ttyACM0", false}}, &map);
  DeviceMap expected;
  PutDeviceEntry(&expected, {2, "/dev/pts/4", true});
  PutDeviceEntry(&expected, {3, "/dev/ttyACM0", false});
  PutDeviceEntry(&expected, {7, "/dev/ttyS3", false});
  EXPECT_EQ(FormatDeviceMap(map), FormatDeviceMap(expected));

  // Every port left on the simulated adapter: nothing is stored for them.
  DeviceMap empty;
  ApplyPortDialogOk({{1, "sim", false}, {2, "sim", true}}, &empty);
  EXPECT_TRUE(empty.entries.empty());
}

}  // namespace
}  // namespace quarnex
