#include "platform/qt/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>

namespace platform {
namespace {

QString Key(const char* section, const char* name) {
  return QString::fromLatin1(section) + QLatin1Char('/') + QString::fromLatin1(name);
}

}  // namespace

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Tonvik"), QStringLiteral("Tonvik"))) {}

SettingsStore::~SettingsStore() = default;

int32_t SettingsStore::ReadInt(const char* section, const char* name, int32_t fallback) const {
  if (!settings_) return fallback;
  const QVariant value = settings_->value(Key(section, name));
  if (!value.isValid()) return fallback;
  bool ok = false;
  const int32_t number = value.toString().trimmed().toInt(&ok);
  return ok ? number : fallback;
}

bool SettingsStore::ReadFlag(const char* section, const char* name, bool fallback) const {
  return ReadInt(section, name, fallback ? 1 : 0) != 0;
}

std::string SettingsStore::ReadText(const char* section, const char* name,
                                    const std::string& fallback) const {
  if (!settings_) return fallback;
  const QVariant value = settings_->value(Key(section, name));
  if (!value.isValid()) return fallback;
  return value.toString().toStdString();
}

void SettingsStore::WriteInt(const char* section, const char* name, int32_t value) {
  if (settings_) settings_->setValue(Key(section, name), value);
}

void SettingsStore::WriteFlag(const char* section, const char* name, bool value) {
  WriteInt(section, name, value ? 1 : 0);
}

void SettingsStore::WriteText(const char* section, const char* name, const std::string& value) {
  if (settings_) settings_->setValue(Key(section, name), QString::fromStdString(value));
}

bool SettingsStore::Flush() {
  if (!settings_) return false;
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

bool SettingsStore::EraseAll() {
  if (!settings_) return true;
  settings_->clear();
  settings_->sync();
  const QString path = settings_->fileName();
  const bool isFile = settings_->format() != QSettings::NativeFormat || QFileInfo(path).isAbsolute();
  settings_.reset();  // nothing may write the file again
  if (!isFile) return true;
  bool removed = !QFile::exists(path) || QFile::remove(path);
  // Qt keeps a lock file beside the store; the folder goes only when nothing else is in it.
  QFile::remove(path + QStringLiteral(".lock"));
  const QDir folder = QFileInfo(path).dir();
  if (folder.exists() && folder.isEmpty()) removed = QDir().rmdir(folder.path()) && removed;
  return removed;
}

std::string SettingsStore::Location() const {
  return settings_ ? settings_->fileName().toStdString() : std::string();
}

}  // namespace platform
