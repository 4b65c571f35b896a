// The keyboard window: a black 600 x 48 bar with the status labels on top and the keyboard strip below.
// It takes every key aimed at it before its controls do and hands it to the key logic (app/keys.h);
// the port is open while the application is the active one.
#pragma once

#include <QMessageBox>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/keys.h"
#include "record/input_player.h"
#include "settings/settings.h"

class QDialog;
class QKeyEvent;
class QLabel;
class QTimer;

namespace platform {
class MidiInput;
class MidiOutDevice;
}  // namespace platform
namespace dialogs {
class TFormRec;
class TFormProg;
class TFormConfig;
class TFormAbout;
}  // namespace dialogs

namespace app {

class KeyStripView;

// The decimal digits of |value| behind "000", of which the last `width` characters remain; with
// `withSign` a "-" for negative values and a "+" otherwise in front. (5, 3) "005", (-12, 3, true) "-012".
std::string FormatNumber(int64_t value, int32_t width, bool withSign = false);

// "Tonvik Ver1.70 [Prog.:<name of program>]"; the name's index is clamped into 1..128.
QString WindowTitle(int32_t program);

class KeyboardWindow : public QWidget, public KeyboardHost, private record::InputHost {
  Q_OBJECT

 public:
  // FormCreate: the key state, the stay-on-top style, the keyboard type and the key table.
  KeyboardWindow();
  ~KeyboardWindow() override;

  // The dialogs this window opens; they are created after it.
  void AttachDialogs(dialogs::TFormRec* formRec, dialogs::TFormProg* formProg,
                     dialogs::TFormConfig* formConfig, dialogs::TFormAbout* formAbout);

  void LoadSettings();
  void SaveSettings();
  void EraseSettings();
  // The window close: erase the store when Shift is held now, else save it.
  void FormClose();

  void AppActivate();
  void AppDeactivate();
  void ApplicationStateChanged(Qt::ApplicationState state);
  bool PortActive() const { return active_; }
  // The window has been painted once (the first activation follows).
  bool Painted() const { return painted_; }
  // Whether a key-up of a held note waits for the press of an X11 auto-repeat pair (on where the server
  // cannot send repeats as presses only).
  void SetRepeatPairing(bool on) { pairRepeats_ = on; }

  // The keyboard's state and key routines.
  Keyboard& Keys() { return keyboard_; }
  const Keyboard& Keys() const { return keyboard_; }

  void DrawAllKeys();
  void SetStayOnTop(bool on);
  void EndRecording();
  void ShowAbout();

  // KeyboardHost
  void NoteDrawn(int32_t note) override;
  void ValuesChanged() override;
  void VolumeChanged() override;
  void ProgramChanged() override;
  void ChooseProgram() override;
  void ToggleRecording() override;
  void EscapeCommand() override;
  void ConfigCommand() override;
  void CaptureOverflow() override;

  // Opens the input that settings::InputDeviceName names (closing the one before), or none; a chosen
  // input that is not listed now is reported once per run and still opened, so that it is connected
  // when it is plugged in.
  void OpenInput();
  // The window's channel, transposition and device type, as the input plays them.
  void SyncInput();

  // How modal dialogs and message boxes run, and how the shift state at close is read; tests replace them.
  std::function<int(QDialog*)> execDialog;
  std::function<void(QMessageBox::Icon, const QString&)> showMessage;
  std::function<Qt::KeyboardModifiers()> keyboardModifiers;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // The controls, named as their object names (tests find them by these).
  QLabel* LabelProgramCaption;
  QLabel* LabelBank;
  QLabel* LabelBankSep;
  QLabel* LabelProgram;
  QLabel* LabelOctaveCaption;
  QLabel* LabelOctave;
  QLabel* LabelVelocityCaption;
  QLabel* LabelVelocity;
  QLabel* LabelVolumeCaption;
  QLabel* LabelVolume;
  QLabel* LabelTransCaption;
  QLabel* LabelTrans;
  QLabel* LabelRec;
  QLabel* LabelConfig;
  QLabel* LabelQuit;
  QLabel* LabelAbout;
  KeyStripView* KeyStrip;

  dialogs::TFormRec* FormRec = nullptr;
  dialogs::TFormProg* FormProg = nullptr;
  dialogs::TFormConfig* FormConfig = nullptr;
  dialogs::TFormAbout* FormAbout = nullptr;

  void CreateLabels();
  bool HandleKey(QObject* watched, QEvent* event);
  void KeyUpOrWait(const QKeyEvent& key, uint8_t code);
  void FlushPendingKeyUp();
  void FirstShow();
  // The activation at start-up (after the first paint, at the latest after a moment): only while no
  // deactivation has been reported.
  void FirstActivation();
  // Starts the chosen output (a soundfont to load) and watches it until it has settled.
  void PrepareOutput();
  void CheckOutput();
  // The reason the chosen output cannot sound, shown once per run.
  void ReportOutputFailure();

  // record::InputHost: called on the input's thread; the window's part runs on the UI thread.
  void NotePlayed(int32_t note, bool on, uint32_t stamp) override;
  void ProgramReceived(int32_t program) override;
  void BankReceived(int32_t bank) override;

  Keyboard keyboard_{this};
  std::map<QObject*, std::function<void()>> clickActions_;
  bool shown_ = false;
  bool painted_ = false;
  bool settingsLoaded_ = false;
  bool active_ = false;
  bool closed_ = false;
  bool erased_ = false;
  std::optional<Qt::ApplicationState> lastState_;  // the last state change reported
  settings::ConvertValues convert_;                // the `Convert` values while no edit dialog is attached
  // X11 auto-repeat arrives as a release and a press with the same time stamp, and Qt does not always
  // see the pair: the key-up of a held note waits a moment for the press that would make it a repeat.
  struct PendingKeyUp {
    uint8_t code = 0;
    quint64 timestamp = 0;
  };
  std::optional<PendingKeyUp> pendingKeyUp_;
  bool pairRepeats_ = false;  // the server sends release-press pairs for repeats
  QTimer* keyUpTimer_ = nullptr;
  // The output being started, polled by outputTimer_ until it is ready (then the state is sent again:
  // what was sent while it started was dropped) or has failed.
  std::shared_ptr<platform::MidiOutDevice> startingOutput_;
  QTimer* outputTimer_ = nullptr;
  bool failureShown_ = false;
  std::string linksRead_;  // the output's connections as the store held them
  // The MIDI input: the player (what a message does) and the open port, which goes first.
  record::InputPlayer inputPlayer_{*this};
  std::unique_ptr<platform::MidiInput> input_;
  std::string inputOpened_ = settings::kNoInput;
  bool inputMissingShown_ = false;
};

}  // namespace app
