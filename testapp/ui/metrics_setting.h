// The window's Prometheus endpoint setting (Settings > Options): whether a
// run serves its metrics, and at which address, as quarnex-run --metrics
// does. Stored beside the records, never changing how those are stored:
// "ServeMetrics" (0 or 1) and "MetricsAddress" (the address as text, a
// binary value). A stored address that is no ADDRESS:PORT is not believed:
// the setting then reads as off at the default address.
//
// Plain C++ over the store interface; the user-interface thread.
#ifndef QUARNEX_UI_METRICS_SETTING_H_
#define QUARNEX_UI_METRICS_SETTING_H_

#include <string>

#include "testapp/settings/settings_store.h"

namespace quarnex {

inline constexpr char kServeMetricsValueName[] = "ServeMetrics";
inline constexpr char kMetricsAddressValueName[] = "MetricsAddress";
inline constexpr char kDefaultMetricsAddress[] = "127.0.0.1:9464";
// Longer than any ADDRESS:PORT ("[" IPv6 "]:65535").
inline constexpr size_t kMaxStoredMetricsAddress = 64;

struct MetricsSetting {
  bool serve = false;
  std::string address = kDefaultMetricsAddress;

  bool operator==(const MetricsSetting&) const = default;
};

// The stored setting; the default (off) when none is stored or it is damaged.
MetricsSetting LoadMetricsSetting(SettingsStore& store);

// Stores `setting`; false when the store refused a write.
bool SaveMetricsSetting(SettingsStore& store, const MetricsSetting& setting);

}  // namespace quarnex

#endif  // QUARNEX_UI_METRICS_SETTING_H_
