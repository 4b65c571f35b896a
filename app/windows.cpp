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
  windows.form1 = new TForm1();
  windows.form1->setWindowIcon(dialogs::AppIcon());
  windows.formRec = new dialogs::TFormRec(windows.form1);
  windows.formProg = new dialogs::TFormProg(windows.form1);
  windows.formConfig = new dialogs::TFormConfig(windows.form1);
  windows.formAbout = new dialogs::TFormAbout(windows.form1);
  windows.form1->AttachDialogs(windows.formRec, windows.formProg, windows.formConfig, windows.formAbout);
  return windows;
}

}  // namespace app
