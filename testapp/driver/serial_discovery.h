// Discovery of the serial devices on this machine, for the device map's
// choices (device_map.h).
//
// It lists, from the file system alone and without opening any device:
//   - every link in DEV/serial/by-id whose target exists, under the by-id
//     path (the name survives re-plugging, so that is what a map should
//     keep), with the node it leads to now;
//   - DEV/ttyS<N> where SYS/class/tty/ttyS<N>/type exists and does not read
//     0: a port with a UART behind it (the kernel makes ttyS0..31 whether or
//     not there is one; opening one to find out can hang on a bad driver);
//   - DEV/ttyUSB<N> and DEV/ttyACM<N>.
// A node that a by-id link leads to is listed once, as the link.
//
// The root folders are parameters, so tests run it on a fake tree.
//
// Thread-safety: no state of its own; any thread. The result is a snapshot:
// devices come and go at any time.
#ifndef QUARNEX_DRIVER_SERIAL_DISCOVERY_H_
#define QUARNEX_DRIVER_SERIAL_DISCOVERY_H_

#include <string>
#include <vector>

namespace quarnex {

// Where discovery looks: the machine's own folders by default.
struct SerialRoots {
  std::string dev = "/dev";
  std::string sys = "/sys";
};

struct SerialDevice {
  enum class Kind { kById, kUart, kUsb, kAcm };
  Kind kind;
  // What a map entry names: DEV/serial/by-id/NAME for a link, else the
  // node itself (DEV/ttyUSB0).
  std::string path;
  // How a person knows it: the link's name, or the node's ("ttyUSB0").
  std::string name;
  // The node the path leads to now (DEV/ttyUSB0); for a node, its path.
  std::string node;

  bool operator==(const SerialDevice&) const = default;
};

// The serial devices under `roots`: the by-id links by name, then the
// ttyS, ttyUSB and ttyACM nodes, each kind in the order of its number
// (ttyS2 before ttyS10). A missing or unreadable folder adds nothing; no
// error is reported.
std::vector<SerialDevice> FindSerialDevices(const SerialRoots& roots = {});

// A device as the Port... dialog lists it, described by the backend that
// found it.
struct ListedDevice {
  std::string text;  // what the list shows
  std::string path;  // what a map entry stores
  std::string tip;   // the entry's tooltip
};

// How the dialog shows a serial device: "NAME (NODE)" for a by-id link,
// with the node it leads to now in the tooltip; the node's path otherwise.
ListedDevice DescribeSerialDevice(const SerialDevice& device);

// FindSerialDevices(roots), each described.
std::vector<ListedDevice> ListSerialDevices(const SerialRoots& roots = {});

// Whether `path` leads to something now (a link is followed): false for an
// unplugged device, whose by-id link udev has removed.
bool SerialPathPresent(const std::string& path);

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_SERIAL_DISCOVERY_H_
