// Pictures of the windows for the documentation, in the language of the locale (LANG). Skipped unless
// TONVIK_SCREENSHOT_DIR names the folder to write them into (docs/en, docs/ja); run it under xvfb-run
// with the xcb platform (QT_QPA_PLATFORM=xcb) so that the real fonts and style are used.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QPixmap>
#include <memory>

#include "app/main_window.h"
#include "app/translations.h"
#include "app/windows.h"
#include "dialogs/about.h"
#include "dialogs/config_form.h"
#include "dialogs/palette.h"
#include "dialogs/rec_form.h"
#include "keyboard_fixture.h"
#include "midi/port.h"
#include "platform/midi_out.h"
#include "platform/midi_recording.h"
#include "platform/qt/key_position.h"
#include "settings/settings.h"
#include "tests/support/widgets.h"

namespace {

QString ScreenshotDir() { return qEnvironmentVariable("TONVIK_SCREENSHOT_DIR"); }

// The program's texts in the locale's language for as long as it lives.
class Language {
 public:
  Language() { app::LoadProgramTranslations(); }
  ~Language() { test_support::RemoveTranslators(); }
};

void Save(QWidget& widget, const QString& name) {
  widget.show();
  for (int i = 0; i < 10; ++i) QApplication::processEvents();
  const QString path = QDir(ScreenshotDir()).filePath(name);
  ASSERT_TRUE(widget.grab().save(path)) << path.toStdString();
}

platform::MidiOutCaps Caps(const char* name, uint16_t technology, uint16_t voices, uint16_t notes,
                           uint32_t support) {
  platform::MidiOutCaps caps;
  caps.name = name;
  caps.technology = technology;
  caps.voices = voices;
  caps.notes = notes;
  caps.support = support;
  return caps;
}

TEST(Screenshot, EditDialog) {
  if (ScreenshotDir().isEmpty()) GTEST_SKIP() << "TONVIK_SCREENSHOT_DIR not set";
  const Language language;
  record::Capture capture;
  const uint8_t notes[] = {60, 64, 67, 72, 255, 71, 67, 64, 60};
  const uint32_t times[] = {1000, 1250, 1500, 1750, 2250, 2500, 2750, 3000, 3250, 4250};
  for (int i = 0; i < 9; ++i) {
    capture.CaptureNotes[i] = notes[i];
    capture.CaptureTimes[i] = times[i];
  }
  capture.CaptureCount = 9;
  capture.CaptureTimes[9] = times[9];
  capture.CaptureStart = 1000;
  capture.CaptureEnd = times[9];
  dialogs::TFormRec form;
  form.SetCapture(&capture);
  settings::ConvertValues values;
  values.Mode = 1;
  form.SetConvertValues(values);
  Save(form, "dialog-rec.png");
}

TEST(Screenshot, ConfigDialog) {
  if (ScreenshotDir().isEmpty()) GTEST_SKIP() << "TONVIK_SCREENSHOT_DIR not set";
  const Language language;
  using platform::RecordingMidiOut;
  platform::SetMidiOutDevicesForTesting(
      std::make_shared<RecordingMidiOut>(
          Caps("FluidSynth (built-in)", 7, 256, 256, platform::kMidiCapsVolume)),
      {std::make_shared<RecordingMidiOut>(Caps("Midi Through:Midi Through Port-0", 1, 0, 0, 0)),
       std::make_shared<RecordingMidiOut>(Caps("TiMidity:TiMidity port 0", 7, 32, 32, 0)),
       std::make_shared<RecordingMidiOut>(Caps("Tonvik:out", 1, 0, 0, 0))});
  midi::DeviceId = 1;
  settings::Settings = {};
  settings::Settings.DeviceType = 1;
  dialogs::TFormConfig form;
  Save(form, "dialog-config.png");
  form.done(QDialog::Rejected);
  platform::ClearMidiOutDevicesForTesting();
  midi::DeviceId = -1;
}

class ScreenshotWindows : public app_test::KeyboardFixture {
 protected:
  void SetUp() override {
    KeyboardFixture::SetUp();
    platform::SetKeySourceForTesting(platform::KeySource::kScanCode);
  }
  void TearDown() override {
    platform::ResetKeySourceForTesting();
    KeyboardFixture::TearDown();
  }
};

TEST_F(ScreenshotWindows, KeyboardPaletteAndAbout) {
  if (ScreenshotDir().isEmpty()) GTEST_SKIP() << "TONVIK_SCREENSHOT_DIR not set";
  const Language language;
  const app::ProgramWindows windows = app::CreateWindows();
  std::unique_ptr<app::KeyboardWindow> keyboard(windows.keyboardWindow);
  keyboard->showMessage = [](QMessageBox::Icon, const QString&) {};
  Save(*keyboard, "window-idle.png");
  // A chord on the lower manual: Z, C and B (evdev codes 44, 46, 48).
  for (const uint32_t evdev : {44u, 46u, 48u}) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, evdev + 8, 0, 0);
    QCoreApplication::sendEvent(keyboard.get(), &press);
  }
  Save(*keyboard, "window-keys.png");
  Save(*windows.formProg, "window-palette.png");
  windows.formProg->hide();
  Save(*windows.formAbout, "window-about.png");
  windows.formAbout->hide();
}

}  // namespace
