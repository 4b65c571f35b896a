#include "platform/qt/key_position.h"

#include <QtGui/qtguiglobal.h>

#include <QGuiApplication>
#include <QKeyEvent>
#include <array>
#include <optional>
#if defined(TONVIK_HAVE_X11) && QT_CONFIG(xcb)
#define TONVIK_X11_REPEAT 1
#include <QtGui/qguiapplication_platform.h>
#include <X11/XKBlib.h>
#endif

namespace platform {
namespace {

// Virtual-key codes used below.
enum : uint8_t {
  kVkBack = 0x08,
  kVkTab = 0x09,
  kVkClear = 0x0C,
  kVkReturn = 0x0D,
  kVkShift = 0x10,
  kVkControl = 0x11,
  kVkMenu = 0x12,
  kVkPause = 0x13,
  kVkCapital = 0x14,
  kVkKana = 0x15,
  kVkConvert = 0x1C,
  kVkNonConvert = 0x1D,
  kVkEscape = 0x1B,
  kVkSpace = 0x20,
  kVkPrior = 0x21,
  kVkNext = 0x22,
  kVkEnd = 0x23,
  kVkHome = 0x24,
  kVkLeft = 0x25,
  kVkUp = 0x26,
  kVkRight = 0x27,
  kVkDown = 0x28,
  kVkSnapshot = 0x2C,
  kVkInsert = 0x2D,
  kVkDelete = 0x2E,
  kVkLWin = 0x5B,
  kVkRWin = 0x5C,
  kVkApps = 0x5D,
  kVkNumpad0 = 0x60,
  kVkMultiply = 0x6A,
  kVkAdd = 0x6B,
  kVkSeparator = 0x6C,
  kVkSubtract = 0x6D,
  kVkDecimal = 0x6E,
  kVkDivide = 0x6F,
  kVkF1 = 0x70,
  kVkNumLock = 0x90,
  kVkScroll = 0x91,
  kVkOem1 = 0xBA,       // ":" on a Japanese keyboard
  kVkOemPlus = 0xBB,    // ";"
  kVkOemComma = 0xBC,   // ","
  kVkOemMinus = 0xBD,   // "-"
  kVkOemPeriod = 0xBE,  // "."
  kVkOem2 = 0xBF,       // "/"
  kVkOem3 = 0xC0,       // "@"
  kVkOem4 = 0xDB,       // "["
  kVkOem5 = 0xDC,       // yen
  kVkOem6 = 0xDD,       // "]"
  kVkOem7 = 0xDE,       // "^"
  kVkOem102 = 0xE2,     // "\" (ro), and the ISO key left of Z
  kVkOemAuto = 0xF3,    // hankaku/zenkaku
  kVkOemCopy = 0xF2,    // katakana/hiragana
};

// Evdev codes (X11 keycode - 8) to virtual-key codes; keypad digits and the keypad point are 0 here and
// handled by KeypadKey.
constexpr std::array<uint8_t, 128> MakeScanTable() {
  std::array<uint8_t, 128> t{};
  t[1] = kVkEscape;
  for (int i = 0; i < 9; ++i) t[2 + i] = static_cast<uint8_t>('1' + i);
  t[11] = '0';
  t[12] = kVkOemMinus;
  t[13] = kVkOem7;
  t[14] = kVkBack;
  t[15] = kVkTab;
  const char row1[] = "QWERTYUIOP";
  for (int i = 0; i < 10; ++i) t[16 + i] = static_cast<uint8_t>(row1[i]);
  t[26] = kVkOem3;
  t[27] = kVkOem4;
  t[28] = kVkReturn;
  t[29] = kVkControl;
  const char row2[] = "ASDFGHJKL";
  for (int i = 0; i < 9; ++i) t[30 + i] = static_cast<uint8_t>(row2[i]);
  t[39] = kVkOemPlus;
  t[40] = kVkOem1;
  t[41] = kVkOemAuto;
  t[42] = kVkShift;
  t[43] = kVkOem6;
  const char row3[] = "ZXCVBNM";
  for (int i = 0; i < 7; ++i) t[44 + i] = static_cast<uint8_t>(row3[i]);
  t[51] = kVkOemComma;
  t[52] = kVkOemPeriod;
  t[53] = kVkOem2;
  t[54] = kVkShift;
  t[55] = kVkMultiply;
  t[56] = kVkMenu;
  t[57] = kVkSpace;
  t[58] = kVkCapital;
  for (int i = 0; i < 10; ++i) t[59 + i] = static_cast<uint8_t>(kVkF1 + i);
  t[69] = kVkNumLock;
  t[70] = kVkScroll;
  t[74] = kVkSubtract;
  t[78] = kVkAdd;
  t[85] = kVkOemAuto;
  t[86] = kVkOem102;
  t[87] = kVkF1 + 10;
  t[88] = kVkF1 + 11;
  t[89] = kVkOem102;
  t[90] = kVkKana;
  t[91] = kVkKana;
  t[92] = kVkConvert;
  t[93] = kVkOemCopy;
  t[94] = kVkNonConvert;
  t[95] = kVkSeparator;
  t[96] = kVkReturn;
  t[97] = kVkControl;
  t[98] = kVkDivide;
  t[99] = kVkSnapshot;
  t[100] = kVkMenu;
  t[102] = kVkHome;
  t[103] = kVkUp;
  t[104] = kVkPrior;
  t[105] = kVkLeft;
  t[106] = kVkRight;
  t[107] = kVkEnd;
  t[108] = kVkDown;
  t[109] = kVkNext;
  t[110] = kVkInsert;
  t[111] = kVkDelete;
  t[119] = kVkPause;
  t[124] = kVkOem5;
  t[125] = kVkLWin;
  t[126] = kVkRWin;
  t[127] = kVkApps;
  return t;
}
constexpr std::array<uint8_t, 128> kScanTable = MakeScanTable();

// The keypad digit keys and the point: their digit (10 for the point) and the code with NumLock off.
struct KeypadKey {
  uint32_t evdev;
  uint8_t digit;
  uint8_t navigation;
};
constexpr KeypadKey kKeypad[] = {
    {71, 7, kVkHome},  {72, 8, kVkUp},     {73, 9, kVkPrior},   {75, 4, kVkLeft},
    {76, 5, kVkClear}, {77, 6, kVkRight},  {79, 1, kVkEnd},     {80, 2, kVkDown},
    {81, 3, kVkNext},  {82, 0, kVkInsert}, {83, 10, kVkDelete},
};

// The Qt keys outside the ranges of letters, digits and F keys, by the legends of a Japanese keyboard:
// the virtual-key code, and the code of the keypad's key of that legend (0: the same code).
struct QtKeyCode {
  int qtKey;
  uint8_t code;
  uint8_t keypadCode;
};
constexpr QtKeyCode kQtKeyCodes[] = {
    {Qt::Key_Backspace, kVkBack, 0},    {Qt::Key_Tab, kVkTab, 0},
    {Qt::Key_Clear, kVkClear, 0},       {Qt::Key_Return, kVkReturn, 0},
    {Qt::Key_Enter, kVkReturn, 0},      {Qt::Key_Shift, kVkShift, 0},
    {Qt::Key_Control, kVkControl, 0},   {Qt::Key_Alt, kVkMenu, 0},
    {Qt::Key_Pause, kVkPause, 0},       {Qt::Key_CapsLock, kVkCapital, 0},
    {Qt::Key_Escape, kVkEscape, 0},     {Qt::Key_Space, kVkSpace, 0},
    {Qt::Key_PageUp, kVkPrior, 0},      {Qt::Key_PageDown, kVkNext, 0},
    {Qt::Key_End, kVkEnd, 0},           {Qt::Key_Home, kVkHome, 0},
    {Qt::Key_Left, kVkLeft, 0},         {Qt::Key_Up, kVkUp, 0},
    {Qt::Key_Right, kVkRight, 0},       {Qt::Key_Down, kVkDown, 0},
    {Qt::Key_Print, kVkSnapshot, 0},    {Qt::Key_Insert, kVkInsert, 0},
    {Qt::Key_Delete, kVkDelete, 0},     {Qt::Key_NumLock, kVkNumLock, 0},
    {Qt::Key_ScrollLock, kVkScroll, 0}, {Qt::Key_Asterisk, kVkMultiply, 0},
    {Qt::Key_Plus, kVkOemPlus, kVkAdd}, {Qt::Key_Semicolon, kVkOemPlus, 0},
    {Qt::Key_Colon, kVkOem1, 0},        {Qt::Key_Comma, kVkOemComma, 0},
    {Qt::Key_Less, kVkOemComma, 0},     {Qt::Key_Minus, kVkOemMinus, kVkSubtract},
    {Qt::Key_Equal, kVkOemMinus, 0},    {Qt::Key_Period, kVkOemPeriod, kVkDecimal},
    {Qt::Key_Greater, kVkOemPeriod, 0}, {Qt::Key_Slash, kVkOem2, kVkDivide},
    {Qt::Key_Question, kVkOem2, 0},     {Qt::Key_At, kVkOem3, 0},
    {Qt::Key_QuoteLeft, kVkOem3, 0},    {Qt::Key_BracketLeft, kVkOem4, 0},
    {Qt::Key_BraceLeft, kVkOem4, 0},    {Qt::Key_yen, kVkOem5, 0},
    {Qt::Key_Bar, kVkOem5, 0},          {Qt::Key_BracketRight, kVkOem6, 0},
    {Qt::Key_BraceRight, kVkOem6, 0},   {Qt::Key_AsciiCircum, kVkOem7, 0},
    {Qt::Key_AsciiTilde, kVkOem7, 0},   {Qt::Key_Backslash, kVkOem102, 0},
    {Qt::Key_Underscore, kVkOem102, 0}, {Qt::Key_Zenkaku_Hankaku, kVkOemAuto, 0},
    {Qt::Key_Henkan, kVkConvert, 0},    {Qt::Key_Muhenkan, kVkNonConvert, 0},
    {Qt::Key_Menu, kVkApps, 0},         {Qt::Key_Meta, kVkLWin, 0},
};

std::optional<KeySource> forcedSource;

}  // namespace

KeySource KeySourceForPlatform() {
  if (forcedSource) return *forcedSource;
#ifdef _WIN32
  return KeySource::kVirtualKey;
#else
  const QString name = QGuiApplication::platformName();
  if (name == QLatin1String("xcb") || name.startsWith(QLatin1String("wayland"))) return KeySource::kScanCode;
  return KeySource::kQtKey;
#endif
}

void SetKeySourceForTesting(KeySource source) { forcedSource = source; }
void ResetKeySourceForTesting() { forcedSource.reset(); }

uint8_t VirtualKeyFromScanCode(uint32_t scanCode, bool keypadDigits) {
  if (scanCode < 8) return 0;
  const uint32_t evdev = scanCode - 8;
  for (const KeypadKey& key : kKeypad) {
    if (key.evdev != evdev) continue;
    if (!keypadDigits) return key.navigation;
    return static_cast<uint8_t>(key.digit == 10 ? kVkDecimal : kVkNumpad0 + key.digit);
  }
  return evdev < kScanTable.size() ? kScanTable[evdev] : 0;
}

uint8_t VirtualKeyFromQtKey(int qtKey, bool keypad) {
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return static_cast<uint8_t>('A' + (qtKey - Qt::Key_A));
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
    const int digit = qtKey - Qt::Key_0;
    return static_cast<uint8_t>(keypad ? kVkNumpad0 + digit : '0' + digit);
  }
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return static_cast<uint8_t>(kVkF1 + (qtKey - Qt::Key_F1));
  for (const QtKeyCode& key : kQtKeyCodes) {
    if (key.qtKey == qtKey) return keypad && key.keypadCode != 0 ? key.keypadCode : key.code;
  }
  return 0;
}

bool SetDetectableAutoRepeat([[maybe_unused]] bool detectable) {
#ifdef TONVIK_X11_REPEAT
  const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->display()) return false;
  Bool supported = False;
  XkbSetDetectableAutoRepeat(x11->display(), detectable ? True : False, &supported);
  return supported;
#else
  return false;
#endif
}

uint8_t VirtualKeyOf(const QKeyEvent& event) {
  const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
  switch (KeySourceForPlatform()) {
    case KeySource::kScanCode: {
      if (event.nativeScanCode() == 0) break;  // synthesised without a scan code
      // NumLock is on when the keypad key arrived as a digit or point.
      const int key = event.key();
      const bool digits =
          (key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Period || key == Qt::Key_Comma;
      return VirtualKeyFromScanCode(event.nativeScanCode(), digits);
    }
    case KeySource::kVirtualKey:
      if (event.nativeVirtualKey() != 0) return static_cast<uint8_t>(event.nativeVirtualKey());
      break;
    case KeySource::kQtKey:
      break;
  }
  return VirtualKeyFromQtKey(event.key(), keypad);
}

}  // namespace platform
