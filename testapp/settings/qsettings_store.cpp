// QSettingsStore: the settings store over QSettings.
#include "testapp/settings/qsettings_store.h"

#include <QByteArray>
#include <QMetaType>
#include <QVariant>
#include <algorithm>
#include <cstring>

namespace quarnex {

QSettingsStore::QSettingsStore()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
                kSettingsApplication) {}

QSettingsStore::QSettingsStore(const QString& ini_path)
    : settings_(ini_path, QSettings::IniFormat) {}

QSettingsStore::~QSettingsStore() { settings_.sync(); }

bool QSettingsStore::ReadBinary(const char* name, void* buffer, size_t size, size_t* taken) {
  const QVariant value = settings_.value(QString::fromLatin1(name));
  // Only a byte array is a record's image. A string (a byte array cut in
  // the file, so that its "@ByteArray(" prefix is no longer recognised, or
  // a value typed by hand) or a number is not believed.
  if (value.metaType().id() != QMetaType::QByteArray) return false;
  const QByteArray bytes = value.toByteArray();
  const size_t n = std::min(size, static_cast<size_t>(bytes.size()));
  if (n > 0) std::memcpy(buffer, bytes.constData(), n);
  if (taken != nullptr) *taken = n;
  return true;
}

bool QSettingsStore::WriteBinary(const char* name, const void* data, size_t size) {
  if (!settings_.isWritable()) return false;
  settings_.setValue(QString::fromLatin1(name),
                     QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size)));
  return true;
}

bool QSettingsStore::ReadU32(const char* name, uint32_t* value) {
  const QVariant stored = settings_.value(QString::fromLatin1(name));
  if (!stored.isValid()) return false;
  bool ok = false;
  const uint converted = stored.toUInt(&ok);
  if (!ok) return false;
  *value = converted;
  return true;
}

bool QSettingsStore::WriteU32(const char* name, uint32_t value) {
  if (!settings_.isWritable()) return false;
  settings_.setValue(QString::fromLatin1(name), static_cast<uint>(value));
  return true;
}

bool QSettingsStore::Sync() {
  settings_.sync();
  return settings_.status() == QSettings::NoError;
}

}  // namespace quarnex
