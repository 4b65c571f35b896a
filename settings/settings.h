// The keyboard window's persisted state and its load and save through the settings store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
class SettingsStore;
}

namespace settings {

// Unit-level state of the keyboard window, one instance (`Settings`). The dialogs read and write it
// directly; the configuration dialog only when it closes with OK.
struct SettingsRecord {
  int32_t DeviceType = 0;  // a midi::DeviceType: 0 no reset, 1 GM, 2 XG, 3 GS
  int32_t Channel = 0;     // 0, or 9 in drum mode
  int32_t Volume = 127;    // 0..127
  int32_t Program = 1;     // 1..128
  int32_t Bank = 0;        // 0..127
  int32_t Octave = 5;      // 0..10; C plays note Octave * 12
  int32_t Transpose = 0;   // -127..127
  int32_t Velocity = 127;  // 0..127
  bool StayOnTop = false;
  bool ForcePC98x1 = false;
  int32_t Mapping = 0;  // 0 standard layout, 1 MOD layout
};
extern SettingsRecord Settings;

// The values of the store's `Convert` section. They belong to the MML edit dialog's controls and are
// only carried here between the store and that dialog. Texts are UTF-8.
struct ConvertValues {
  // With nothing stored the lengths come from the tempo ("テンポから計算"): as typed ("そのまま") would
  // need a total length, which a first take has not got.
  int32_t Mode = 1;
  std::string Tempo = "120";
  std::string AllLength;
  std::string MinLength = "8";
  std::string DefLength = "4";
  std::string FirstLength = "8";
  std::string FileName;
  int32_t MMLType = 0;
};

// `Program` clamped into 1..128, for indexing the program-name table.
int32_t ClampedProgram(int32_t program);

// Brings every value into the range that the command keys and the configuration dialog keep it in, so
// that what is shown is what is sent and what is saved: numbers are clamped, a list index outside its
// list (DeviceType, Mapping) selects the first item, and a channel other than the drum channel 9 is 0.
void KeepSettingsInRange(SettingsRecord& settings);

// Reads every value of the store with the defaults for missing or non-numeric ones, kept in range
// (KeepSettingsInRange): `settings` except StayOnTop, ForcePC98x1 and Mapping (read at window creation,
// ReadStartValues), the stored device name into `deviceName` and the `Convert` section into `convert`.
void ReadSettings(const platform::SettingsStore& store, SettingsRecord& settings, std::string& deviceName,
                  ConvertValues& convert);

// StayOnTop (`View`/`Top`), ForcePC98x1 and Mapping (an unknown layout is the standard one), as read at
// window creation. ForcePC98x1 is also set when `pc98Keyboard` reports a PC-98 series keyboard.
void ReadStartValues(const platform::SettingsStore& store, SettingsRecord& settings, bool pc98Keyboard);

// The chosen MIDI input (`Device`/`InputDeviceName`): a source's name as listed, or kNoInput, the
// default, with which no input is opened. UI thread.
inline constexpr const char* kNoInput = "なし";
extern std::string InputDeviceName;
// A stored input name as it is used: trimmed as device names are; kNoInput for an empty name and for
// one longer than kMaxInputNameBytes.
inline constexpr size_t kMaxInputNameBytes = 256;
std::string ValidInputName(const std::string& stored);
std::string ReadInputDeviceName(const platform::SettingsStore& store);
void WriteInputDeviceName(platform::SettingsStore& store, const std::string& name);

// Writes all twenty values in their order; missing sections are created.
void WriteSettings(platform::SettingsStore& store, const SettingsRecord& settings,
                   const std::string& deviceName, const ConvertValues& convert);

}  // namespace settings
