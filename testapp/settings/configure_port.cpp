#include "testapp/settings/configure_port.h"

#include <cstring>

#include "testapp/driver/control_codes.h"
#include "testapp/platform/message_quote.h"
#include "testapp/platform/regular_file.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/config_file.h"

namespace quarnex {

bool LoadConfigFile(const char* file_name, const ConfigOverrides& overrides,
                    DeviceConfigBlock& block, TesterOptions& options, std::string* reason,
                    std::vector<std::string>* warnings) {
  std::memset(block.bytes, 0, sizeof(block.bytes));
  // A file that cannot be read leaves the block zero; the ports still run.
  auto apply = [&block, &options](const char* key, const char* value) {
    return ApplyConfigKey(key, value, block, options);
  };
  // The file keeps its reading (a malformed number is what its leading
  // digits give); an entry read so is only named.
  auto apply_file_entry = [&apply, file_name, warnings](const char* key, const char* value) {
    if (warnings != nullptr) {
      std::string warning = ConfigValueWarning(file_name, key, value);
      if (!warning.empty()) warnings->push_back(std::move(warning));
    }
    return apply(key, value);
  };
  const bool read = ReadKeyValueFile(file_name, apply_file_entry, reason) != -1;
  for (const auto& [key, value] : overrides) apply(key.c_str(), value.c_str());
  // After the whole file, so the preset sees the final sync characters
  // wherever their keys stand.
  if (options.StripSyncIdle.load() != 0) ApplyStripSyncIdlePreset(&block);
  return read;
}

bool IsMissingFileReason(const std::string& reason) { return reason == kReasonNoSuchFile; }

bool ConfigFileReadableOrMissing(const char* file_name, std::string* reason) {
  if (ReadKeyValueFile(
          file_name, [](const char*, const char*) { return 1; }, reason) != -1) {
    return true;
  }
  return IsMissingFileReason(*reason);
}

std::string ConfigFileNotice(const char* file_name) {
  return std::string(file_name) + " file not found";
}

std::string ConfigFileDetail(const char* file_name, const std::string& reason) {
  return QuotePathForMessage(file_name) + ": " + reason;
}

int ConfigurePort(Device* device, const DeviceConfigBlock& block) {
  device->Control(kIoctlSetConfiguration, block.bytes, kConfigBlockSize, nullptr, 0, nullptr);
  uint8_t two_values[kTwoValuesSize];
  StoreU32(two_values, 0, kTwoValuesFirst);
  StoreU32(two_values, 4, kTwoValuesSecond);
  device->Control(kIoctlSetTwoValues, two_values, kTwoValuesSize, nullptr, 0, nullptr);
  return 1;
}

}  // namespace quarnex
