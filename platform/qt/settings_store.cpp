#include "platform/qt/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <optional>
#include <utility>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace platform {
namespace {

QString Key(const char* section, const char* name) {
  return QString::fromLatin1(section) + QLatin1Char('/') + QString::fromLatin1(name);
}

// Which file a path names: its device and inode where the system has them, else its change time.
using FileIdentity = std::pair<uint64_t, uint64_t>;
std::optional<FileIdentity> IdentityOf(const QString& path) {
#if defined(Q_OS_UNIX)
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
#else
  const QFileInfo info(path);
  if (!info.exists()) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(info.metadataChangeTime().toMSecsSinceEpoch()),
                      static_cast<uint64_t>(info.size())};
#endif
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
  // Sections are parsed when first used, and the write parses the rest to merge them: a format error of
  // the file shows here, before the write, rather than as the write's outcome.
  settings_->allKeys();
  if (settings_->status() == QSettings::NoError) {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
  }
  // QSettings keeps the first error it met, so its status now says nothing about the write. The file does:
  // a write replaces it with a new file.
  const std::optional<FileIdentity> before = IdentityOf(settings_->fileName());
  settings_->sync();
  const std::optional<FileIdentity> after = IdentityOf(settings_->fileName());
  return after && after != before;
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
