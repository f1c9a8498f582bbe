// The process-wide settings records.
//
// Read at program start (LoadSettings) and written at close (SaveSettings).
// In between, the dialogs and the run controller change them on the
// user-interface thread, and never while a run is active except for the
// run controller's writes during Start, made before any worker thread that
// reads them exists. Worker threads read them without locks.
#ifndef QUARNEX_SETTINGS_SETTINGS_STATE_H_
#define QUARNEX_SETTINGS_SETTINGS_STATE_H_

#include "testapp/settings/records.h"

namespace quarnex {

struct Settings {
  TestSettings Test;
  PortSettings Port;
  int32_t PacketSize;
  TimeoutSettings Timeouts;
  WindowGeometry Geometry;
  ColumnWidths Columns;
};

// The one instance; starts zeroed.
Settings& GlobalSettings();

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_SETTINGS_STATE_H_
