// The program's windows, created once each in the order the program entry needs them.
#pragma once

namespace dialogs {
class TFormRec;
class TFormProg;
class TFormConfig;
class TFormAbout;
}  // namespace dialogs

namespace app {

class KeyboardWindow;

struct ProgramWindows {
  KeyboardWindow* keyboardWindow;
  dialogs::TFormRec* formRec;
  dialogs::TFormProg* formProg;
  dialogs::TFormConfig* formConfig;
  dialogs::TFormAbout* formAbout;
};

// The keyboard window, then the MML edit dialog, the instrument palette, the configuration dialog and the
// about box; the dialogs are the keyboard window's children and go with it.
ProgramWindows CreateWindows();

}  // namespace app
