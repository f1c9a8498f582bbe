#include "win32/registry_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testapp/settings/memory_store.h"
#include "testapp/settings/settings_io.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

// A window as SaveSettings sees it: on screen, with these column widths.
class FixedWindow : public WindowLayoutSource {
 public:
  bool IsMinimized() const override { return false; }
  bool GetScreenRect(ScreenRect* rect) const override {
    *rect = ScreenRect{40, 30, 40 + 900, 30 + 600};
    return true;
  }
  uint32_t ColumnWidth(int column) const override {
    return 60 + 10 * static_cast<uint32_t>(column);
  }
};

// Settings that differ from the defaults in every record.
Settings ChangedSettings() {
  Settings s{};
  MemoryStore defaults_only;
  LoadSettings(defaults_only, &s);
  s.Test.PortIndex = 7;
  s.Test.PortCount = 12;
  s.Test.Mode = 2;
  std::strcpy(s.Test.FileName, "C:\\lab\\frame.bin");
  s.Test.FileNameLength = static_cast<uint8_t>(std::strlen(s.Test.FileName));
  s.Test.Delay = 25;
  s.Port.BaudRate = 115200;
  s.PacketSize = 4096;
  s.Timeouts.ReadTotalTimeoutConstant = 250;
  return s;
}

// The type and size of value `name` under `key`; type 0 when it is missing.
struct StoredValue {
  DWORD type = 0;
  DWORD size = 0;
};
StoredValue Query(HKEY root, const char* key, const char* name) {
  StoredValue v;
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return v;
  if (RegQueryValueExA(opened, name, nullptr, &v.type, nullptr, &v.size) != ERROR_SUCCESS) v = {};
  RegCloseKey(opened);
  return v;
}

// Each test works in a key of its own, removed before and after.
class RegistryStoreTest : public ::testing::Test {
 protected:
  static constexpr char kKey[] = "Software\\ZVL\\QuarnexTest-registry_store_test";
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
  void Put(const char* name, DWORD type, const std::vector<BYTE>& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
};

TEST_F(RegistryStoreTest, SavedRecordsAreBinaryImagesAndLayoutValuesDwordsAndLoadBack) {
  const Settings saved = ChangedSettings();
  {
    RegistryStore store(HKEY_CURRENT_USER, kKey);
    ASSERT_TRUE(store.IsOpen());
    SaveSettings(store, saved, FixedWindow());
  }
  const struct {
    const char* name;
    DWORD type;
    DWORD size;
  } kStored[] = {
      {"Test", REG_BINARY, 292},   {"Port", REG_BINARY, 12}, {"Packet", REG_BINARY, 4},
      {"Timeouts", REG_BINARY, 8}, {"Left", REG_DWORD, 4},   {"Top", REG_DWORD, 4},
      {"Width", REG_DWORD, 4},     {"Height", REG_DWORD, 4}, {"Column0", REG_DWORD, 4},
      {"Column5", REG_DWORD, 4},
  };
  for (const auto& v : kStored) {
    const StoredValue got = Query(HKEY_CURRENT_USER, kKey, v.name);
    EXPECT_EQ(got.type, v.type) << v.name;
    EXPECT_EQ(got.size, v.size) << v.name;
  }

  // A fresh store, as at the next program start.
  RegistryStore store(HKEY_CURRENT_USER, kKey);
  Settings loaded{};
  LoadSettings(store, &loaded);
  LoadWindowLayout(store, &loaded.Geometry, &loaded.Columns);
  EXPECT_EQ(std::memcmp(&loaded.Test, &saved.Test, sizeof(saved.Test)), 0);
  EXPECT_EQ(std::memcmp(&loaded.Port, &saved.Port, sizeof(saved.Port)), 0);
  EXPECT_EQ(loaded.PacketSize, 4096);
  EXPECT_EQ(loaded.Timeouts.ReadTotalTimeoutConstant, 250u);
  EXPECT_EQ(loaded.Geometry.Left, 40);
  EXPECT_EQ(loaded.Geometry.Top, 30);
  EXPECT_EQ(loaded.Geometry.Width, 900);
  EXPECT_EQ(loaded.Geometry.Height, 600);
  EXPECT_EQ(loaded.Columns.Width[5], 110u);
}

// What the registry holds is read only as far as it fits and only as the
// kind of value asked for; anything else leaves the caller's buffer alone.
TEST_F(RegistryStoreTest, ValuesAreCutToTheRecordAndTheWrongTypeIsNotBelieved) {
  Put("Long", REG_BINARY, {1, 2, 3, 4, 5, 6});
  Put("Short", REG_BINARY, {9, 8});
  Put("Empty", REG_BINARY, {});
  Put("Text", REG_SZ, {'a', 'b', 'c', 0});
  Put("Dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12});
  Put("BinaryFour", REG_BINARY, {1, 0, 0, 0});
  RegistryStore store(HKEY_CURRENT_USER, kKey);

  const struct {
    const char* name;
    bool ok;
    size_t taken;
    std::vector<BYTE> buffer;  // after a read into 4 bytes of 0xEE
  } kBinary[] = {
      {"Long", true, 4, {1, 2, 3, 4}},
      {"Short", true, 2, {9, 8, 0xEE, 0xEE}},
      {"Empty", true, 0, {0xEE, 0xEE, 0xEE, 0xEE}},
      {"Text", false, 99, {0xEE, 0xEE, 0xEE, 0xEE}},
      {"Dword", false, 99, {0xEE, 0xEE, 0xEE, 0xEE}},
      {"Missing", false, 99, {0xEE, 0xEE, 0xEE, 0xEE}},
  };
  for (const auto& c : kBinary) {
    std::vector<BYTE> buffer(4, 0xEE);
    size_t taken = 99;
    EXPECT_EQ(store.ReadBinary(c.name, buffer.data(), buffer.size(), &taken), c.ok) << c.name;
    EXPECT_EQ(taken, c.taken) << c.name;
    EXPECT_EQ(buffer, c.buffer) << c.name;
  }

  uint32_t value = 7;
  EXPECT_TRUE(store.ReadU32("Dword", &value));
  EXPECT_EQ(value, 0x12345678u);
  for (const char* name : {"BinaryFour", "Text", "Missing"}) {
    value = 7;
    EXPECT_FALSE(store.ReadU32(name, &value)) << name;
    EXPECT_EQ(value, 7u) << name;
  }
}

TEST_F(RegistryStoreTest, AKeyThatCannotBeOpenedFailsEveryCall) {
  // A key name longer than the registry's 255 characters.
  RegistryStore store(HKEY_CURRENT_USER, "Software\\" + std::string(300, 'k'));
  ASSERT_FALSE(store.IsOpen());
  uint8_t buffer[4] = {};
  uint32_t value = 0;
  EXPECT_FALSE(store.ReadBinary("Test", buffer, sizeof(buffer), nullptr));
  EXPECT_FALSE(store.WriteBinary("Test", buffer, sizeof(buffer)));
  EXPECT_FALSE(store.ReadU32("Left", &value));
  EXPECT_FALSE(store.WriteU32("Left", 1));
}

// The program's own key. Only where the registry is a scratch one
// (scripts/test-windows runs the tests in a Wine prefix of the build and
// sets QUARNEX_SCRATCH_REGISTRY=1): on a real machine it holds the user's
// settings.
TEST(RegistryStoreProgramKeyTest, TheProgramsKeyHoldsTheFourRecords) {
  const char* scratch = std::getenv("QUARNEX_SCRATCH_REGISTRY");
  if (scratch == nullptr || std::strcmp(scratch, "1") != 0) {
    GTEST_SKIP() << "QUARNEX_SCRATCH_REGISTRY=1 not set: the user's own settings stay untouched";
  }
  const Settings saved = ChangedSettings();
  SaveSettings(*OpenWindowsStore(), saved, FixedWindow());
  Settings loaded{};
  LoadSettings(*OpenWindowsStore(), &loaded);
  EXPECT_EQ(std::memcmp(&loaded.Test, &saved.Test, sizeof(saved.Test)), 0);
  EXPECT_EQ(loaded.PacketSize, 4096);
  for (const char* name : {"Test", "Port", "Packet", "Timeouts"}) {
    EXPECT_EQ(Query(HKEY_CURRENT_USER, kRegistryKeyPath, name).type, DWORD{REG_BINARY}) << name;
  }
}

}  // namespace
}  // namespace quarnex
