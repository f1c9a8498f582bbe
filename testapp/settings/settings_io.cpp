// Loading and saving the settings records and the window layout.
#include "testapp/settings/settings_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "testapp/platform/byte_order.h"

namespace quarnex {
namespace {

constexpr char kTestValue[] = "Test";
constexpr char kPortValue[] = "Port";
constexpr char kPacketValue[] = "Packet";
constexpr char kTimeoutsValue[] = "Timeouts";
constexpr char kLeftValue[] = "Left";
constexpr char kTopValue[] = "Top";
constexpr char kWidthValue[] = "Width";
constexpr char kHeightValue[] = "Height";

constexpr size_t kPacketImageSize = sizeof(PacketSizeRecord);

// "Column%d" for column 0..5; room for any int, so no truncation is possible.
struct ColumnName {
  char text[24];
};

ColumnName ColumnValueName(int column) {
  ColumnName name;
  std::snprintf(name.text, sizeof(name.text), "Column%d", column);
  return name;
}

void EncodePacketSize(int32_t packet_size, uint8_t* out) {
  EncodeFixed32(out, static_cast<uint32_t>(packet_size));
}

int32_t DecodePacketSize(const uint8_t* in) { return static_cast<int32_t>(DecodeFixed32(in)); }

// Reads one geometry value: kUseDefault when missing, else at least `floor`.
int32_t LoadGeometryValue(SettingsStore& store, const char* name, int32_t floor) {
  uint32_t stored;
  if (!store.ReadU32(name, &stored)) return kUseDefault;
  return std::max(static_cast<int32_t>(stored), floor);
}

// Reads a stored value over `image`, which holds the current record's
// image of `size` bytes. A shorter stored value replaces only the whole
// fields it holds (`field_ends`, record order): the leading bytes of a field
// it cuts part-way would make a number nobody stored (a "Packet" cut to one
// byte read as 1068 over the default 1024), so that field and those after it
// keep their contents. Done here, not in each store, so that every store
// behaves alike.
template <size_t kFields>
void ReadImage(SettingsStore& store, const char* name, uint8_t* image, size_t size,
               const size_t (&field_ends)[kFields]) {
  uint8_t stored[sizeof(TestSettings)];  // the largest record
  size_t taken = 0;
  if (size > sizeof(stored) || !store.ReadBinary(name, stored, size, &taken)) return;
  size_t whole = 0;
  for (const size_t end : field_ends) {
    if (end <= taken) whole = end;
  }
  std::memcpy(image, stored, whole);
}

}  // namespace

void LoadWindowLayout(SettingsStore& store, WindowGeometry* geometry, ColumnWidths* columns) {
  geometry->Left = LoadGeometryValue(store, kLeftValue, 0);
  geometry->Top = LoadGeometryValue(store, kTopValue, 0);
  geometry->Width = LoadGeometryValue(store, kWidthValue, kMinWindowWidth);
  geometry->Height = LoadGeometryValue(store, kHeightValue, kMinWindowHeight);

  for (int i = 0; i < kColumnCount; ++i) {
    if (!store.ReadU32(ColumnValueName(i).text, &columns->Width[i])) {
      columns->Width[i] = kDefaultColumnWidths.Width[i];
    }
  }
  // Unsigned on purpose: a negative stored width reads as huge and ends at
  // the maximum, as the stored format has always behaved.
  for (uint32_t& width : columns->Width) {
    width = std::clamp(width, kMinColumnWidth, kMaxColumnWidth);
  }
}

void LoadSettings(SettingsStore& store, Settings* settings) {
  settings->Test = DefaultTestSettings();
  settings->Port = DefaultPortSettings();
  settings->PacketSize = kDefaultPacketSize;
  settings->Timeouts = kDefaultTimeouts;

  // Each value is read over the image of its defaults, so a short stored
  // value replaces only its leading whole fields and a long one cannot
  // overrun.
  uint8_t test[sizeof(TestSettings)];
  EncodeTestSettings(settings->Test, test);
  ReadImage(store, kTestValue, test, sizeof(test), kTestSettingsFieldEnds);
  settings->Test = DecodeTestSettings(test);

  uint8_t port[sizeof(PortSettings)];
  EncodePortSettings(settings->Port, port);
  ReadImage(store, kPortValue, port, sizeof(port), kPortSettingsFieldEnds);
  settings->Port = DecodePortSettings(port);

  uint8_t packet[kPacketImageSize];
  EncodePacketSize(settings->PacketSize, packet);
  ReadImage(store, kPacketValue, packet, sizeof(packet), kPacketSizeFieldEnds);
  settings->PacketSize = DecodePacketSize(packet);

  uint8_t timeouts[sizeof(TimeoutSettings)];
  EncodeTimeoutSettings(settings->Timeouts, timeouts);
  ReadImage(store, kTimeoutsValue, timeouts, sizeof(timeouts), kTimeoutSettingsFieldEnds);
  settings->Timeouts = DecodeTimeoutSettings(timeouts);

  KeepSettingsInRange(settings);
}

void KeepSettingsInRange(Settings* settings) {
  TestSettings& t = settings->Test;
  t.PortIndex = std::clamp(t.PortIndex, kMinPortIndex, kMaxPortIndex);
  t.PortCount = std::clamp<int32_t>(t.PortCount, 1, kMaxPorts);
  if (t.Mode < kLoopback || t.Mode > kTransmitOnly) t.Mode = kLoopback;
  if (t.PauseAfter < 0) t.PauseAfter = 0;
  t.Delay = std::min(t.Delay, kMaxDelayMs);
  t.UpdateInterval = std::min(t.UpdateInterval, kMaxUpdateIntervalMs);
  // A name typed into the store by hand may lack its NUL; every reader of
  // FileName treats it as a C string.
  t.FileName[kMaxFileNameLength] = '\0';
  settings->PacketSize = std::clamp(settings->PacketSize, kMinPacketSize, kMaxPacketSize);
}

WindowGeometry FitWindowToScreen(const WindowGeometry& stored, const ScreenRect& available) {
  // 64-bit throughout: stored values are any 32-bit number.
  const int64_t area_width = std::max<int64_t>(int64_t{available.Right} - available.Left, 1);
  const int64_t area_height = std::max<int64_t>(int64_t{available.Bottom} - available.Top, 1);
  WindowGeometry g = stored;
  if (g.Width != kUseDefault) {
    g.Width = static_cast<int32_t>(
        std::clamp<int64_t>(g.Width, std::min<int64_t>(kMinWindowWidth, area_width), area_width));
  }
  if (g.Height != kUseDefault) {
    g.Height = static_cast<int32_t>(std::clamp<int64_t>(
        g.Height, std::min<int64_t>(kMinWindowHeight, area_height), area_height));
  }
  // A window that still shows enough of itself stays where it was put
  // (half off the screen, say); one that does not is moved wholly onto it.
  if (g.Left != kUseDefault && g.Top != kUseDefault) {
    const int64_t width = g.Width != kUseDefault ? g.Width : kMinVisibleWindowPart;
    const int64_t height = g.Height != kUseDefault ? g.Height : kMinVisibleWindowPart;
    const int64_t overlap = std::min<int64_t>(int64_t{g.Left} + width, available.Right) -
                            std::max<int64_t>(g.Left, available.Left);
    const bool seen =
        overlap >= std::min<int64_t>(kMinVisibleWindowPart, width) && g.Top >= available.Top &&
        int64_t{g.Top} + std::min<int64_t>(kMinVisibleWindowPart, height) <= available.Bottom;
    if (!seen) {
      g.Left = static_cast<int32_t>(std::clamp<int64_t>(
          g.Left, available.Left, std::max<int64_t>(available.Left, available.Right - width)));
      g.Top = static_cast<int32_t>(std::clamp<int64_t>(
          g.Top, available.Top, std::max<int64_t>(available.Top, available.Bottom - height)));
    }
  }
  return g;
}

void SaveSettings(SettingsStore& store, const Settings& settings,
                  const WindowLayoutSource& window) {
  uint8_t test[sizeof(TestSettings)];
  EncodeTestSettings(settings.Test, test);
  store.WriteBinary(kTestValue, test, sizeof(test));
  uint8_t port[sizeof(PortSettings)];
  EncodePortSettings(settings.Port, port);
  store.WriteBinary(kPortValue, port, sizeof(port));
  uint8_t packet[kPacketImageSize];
  EncodePacketSize(settings.PacketSize, packet);
  store.WriteBinary(kPacketValue, packet, sizeof(packet));
  uint8_t timeouts[sizeof(TimeoutSettings)];
  EncodeTimeoutSettings(settings.Timeouts, timeouts);
  store.WriteBinary(kTimeoutsValue, timeouts, sizeof(timeouts));

  // A minimised window's rectangle is the icon's, not the one to restore.
  ScreenRect rect;
  if (!window.IsMinimized() && window.GetScreenRect(&rect)) {
    store.WriteU32(kLeftValue, static_cast<uint32_t>(std::max(rect.Left, 0)));
    store.WriteU32(kTopValue, static_cast<uint32_t>(std::max(rect.Top, 0)));
    // Unsigned subtraction: the stored 32-bit value wraps as it always has,
    // without signed overflow on absurd rectangles.
    store.WriteU32(kHeightValue,
                   static_cast<uint32_t>(rect.Bottom) - static_cast<uint32_t>(rect.Top));
    store.WriteU32(kWidthValue,
                   static_cast<uint32_t>(rect.Right) - static_cast<uint32_t>(rect.Left));
  }

  // 0 is a failed query; 500 and above are not written although they load
  // as 500, so such a column keeps its stored width.
  for (int i = 0; i < kColumnCount; ++i) {
    const uint32_t width = window.ColumnWidth(i);
    if (width >= 1 && width < kMaxColumnWidth) {
      store.WriteU32(ColumnValueName(i).text, width);
    }
  }
}

}  // namespace quarnex
