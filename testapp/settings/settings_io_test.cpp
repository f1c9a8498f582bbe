// Loading and saving the settings and the window layout through the store.
#include "testapp/settings/settings_io.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testapp/settings/memory_store.h"

namespace quarnex {
namespace {

class FakeWindow : public WindowLayoutSource {
 public:
  bool minimized = false;
  bool rect_ok = true;
  ScreenRect rect = {100, 50, 900, 650};
  std::array<uint32_t, kColumnCount> widths = {81, 121, 122, 161, 162, 163};

  bool IsMinimized() const override { return minimized; }
  bool GetScreenRect(ScreenRect* r) const override {
    if (!rect_ok) return false;
    *r = rect;
    return true;
  }
  uint32_t ColumnWidth(int column) const override { return widths[column]; }
};

const char* const kRecordNames[] = {"Test", "Port", "Packet", "Timeouts"};

// The stored image of record `name` of `s`.
std::vector<uint8_t> ImageOf(const Settings& s, const std::string& name) {
  std::vector<uint8_t> image;
  if (name == "Test") {
    image.resize(sizeof(TestSettings));
    EncodeTestSettings(s.Test, image.data());
  } else if (name == "Port") {
    image.resize(sizeof(PortSettings));
    EncodePortSettings(s.Port, image.data());
  } else if (name == "Packet") {
    const uint32_t v = static_cast<uint32_t>(s.PacketSize);
    image = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
             static_cast<uint8_t>(v >> 24)};
  } else {
    image.resize(sizeof(TimeoutSettings));
    EncodeTimeoutSettings(s.Timeouts, image.data());
  }
  return image;
}

Settings Garbage() {
  Settings s;
  std::memset(&s, 0x5A, sizeof(s));
  return s;
}

Settings Defaults() {
  Settings s = Garbage();
  s.Test = DefaultTestSettings();
  s.Port = DefaultPortSettings();
  s.PacketSize = 1024;
  s.Timeouts = {1000, 0};
  return s;
}

// Every field differs from its default, each within its range.
Settings Sample() {
  Settings s = Defaults();
  s.Test.PortIndex = 3;
  s.Test.PortCount = 20;
  s.Test.PauseAfter = 50;
  s.Test.TimeoutBlockedThreads = 0;
  s.Test.Mode = kReceiveOnly;
  std::strcpy(s.Test.FileName, "/data/frames.bin");
  s.Test.FileSize = 4096;
  s.Test.FileNameLength = 16;
  s.Test.Delay = 20;
  s.Test.UpdateInterval = 250;
  s.Port = {115200, 7, 2, 1, 0, 0};
  s.PacketSize = 1500;
  s.Timeouts = {30, 40};
  return s;
}

void ExpectSameRecords(const Settings& actual, const Settings& expected) {
  for (const char* name : kRecordNames) {
    EXPECT_EQ(ImageOf(actual, name), ImageOf(expected, name)) << name;
  }
}

void ExpectDefaultLayout(const WindowGeometry& g, const ColumnWidths& c) {
  EXPECT_EQ(g.Left, kUseDefault);
  EXPECT_EQ(g.Top, kUseDefault);
  EXPECT_EQ(g.Width, kUseDefault);
  EXPECT_EQ(g.Height, kUseDefault);
  EXPECT_EQ(c.Width, (std::array<uint32_t, kColumnCount>{80, 120, 120, 160, 160, 160}));
}

void SeedEverything(MemoryStore& store) {
  const Settings sample = Sample();
  for (const char* name : kRecordNames) store.PutBinary(name, ImageOf(sample, name));
  for (const char* name : {"Left", "Top", "Width", "Height"}) store.PutU32(name, 640);
  for (int i = 0; i < kColumnCount; ++i) store.PutU32("Column" + std::to_string(i), 100);
}

TEST(SettingsIoTest, NothingReadableLoadsEveryDefault) {
  MemoryStore empty;
  MemoryStore unavailable;
  SeedEverything(unavailable);
  unavailable.SetAvailable(false);

  for (MemoryStore* store : {&empty, &unavailable}) {
    SCOPED_TRACE(store == &empty ? "empty store" : "store that cannot be opened");
    Settings s = Garbage();
    LoadWindowLayout(*store, &s.Geometry, &s.Columns);
    LoadSettings(*store, &s);
    ExpectDefaultLayout(s.Geometry, s.Columns);
    ExpectSameRecords(s, Defaults());
  }
}

TEST(SettingsIoTest, SaveToUnavailableStoreKeepsStoredValues) {
  MemoryStore store;
  SeedEverything(store);
  store.SetAvailable(false);
  SaveSettings(store, Defaults(), FakeWindow());
  store.SetAvailable(true);

  EXPECT_TRUE(store.writes().empty());
  Settings s = Garbage();
  LoadSettings(store, &s);
  LoadWindowLayout(store, &s.Geometry, &s.Columns);
  ExpectSameRecords(s, Sample());
  EXPECT_EQ(s.Geometry.Width, 640);
  EXPECT_EQ(s.Columns.Width[5], 100u);
}

// Each field out of range is brought into range on its own; the others
// load as stored.
TEST(SettingsIoTest, FieldsOutOfRangeLoadInRange) {
  struct Case {
    const char* what;
    void (*damage)(Settings*);
    void (*expect)(Settings*);
  };
  const Case cases[] = {
      {"PortIndex huge", [](Settings* s) { s->Test.PortIndex = 1954103872; },
       [](Settings* s) { s->Test.PortIndex = 999; }},
      {"PortIndex 0", [](Settings* s) { s->Test.PortIndex = 0; },
       [](Settings* s) { s->Test.PortIndex = 1; }},
      {"PortIndex negative", [](Settings* s) { s->Test.PortIndex = INT32_MIN; },
       [](Settings* s) { s->Test.PortIndex = 1; }},
      {"PortCount 0", [](Settings* s) { s->Test.PortCount = 0; },
       [](Settings* s) { s->Test.PortCount = 1; }},
      {"PortCount 129", [](Settings* s) { s->Test.PortCount = 129; },
       [](Settings* s) { s->Test.PortCount = 128; }},
      {"PacketSize 0", [](Settings* s) { s->PacketSize = 0; },
       [](Settings* s) { s->PacketSize = 1; }},
      {"PacketSize 70000", [](Settings* s) { s->PacketSize = 70000; },
       [](Settings* s) { s->PacketSize = 65536; }},
      {"PauseAfter negative", [](Settings* s) { s->Test.PauseAfter = -3; },
       [](Settings* s) { s->Test.PauseAfter = 0; }},
      {"Delay huge", [](Settings* s) { s->Test.Delay = 0xFFFFFFFFu; },
       [](Settings* s) { s->Test.Delay = kMaxDelayMs; }},
      {"UpdateInterval huge",
       [](Settings* s) { s->Test.UpdateInterval = kMaxUpdateIntervalMs + 1; },
       [](Settings* s) { s->Test.UpdateInterval = kMaxUpdateIntervalMs; }},
      {"all at their bounds",
       [](Settings* s) {
         s->Test.PortIndex = 999;
         s->Test.PortCount = 128;
         s->PacketSize = 1;
         s->Test.Delay = kMaxDelayMs;
         s->Test.UpdateInterval = 0;
       },
       [](Settings*) {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Settings stored = Sample();
    c.damage(&stored);
    MemoryStore store;
    for (const char* name : kRecordNames) store.PutBinary(name, ImageOf(stored, name));

    Settings s = Garbage();
    LoadSettings(store, &s);
    Settings expected = stored;
    c.expect(&expected);
    ExpectSameRecords(s, expected);
  }
}

// A number where a record's image belongs is no image: the record keeps
// its defaults, and the next save writes the image.
TEST(SettingsIoTest, ANumberInPlaceOfARecordIsIgnoredAndRepairedBySave) {
  MemoryStore store;
  for (const char* name : kRecordNames) store.PutU32(name, 42);
  Settings s = Garbage();
  LoadSettings(store, &s);
  ExpectSameRecords(s, Defaults());

  SaveSettings(store, s, FakeWindow());
  for (const char* name : kRecordNames) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(store.GetBinary(name, &bytes)) << name;
    EXPECT_EQ(bytes, ImageOf(Defaults(), name)) << name;
  }
}

TEST(SettingsIoTest, WindowIsFittedToTheScreen) {
  const ScreenRect screen = {0, 30, 1920, 1080};  // a panel above
  struct Case {
    const char* what;
    WindowGeometry stored;
    WindowGeometry fitted;
  };
  const Case cases[] = {
      {"on screen", {100, 100, 800, 600}, {100, 100, 800, 600}},
      {"huge", {0, 0, 99999999, 99999999}, {0, 30, 1920, 1050}},
      {"far right and below", {50000, 40000, 800, 600}, {1120, 480, 800, 600}},
      {"partly off to the left", {-700, 200, 800, 600}, {-700, 200, 800, 600}},
      {"just enough on the right", {1856, 1016, 800, 600}, {1856, 1016, 800, 600}},
      {"too little on the right", {1857, 200, 800, 600}, {1120, 200, 800, 600}},
      {"wholly off to the left", {-5000, 200, 800, 600}, {0, 200, 800, 600}},
      {"above the top", {100, 0, 800, 600}, {100, 30, 800, 600}},
      {"system chosen",
       {kUseDefault, kUseDefault, kUseDefault, kUseDefault},
       {kUseDefault, kUseDefault, kUseDefault, kUseDefault}},
      {"system chosen place, huge size",
       {kUseDefault, kUseDefault, 5000, 5000},
       {kUseDefault, kUseDefault, 1920, 1050}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const WindowGeometry g = FitWindowToScreen(c.stored, screen);
    EXPECT_EQ(g.Left, c.fitted.Left);
    EXPECT_EQ(g.Top, c.fitted.Top);
    EXPECT_EQ(g.Width, c.fitted.Width);
    EXPECT_EQ(g.Height, c.fitted.Height);
  }
  // A screen smaller than the minimum size: the window is the screen's.
  const WindowGeometry tiny = FitWindowToScreen({0, 0, 300, 200}, {0, 0, 240, 160});
  EXPECT_EQ(tiny.Width, 240);
  EXPECT_EQ(tiny.Height, 160);
}

TEST(SettingsIoTest, ModeOutsideRangeLoadsAsLoopbackOtherFieldsKept) {
  struct Case {
    int32_t stored;
    int32_t loaded;
  };
  const Case cases[] = {{7, kLoopback},         {-1, kLoopback}, {3, kLoopback},
                        {INT32_MIN, kLoopback}, {0, kLoopback},  {1, kReceiveOnly},
                        {2, kTransmitOnly}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    Settings stored = Sample();
    stored.Test.Mode = c.stored;
    MemoryStore store;
    store.PutBinary("Test", ImageOf(stored, "Test"));

    Settings s = Garbage();
    LoadSettings(store, &s);
    Settings expected = Defaults();
    expected.Test = stored.Test;
    expected.Test.Mode = c.loaded;
    ExpectSameRecords(s, expected);
  }
}

// A value shorter than its record replaces only its leading whole fields:
// a field cut part-way keeps its default (a "Packet" of one byte once read
// as 1068). A longer one is cut to the record (ASan reports any overrun).
// Other records keep their defaults.
TEST(SettingsIoTest, StoredValueOfAnyLengthFillsOnlyItsRecord) {
  const Settings source = Sample();
  const Settings defaults = Defaults();
  // Where each field of the stored images ends.
  const std::map<std::string, std::vector<size_t>> field_ends = {
      {"Test", {4, 8, 12, 16, 20, 276, 280, 281, 284, 288, 292}},
      {"Port", {4, 5, 6, 7, 8, 12}},
      {"Packet", {4}},
      {"Timeouts", {4, 8}},
  };
  for (const char* name : kRecordNames) {
    const std::vector<uint8_t> full = ImageOf(source, name);
    const size_t size = full.size();
    for (size_t length : {size_t{0}, size_t{1}, size_t{5}, size_t{150}, size / 2, size - 1, size,
                          size + 1, size + 100}) {
      SCOPED_TRACE(std::string(name) + " of " + std::to_string(length) + " bytes");
      std::vector<uint8_t> stored = full;
      stored.resize(length, 0xEE);
      MemoryStore store;
      store.PutBinary(name, stored);

      Settings s = Garbage();
      LoadSettings(store, &s);
      for (const char* other : kRecordNames) {
        std::vector<uint8_t> expected = ImageOf(defaults, other);
        if (std::string(other) == name) {
          size_t whole = 0;
          for (const size_t end : field_ends.at(name)) {
            if (end <= length) whole = end;
          }
          for (size_t i = 0; i < whole; ++i) expected[i] = full[i];
        }
        EXPECT_EQ(ImageOf(s, other), expected) << other;
      }
    }
  }
}

TEST(SettingsIoTest, FileNameWithoutNulIsCutAt255Characters) {
  Settings stored = Sample();
  std::memset(stored.Test.FileName, 'x', sizeof(stored.Test.FileName));
  stored.Test.FileSize = 77;
  MemoryStore store;
  store.PutBinary("Test", ImageOf(stored, "Test"));

  Settings s = Garbage();
  LoadSettings(store, &s);
  EXPECT_EQ(std::strlen(s.Test.FileName), 255u);
  EXPECT_EQ(s.Test.FileName[254], 'x');
  EXPECT_EQ(s.Test.FileSize, 77u);
  EXPECT_EQ(s.Test.FileNameLength, 16);
}

TEST(SettingsIoTest, GeometryLoadsClampedFromBelowOrSystemChosen) {
  using V = std::optional<uint32_t>;
  struct Case {
    const char* what;
    V left, top, width, height;
    WindowGeometry loaded;
  };
  const Case cases[] = {
      {"as stored", 10, 20, 1024, 768, {10, 20, 1024, 768}},
      {"too small", 0, 0, 100, 50, {0, 0, 300, 200}},
      {"at the minimum", 0, 0, 300, 200, {0, 0, 300, 200}},
      {"just below", 0, 0, 299, 199, {0, 0, 300, 200}},
      {"negative position", static_cast<uint32_t>(-20), 0xFFFFFFFFu, 400, 300, {0, 0, 400, 300}},
      {"negative size", 5, 5, 0xFFFFFFFFu, 0x80000000u, {5, 5, 300, 200}},
      // Only a missing value means "system chooses"; a stored 0x80000000
      // is a number like any other.
      {"stored 0x80000000", 0x80000000u, 0x80000000u, 500, 400, {0, 0, 500, 400}},
      {"missing", std::nullopt, 7, std::nullopt, 250, {kUseDefault, 7, kUseDefault, 250}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryStore store;
    if (c.left) store.PutU32("Left", *c.left);
    if (c.top) store.PutU32("Top", *c.top);
    if (c.width) store.PutU32("Width", *c.width);
    if (c.height) store.PutU32("Height", *c.height);

    WindowGeometry g;
    ColumnWidths columns;
    LoadWindowLayout(store, &g, &columns);
    EXPECT_EQ(g.Left, c.loaded.Left);
    EXPECT_EQ(g.Top, c.loaded.Top);
    EXPECT_EQ(g.Width, c.loaded.Width);
    EXPECT_EQ(g.Height, c.loaded.Height);
  }
}

TEST(SettingsIoTest, ColumnWidthLoadsClampedUnsignedTo30Through500) {
  struct Case {
    std::optional<uint32_t> stored;
    uint32_t loaded;
  };
  const Case cases[] = {
      {10, 30},   {0, 30},    {29, 30},   {30, 30},           {250, 250},
      {500, 500}, {501, 500}, {900, 500}, {0xFFFFFFFFu, 500}, {std::nullopt, 160}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored ? std::to_string(*c.stored) : "missing");
    MemoryStore store;
    if (c.stored) store.PutU32("Column3", *c.stored);

    WindowGeometry g;
    ColumnWidths columns;
    LoadWindowLayout(store, &g, &columns);
    EXPECT_EQ(columns.Width,
              (std::array<uint32_t, kColumnCount>{80, 120, 120, c.loaded, 160, 160}));
  }
}

TEST(SettingsIoTest, SaveWritesRecordsThenGeometryThenColumnsInOrder) {
  MemoryStore store;
  FakeWindow window;
  window.rect = {-10, -5, 790, 595};
  const Settings settings = Sample();
  SaveSettings(store, settings, window);

  const std::vector<std::string> order = {"Test",    "Port",    "Packet",  "Timeouts", "Left",
                                          "Top",     "Height",  "Width",   "Column0",  "Column1",
                                          "Column2", "Column3", "Column4", "Column5"};
  EXPECT_EQ(store.writes(), order);

  for (const char* name : kRecordNames) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(store.GetBinary(name, &bytes)) << name;
    EXPECT_EQ(bytes, ImageOf(settings, name)) << name;
  }
  // "Packet" is a binary image, not a 32-bit value: 1500 = 0x000005DC.
  std::vector<uint8_t> packet;
  ASSERT_TRUE(store.GetBinary("Packet", &packet));
  EXPECT_EQ(packet, (std::vector<uint8_t>{0xDC, 0x05, 0x00, 0x00}));

  uint32_t v = 0;
  ASSERT_TRUE(store.GetU32("Left", &v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(store.GetU32("Top", &v));
  EXPECT_EQ(v, 0u);
  // Size from the unclamped rectangle.
  ASSERT_TRUE(store.GetU32("Width", &v));
  EXPECT_EQ(v, 800u);
  ASSERT_TRUE(store.GetU32("Height", &v));
  EXPECT_EQ(v, 600u);
}

TEST(SettingsIoTest, SaveGeometryOnlyFromAReadableRestoredWindow) {
  struct Case {
    const char* what;
    bool minimized;
    bool rect_ok;
    ScreenRect rect;
    std::array<uint32_t, 4> stored;  // Left, Top, Width, Height afterwards
  };
  const Case cases[] = {
      {"normal", false, true, {100, 50, 900, 650}, {100, 50, 800, 600}},
      {"maximised", false, true, {-8, -8, 1928, 1048}, {0, 0, 1936, 1056}},
      {"minimised", true, true, {-32000, -32000, -31840, -31972}, {1, 2, 3, 4}},
      {"rectangle unreadable", false, false, {0, 0, 0, 0}, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryStore store;
    store.PutU32("Left", 1);
    store.PutU32("Top", 2);
    store.PutU32("Width", 3);
    store.PutU32("Height", 4);
    FakeWindow window;
    window.minimized = c.minimized;
    window.rect_ok = c.rect_ok;
    window.rect = c.rect;
    SaveSettings(store, Sample(), window);

    std::array<uint32_t, 4> stored = {};
    const char* names[] = {"Left", "Top", "Width", "Height"};
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(store.GetU32(names[i], &stored[i]));
    EXPECT_EQ(stored, c.stored);
    // Records and columns are written whatever the window's state.
    std::vector<uint8_t> test;
    ASSERT_TRUE(store.GetBinary("Test", &test));
    EXPECT_EQ(test, ImageOf(Sample(), "Test"));
    uint32_t column0 = 0;
    ASSERT_TRUE(store.GetU32("Column0", &column0));
    EXPECT_EQ(column0, window.widths[0]);
  }
}

TEST(SettingsIoTest, SaveWritesOnlyColumnWidthsBelow500) {
  MemoryStore store;
  for (int i = 0; i < kColumnCount; ++i) store.PutU32("Column" + std::to_string(i), 111);
  FakeWindow window;
  // A failed query, the smallest and largest written widths, 500 (loads as
  // 500 but is not written), a huge width, an ordinary one.
  window.widths = {0, 1, 499, 500, 0xFFFFFFFFu, 160};
  SaveSettings(store, Sample(), window);

  const std::array<uint32_t, kColumnCount> expected = {111, 1, 499, 111, 111, 160};
  for (int i = 0; i < kColumnCount; ++i) {
    uint32_t v = 0;
    ASSERT_TRUE(store.GetU32("Column" + std::to_string(i), &v));
    EXPECT_EQ(v, expected[i]) << "Column" << i;
  }
}

TEST(SettingsIoTest, SaveThenLoadRoundTripsByteForByte) {
  const Settings saved = Sample();
  FakeWindow window;
  MemoryStore first;
  SaveSettings(first, saved, window);

  Settings loaded = Garbage();
  LoadWindowLayout(first, &loaded.Geometry, &loaded.Columns);
  LoadSettings(first, &loaded);
  ExpectSameRecords(loaded, saved);
  EXPECT_EQ(loaded.Geometry.Left, 100);
  EXPECT_EQ(loaded.Geometry.Top, 50);
  EXPECT_EQ(loaded.Geometry.Width, 800);
  EXPECT_EQ(loaded.Geometry.Height, 600);
  EXPECT_EQ(loaded.Columns.Width, window.widths);

  // Saving what was loaded stores the very same values.
  MemoryStore second;
  SaveSettings(second, loaded, window);
  EXPECT_EQ(second.writes(), first.writes());
  for (const std::string& name : first.writes()) {
    std::vector<uint8_t> a, b;
    uint32_t x = 0, y = 0;
    if (first.GetBinary(name, &a)) {
      ASSERT_TRUE(second.GetBinary(name, &b)) << name;
      EXPECT_EQ(a, b) << name;
    } else {
      ASSERT_TRUE(first.GetU32(name, &x)) << name;
      ASSERT_TRUE(second.GetU32(name, &y)) << name;
      EXPECT_EQ(x, y) << name;
    }
  }
}

TEST(MemoryStoreTest, ReadBinaryNeverWritesPastSize) {
  MemoryStore store;
  store.PutBinary("Long", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  store.PutBinary("Short", {1, 2});
  store.PutU32("Number", 5);

  struct Case {
    const char* name;
    bool available;
    bool ok;
    size_t taken;
    std::array<uint8_t, 6> buffer;  // 4 readable bytes, then 2 guards
  };
  const Case cases[] = {
      {"Long", true, true, 4, {1, 2, 3, 4, 0xCC, 0xCC}},
      {"Short", true, true, 2, {1, 2, 0xCC, 0xCC, 0xCC, 0xCC}},
      {"Missing", true, false, 99, {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
      {"Number", true, false, 99, {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
      {"Long", false, false, 99, {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.available ? "" : " while unavailable"));
    store.SetAvailable(c.available);
    std::array<uint8_t, 6> buffer;
    buffer.fill(0xCC);
    size_t taken = 99;
    EXPECT_EQ(store.ReadBinary(c.name, buffer.data(), 4, &taken), c.ok);
    EXPECT_EQ(taken, c.taken);
    EXPECT_EQ(buffer, c.buffer);
  }
}

}  // namespace
}  // namespace quarnex
