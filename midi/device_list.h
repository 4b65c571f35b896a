// The output devices as the configuration dialog and `tonvik-mml --list-devices` show them, and the
// lookup of a stored device name. No Qt here: the dialog puts the texts into its list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/midi_in.h"
#include "platform/midi_out.h"

namespace midi {

// One row of the device list; texts are UTF-8.
struct DeviceRow {
  int32_t Number;       // -1 for the default output
  std::string Name;     // as the device reports it, up to a zero byte (not trimmed)
  std::string Type;     // four characters: "PORT", "GEN ", " SQ ", " FM ", "MAP ", "SW  "; "--" when unknown
  std::string Voices;   // decimal, or "--" for 0
  std::string Notes;    // decimal, or "--" for 0
  std::string VC;       // "×" no volume call, "◎" separate left and right, "○" one volume
  std::string Latency;  // the audio output latency of a synthesizer, "10.7 ms"; "--" when none or unknown
};

DeviceRow FormatDeviceRow(int32_t number, const platform::MidiOutCaps& caps);
// Every device, -1 first, enumerated anew. A missing default output still gets its row (empty name).
std::vector<DeviceRow> ListDeviceRows();

// The name up to its first zero byte, without leading and trailing spaces and control characters.
std::string TrimDeviceName(std::string_view name);
// The name without instance numbers that change from run to run: a " (digits)" or " (digits:digits)"
// at the end of the name or of its client part (before a ':'), as a standalone synthesizer names its
// ALSA client and port after its process id.
std::string WithoutInstanceNumbers(std::string_view name);
// Enumerates anew (RefreshDeviceList) and returns the first device 0..n-1 whose trimmed name equals
// `name` exactly, else the first whose name equals it without instance numbers on both sides; none
// when no device has it or the name is empty.
std::optional<int32_t> FindDeviceNumberByName(std::string_view name);
// The index in `names` of the first name equal to `name`, else of the first equal to it without instance
// numbers on both sides; none when there is none or the name is empty.
std::optional<int32_t> FindNameInList(const std::vector<std::string>& names, std::string_view name);
// The same for a list of inputs (platform::MidiInGetPorts), names trimmed.
std::optional<int32_t> FindInputNumberByName(const std::vector<platform::MidiInPort>& inputs,
                                             std::string_view name);

}  // namespace midi
