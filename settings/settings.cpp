#include "settings/settings.h"

#include <algorithm>

#include "midi/device_list.h"
#include "midi/port.h"
#include "platform/qt/settings_store.h"

namespace settings {

SettingsRecord Settings;
std::string InputDeviceName = kNoInput;

namespace {

// An index into a list of `count` items; anything outside the list selects the first item.
int32_t ListIndex(int32_t value, int32_t count) { return value >= 0 && value < count ? value : 0; }

}  // namespace

int32_t ClampedProgram(int32_t program) { return std::clamp(program, 1, 128); }

void KeepSettingsInRange(SettingsRecord& settings) {
  settings.DeviceType = ListIndex(settings.DeviceType, midi::kDeviceTypeCount);
  settings.Channel = settings.Channel == 9 ? 9 : 0;
  settings.Volume = std::clamp(settings.Volume, 0, 127);
  settings.Program = ClampedProgram(settings.Program);
  settings.Bank = std::clamp(settings.Bank, 0, 127);
  settings.Octave = std::clamp(settings.Octave, 0, 10);
  settings.Transpose = std::clamp(settings.Transpose, -127, 127);
  settings.Velocity = std::clamp(settings.Velocity, 0, 127);
  settings.Mapping = ListIndex(settings.Mapping, 2);
}

void ReadSettings(const platform::SettingsStore& store, SettingsRecord& settings, std::string& deviceName,
                  ConvertValues& convert) {
  deviceName = store.ReadText("Device", "DeviceName", "");
  settings.DeviceType = store.ReadInt("Device", "DeviceType", 0);
  settings.Channel = store.ReadInt("Device", "Channel", 0);
  settings.Volume = store.ReadInt("Controls", "Volume", 127);
  // Voice is stored zero-based.
  settings.Program = std::clamp(store.ReadInt("Controls", "Voice", 0), 0, 127) + 1;
  settings.Bank = store.ReadInt("Controls", "Bank", 0);
  settings.Octave = store.ReadInt("Controls", "Octave", 5);
  settings.Transpose = store.ReadInt("Controls", "Transpose", 0);
  settings.Velocity = store.ReadInt("Controls", "Velocity", 127);
  KeepSettingsInRange(settings);

  const ConvertValues defaults;
  convert.Mode = store.ReadInt("Convert", "Mode", defaults.Mode);
  convert.Tempo = store.ReadText("Convert", "Tempo", defaults.Tempo);
  convert.AllLength = store.ReadText("Convert", "AllLength", defaults.AllLength);
  convert.MinLength = store.ReadText("Convert", "MinLength", defaults.MinLength);
  convert.DefLength = store.ReadText("Convert", "DefLength", defaults.DefLength);
  convert.FirstLength = store.ReadText("Convert", "FirstLength", defaults.FirstLength);
  convert.FileName = store.ReadText("Convert", "FileName", defaults.FileName);
  convert.MMLType = store.ReadInt("Convert", "MMLType", defaults.MMLType);
}

void ReadStartValues(const platform::SettingsStore& store, SettingsRecord& settings, bool pc98Keyboard) {
  settings.StayOnTop = store.ReadFlag("View", "Top", false);
  settings.ForcePC98x1 = store.ReadFlag("Keyboard", "ForcePC98x1", false) || pc98Keyboard;
  settings.Mapping = ListIndex(store.ReadInt("Keyboard", "Mapping", 0), 2);
}

std::string ValidInputName(const std::string& stored) {
  const std::string name = midi::TrimDeviceName(stored);
  return name.empty() || name.size() > kMaxInputNameBytes ? std::string(kNoInput) : name;
}

std::string ReadInputDeviceName(const platform::SettingsStore& store) {
  return ValidInputName(store.ReadText("Device", "InputDeviceName", kNoInput));
}

void WriteInputDeviceName(platform::SettingsStore& store, const std::string& name) {
  store.WriteText("Device", "InputDeviceName", ValidInputName(name));
}

void WriteSettings(platform::SettingsStore& store, const SettingsRecord& settings,
                   const std::string& deviceName, const ConvertValues& convert) {
  store.WriteText("Device", "DeviceName", deviceName);
  store.WriteInt("Device", "DeviceType", settings.DeviceType);
  store.WriteInt("Device", "Channel", settings.Channel);
  store.WriteInt("Controls", "Volume", settings.Volume);
  store.WriteInt("Controls", "Voice", ClampedProgram(settings.Program) - 1);
  store.WriteInt("Controls", "Bank", settings.Bank);
  store.WriteInt("Controls", "Octave", settings.Octave);
  store.WriteInt("Controls", "Transpose", settings.Transpose);
  store.WriteInt("Controls", "Velocity", settings.Velocity);
  store.WriteInt("Convert", "Mode", convert.Mode);
  store.WriteText("Convert", "Tempo", convert.Tempo);
  store.WriteText("Convert", "AllLength", convert.AllLength);
  store.WriteText("Convert", "MinLength", convert.MinLength);
  store.WriteText("Convert", "DefLength", convert.DefLength);
  store.WriteText("Convert", "FirstLength", convert.FirstLength);
  store.WriteText("Convert", "FileName", convert.FileName);
  store.WriteInt("Convert", "MMLType", convert.MMLType);
  store.WriteFlag("View", "Top", settings.StayOnTop);
  store.WriteFlag("Keyboard", "ForcePC98x1", settings.ForcePC98x1);
  store.WriteInt("Keyboard", "Mapping", settings.Mapping);
}

}  // namespace settings
