#include "app/windows.h"

#include "app/main_window.h"
#include "dialogs/about.h"
#include "dialogs/config_form.h"
#include "dialogs/icon.h"
#include "dialogs/palette.h"
#include "dialogs/rec_form.h"

namespace app {

ProgramWindows CreateWindows() {
  ProgramWindows windows{};
  windows.keyboardWindow = new KeyboardWindow();
  windows.keyboardWindow->setWindowIcon(dialogs::AppIcon());
  windows.formRec = new dialogs::TFormRec(windows.keyboardWindow);
  windows.formProg = new dialogs::TFormProg(windows.keyboardWindow);
  windows.formConfig = new dialogs::TFormConfig(windows.keyboardWindow);
  windows.formAbout = new dialogs::TFormAbout(windows.keyboardWindow);
  windows.keyboardWindow->AttachDialogs(windows.formRec, windows.formProg, windows.formConfig,
                                        windows.formAbout);
  return windows;
}

}  // namespace app
