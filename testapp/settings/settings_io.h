// Loading and saving the settings records and the window layout.
//
// The stored format: binary values "Test" (292 bytes), "Port" (12),
// "Packet" (4) and "Timeouts" (8), byte images of the records; 32-bit values
// "Left", "Top", "Width", "Height" and "Column0".."Column5". Store failures
// are never reported: a failed read leaves the default, a failed write
// leaves the stored value as it was.
//
// A damaged store is not believed: a value of the wrong kind is ignored,
// and every loaded field the dialogs set is brought into its range, so the
// next save repairs the store. LoadSettings does not clear the port table:
// the main window calls the engine's ClearPortSlots beside it.
//
// Call on the user-interface thread only, never while a run is active: the
// worker threads read the records without locks.
#ifndef QUARNEX_SETTINGS_SETTINGS_IO_H_
#define QUARNEX_SETTINGS_SETTINGS_IO_H_

#include <cstdint>

#include "testapp/settings/records.h"
#include "testapp/settings/settings_state.h"
#include "testapp/settings/settings_store.h"

namespace quarnex {

// Lower bounds of a loaded window size, and the column width range.
inline constexpr int32_t kMinWindowWidth = 300;
inline constexpr int32_t kMinWindowHeight = 200;
inline constexpr uint32_t kMinColumnWidth = 30;
inline constexpr uint32_t kMaxColumnWidth = 500;

// A window's screen rectangle; Right and Bottom are exclusive.
struct ScreenRect {
  int32_t Left;
  int32_t Top;
  int32_t Right;
  int32_t Bottom;
};

// What SaveSettings asks of the main window and its results table. The Qt
// window implements it; tests fake it. Called on the user-interface thread
// while the window still exists.
class WindowLayoutSource {
 public:
  virtual ~WindowLayoutSource() = default;
  virtual bool IsMinimized() const = 0;
  // Fills *rect with the window's screen rectangle (a maximised window's
  // as it is); false when it cannot be read.
  virtual bool GetScreenRect(ScreenRect* rect) const = 0;
  // Current width of results-table column `column` (0..kColumnCount-1),
  // 0 when the query fails.
  virtual uint32_t ColumnWidth(int column) const = 0;
};

// Fills *geometry and *columns from the store, before the main window
// exists. A missing geometry value becomes kUseDefault; a present one is
// raised, compared signed, to 0 (Left, Top), kMinWindowWidth or
// kMinWindowHeight. A missing column width takes its default; every width
// is then clamped, unsigned, to kMinColumnWidth..kMaxColumnWidth.
void LoadWindowLayout(SettingsStore& store, WindowGeometry* geometry, ColumnWidths* columns);

// Sets the defaults of settings->Test, Port, PacketSize and Timeouts, then
// reads "Test", "Port", "Packet" and "Timeouts" over them. A value that is
// missing or not binary keeps the defaults, a shorter one overwrites only
// its leading whole fields (a field it cuts keeps its default), a longer
// one is cut to the record. Then every field is
// brought into range (KeepSettingsInRange). Geometry and Columns are left
// alone (LoadWindowLayout fills them).
void LoadSettings(SettingsStore& store, Settings* settings);

// Brings the fields the dialogs set into their ranges, each on its own:
// PortIndex kMinPortIndex..kMaxPortIndex, PortCount 1..kMaxPorts and
// PacketSize kMinPacketSize..kMaxPacketSize (nearest bound), Mode 0..2
// (else Loopback), PauseAfter at least 0 (a negative count is none), Delay
// up to kMaxDelayMs, UpdateInterval up to kMaxUpdateIntervalMs; FileName
// is NUL-terminated. A field in range is never changed.
void KeepSettingsInRange(Settings* settings);

// The part of a window that stays on the screen whatever position was
// stored, enough to grab it and move it back.
inline constexpr int32_t kMinVisibleWindowPart = 64;

// Fits a loaded geometry to the screen area `available`: a stored size is
// cut to the area's size (and still raised to the minimum size where the
// area allows it). A stored position stays when the top edge lies on the
// area at least kMinVisibleWindowPart pixels above its bottom and at least
// that many pixels of the width lie on it (the whole height or width when
// smaller); otherwise the window is moved wholly onto the area. kUseDefault
// values stay.
WindowGeometry FitWindowToScreen(const WindowGeometry& stored, const ScreenRect& available);

// Writes the four records as byte images; then, unless the window is
// minimised or its rectangle cannot be read, "Left" and "Top" (raised to 0),
// "Height" and "Width" from the rectangle; then "Column%d" for each column
// whose current width is 1..kMaxColumnWidth-1. Values not written keep what
// the store held.
void SaveSettings(SettingsStore& store, const Settings& settings, const WindowLayoutSource& window);

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_SETTINGS_IO_H_
