// The Port dialog's rules.
#include "testapp/ui/port_dialog_rules.h"

#include <algorithm>
#include <iterator>

#include "testapp/settings/block_line_settings.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/config_file.h"
#include "testapp/settings/configure_port.h"

namespace quarnex {
namespace {

// The highest port number a map entry takes.
constexpr int kMaxMappedPort = 999;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::vector<int> ListedPorts(int32_t port_index, int32_t port_count) {
  std::vector<int> ports;
  const int64_t first = std::max<int64_t>(port_index, 0);
  const int64_t last = std::min<int64_t>(int64_t{port_index} + port_count - 1, kMaxMappedPort);
  for (int64_t port = first; port <= last; ++port) ports.push_back(static_cast<int>(port));
  return ports;
}

LineSummary ReadLineSummary(const char* file_name) {
  DeviceConfigBlock block{};
  LineSummary line;
  std::string reason;
  line.file_read = ReadKeyValueFile(
                       file_name,
                       [&block](const char* key, const char* value) {
                         ApplyConfigKeyToBlock(key, value, &block);
                         return 1;
                       },
                       &reason) != -1;
  // As in a run, what a file set before a failed read stays set.
  if (!line.file_read) line.problem = ConfigFileDetail(file_name, reason);
  // The line as every backend reads it from the block.
  LineSettings settings;
  LineSettingsFromBlock(block.bytes, sizeof(block.bytes), &settings);
  line.bit_rate = settings.bit_rate;
  line.data_bits = settings.data_bits;
  line.parity = settings.parity == LineParity::kNone  ? 'N'
                : settings.parity == LineParity::kOdd ? 'O'
                                                      : 'E';
  line.hardware_flow = settings.hardware_flow;
  return line;
}

std::string LineSummaryText(const LineSummary& line) {
  std::string text = line.bit_rate > 0 ? std::to_string(line.bit_rate) + " bit/s"
                                       : "no BitRate (unpaced; a serial port keeps its rate)";
  text += ", " + std::to_string(line.data_bits) + " data bits, ";
  text += line.parity == 'O' ? "odd parity" : line.parity == 'E' ? "even parity" : "no parity";
  text += line.hardware_flow ? ", RTS/CTS flow control" : ", no flow control";
  return text;
}

std::vector<DeviceChoice> DeviceChoices(const std::vector<ListedDevice>& found,
                                        const DeviceMap& map, const std::vector<int>& ports,
                                        const std::function<bool(const std::string&)>& present) {
  std::vector<DeviceChoice> choices = {
      {kSimulatedAdapterText, std::string(kSimulatedDevicePath),
       "The simulated adapter's port of this number, with its loopback plug"}};
  auto listed = [&choices](const std::string& path) {
    return std::any_of(choices.begin(), choices.end(),
                       [&path](const DeviceChoice& c) { return c.path == path; });
  };
  for (const ListedDevice& device : found) {
    if (!listed(device.path)) choices.push_back(device);
  }
  for (int port : ports) {
    const DeviceMapEntry* entry = FindDeviceEntry(map, port);
    if (entry == nullptr || listed(entry->path)) continue;
    if (present(entry->path)) {
      choices.push_back({entry->path, entry->path, entry->path});
    } else {
      choices.push_back({entry->path + kMissingSuffix, entry->path,
                         entry->path + "\nis not there now (unplugged?); the entry is kept"});
    }
  }
  return choices;
}

int ChoiceOf(const std::vector<DeviceChoice>& choices, const DeviceMapEntry* entry) {
  if (entry == nullptr) return 0;
  for (size_t i = 0; i < choices.size(); ++i) {
    if (choices[i].path == entry->path) return static_cast<int>(i);
  }
  return 0;
}

std::string ChoicePath(const std::vector<DeviceChoice>& choices, std::string_view text) {
  for (const DeviceChoice& choice : choices) {
    if (choice.text == text) return choice.path;
  }
  return std::string(Trimmed(text));
}

std::vector<FieldProblem> CheckPortRows(const std::vector<PortRowInput>& rows) {
  std::vector<FieldProblem> problems;
  for (size_t i = 0; i < rows.size(); ++i) {
    const PortRowInput& row = rows[i];
    const int field = static_cast<int>(i);
    if (row.path == kSimulatedDevicePath) continue;
    if (row.path.empty()) {
      problems.push_back({field, "choose a device or type its path"});
    } else if (row.path.front() != '/') {
      problems.push_back({field, "a device path starts with /"});
    } else if (std::string_view(row.path).ends_with(kInternalLoopbackSuffix)) {
      problems.push_back(
          {field, "a device path may not end in " + std::string(kInternalLoopbackSuffix)});
    } else {
      // What the map cannot hold (control characters, a path past
      // PATH_MAX), in the map's own words.
      DeviceMapEntry entry;
      std::string error;
      if (!ParseDeviceEntry(FormatDeviceEntry({row.port, row.path, false}), &entry, &error)) {
        problems.push_back({field, error});
      }
    }
  }
  return problems;
}

void ApplyPortDialogOk(const std::vector<PortRowInput>& rows, DeviceMap* map) {
  for (const PortRowInput& row : rows) {
    std::erase_if(map->entries, [&row](const DeviceMapEntry& e) { return e.port == row.port; });
    if (row.path != kSimulatedDevicePath) {
      PutDeviceEntry(map, {row.port, row.path, row.internal_loopback});
    }
  }
}

}  // namespace quarnex
