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

// The one instance; starts zeroed. Process-wide because a program holds one
// user's settings: loaded once from the one store, edited by the dialogs,
// read by the run it starts and saved once at close. The engine's worker
// threads read it throughout a run without locks, which a copy handed to
// each run could replace only by changing what a dialog changes mid-run.
Settings& GlobalSettings();

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_SETTINGS_STATE_H_
