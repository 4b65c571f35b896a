// The computer keyboard as a MIDI keyboard: the two note layouts, the held-note and pressed-note tables,
// the command keys and program number entry. Plain code without Qt; the window hands it virtual-key codes
// and the shift state and is called back (KeyboardHost) for what it must show or open.
#pragma once

#include <cstdint>
#include <span>

#include "record/capture.h"

namespace app {

inline constexpr int32_t kMaxNoteKeys = 43;
inline constexpr uint8_t kNotHeld = 255;
inline constexpr int32_t kRestOffset = 255;  // KeyOffsets entry of the rest key

// Virtual-key codes of the command keys.
enum CommandKey : uint8_t {
  kKeyBack = 0x08,
  kKeyReturn = 0x0D,
  kKeyEscape = 0x1B,
  kKeyPageUp = 0x21,    // "RollDown"
  kKeyPageDown = 0x22,  // "RollUp"
  kKeyEnd = 0x23,       // "Help"
  kKeyLeft = 0x25,
  kKeyUp = 0x26,
  kKeyRight = 0x27,
  kKeyDown = 0x28,
  kKeyInsert = 0x2D,
  kKeyDelete = 0x2E,
  kKeyF1 = 0x70,
  kKeyF10 = 0x79,
};

struct LayoutKey {
  uint8_t code;    // virtual-key code
  int32_t offset;  // semitones from the C of the current octave; kRestOffset for the rest key
};
// The layouts in table order: 43 keys (standard) and 41 keys (MOD), the rest key last.
std::span<const LayoutKey> StandardLayout();
std::span<const LayoutKey> ModLayout();

// What the key logic needs from its window. All calls come on the UI thread.
class KeyboardHost {
 public:
  virtual ~KeyboardHost() = default;
  // Pressed[note] changed: draw that key and repaint the strip at once.
  virtual void NoteDrawn(int32_t note) = 0;
  // Octave, velocity or transposition changed: update their labels.
  virtual void ValuesChanged() = 0;
  // The volume was sent: update its label.
  virtual void VolumeChanged() = 0;
  // Program or bank selected: update their labels and the window title.
  virtual void ProgramChanged() = 0;
  virtual void ChooseProgram() = 0;    // Backspace
  virtual void ToggleRecording() = 0;  // Return
  virtual void EscapeCommand() = 0;    // Esc: discard the take, or close the window
  virtual void ConfigCommand() = 0;    // End ("Help")
  // The 4096th event while recording: the take is already discarded; show "バッファオーバー" and turn
  // the recording label back.
  virtual void CaptureOverflow() = 0;
};
// `value` stepped by 1 (10 with Ctrl) up when `key` is `upKey`, down when it is `downKey`, then clamped
// into min..max.
int32_t StepValue(int32_t value, uint32_t key, uint32_t upKey, uint32_t downKey, int32_t max, int32_t min,
                  bool ctrl);

// The keyboard's state: the active layout (BuildKeyTable), the held and sounding notes and the take
// being recorded, with the key routines that work on it. The keyboard window owns the one of the
// program and is its host; a new one is in the state of the program's start (InitKeyState) with an empty
// key table.
class Keyboard {
 public:
  explicit Keyboard(KeyboardHost* host = nullptr);
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;

  void SetHost(KeyboardHost* host) { host_ = host; }

  // Start of the program: recording off and empty, DigitEntryRestart set, nothing pressed or held.
  void InitKeyState();
  // Copies the layout of Settings.Mapping into the key table; with Settings.ForcePC98x1 the "ro" key's
  // code 0xE2 becomes 0xDF.
  void BuildKeyTable();
  // Forgets every held key and pressed note (after the layout changed; the port has been reset).
  void ReleaseAllKeys();
  // Ends every note that sounds from the keyboard (a note-off each) and forgets every held key and
  // pressed note: the window loses the keys' releases when another program becomes active.
  void ReleaseSoundingKeys();
  // Index of the first key of the table whose code equals the low byte of `code`; KeyCount when none.
  int32_t FindKey(uint32_t code) const;

  // A key-down (auto-repeats included) and a key-up of the main window. Shift and Ctrl as held at the
  // key.
  void FormKeyDown(uint32_t key, bool shift, bool ctrl);
  void FormKeyUp(uint32_t key);
  // A key-up of a note key that is held; false (and nothing done) for any other key. For key-ups that
  // reach another of the program's windows.
  bool ReleaseHeldKey(uint32_t key);

  // A note that a MIDI input has already sounded (`on`) or ended, at `stamp` on the millisecond clock:
  // marked and drawn, and captured with that time as a key's note would be.
  void InputNote(int32_t note, bool on, uint32_t stamp);

  // A command key (no note key of the layout).
  void KeyCommand(uint32_t key, bool shift, bool ctrl);
  // F1..F10 as digits 1..9, 0.
  void ProgramDigit(int32_t digit);

  // Sends and shows. Each stores its values in Settings first.
  void SelectProgram(int32_t program, int32_t bank);
  void SetVolumeControl(int32_t volume);
  // Reset message of the device type (and its 50 ms wait), volume, bank and program, all notes off and
  // reset all controllers.
  void SendState();

  // The active layout.
  uint8_t KeyCodes[kMaxNoteKeys] = {};
  int32_t KeyOffsets[kMaxNoteKeys] = {};
  int32_t KeyCount = 0;
  // Per note key: the note (before transposition) it sounds, kNotHeld when not held.
  uint8_t HeldNote[kMaxNoteKeys];
  // Per note key: the transposed note it struck at its key-down, which its key-up releases.
  int32_t StruckNote[kMaxNoteKeys];
  // Per MIDI note: 1 while that note sounds from the keyboard.
  uint8_t Pressed[128];
  bool DigitEntryRestart = true;
  // The take being recorded.
  record::Capture Capture;

 private:
  void CaptureNote(uint8_t note, uint32_t now);
  void NoteOn(int32_t m);
  void NoteOff(int32_t m);
  void ValuesChanged();

  KeyboardHost* host_;
};

}  // namespace app
