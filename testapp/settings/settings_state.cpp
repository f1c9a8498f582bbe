// The one process-wide Settings instance.
#include "testapp/settings/settings_state.h"

namespace quarnex {

Settings& GlobalSettings() {
  // Static storage: zeroed before anything runs, and lives for the whole
  // process, as the records must (worker threads read them until the end).
  static Settings settings;
  return settings;
}

}  // namespace quarnex
