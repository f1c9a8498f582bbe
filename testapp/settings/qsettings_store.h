// QSettingsStore: the settings store of the Qt program.
//
// It keeps the values in QSettings("ZVL", "QuarnexTest"), on Linux the INI
// file $XDG_CONFIG_HOME/ZVL/QuarnexTest.conf (default ~/.config). Binary
// values are stored as byte-exact QByteArray values ("@ByteArray(...)"),
// 32-bit values as integers. A fresh process reads an integer back as a
// string, so ReadU32 converts with toUInt and treats a failed conversion as
// a missing value.
//
// Not thread-safe: settings load and save run on the user-interface thread.
#ifndef QUARNEX_SETTINGS_QSETTINGS_STORE_H_
#define QUARNEX_SETTINGS_QSETTINGS_STORE_H_

#include <QSettings>
#include <QString>

#include "testapp/settings/settings_store.h"

namespace quarnex {

inline constexpr char kSettingsOrganization[] = "ZVL";
inline constexpr char kSettingsApplication[] = "QuarnexTest";

class QSettingsStore : public SettingsStore {
 public:
  // The program's own store: QSettings("ZVL", "QuarnexTest").
  QSettingsStore();
  // A store in the INI file `ini_path` (tools and tests).
  explicit QSettingsStore(const QString& ini_path);
  QSettingsStore(const QSettingsStore&) = delete;
  QSettingsStore& operator=(const QSettingsStore&) = delete;
  // Writes pending changes to disk.
  ~QSettingsStore() override;

  // SettingsStore. ReadBinary takes byte arrays (and, as the registry read
  // did not check the type, the bytes of a text value); it copies at most
  // `size` bytes and reports the count in *taken (which may be null).
  bool ReadBinary(const char* name, void* buffer, size_t size, size_t* taken) override;
  bool WriteBinary(const char* name, const void* data, size_t size) override;
  bool ReadU32(const char* name, uint32_t* value) override;
  bool WriteU32(const char* name, uint32_t value) override;

  // Writes pending changes now; false when the file could not be written.
  bool Sync();
  // The file the values live in.
  QString FileName() const { return settings_.fileName(); }

 private:
  QSettings settings_;
};

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_QSETTINGS_STORE_H_
