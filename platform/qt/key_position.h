// Key events as Windows virtual-key codes, found by the key's physical position, so that the note
// layouts play the same on Japanese, US and European keyboards.
#pragma once

#include <cstdint>

class QKeyEvent;

namespace platform {

// Where the code of a key event comes from.
enum class KeySource {
  kScanCode,    // X11 / Wayland: the native scan code (evdev code + 8)
  kVirtualKey,  // Windows: the native virtual-key code
  kQtKey,       // anything else: the Qt key code
};

// The source for the running platform.
KeySource KeySourceForPlatform();
// Tests force a source (the offscreen platform would otherwise use kQtKey); Reset goes back.
void SetKeySourceForTesting(KeySource source);
void ResetKeySourceForTesting();

// The virtual-key code of the key at X11/Wayland scan code `scanCode`, placed as on a Japanese 106/109
// keyboard. Keypad keys give the numpad codes when `keypadDigits` (NumLock on), else the navigation
// codes. 0 for an unknown key.
uint8_t VirtualKeyFromScanCode(uint32_t scanCode, bool keypadDigits);

// The virtual-key code of a Qt key code (Qt::Key), by the legends of a Japanese keyboard. `keypad`:
// the event carried the keypad modifier. 0 for an unknown key.
uint8_t VirtualKeyFromQtKey(int qtKey, bool keypad);

// The virtual-key code of a key event, by the source of the running platform.
uint8_t VirtualKeyOf(const QKeyEvent& event);

// On X11 the server's auto-repeat sends a release and a press for every repeat. With `detectable` on, asks
// the server to send only the presses (off: the pairs again); true when the server supports it. False on
// other platforms.
bool SetDetectableAutoRepeat(bool detectable);

}  // namespace platform
