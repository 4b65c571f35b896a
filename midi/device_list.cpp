#include "midi/device_list.h"

#include <cctype>
#include <cstdio>

#include "midi/port.h"

namespace midi {
namespace {

std::string CountText(uint16_t count) { return count == 0 ? "--" : std::to_string(count); }

bool IsTrimmed(unsigned char c) { return c <= ' ' || c == 0x7F; }

}  // namespace

DeviceRow FormatDeviceRow(int32_t number, const platform::MidiOutCaps& caps) {
  static constexpr std::string_view kTypes = "PORTGEN  SQ  FM MAP SW  SW  ";
  DeviceRow row;
  row.Number = number;
  row.Name = caps.name.substr(0, caps.name.find('\0'));
  row.Type = caps.technology >= 1 && caps.technology <= 7
                 ? std::string(kTypes.substr((caps.technology - 1) * 4u, 4))
                 : std::string("--");
  row.Voices = CountText(caps.voices);
  row.Notes = CountText(caps.notes);
  if ((caps.support & platform::kMidiCapsVolume) == 0) {
    row.VC = "×";
  } else if (caps.support & platform::kMidiCapsLrVolume) {
    row.VC = "◎";
  } else {
    row.VC = "○";
  }
  if (caps.latencyMs > 0) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", caps.latencyMs);
    row.Latency = text;
  } else {
    row.Latency = "--";
  }
  return row;
}

std::vector<DeviceRow> ListDeviceRows() {
  const int count = RefreshDeviceList();
  std::vector<DeviceRow> rows;
  for (int id = -1; id < count; ++id) {
    platform::MidiOutCaps caps;
    if (!platform::MidiOutGetDevCaps(id, &caps)) {
      caps = platform::MidiOutCaps{};
      caps.technology = platform::kModMapper;
    }
    rows.push_back(FormatDeviceRow(id, caps));
  }
  return rows;
}

std::string TrimDeviceName(std::string_view name) {
  name = name.substr(0, name.find('\0'));
  size_t begin = 0;
  size_t end = name.size();
  while (begin < end && IsTrimmed(static_cast<unsigned char>(name[begin]))) ++begin;
  while (end > begin && IsTrimmed(static_cast<unsigned char>(name[end - 1]))) --end;
  return std::string(name.substr(begin, end - begin));
}

std::string WithoutInstanceNumbers(std::string_view name) {
  std::string result;
  size_t i = 0;
  while (i < name.size()) {
    // " (digits)" or " (digits:digits)" followed by the end or by ':'.
    size_t end = std::string_view::npos;
    if (name[i] == ' ' && i + 1 < name.size() && name[i + 1] == '(') {
      size_t k = i + 2;
      auto digits = [&] {
        const size_t begin = k;
        while (k < name.size() && std::isdigit(static_cast<unsigned char>(name[k]))) ++k;
        return k > begin;
      };
      bool ok = digits();
      if (ok && k < name.size() && name[k] == ':') {
        ++k;
        ok = digits();
      }
      if (ok && k < name.size() && name[k] == ')' && (k + 1 == name.size() || name[k + 1] == ':')) {
        end = k + 1;
      }
    }
    if (end != std::string_view::npos) {
      i = end;
    } else {
      result += name[i++];
    }
  }
  return result;
}

std::optional<int32_t> FindNameInList(const std::vector<std::string>& names, std::string_view name) {
  if (name.empty()) {
    return std::nullopt;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int32_t>(i);
  }
  const std::string stable = WithoutInstanceNumbers(name);
  for (size_t i = 0; i < names.size(); ++i) {
    if (!names[i].empty() && WithoutInstanceNumbers(names[i]) == stable) {
      return static_cast<int32_t>(i);
    }
  }
  return std::nullopt;
}

std::optional<int32_t> FindDeviceNumberByName(std::string_view name) {
  if (name.empty()) {
    return std::nullopt;
  }
  const int count = RefreshDeviceList();
  std::vector<std::string> names;
  for (int id = 0; id < count; ++id) {
    platform::MidiOutCaps caps;
    names.push_back(platform::MidiOutGetDevCaps(id, &caps) ? TrimDeviceName(caps.name) : std::string());
  }
  return FindNameInList(names, name);
}

std::optional<int32_t> FindInputNumberByName(const std::vector<platform::MidiInPort>& inputs,
                                             std::string_view name) {
  std::vector<std::string> names;
  for (const platform::MidiInPort& input : inputs) {
    names.push_back(TrimDeviceName(input.name));
  }
  return FindNameInList(names, name);
}

}  // namespace midi
