#include "testapp/settings/configure_port.h"

#include <cstring>

#include "testapp/driver/control_codes.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/config_file.h"

namespace quarnex {

int ConfigurePort(Device* device) { return ConfigurePortFromFile(device, kConfigFileName); }

int ConfigurePortFromFile(Device* device, const char* file_name) {
  DeviceConfigBlock& block = GlobalConfigBlock();
  std::memset(block.bytes, 0, sizeof(block.bytes));
  // A missing or unreadable file leaves the block zero; the port still runs.
  ReadKeyValueFile(file_name, ApplyConfigKey);
  // After the whole file, so the preset sees the final sync characters
  // wherever their keys stand.
  if (GlobalTesterOptions().StripSyncIdle.load() != 0) ApplyStripSyncIdlePreset(&block);

  // The driver's answers are not examined: a port whose driver rejects its
  // configuration still takes part in the run.
  device->Control(kIoctlSetConfiguration, block.bytes, kConfigBlockSize, nullptr, 0, nullptr);
  uint8_t two_values[kTwoValuesSize];
  StoreU32(two_values, 0, kTwoValuesFirst);
  StoreU32(two_values, 4, kTwoValuesSecond);
  device->Control(kIoctlSetTwoValues, two_values, kTwoValuesSize, nullptr, 0, nullptr);
  return 1;
}

}  // namespace quarnex
