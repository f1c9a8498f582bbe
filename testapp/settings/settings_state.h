// The user's settings records, as one value.
//
// A program holds one, in its run context (engine/run_context.h, which says
// who writes them on which thread): read at program start (LoadSettings)
// and written at close (SaveSettings).
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

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_SETTINGS_STATE_H_
