// Fuzz target: loading the settings records and the window layout from a
// store whose values an earlier program (or a hand edit) left in any shape.
//
// Input format, name after name in the order of kNames, until the input
// ends (the remaining names are then absent): one selector byte, whose
// value modulo 3 says
//   0  the name is absent,
//   1  a binary value: two bytes of length (little-endian, modulo
//      kMaxBinaryLength + 1), then that many bytes (fewer at the end),
//   2  a 32-bit value: four bytes, little-endian (missing bytes are 0).
// Then, when 16 bytes are left, the screen area the window is fitted to:
// Left, Top, Right, Bottom as 32-bit little-endian numbers (else a
// 1920 x 1080 screen).
//
// Checks: every record loads as settings_io.h describes (defaults, then the
// stored bytes over their leading part, then every field in its range), the
// layout loads within its ranges and is fitted to the screen area as
// promised, and saving what was loaded and loading it again gives the same
// records and layout.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "testapp/settings/memory_store.h"
#include "testapp/settings/records.h"
#include "testapp/settings/settings_io.h"

namespace {

using namespace quarnex;

constexpr size_t kMaxBinaryLength = 400;

enum Name : size_t {
  kTest,
  kPort,
  kPacket,
  kTimeouts,
  kLeft,
  kTop,
  kWidth,
  kHeight,
  kColumn0,
  kNameCount = kColumn0 + kColumnCount,
};
constexpr const char* kNames[kNameCount] = {"Test",    "Port",    "Packet",  "Timeouts", "Left",
                                            "Top",     "Width",   "Height",  "Column0",  "Column1",
                                            "Column2", "Column3", "Column4", "Column5"};

// What the input put under one name.
struct StoredValue {
  std::optional<std::vector<uint8_t>> binary;
  std::optional<uint32_t> number;
};

class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return next_ == size_; }
  size_t left() const { return size_ - next_; }
  uint8_t Byte() { return next_ < size_ ? data_[next_++] : 0; }
  std::vector<uint8_t> Bytes(size_t n) {
    n = std::min(n, size_ - next_);
    std::vector<uint8_t> bytes(data_ + next_, data_ + next_ + n);
    next_ += n;
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t next_ = 0;
};

uint32_t ReadU32(InputReader* in) {
  uint32_t number = 0;
  for (int shift = 0; shift < 32; shift += 8) number |= static_cast<uint32_t>(in->Byte()) << shift;
  return number;
}

std::array<StoredValue, kNameCount> ReadValues(InputReader* in) {
  std::array<StoredValue, kNameCount> values;
  for (StoredValue& value : values) {
    if (in->empty()) break;
    switch (in->Byte() % 3) {
      case 1: {
        const size_t length =
            (in->Byte() | static_cast<size_t>(in->Byte()) << 8) % (kMaxBinaryLength + 1);
        value.binary = in->Bytes(length);
        break;
      }
      case 2:
        value.number = ReadU32(in);
        break;
      default:
        break;
    }
  }
  return values;
}

ScreenRect ReadScreenArea(InputReader* in) {
  if (in->left() < 16) return ScreenRect{0, 0, 1920, 1080};
  ScreenRect area;
  for (int32_t* edge : {&area.Left, &area.Top, &area.Right, &area.Bottom}) {
    *edge = static_cast<int32_t>(ReadU32(in));
  }
  return area;
}

// The image a record loads to: its defaults with the stored bytes over the
// leading whole fields (`field_ends`: where each field ends); a field the
// stored value cuts keeps its default.
template <size_t N>
std::array<uint8_t, N> ExpectedImage(const std::array<uint8_t, N>& defaults,
                                     const StoredValue& stored,
                                     std::initializer_list<size_t> field_ends) {
  std::array<uint8_t, N> image = defaults;
  if (!stored.binary) return image;
  size_t whole = 0;
  for (const size_t end : field_ends) {
    if (end <= stored.binary->size()) whole = end;
  }
  std::copy_n(stored.binary->begin(), whole, image.begin());
  return image;
}

struct Images {
  std::array<uint8_t, sizeof(TestSettings)> test;
  std::array<uint8_t, sizeof(PortSettings)> port;
  std::array<uint8_t, sizeof(PacketSizeRecord)> packet;
  std::array<uint8_t, sizeof(TimeoutSettings)> timeouts;
  bool operator==(const Images&) const = default;
};

std::array<uint8_t, 4> PacketImage(int32_t packet_size) {
  const auto v = static_cast<uint32_t>(packet_size);
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

Images ImagesOf(const Settings& s) {
  Images images;
  EncodeTestSettings(s.Test, images.test.data());
  EncodePortSettings(s.Port, images.port.data());
  images.packet = PacketImage(s.PacketSize);
  EncodeTimeoutSettings(s.Timeouts, images.timeouts.data());
  return images;
}

// What loading promises beyond the bytes: every field the dialogs set in
// its range (nearest bound), Mode 0..2 or else Loopback, PauseAfter not
// negative, FileName NUL-terminated.
void KeepInStatedRanges(Settings* s) {
  TestSettings& t = s->Test;
  t.PortIndex = std::clamp(t.PortIndex, kMinPortIndex, kMaxPortIndex);
  t.PortCount = std::clamp<int32_t>(t.PortCount, 1, kMaxPorts);
  if (t.Mode < kLoopback || t.Mode > kTransmitOnly) t.Mode = kLoopback;
  t.PauseAfter = std::max(t.PauseAfter, 0);
  t.Delay = std::min(t.Delay, kMaxDelayMs);
  t.UpdateInterval = std::min(t.UpdateInterval, kMaxUpdateIntervalMs);
  t.FileName[kMaxFileNameLength] = '\0';
  s->PacketSize = std::clamp(s->PacketSize, kMinPacketSize, kMaxPacketSize);
}

void CheckLoadedSettings(const Settings& loaded,
                         const std::array<StoredValue, kNameCount>& values) {
  const TestSettings& t = loaded.Test;
  FUZZ_CHECK(t.PortIndex >= kMinPortIndex && t.PortIndex <= kMaxPortIndex);
  FUZZ_CHECK(t.PortCount >= 1 && t.PortCount <= kMaxPorts);
  FUZZ_CHECK(t.Mode >= kLoopback && t.Mode <= kTransmitOnly);
  FUZZ_CHECK(t.PauseAfter >= 0);
  FUZZ_CHECK(t.Delay <= kMaxDelayMs && t.UpdateInterval <= kMaxUpdateIntervalMs);
  FUZZ_CHECK(t.FileName[kMaxFileNameLength] == '\0');
  FUZZ_CHECK(loaded.PacketSize >= kMinPacketSize && loaded.PacketSize <= kMaxPacketSize);

  // Each record: its defaults, the stored bytes over the leading part, then
  // the ranges; fields already in range as stored.
  Settings defaults{};
  defaults.Test = DefaultTestSettings();
  defaults.Port = DefaultPortSettings();
  defaults.PacketSize = kDefaultPacketSize;
  defaults.Timeouts = kDefaultTimeouts;
  const Images default_images = ImagesOf(defaults);
  Settings expected = defaults;
  expected.Test = DecodeTestSettings(ExpectedImage(default_images.test, values[kTest],
                                                   {4, 8, 12, 16, 20, 276, 280, 281, 284, 288, 292})
                                         .data());
  expected.Port = DecodePortSettings(
      ExpectedImage(default_images.port, values[kPort], {4, 5, 6, 7, 8, 12}).data());
  const auto packet = ExpectedImage(default_images.packet, values[kPacket], {4});
  expected.PacketSize = static_cast<int32_t>(packet[0] | packet[1] << 8 | packet[2] << 16 |
                                             static_cast<uint32_t>(packet[3]) << 24);
  expected.Timeouts = DecodeTimeoutSettings(
      ExpectedImage(default_images.timeouts, values[kTimeouts], {4, 8}).data());
  KeepInStatedRanges(&expected);
  FUZZ_CHECK(ImagesOf(loaded) == ImagesOf(expected));
}

// A geometry value loads as kUseDefault when missing (or stored as bytes),
// else as the stored number raised, signed, to `floor`.
int32_t ExpectedGeometry(const StoredValue& stored, int32_t floor) {
  if (!stored.number) return kUseDefault;
  return std::max(static_cast<int32_t>(*stored.number), floor);
}

void CheckLoadedLayout(const WindowGeometry& geometry, const ColumnWidths& columns,
                       const std::array<StoredValue, kNameCount>& values) {
  FUZZ_CHECK(geometry.Left == ExpectedGeometry(values[kLeft], 0));
  FUZZ_CHECK(geometry.Top == ExpectedGeometry(values[kTop], 0));
  FUZZ_CHECK(geometry.Width == ExpectedGeometry(values[kWidth], kMinWindowWidth));
  FUZZ_CHECK(geometry.Height == ExpectedGeometry(values[kHeight], kMinWindowHeight));
  for (int i = 0; i < kColumnCount; ++i) {
    const StoredValue& stored = values[kColumn0 + i];
    const uint32_t width = stored.number ? *stored.number : kDefaultColumnWidths.Width[i];
    FUZZ_CHECK(columns.Width[i] == std::clamp(width, kMinColumnWidth, kMaxColumnWidth));
  }
}

// FitWindowToScreen on a real area (not empty): a size within the area and
// at least the minimum where the area has room; sizes that already fit and
// kUseDefault values stay. A window of known size and place stays where it
// is when its top edge lies on the area and at least kMinVisibleWindowPart
// pixels of its width (or all of a narrower window) do; otherwise it lies
// wholly on the area.
void CheckFitted(const WindowGeometry& stored, const ScreenRect& area) {
  const WindowGeometry g = FitWindowToScreen(stored, area);
  const int64_t area_width = int64_t{area.Right} - area.Left;
  const int64_t area_height = int64_t{area.Bottom} - area.Top;
  if (area_width <= 0 || area_height <= 0) return;
  auto check_size = [](int32_t before, int32_t after, int64_t room, int32_t minimum) {
    if (before == kUseDefault) {
      FUZZ_CHECK(after == kUseDefault);
      return;
    }
    const int64_t lowest = std::min<int64_t>(minimum, room);
    FUZZ_CHECK(after >= lowest && after <= room);
    if (before >= lowest && before <= room) FUZZ_CHECK(after == before);
  };
  check_size(stored.Width, g.Width, area_width, kMinWindowWidth);
  check_size(stored.Height, g.Height, area_height, kMinWindowHeight);
  if (stored.Left == kUseDefault) FUZZ_CHECK(g.Left == kUseDefault);
  if (stored.Top == kUseDefault) FUZZ_CHECK(g.Top == kUseDefault);
  if (stored.Left == kUseDefault || stored.Top == kUseDefault || stored.Width == kUseDefault ||
      stored.Height == kUseDefault) {
    return;
  }
  const int64_t width_on_area = std::min<int64_t>(int64_t{stored.Left} + g.Width, area.Right) -
                                std::max<int64_t>(stored.Left, area.Left);
  const bool seen =
      stored.Top >= area.Top &&
      int64_t{stored.Top} + std::min<int64_t>(kMinVisibleWindowPart, g.Height) <= area.Bottom &&
      width_on_area >= std::min<int64_t>(kMinVisibleWindowPart, g.Width);
  if (seen) {
    FUZZ_CHECK(g.Left == stored.Left && g.Top == stored.Top);
  } else {
    FUZZ_CHECK(g.Left >= area.Left && int64_t{g.Left} + g.Width <= area.Right);
    FUZZ_CHECK(g.Top >= area.Top && int64_t{g.Top} + g.Height <= area.Bottom);
  }
}

// The window as the loaded layout would have shown it.
class FakeWindow : public WindowLayoutSource {
 public:
  FakeWindow(const WindowGeometry& geometry, const ColumnWidths& columns)
      : geometry_(geometry), columns_(columns) {}
  bool IsMinimized() const override { return false; }
  bool GetScreenRect(ScreenRect* rect) const override {
    // Unsigned sums: kUseDefault plus a width must not overflow.
    rect->Left = geometry_.Left;
    rect->Top = geometry_.Top;
    rect->Right = static_cast<int32_t>(static_cast<uint32_t>(geometry_.Left) +
                                       static_cast<uint32_t>(geometry_.Width));
    rect->Bottom = static_cast<int32_t>(static_cast<uint32_t>(geometry_.Top) +
                                        static_cast<uint32_t>(geometry_.Height));
    return true;
  }
  uint32_t ColumnWidth(int column) const override { return columns_.Width[column]; }

 private:
  WindowGeometry geometry_;
  ColumnWidths columns_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  const std::array<StoredValue, kNameCount> values = ReadValues(&in);
  const ScreenRect area = ReadScreenArea(&in);

  MemoryStore store;
  for (size_t i = 0; i < kNameCount; ++i) {
    if (values[i].binary) store.PutBinary(kNames[i], *values[i].binary);
    if (values[i].number) store.PutU32(kNames[i], *values[i].number);
  }

  Settings loaded{};
  LoadSettings(store, &loaded);
  CheckLoadedSettings(loaded, values);
  WindowGeometry geometry{};
  ColumnWidths columns{};
  LoadWindowLayout(store, &geometry, &columns);
  CheckLoadedLayout(geometry, columns, values);
  CheckFitted(geometry, area);

  // Saved and loaded again, a loaded record stays as it is. The layout
  // comes back with a default position as 0, a default size as the
  // minimum, and a column at the maximum width (not written) as its
  // default.
  MemoryStore saved;
  SaveSettings(saved, loaded, FakeWindow(geometry, columns));
  Settings reloaded{};
  LoadSettings(saved, &reloaded);
  FUZZ_CHECK(ImagesOf(reloaded) == ImagesOf(loaded));

  WindowGeometry geometry2{};
  ColumnWidths columns2{};
  LoadWindowLayout(saved, &geometry2, &columns2);
  auto or_value = [](int32_t value, int32_t if_default) {
    return value == kUseDefault ? if_default : value;
  };
  FUZZ_CHECK(geometry2.Left == or_value(geometry.Left, 0));
  FUZZ_CHECK(geometry2.Top == or_value(geometry.Top, 0));
  FUZZ_CHECK(geometry2.Width == or_value(geometry.Width, kMinWindowWidth));
  FUZZ_CHECK(geometry2.Height == or_value(geometry.Height, kMinWindowHeight));
  for (int i = 0; i < kColumnCount; ++i) {
    const uint32_t expected =
        columns.Width[i] < kMaxColumnWidth ? columns.Width[i] : kDefaultColumnWidths.Width[i];
    FUZZ_CHECK(columns2.Width[i] == expected);
  }
  return 0;
}
