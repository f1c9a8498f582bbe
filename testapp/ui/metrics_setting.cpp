#include "testapp/ui/metrics_setting.h"

#include <cstdint>

#include "testapp/station/station_run.h"

namespace quarnex {

MetricsSetting LoadMetricsSetting(SettingsStore& store) {
  MetricsSetting setting;
  char text[kMaxStoredMetricsAddress + 1] = {};
  size_t taken = 0;
  if (!store.ReadBinary(kMetricsAddressValueName, text, sizeof(text), &taken)) return setting;
  const std::string address(text, taken);
  if (taken > kMaxStoredMetricsAddress || !IsMetricsAddress(address)) return setting;
  setting.address = address;
  uint32_t serve = 0;
  setting.serve = store.ReadU32(kServeMetricsValueName, &serve) && serve == 1;
  return setting;
}

bool SaveMetricsSetting(SettingsStore& store, const MetricsSetting& setting) {
  const bool address =
      store.WriteBinary(kMetricsAddressValueName, setting.address.data(), setting.address.size());
  return store.WriteU32(kServeMetricsValueName, setting.serve ? 1 : 0) && address;
}

}  // namespace quarnex
