// The configuration step of a run start: build the device configuration
// block from the configuration file once, then hand it, with the two-value
// request, to each port's driver.
//
// Thread-safety: runs on the thread that starts the run. It rewrites the
// run's DeviceConfigBlock, which no worker thread reads, and its
// TesterOptions atomics, which workers of ports configured earlier read;
// the caller hands both in.
#ifndef QUARNEX_SETTINGS_CONFIGURE_PORT_H_
#define QUARNEX_SETTINGS_CONFIGURE_PORT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "testapp/driver/device.h"
#include "testapp/settings/config_block.h"

namespace quarnex {

// Looked up in the current directory.
inline constexpr char kConfigFileName[] = "quarnex.cfg";

// The two values sent right after the block, in this order.
inline constexpr uint32_t kTwoValuesFirst = 1000;
inline constexpr uint32_t kTwoValuesSecond = 100;
inline constexpr uint32_t kTwoValuesSize = 8;

// Entries applied over the configuration file, key and value, in order;
// nothing is written to the file. The runner makes them from --set.
using ConfigOverrides = std::vector<std::pair<std::string, std::string>>;

// Zeroes `block`, reads `file_name` into it and into `options`, applies
// `overrides` (also when the file could not be read), then applies
// the StripSyncIdle preset when that option is nonzero (also one kept from an earlier read).
// Returns false when the file could not be read (config_file.h says which files are read), with the
// reason in *reason; the block then holds no more than the preset, and
// what the file had set before a failed read stays set.
// Every entry of the file whose value is not a clean number in its key's
// range is still applied as read, and its warning (ConfigValueWarning) is
// added to *warnings, when given, in file order.
bool LoadConfigFile(const char* file_name, const ConfigOverrides& overrides,
                    DeviceConfigBlock& block, TesterOptions& options, std::string* reason,
                    std::vector<std::string>* warnings = nullptr);

// Whether a configuration file that could not be read is simply absent
// (`reason` as LoadConfigFile gave it): a missing file runs with an empty
// block, while one that exists but cannot be read is a fault to report.
bool IsMissingFileReason(const std::string& reason);

// Reads `file_name` through as LoadConfigFile would, applying nothing. True
// when it reads or is missing; false, with the reason in *reason, when it
// exists but cannot be read (a folder, no permission, no descriptor left,
// an I/O error). The headless runner refuses to run on such a file.
bool ConfigFileReadableOrMissing(const char* file_name, std::string* reason);

// What is said when the configuration file could not be read:
// "<file_name> file not found", and the detail line "<file_name>: <reason>"
// with at most 80 characters of the name.
std::string ConfigFileNotice(const char* file_name);
std::string ConfigFileDetail(const char* file_name, const std::string& reason);

// Sends `block` (338 bytes, as LoadConfigFile left it) and then the two values to
// `device` (an open device, not null) with synchronous control requests. A
// rejected request is ignored: a port whose driver refuses its
// configuration still takes part in the run. Returns 1 every time.
int ConfigurePort(Device* device, const DeviceConfigBlock& block);

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_CONFIGURE_PORT_H_
