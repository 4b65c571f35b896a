#include "app/keys.h"

#include <algorithm>
#include <array>

#include "midi/port.h"
#include "platform/clock.h"
#include "settings/settings.h"

namespace app {

using settings::Settings;
namespace {

// Standard layout: C on the C key. Lower manual on the two lower letter rows, upper manual an octave
// higher on the top letter row and the digit row; the rest key last.
constexpr std::array<LayoutKey, 43> kStandard = {{
    {0x41, -4}, {0x5A, -3}, {0x53, -2},          {0x58, -1}, {0x43, 0},  {0x46, 1},  {0x56, 2},  {0x47, 3},
    {0x42, 4},  {0x4E, 5},  {0x4A, 6},           {0x4D, 7},  {0x4B, 8},  {0xBC, 9},  {0x4C, 10}, {0xBE, 11},
    {0xBF, 12}, {0xBA, 13}, {0xE2, 14},          {0xDD, 15}, {0x31, 8},  {0x51, 9},  {0x32, 10}, {0x57, 11},
    {0x45, 12}, {0x34, 13}, {0x52, 14},          {0x35, 15}, {0x54, 16}, {0x59, 17}, {0x37, 18}, {0x55, 19},
    {0x38, 20}, {0x49, 21}, {0x39, 22},          {0x4F, 23}, {0x50, 24}, {0xBD, 25}, {0xC0, 26}, {0xDE, 27},
    {0xDB, 28}, {0xDC, 29}, {0x20, kRestOffset},
}};

// MOD layout: C on the Z key.
constexpr std::array<LayoutKey, 41> kMod = {{
    {0x5A, 0},  {0x53, 1},  {0x58, 2},  {0x44, 3},  {0x43, 4},  {0x56, 5},           {0x47, 6},
    {0x42, 7},  {0x48, 8},  {0x4E, 9},  {0x4A, 10}, {0x4D, 11}, {0xBC, 12},          {0x4C, 13},
    {0xBE, 14}, {0xBB, 15}, {0xBF, 16}, {0xE2, 17}, {0xDD, 18}, {0x51, 12},          {0x32, 13},
    {0x57, 14}, {0x33, 15}, {0x45, 16}, {0x52, 17}, {0x35, 18}, {0x54, 19},          {0x36, 20},
    {0x59, 21}, {0x37, 22}, {0x55, 23}, {0x49, 24}, {0x39, 25}, {0x4F, 26},          {0x30, 27},
    {0x50, 28}, {0xC0, 29}, {0xDE, 30}, {0xDB, 31}, {0xDC, 32}, {0x20, kRestOffset},
}};

constexpr uint8_t kRoKey = 0xE2;
constexpr uint8_t kPc98RoKey = 0xDF;

}  // namespace

Keyboard::Keyboard(KeyboardHost* host) : host_(host) { InitKeyState(); }

void Keyboard::CaptureNote(uint8_t note, uint32_t now) {
  if (!Capture.Recording) return;
  if (record::CaptureEvent(Capture, note, now) == record::CaptureResult::kOverflow && host_) {
    host_->CaptureOverflow();
  }
}

// Sounds the struck note m. The capture comes last: its overflow box runs an event loop, in which the
// key's release may already arrive.
void Keyboard::NoteOn(int32_t m) {
  if (m < 0 || m > 127 || Pressed[m] != 0) return;
  Pressed[m] = 1;
  midi::NoteOn(Settings.Channel, m, Settings.Velocity);
  if (host_) host_->NoteDrawn(m);
  CaptureNote(static_cast<uint8_t>(m), platform::TimeGetTime());
}

// Releases the struck note m.
void Keyboard::NoteOff(int32_t m) {
  if (m >= 0 && m <= 127) {
    Pressed[m] = 0;
    midi::NoteOff(Settings.Channel, m);
    if (host_) host_->NoteDrawn(m);
  }
  record::CaptureNoteRelease(Capture, platform::TimeGetTime());
}

void Keyboard::ValuesChanged() {
  if (host_) host_->ValuesChanged();
}

std::span<const LayoutKey> StandardLayout() { return kStandard; }
std::span<const LayoutKey> ModLayout() { return kMod; }

void Keyboard::InputNote(int32_t note, bool on, uint32_t stamp) {
  if (note < 0 || note > 127) return;
  Pressed[note] = on ? 1 : 0;
  if (host_) host_->NoteDrawn(note);
  if (on) {
    CaptureNote(static_cast<uint8_t>(note), stamp);
  } else {
    record::CaptureNoteRelease(Capture, stamp);
  }
}

void Keyboard::InitKeyState() {
  Capture.Recording = false;
  Capture.CaptureCount = 0;
  DigitEntryRestart = true;
  ReleaseAllKeys();
}

void Keyboard::BuildKeyTable() {
  const std::span<const LayoutKey> layout = Settings.Mapping == 1 ? ModLayout() : StandardLayout();
  KeyCount = static_cast<int32_t>(layout.size());
  for (int32_t i = 0; i < KeyCount; ++i) {
    KeyCodes[i] = layout[i].code;
    KeyOffsets[i] = layout[i].offset;
    if (Settings.ForcePC98x1 && KeyCodes[i] == kRoKey) KeyCodes[i] = kPc98RoKey;
  }
}

void Keyboard::ReleaseAllKeys() {
  std::fill(std::begin(HeldNote), std::end(HeldNote), kNotHeld);
  std::fill(std::begin(StruckNote), std::end(StruckNote), -1);
  std::fill(std::begin(Pressed), std::end(Pressed), 0);
}

void Keyboard::ReleaseSoundingKeys() {
  for (int32_t note = 0; note < 128; ++note) {
    if (Pressed[note] != 0) NoteOff(note);
  }
  ReleaseAllKeys();
}

int32_t Keyboard::FindKey(uint32_t code) const {
  const uint8_t low = static_cast<uint8_t>(code & 0xFF);
  for (int32_t i = 0; i < KeyCount; ++i) {
    if (KeyCodes[i] == low) return i;
  }
  return KeyCount;
}

void Keyboard::FormKeyDown(uint32_t key, bool shift, bool ctrl) {
  const int32_t i = FindKey(key);
  if (i == KeyCount) {
    KeyCommand(key, shift, ctrl);
    return;
  }
  DigitEntryRestart = true;
  if (HeldNote[i] != kNotHeld) return;  // auto-repeat of a sounding key
  if (KeyOffsets[i] == kRestOffset) {
    CaptureNote(record::kRestCode, platform::TimeGetTime());
    return;
  }
  int32_t n = Settings.Octave * 12 + KeyOffsets[i];
  if (shift) n += 12;
  if (ctrl) n -= 12;
  if (n < 0 || n > 127) {
    HeldNote[i] = kNotHeld;
    return;
  }
  // The key owns its note before anything can open a box.
  HeldNote[i] = static_cast<uint8_t>(n);
  StruckNote[i] = n + Settings.Transpose;
  NoteOn(StruckNote[i]);
}

bool Keyboard::ReleaseHeldKey(uint32_t key) {
  const int32_t i = FindKey(key);
  if (i >= KeyCount || HeldNote[i] == kNotHeld) return false;
  const int32_t struck = StruckNote[i];
  HeldNote[i] = kNotHeld;
  StruckNote[i] = -1;
  NoteOff(struck);
  return true;
}

void Keyboard::FormKeyUp(uint32_t key) { ReleaseHeldKey(key); }

int32_t StepValue(int32_t value, uint32_t key, uint32_t upKey, uint32_t downKey, int32_t max, int32_t min,
                  bool ctrl) {
  const int64_t step = ctrl ? 10 : 1;
  int64_t result = value;
  if (key == upKey) result += step;
  if (key == downKey) result -= step;
  return static_cast<int32_t>(std::clamp<int64_t>(result, min, max));
}

void Keyboard::KeyCommand(uint32_t key, bool shift, bool ctrl) {
  switch (key) {
    case kKeyBack:
      if (host_) host_->ChooseProgram();
      break;
    case kKeyReturn:
      if (host_) host_->ToggleRecording();
      break;
    case kKeyEscape:
      if (host_) host_->EscapeCommand();
      break;
    case kKeyPageUp:
    case kKeyPageDown:
      if (shift) {
        SetVolumeControl(StepValue(Settings.Volume, key, kKeyPageDown, kKeyPageUp, 127, 0, ctrl));
      } else {
        Settings.Velocity = StepValue(Settings.Velocity, key, kKeyPageDown, kKeyPageUp, 127, 0, ctrl);
        ValuesChanged();
      }
      break;
    case kKeyEnd:
      if (host_) host_->ConfigCommand();
      break;
    case kKeyLeft:
    case kKeyRight:
      if (midi::SelectsBanks(Settings.DeviceType)) {
        SelectProgram(Settings.Program, StepValue(Settings.Bank, key, kKeyRight, kKeyLeft, 127, 0, ctrl));
      }
      break;
    case kKeyUp:
    case kKeyDown:
      SelectProgram(StepValue(Settings.Program, key, kKeyUp, kKeyDown, 128, 1, ctrl), Settings.Bank);
      break;
    case kKeyInsert:
    case kKeyDelete:
      if (shift) {
        Settings.Transpose = StepValue(Settings.Transpose, key, kKeyInsert, kKeyDelete, 127, -127, ctrl);
      } else {
        Settings.Octave = StepValue(Settings.Octave, key, kKeyInsert, kKeyDelete, 10, 0, ctrl);
      }
      ValuesChanged();
      break;
    default:
      if (key >= kKeyF1 && key <= kKeyF10)
        ProgramDigit(key == kKeyF10 ? 0 : static_cast<int32_t>(key - kKeyF1 + 1));
      break;
  }
}

void Keyboard::ProgramDigit(int32_t digit) {
  if (DigitEntryRestart) {
    Settings.Program = digit == 0 ? 1 : 0;
    DigitEntryRestart = false;
  }
  // A hand-edited program number must not overflow; anything above 128 starts over anyway.
  const int64_t program = static_cast<int64_t>(Settings.Program) * 10 + digit;
  Settings.Program = program > 128 || program < 1 ? 1 : static_cast<int32_t>(program);
  SelectProgram(Settings.Program, Settings.Bank);
}

void Keyboard::SelectProgram(int32_t program, int32_t bank) {
  Settings.Program = program;
  Settings.Bank = bank;
  midi::SelectProgram(Settings.DeviceType, Settings.Channel, program, bank);
  if (host_) host_->ProgramChanged();
}

void Keyboard::SetVolumeControl(int32_t volume) {
  Settings.Volume = volume;
  midi::SetVolumeControl(Settings.Channel, volume);
  if (host_) host_->VolumeChanged();
}

void Keyboard::SendState() {
  midi::SendReset(Settings.DeviceType);
  SetVolumeControl(Settings.Volume);
  SelectProgram(Settings.Program, Settings.Bank);
  midi::EndSendState(Settings.Channel);
}

}  // namespace app
