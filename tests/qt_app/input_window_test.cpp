// The keyboard window with a MIDI keyboard on a private JACK server: the chosen input plays the known
// sequence while recording; the window sounds it on its channel, shows the program change and ends in
// the edit dialog with the MML that tonvik-mml --record-to-mml makes of the same take.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/windows.h"
#include "dialogs/rec_form.h"
#include "keyboard_fixture.h"
#include "platform/files.h"
#include "platform/qt/settings_store.h"
#include "tests/support/jack_keyboard.h"
#include "tests/support/widgets.h"

namespace app_test {
namespace {

namespace fs = std::filesystem;
using platform::testing_support::JackKeyboard;
using platform::testing_support::kKeyboardTake;
using platform::testing_support::WaitFor;
using test_support::Widget;

// The capture as a take file: times from its first event, then the stop.
std::string TakeOf(const record::Capture& capture) {
  std::string text;
  const uint32_t first = capture.CaptureTimes[0];
  for (int32_t i = 0; i < capture.CaptureCount; ++i) {
    text += std::to_string(capture.CaptureTimes[i] - first) + " " + std::to_string(capture.CaptureNotes[i]) +
            "\n";
  }
  return text + std::to_string(capture.CaptureTimes[capture.CaptureCount] - first) + " stop\n";
}

TEST_F(KeyboardFixture, AKeyboardOnJackPlaysIntoTheWindowAndItsTake) {
  platform::SetClockForTesting(nullptr);  // the input stamps with the real clock
  const fs::path dir = fs::temp_directory_path() / ("tonvik-input-window-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  auto server = platform::testing_support::StartJackServer("tonvik-midiin-qt", (dir / "jackd.log").string());
  if (!server) GTEST_SKIP() << "jackd is missing (Debian package jackd2); no JACK server to test with";
  std::unique_ptr<JackKeyboard> keyboard;
  ASSERT_TRUE(WaitFor([&] {
    keyboard = std::make_unique<JackKeyboard>("tonvik-midiin-qt");
    return keyboard->Ready();
  }));
  platform::SettingsStore().EraseAll();
  {
    platform::SettingsStore store;
    store.WriteText("Device", "InputDeviceName", "tonvik_player:out (JACK)");
    store.Flush();
  }

  app::ProgramWindows windows = app::CreateWindows();
  std::unique_ptr<app::KeyboardWindow> form(windows.keyboardWindow);
  std::vector<QString> messages;
  form->showMessage = [&](QMessageBox::Icon, const QString& text) { messages.push_back(text); };
  QString memo;
  form->execDialog = [&](QDialog* dialog) {
    if (dialog == windows.formRec) {
      windows.formRec->show();
      memo = Widget<QPlainTextEdit>(windows.formRec, "MemoMML")->toPlainText();
      windows.formRec->hide();
    }
    return int(QDialog::Rejected);
  };
  form->show();
  ASSERT_TRUE(WaitFor([&] {
    QCoreApplication::processEvents();
    return form->PortActive() && keyboard->OutConnected();
  })) << "the window's input connected";
  device_->Clear();

  form->ToggleRecording();
  keyboard->Play();
  ASSERT_TRUE(WaitFor([&] {
    QCoreApplication::processEvents();
    return keyboard->Done() && form->Keys().Capture.CaptureCount == 6 && form->Keys().Pressed[69] == 0;
  })) << form->Keys().Capture.CaptureCount;
  QTest::qWait(100);
  const record::Capture capture = form->Keys().Capture;  // the take as the window holds it
  form->ToggleRecording();                               // stops it and runs the edit dialog

  // Heard on the window's channel 1, the program change shown.
  std::vector<std::string> notes;
  for (const std::string& message : Sent()) {
    if (message.starts_with("90 ")) notes.push_back(message);
  }
  EXPECT_EQ(notes, (std::vector<std::string>{"90 3C 64", "90 40 5A", "90 43 50", "90 3C 00", "90 40 00",
                                             "90 43 00", "90 3E 46", "90 3E 00", "90 41 6E", "90 45 6E",
                                             "90 41 00", "90 45 00"}));
  EXPECT_EQ(Widget<QLabel>(form.get(), "LabelProgram")->text(), QStringLiteral("006"));
  EXPECT_EQ(settings::Settings.Program, 6);
  EXPECT_TRUE(messages.empty());

  // The take keeps the keyboard's times; the dialog's MML is the command's for it.
  const std::string take = TakeOf(capture);
  EXPECT_EQ(take.substr(0, take.rfind('\n', take.size() - 2) + 1), [] {
    std::string lines;
    for (const std::string& line : kKeyboardTake) lines += line + "\n";
    return lines;
  }());
  platform::WriteFileAtomic((dir / "take.txt").string(), {take});
  const char* bin = std::getenv("TONVIK_BIN_DIR");
  const std::string program =
      (bin != nullptr ? std::string(bin) : platform::ExecutableFolder() + "/../bin") + "/tonvik-mml";
  const std::string convert =
      program + " --record-to-mml " + (dir / "take.txt").string() + " > " + (dir / "mml.out").string();
  ASSERT_EQ(std::system(convert.c_str()), 0);
  const std::string printed = platform::ReadWholeFile((dir / "mml.out").string());
  EXPECT_FALSE(memo.isEmpty());
  EXPECT_EQ(memo.toStdString(), printed.substr(0, printed.find('\n')));

  form.reset();
  platform::SettingsStore().EraseAll();
  keyboard.reset();
  server->Stop();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace app_test
