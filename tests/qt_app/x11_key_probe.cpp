// Runs the keyboard window on a real X server (under xvfb-run) against the recording device, types on it
// with xdotool and prints what reached the device, one message per line, then "autorepeat <n>" with the
// number of auto-repeated key presses the window saw. With --pairs the server sends its repeats as
// release-press pairs. With --focus a held key's release goes to another program's window (xev) instead:
// the window loses the focus with the key down and gets it back before the key is struck again.
// Used by x11_keys_test.cpp.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QSet>
#include <cstdio>
#include <memory>

#include "app/main_window.h"
#include "app/windows.h"
#include "midi/port.h"
#include "platform/midi_out.h"
#include "platform/midi_recording.h"
#include "platform/qt/key_position.h"

namespace {

// Counts key presses of a key that is already down: the server's auto-repeats.
class RepeatCounter : public QObject {
 public:
  int repeats = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!qobject_cast<QWidget*>(watched)) return false;
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyRelease) {
      if (!key->isAutoRepeat()) down_.remove(key->nativeScanCode());
    } else if (key->isAutoRepeat() || down_.contains(key->nativeScanCode())) {
      ++repeats;
    } else {
      down_.insert(key->nativeScanCode());
    }
    return false;
  }

 private:
  QSet<quint32> down_;
};

void Wait(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool Run(const QStringList& arguments, QString* output = nullptr) {
  QProcess process;
  process.start(QStringLiteral("xdotool"), arguments);
  if (!process.waitForStarted(5000)) return false;
  while (process.state() != QProcess::NotRunning) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    process.waitForFinished(5);
  }
  if (output) *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Waits until the window's port is open (`active`) or closed.
bool WaitActive(const app::KeyboardWindow& form, bool active) {
  for (int i = 0; i < 100 && form.PortActive() != active; ++i) Wait(50);
  return form.PortActive() == active;
}

// Z held while another program's window takes the focus; its release goes there; back to the window, Z
// is struck again.
bool HeldKeyAcrossAFocusChange(const app::KeyboardWindow& form, const QString& window) {
  QProcess other;
  other.start(QStringLiteral("xev"), {QStringLiteral("-name"), QStringLiteral("OtherProgram")});
  if (!other.waitForStarted(5000)) return false;
  QString otherWindow;
  bool ok = Run({QStringLiteral("keydown"), QStringLiteral("z")});
  ok = ok && Run({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--name"),
                  QStringLiteral("^OtherProgram$")},
                 &otherWindow);
  otherWindow = otherWindow.section(QLatin1Char('\n'), 0, 0);
  ok = ok && Run({QStringLiteral("windowfocus"), QStringLiteral("--sync"), otherWindow});
  ok = ok && WaitActive(form, false);
  ok = ok && Run({QStringLiteral("keyup"), QStringLiteral("z")});
  Wait(200);
  ok = ok && Run({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
  ok = ok && WaitActive(form, true);
  ok = ok && Run({QStringLiteral("key"), QStringLiteral("z")});
  other.kill();
  other.waitForFinished(5000);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  auto device = std::make_shared<platform::RecordingMidiOut>();
  platform::SetMidiOutDevicesForTesting(device, {});

  const app::ProgramWindows windows = app::CreateWindows();
  std::unique_ptr<app::KeyboardWindow> form(windows.keyboardWindow);
  form->execDialog = [](QDialog*) { return 0; };
  form->showMessage = [](QMessageBox::Icon, const QString& text) {
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
  };
  RepeatCounter counter;
  qApp->installEventFilter(&counter);  // after the window's filter, so it sees the keys first
  const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  if (mode == QStringLiteral("--pairs")) {
    // The server sends release-press pairs; the window pairs them itself.
    platform::SetDetectableAutoRepeat(false);
    form->SetRepeatPairing(true);
  }
  form->show();
  form->activateWindow();
  for (int i = 0; i < 100 && !form->PortActive(); ++i) Wait(50);
  if (!form->PortActive()) {
    std::fprintf(stderr, "the window was not activated\n");
    return 2;
  }
  const QString window = QString::number(form->winId());
  Run({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
  Wait(200);
  device->Clear();

  bool ok = true;
  if (mode == QStringLiteral("--focus")) {
    ok = HeldKeyAcrossAFocusChange(*form, window);
  } else {
    // Hold C long enough for the server's auto-repeat, then tap E, Shift+C and the key right of P's row
    // end.
    ok = Run({QStringLiteral("keydown"), QStringLiteral("c")});
    Wait(1500);
    ok = ok && Run({QStringLiteral("keyup"), QStringLiteral("c")});
    ok = ok && Run({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50"),
                    QStringLiteral("e"), QStringLiteral("shift+c"), QStringLiteral("backslash")});
  }
  // Eight messages are expected; wait for them under load, then a moment for any that should not come.
  for (int i = 0; i < 100 && device->Messages().size() < 8; ++i) Wait(50);
  Wait(300);
  if (!ok) {
    std::fprintf(stderr, "xdotool failed\n");
    return 3;
  }
  for (const platform::MidiCall& call : device->Messages()) {
    std::string line;
    char hex[4];
    for (uint8_t b : call.bytes) {
      std::snprintf(hex, sizeof hex, "%02X", b);
      if (!line.empty()) line += ' ';
      line += hex;
    }
    std::printf("%s\n", line.c_str());
  }
  std::printf("autorepeat %d\n", counter.repeats);
  form->keyboardModifiers = [] { return Qt::KeyboardModifiers(); };
  form.reset();
  midi::FinalizeMidiDrive();
  return 0;
}
