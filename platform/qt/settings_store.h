// The per-user settings store: sections of integer and text values that persist between runs.
// On Linux it is the INI file that Qt chooses for organisation and application "Tonvik"; on Windows the
// registry key Software\Tonvik of the current user.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class QSettings;

namespace platform {

class SettingsStore {
 public:
  SettingsStore();
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // A value that is missing or not a whole number reads as `fallback`.
  int32_t ReadInt(const char* section, const char* name, int32_t fallback) const;
  bool ReadFlag(const char* section, const char* name, bool fallback) const;
  // Texts are UTF-8.
  std::string ReadText(const char* section, const char* name, const std::string& fallback) const;

  void WriteInt(const char* section, const char* name, int32_t value);
  void WriteFlag(const char* section, const char* name, bool value);
  void WriteText(const char* section, const char* name, const std::string& value);

  // Writes pending values out; false when the store could not be written.
  bool Flush();

  // Removes every value and the store itself (the file and its folder when that is left empty).
  // The object is spent afterwards: reads give their fallbacks, writes do nothing. False when the file
  // could not be removed.
  bool EraseAll();

  // Where the store lives (a file path, or the registry key on Windows).
  std::string Location() const;

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace platform
