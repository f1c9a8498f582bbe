// What the Port dialog lists and what its OK does with the choices, apart
// from any widget.
//
// The dialog maps each port of the test range to a device: the simulated
// adapter, or a serial device (found on the machine or typed as a path),
// optionally with the UART's internal loopback. A port on the simulated
// adapter is left out of the map, since a port the map leaves out opens the
// default backend; so the map holds the serial devices alone, and entries of
// ports outside the range the dialog shows are kept as they are.
//
// Pure functions, safe from any thread, except ReadLineSummary, which reads
// a file.
#ifndef QUARNEX_UI_PORT_DIALOG_RULES_H_
#define QUARNEX_UI_PORT_DIALOG_RULES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/driver/device_map.h"
#include "testapp/driver/serial_discovery.h"
#include "testapp/ui/dialog_rules.h"

namespace quarnex {

// The Port dialog's record: the ports it lists (from the test settings,
// never changed by the dialog) and the device map it edits.
struct PortDialogValues {
  int32_t PortIndex;
  int32_t PortCount;
  DeviceMap Map;
};

// The ports of PortIndex .. PortIndex + PortCount - 1 that a map can name
// (0 to 999), in order.
std::vector<int> ListedPorts(int32_t port_index, int32_t port_count);

// The line a run sets up, as the configuration file gives it.
struct LineSummary {
  bool file_read = false;
  std::string problem;   // "<file>: <reason>" when the file could not be read
  int32_t bit_rate = 0;  // <= 0: none
  int data_bits = 5;
  char parity = 'N';  // 'N', 'O' or 'E'
  bool hardware_flow = false;
};

// Reads `file_name` (config_file.h says which files are read) into a block
// of its own, never the run's, and decodes the line as the backends do:
// TxCharacterSize 0, 1, 2, 3 = 5, 7, 6, 8 data bits, any other code 8;
// Parity 0 none, 1 odd, any other value even; AutoDcdCts nonzero RTS/CTS.
// A file that cannot be read gives the empty configuration a run then uses.
LineSummary ReadLineSummary(const char* file_name);

// "115200 bit/s, 8 data bits, no parity, no flow control"; without a
// BitRate "no BitRate (unpaced; a serial port keeps its rate), ...".
std::string LineSummaryText(const LineSummary& line);

// One entry of a port's device list; its path is what the map stores:
// kSimulatedDevicePath or a device path.
using DeviceChoice = ListedDevice;

inline constexpr char kSimulatedAdapterText[] = "Simulated adapter";
inline constexpr char kMissingSuffix[] = " (missing)";

// The device list every listed port offers: the simulated adapter first,
// then each found device as its backend describes it (DescribeSerialDevice:
// "NAME (NODE)" for a by-id link), then each path that `map` names for a port of `ports` and
// discovery did not list, with kMissingSuffix when `present` says it leads
// nowhere now (unplugged). Each path appears once.
std::vector<DeviceChoice> DeviceChoices(const std::vector<ListedDevice>& found,
                                        const DeviceMap& map, const std::vector<int>& ports,
                                        const std::function<bool(const std::string&)>& present);

// The position in `choices` of the entry storing `path`: 0 (the simulated
// adapter) for kSimulatedDevicePath or a port without an entry.
int ChoiceOf(const std::vector<DeviceChoice>& choices, const DeviceMapEntry* entry);

// The path a device field's text stands for: the path of the choice shown
// with exactly that text, else the text as typed without the blanks around
// it ("sim" standing for the simulated adapter, as in the map).
std::string ChoicePath(const std::vector<DeviceChoice>& choices, std::string_view text);

// One listed port as OK finds it.
struct PortRowInput {
  int port;
  std::string path;  // ChoicePath of its field
  bool internal_loopback;
};

// Port dialog, before OK: each row's path is the simulated adapter or an
// absolute path that a map entry can hold. A FieldProblem's field is the
// row's position in `rows`. Empty when all hold.
std::vector<FieldProblem> CheckPortRows(const std::vector<PortRowInput>& rows);

// Port dialog, OK (CheckPortRows has passed the rows): the listed ports'
// entries are replaced by the rows, a row on the simulated adapter by no
// entry at all (its loopback tick dropped: the simulated ports all carry a
// loopback plug); entries of other ports stay.
void ApplyPortDialogOk(const std::vector<PortRowInput>& rows, DeviceMap* map);

}  // namespace quarnex

#endif  // QUARNEX_UI_PORT_DIALOG_RULES_H_
