// For the tests that run quarnex-run as a station (metrics, history): a
// folder of its own with quarnex.cfg and an empty settings store, the
// runner started there on the simulated adapter, and its JSON lines read
// back with Qt's JSON reader.
#ifndef QUARNEX_RUNNER_STATION_TEST_UTIL_H_
#define QUARNEX_RUNNER_STATION_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testapp/platform/test_support.h"
#include "testapp/runner/child_process_test_util.h"

namespace quarnex {

// Paced, so a run of a few seconds judges a few hundred 256-byte packets
// per port.
inline constexpr char kStationConfig[] =
    "RxCharacterSize=3\nTxCharacterSize=3\nParity=0\nBitRate=115200\n";

// Generous: sanitizer builds are slow, and a hung process must still fail.
inline constexpr double kStationTimeoutS = 60.0;

class StationSandbox {
 public:
  StationSandbox() {
    if (!folder_.made()) {
      ADD_FAILURE() << "cannot make a folder in TMPDIR";
      return;
    }
    std::filesystem::create_directories(dir() / "config");
    std::ofstream(dir() / "quarnex.cfg") << kStationConfig;
  }

  const std::filesystem::path& dir() const { return folder_.path(); }

 private:
  TempFolder folder_{"quarnex-station-"};
};

// quarnex-run in the sandbox with QUARNEX_SIM `sim`; its standard output
// and error go to `name`.out and `name`.err there.
class StationRunner : public ChildProcess {
 public:
  StationRunner(const StationSandbox& box, const std::vector<std::string>& args,
                const std::string& sim, const std::string& name = "runner")
      : ChildProcess(Command(args), {"QUARNEX_SIM", "XDG_CONFIG_HOME", "QUARNEX_TTY_DIR"},
                     {"XDG_CONFIG_HOME=" + (box.dir() / "config").string(), "QUARNEX_SIM=" + sim},
                     box.dir(), box.dir() / (name + ".out"), box.dir() / (name + ".err")) {}

 private:
  static std::vector<std::string> Command(const std::vector<std::string>& args) {
    std::vector<std::string> command = {QUARNEX_RUN_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    return command;
  }
};

inline QJsonObject JsonLine(const std::string& line) {
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
  return doc.object();
}

// Each line of `text` as a JSON object.
inline std::vector<QJsonObject> JsonLines(const std::string& text) {
  std::vector<QJsonObject> objects;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) objects.push_back(JsonLine(line));
  return objects;
}

// The summary: the last of a --json run's lines, when it is one.
inline QJsonObject SummaryOf(const std::string& out) {
  const std::vector<QJsonObject> lines = JsonLines(out);
  if (lines.empty() || lines.back()["type"].toString() != "summary") return {};
  return lines.back();
}

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_STATION_TEST_UTIL_H_
