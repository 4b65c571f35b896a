// Program entry: the application, its windows in their order, the message loop until the keyboard
// window closes, then the port is closed and the song buffer freed.
#include <QApplication>
#include <csignal>
#include <memory>

#include "app/main_window.h"
#include "app/translations.h"
#include "app/windows.h"
#include "dialogs/icon.h"
#include "midi/port.h"
#include "midi/sequencer.h"
#include "platform/qt/termination_signals.h"
#include "tonvik/version.h"

int main(int argc, char** argv) {
  // A file size limit makes a save fail (EFBIG) and be reported instead of killing the program.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tonvik"));
  // Wayland compositors and task bars find the menu entry's name and icon by this.
  QApplication::setDesktopFileName(QString::fromLatin1(tonvik::kDesktopId));
  app::LoadTranslations();
  QApplication::setWindowIcon(dialogs::AppIcon());
  midi::ConnectCompilerHandOver();

  const app::ProgramWindows windows = app::CreateWindows();
  std::unique_ptr<app::KeyboardWindow> keyboardWindow(windows.keyboardWindow);
  keyboardWindow->show();
  // A session that ends (SIGHUP) or a kill (SIGTERM) closes the windows as a click on Quit would: the
  // settings are saved and the port's reset runs below.
  platform::OnTerminationSignals(keyboardWindow.get(), [] {
    QApplication::closeAllWindows();
    QApplication::quit();
  });
  const int result = QApplication::exec();
  midi::FinalizeMidiDrive();
  return result;
}
