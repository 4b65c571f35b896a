#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <cstdlib>

#include "app/strip.h"
#include "dialogs/about.h"
#include "dialogs/config_form.h"
#include "dialogs/palette.h"
#include "dialogs/program_names.h"
#include "dialogs/rec_form.h"
#include "midi/device_list.h"
#include "midi/port.h"
#include "platform/clock.h"
#include "platform/midi_in.h"
#include "platform/midi_out.h"
#include "platform/qt/key_position.h"
#include "platform/qt/settings_store.h"
#include "tonvik/version.h"

namespace app {

using settings::ReadSettings;
using settings::ReadStartValues;
using settings::Settings;
using settings::WriteSettings;

namespace {

const QColor kAqua(0, 255, 255);
const QColor kLime(0, 255, 0);
const QColor kGreen(0, 128, 0);
const QColor kTeal(0, 128, 128);
const QColor kMaroon(128, 0, 0);
const QColor kRed(255, 0, 0);

constexpr int kClientWidth = 600;
constexpr int kClientHeight = 48;
constexpr int kStripTop = 16;
constexpr int kLabelHeight = 16;
// How long a key-up of a held note waits for an auto-repeat press on X11.
constexpr int kRepeatPairWaitMs = 30;
constexpr int kFirstActivationLatestMs = 500;
// How often the window looks whether an output that is starting has settled.
constexpr int kOutputPollMs = 50;

// Captions: a bold 13-pixel Japanese monospace face.
QFont CaptionFont() {
  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"), QStringLiteral("IPAGothic"),
                    QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("monospace")});
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(13);
  font.setBold(true);
  return font;
}

// Values: a bold italic monospace face of 16 pixels.
QFont ValueFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Fixedsys"), QStringLiteral("DejaVu Sans Mono"),
                    QStringLiteral("Liberation Mono"), QStringLiteral("monospace")});
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(16);
  font.setBold(true);
  font.setItalic(true);
  return font;
}

void SetColour(QLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// The output port's connections in the store: "client:port" names separated by tabs.
constexpr const char* kLinksKey = "Links";

std::vector<std::string> SplitLinks(const std::string& text) {
  std::vector<std::string> links;
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t end = std::min(text.find('\t', begin), text.size());
    if (end > begin) links.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return links;
}

std::string JoinLinks(const std::vector<std::string>& links) {
  std::string text;
  for (const std::string& link : links) text += (text.empty() ? "" : "\t") + link;
  return text;
}

}  // namespace

std::string FormatNumber(int64_t value, int32_t width, bool withSign) {
  const std::string digits = "000" + std::to_string(value < 0 ? -value : value);
  const size_t keep = width < 0 ? 0 : std::min(digits.size(), static_cast<size_t>(width));
  std::string text = digits.substr(digits.size() - keep);
  if (withSign) text.insert(text.begin(), value < 0 ? '-' : '+');
  return text;
}

QString WindowTitle(int32_t program) {
  return KeyboardWindow::tr("Tonvik Ver%1 [Prog.:%2]")
      .arg(QString::fromLatin1(tonvik::kVersionText), Text(std::string(dialogs::ProgramName(program))));
}

KeyboardWindow::KeyboardWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("KeyboardWindow"));
  setFixedSize(kClientWidth, kClientHeight);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setFocusPolicy(Qt::StrongFocus);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::black);
  setPalette(palette);
  setAutoFillBackground(true);
  setWindowTitle(WindowTitle(Settings.Program));

  CreateLabels();
  KeyStrip = new KeyStripView(this);
  KeyStrip->setObjectName(QStringLiteral("KeyStrip"));
  KeyStrip->move(0, kStripTop);
  KeyStrip->setToolTip(tr("鍵盤（表示のみ）"));

  keyUpTimer_ = new QTimer(this);
  keyUpTimer_->setSingleShot(true);
  keyUpTimer_->setInterval(kRepeatPairWaitMs);
  connect(keyUpTimer_, &QTimer::timeout, this, &KeyboardWindow::FlushPendingKeyUp);
  outputTimer_ = new QTimer(this);
  outputTimer_->setInterval(kOutputPollMs);
  connect(outputTimer_, &QTimer::timeout, this, &KeyboardWindow::CheckOutput);

  execDialog = [](QDialog* dialog) { return dialog->exec(); };
  showMessage = [this](QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, QStringLiteral("Tonvik"), text, QMessageBox::Ok, this);
    box.exec();
  };
  keyboardModifiers = [] { return QGuiApplication::queryKeyboardModifiers(); };

  // FormCreate.
  keyboard_.InitKeyState();
  qApp->installEventFilter(this);
  pairRepeats_ = !platform::SetDetectableAutoRepeat(true);
  connect(qApp, &QGuiApplication::applicationStateChanged, this, &KeyboardWindow::ApplicationStateChanged);
  {
    const platform::SettingsStore store;
    // The system reports no PC-98 series keyboard here.
    ReadStartValues(store, Settings, false);
  }
  if (Settings.StayOnTop) setWindowFlag(Qt::WindowStaysOnTopHint, true);
  keyboard_.BuildKeyTable();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
}

KeyboardWindow::~KeyboardWindow() {
  input_.reset();  // no input thread calls the window after this
  qApp->removeEventFilter(this);
}

void KeyboardWindow::AttachDialogs(dialogs::TFormRec* formRec, dialogs::TFormProg* formProg,
                                   dialogs::TFormConfig* formConfig, dialogs::TFormAbout* formAbout) {
  FormRec = formRec;
  FormProg = formProg;
  FormConfig = formConfig;
  FormAbout = formAbout;
  if (FormRec) FormRec->SetCapture(&keyboard_.Capture);
  if (FormConfig) {
    dialogs::ConfigHooks hooks;
    hooks.sendState = [this] { keyboard_.SendState(); };
    hooks.setStayOnTop = [this](bool on) { SetStayOnTop(on); };
    hooks.rebuildKeys = [this] {
      keyboard_.BuildKeyTable();
      keyboard_.ReleaseAllKeys();
      DrawAllKeys();
    };
    FormConfig->SetHooks(std::move(hooks));
  }
}

void KeyboardWindow::CreateLabels() {
  struct LabelSpec {
    QLabel** label;
    const char* name;
    int x;
    int width;
    const char* text;
    bool underlined;
    bool value;
    QColor colour;
    const char* hint;
  };
  // In table order: where boxes overlap, the later label lies on top. The captions and hints are
  // translated; the values are numbers.
  const LabelSpec specs[] = {
      {&LabelProgramCaption, "LabelProgramCaption", 0, 40, QT_TR_NOOP("PROG."), true, false, kAqua,
       QT_TR_NOOP("音色番号設定[BS]")},
      {&LabelBank, "LabelBank", 40, 33, "000", false, true, kLime, ""},
      {&LabelBankSep, "LabelBankSep", 72, 9, "-", false, false, kAqua, QT_TR_NOOP("音階[Del/Ins]")},
      {&LabelProgram, "LabelProgram", 80, 33, "000", false, true, kLime, ""},
      {&LabelOctaveCaption, "LabelOctaveCaption", 120, 32, QT_TR_NOOP("OCT."), false, false, kAqua,
       QT_TR_NOOP("音階[Del/Ins]")},
      {&LabelOctave, "LabelOctave", 152, 25, "+0", false, true, kLime, ""},
      {&LabelVelocityCaption, "LabelVelocityCaption", 184, 32, QT_TR_NOOP("VEL."), false, false, kAqua,
       QT_TR_NOOP("打鍵速度[RollUp/RollDown]")},
      {&LabelVelocity, "LabelVelocity", 216, 33, "000", false, true, kLime, ""},
      {&LabelVolumeCaption, "LabelVolumeCaption", 256, 32, QT_TR_NOOP("VOL."), false, false, kAqua,
       QT_TR_NOOP("音量[Shift+RollUp/RollDown]")},
      {&LabelVolume, "LabelVolume", 288, 33, "000", false, true, kLime, ""},
      {&LabelTransCaption, "LabelTransCaption", 328, 49, QT_TR_NOOP("TRANS."), false, false, kAqua,
       QT_TR_NOOP("移調[Shift+Ins/Del]")},
      {&LabelTrans, "LabelTrans", 376, 41, "+000", false, true, kLime, ""},
      {&LabelRec, "LabelRec", 431, 26, QT_TR_NOOP("Rec"), true, false, kMaroon,
       QT_TR_NOOP("録音開始／終了[Return] 　休符[Space]　中止[Esc]")},
      {&LabelConfig, "LabelConfig", 465, 49, QT_TR_NOOP("Config"), true, false, kAqua,
       QT_TR_NOOP("環境設定[Help]")},
      {&LabelQuit, "LabelQuit", 520, 33, QT_TR_NOOP("Quit"), true, false, kAqua,
       QT_TR_NOOP("プログラム終了[Esc]")},
      {&LabelAbout, "LabelAbout", 560, 41, QT_TR_NOOP("About"), true, false, kAqua,
       QT_TR_NOOP("このプログラムについて")},
  };
  const QFont caption = CaptionFont();
  const QFont value = ValueFont();
  for (const LabelSpec& spec : specs) {
    auto* label = new QLabel(spec.value ? QString::fromUtf8(spec.text) : tr(spec.text), this);
    label->setObjectName(QString::fromLatin1(spec.name));
    // Nothing is drawn past the right edge of the client area.
    label->setGeometry(spec.x, 0, std::min(spec.width, kClientWidth - spec.x), kLabelHeight);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont font = spec.value ? value : caption;
    font.setUnderline(spec.underlined);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    SetColour(label, spec.colour);
    if (*spec.hint) label->setToolTip(tr(spec.hint));
    *spec.label = label;
  }
  const std::pair<QLabel*, std::function<void()>> clickable[] = {
      {LabelProgramCaption, [this] { ChooseProgram(); }},
      {LabelRec, [this] { ToggleRecording(); }},
      {LabelConfig, [this] { ConfigCommand(); }},
      {LabelQuit, [this] { close(); }},
      {LabelAbout, [this] { ShowAbout(); }},
  };
  for (const auto& [label, action] : clickable) {
    label->setCursor(Qt::PointingHandCursor);
    clickActions_[label] = action;
  }
}

// ---- Settings

void KeyboardWindow::LoadSettings() {
  std::string deviceName;
  {
    const platform::SettingsStore store;
    ReadSettings(store, Settings, deviceName, convert_);
    linksRead_ = store.ReadText("Device", kLinksKey, "");
    settings::InputDeviceName = settings::ReadInputDeviceName(store);
  }
  const bool deviceFound = dialogs::FindDeviceByName(deviceName);
  if (const std::shared_ptr<platform::MidiOutDevice> device = deviceFound ? midi::ChosenDevice() : nullptr) {
    device->SetLinks(SplitLinks(linksRead_));
  }
  // The chosen output starts now (the built-in synthesizer loads its soundfont off this thread).
  if (deviceFound) PrepareOutput();
  if (FormRec) FormRec->SetConvertValues(convert_);
  ValuesChanged();
  // Every value is in place before a message box can let anything else run.
  if (!deviceFound) showMessage(QMessageBox::Warning, dialogs::DeviceNotFoundText());
  OpenInput();
}

void KeyboardWindow::SaveSettings() {
  if (erased_) return;
  if (FormRec) convert_ = FormRec->ConvertValuesNow();
  platform::SettingsStore store;
  WriteSettings(store, Settings, dialogs::CurrentDeviceName(), convert_);
  settings::WriteInputDeviceName(store, settings::InputDeviceName);
  const std::shared_ptr<platform::MidiOutDevice> device = midi::ChosenDevice();
  const std::string links = JoinLinks(device ? device->Links() : std::vector<std::string>{});
  if (!links.empty() || !linksRead_.empty()) store.WriteText("Device", kLinksKey, links);
  if (!store.Flush()) {
    showMessage(QMessageBox::Warning, tr("設定を保存できませんでした。\n%1").arg(Text(store.Location())));
  }
}

void KeyboardWindow::EraseSettings() {
  erased_ = true;
  platform::SettingsStore store;
  const std::string location = store.Location();
  if (store.EraseAll()) {
    showMessage(QMessageBox::Information, tr("レジストリを消去しました。"));
  } else {
    showMessage(QMessageBox::Warning, tr("設定を消去できませんでした。\n%1").arg(Text(location)));
  }
}

void KeyboardWindow::FormClose() {
  if (closed_) return;
  closed_ = true;
  if (keyboardModifiers().testFlag(Qt::ShiftModifier)) {
    EraseSettings();
  } else {
    SaveSettings();
  }
}

// ---- Activation

void KeyboardWindow::AppActivate() {
  if (!settingsLoaded_ || active_ || closed_) return;
  active_ = true;
  midi::OpenPort(midi::DeviceId);
  PrepareOutput();
  keyboard_.SendState();
  DrawAllKeys();
}

void KeyboardWindow::PrepareOutput() {
  std::shared_ptr<platform::MidiOutDevice> device = midi::ChosenDevice();
  if (!device) return;
  if (!device->Prepare({})) {
    startingOutput_ = std::move(device);
    outputTimer_->start();
    return;
  }
  if (!midi::PortIsOpen()) ReportOutputFailure();
}

void KeyboardWindow::CheckOutput() {
  if (!startingOutput_ || !startingOutput_->Prepare({})) return;
  outputTimer_->stop();
  const bool chosen = startingOutput_ == midi::ChosenDevice();
  startingOutput_.reset();
  if (!chosen) return;
  if (!midi::ChosenDevice()->Failure().empty()) {
    ReportOutputFailure();
  } else if (active_ && midi::PortIsOpen()) {
    keyboard_.SendState();
  }
}

void KeyboardWindow::ReportOutputFailure() {
  const std::shared_ptr<platform::MidiOutDevice> device = midi::ChosenDevice();
  const std::string failure = device ? device->Failure() : std::string();
  if (failure.empty() || failureShown_) return;
  failureShown_ = true;
  showMessage(QMessageBox::Warning, dialogs::DeviceNotFoundText() + QStringLiteral("\n") + Text(failure));
}

void KeyboardWindow::AppDeactivate() {
  if (!active_) return;
  active_ = false;
  // The releases of keys held now go to another program: the keys are let go here, so that no note
  // stays on and the next press of such a key sounds.
  pendingKeyUp_.reset();
  keyUpTimer_->stop();
  keyboard_.ReleaseSoundingKeys();
  DrawAllKeys();
  midi::ClosePort();
}

void KeyboardWindow::FirstActivation() {
  // A stand-in for an activation the window manager may not report; after a real deactivation it would
  // open the port while another program is the active one.
  if (!lastState_ || *lastState_ == Qt::ApplicationActive) AppActivate();
}

void KeyboardWindow::ApplicationStateChanged(Qt::ApplicationState state) {
  lastState_ = state;
  if (state == Qt::ApplicationActive) {
    AppActivate();
  } else {
    AppDeactivate();
  }
}

void KeyboardWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FirstShow();
  }
}

void KeyboardWindow::FirstShow() {
  LoadSettings();
  settingsLoaded_ = true;
  if (QString::fromUtf8(tonvik::kVersionText).contains(QStringLiteral("β"))) {
    showMessage(QMessageBox::Warning,
                tr("このプログラムはβバージョンです。\n"
                   "正式版より致命的なバグが潜んでいる可能性があるので注意してください。\n"
                   "なお、なるべく動作報告をお願いいたします。"));
  }
  // The first show counts as an activation even when the window manager gives no focus. It runs once the
  // window has been painted, so that opening the output (a soundfont to load) never delays the window;
  // at the latest after a moment, should the window not be painted at all (started minimised).
  QTimer::singleShot(kFirstActivationLatestMs, this, [this] { FirstActivation(); });
}

void KeyboardWindow::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (!painted_ && settingsLoaded_) {
    painted_ = true;
    QTimer::singleShot(0, this, [this] { FirstActivation(); });
  }
}

void KeyboardWindow::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

// ---- Keys and clicks

bool KeyboardWindow::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
      return HandleKey(watched, event);
    case QEvent::MouseButtonRelease: {
      const auto found = clickActions_.find(watched);
      if (found == clickActions_.end()) return false;
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const auto* label = static_cast<QWidget*>(watched);
      if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
        const std::function<void()> action = found->second;
        action();
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

bool KeyboardWindow::HandleKey(QObject* watched, QEvent* event) {
  // Key events reach the window object first and then its widgets; act once, at the first widget.
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const bool release = event->type() == QEvent::KeyRelease;
  if (release && key->isAutoRepeat()) return widget->window() == this;
  const uint8_t code = platform::VirtualKeyOf(*key);
  if (widget->window() != this) {
    // Another of the program's windows (a modal box that opened while a note key was held): its key-up
    // still ends the note, and the window keeps the key.
    if (release) keyboard_.ReleaseHeldKey(code);
    return false;
  }
  if (release) {
    KeyUpOrWait(*key, code);
  } else {
    if (pendingKeyUp_) {
      // The press of a release-press pair: an auto-repeat of the held key, which keeps sounding.
      const bool repeat = pendingKeyUp_->code == code && pendingKeyUp_->timestamp == key->timestamp();
      if (repeat) {
        pendingKeyUp_.reset();
        keyUpTimer_->stop();
      } else {
        FlushPendingKeyUp();
      }
    }
    const Qt::KeyboardModifiers modifiers = key->modifiers();
    keyboard_.FormKeyDown(code, modifiers.testFlag(Qt::ShiftModifier),
                          modifiers.testFlag(Qt::ControlModifier));
  }
  return true;
}

void KeyboardWindow::KeyUpOrWait(const QKeyEvent& key, uint8_t code) {
  FlushPendingKeyUp();
  const int32_t index = keyboard_.FindKey(code);
  const bool held = index < keyboard_.KeyCount && keyboard_.HeldNote[index] != kNotHeld;
  if (held && pairRepeats_ && key.timestamp() != 0 &&
      QGuiApplication::platformName() == QLatin1String("xcb")) {
    pendingKeyUp_ = PendingKeyUp{code, key.timestamp()};
    keyUpTimer_->start();
    return;
  }
  keyboard_.FormKeyUp(code);
}

void KeyboardWindow::FlushPendingKeyUp() {
  if (!pendingKeyUp_) return;
  const uint8_t code = pendingKeyUp_->code;
  pendingKeyUp_.reset();
  keyUpTimer_->stop();
  keyboard_.FormKeyUp(code);
}

// ---- KeyboardHost

void KeyboardWindow::NoteDrawn(int32_t note) {
  DrawKey(KeyStrip->Picture(), note, keyboard_.Pressed[note] != 0);
  KeyStrip->repaint(KeyX(note), 0, kKeyImageWidth, kStripHeight);
}

void KeyboardWindow::DrawAllKeys() {
  app::DrawAllKeys(KeyStrip->Picture(), keyboard_.Pressed);
  KeyStrip->update();
}

// ---- MIDI input

void KeyboardWindow::OpenInput() {
  SyncInput();
  const std::string& name = settings::InputDeviceName;
  if (name == inputOpened_ && (input_ || name == settings::kNoInput)) return;
  input_.reset();
  inputOpened_ = name;
  if (name == settings::kNoInput) return;
  if (!midi::FindInputNumberByName(platform::MidiInGetPorts(), name) && !inputMissingShown_) {
    inputMissingShown_ = true;
    showMessage(QMessageBox::Warning, tr("指定したMIDI入力デバイスが見つかりませんでした"));
  }
  input_ = platform::MidiInOpen(name, [this](uint32_t stamp, std::span<const uint8_t> message) {
    inputPlayer_.Receive(stamp, message);
  });
}

void KeyboardWindow::SyncInput() {
  inputPlayer_.SetChannel(Settings.Channel);
  inputPlayer_.SetTranspose(Settings.Transpose);
  inputPlayer_.SetDeviceType(Settings.DeviceType);
}

// The sound has left from the input thread; the strip and the capture, with the arrival time, follow
// here.
void KeyboardWindow::NotePlayed(int32_t note, bool on, uint32_t stamp) {
  QMetaObject::invokeMethod(
      this, [this, note, on, stamp] { keyboard_.InputNote(note, on, stamp); }, Qt::QueuedConnection);
}

void KeyboardWindow::ProgramReceived(int32_t program) {
  QMetaObject::invokeMethod(
      this, [this, program] { keyboard_.SelectProgram(program, Settings.Bank); }, Qt::QueuedConnection);
}

void KeyboardWindow::BankReceived(int32_t bank) {
  QMetaObject::invokeMethod(
      this,
      [this, bank] {
        if (midi::SelectsBanks(Settings.DeviceType)) keyboard_.SelectProgram(Settings.Program, bank);
      },
      Qt::QueuedConnection);
}

void KeyboardWindow::ValuesChanged() {
  LabelOctave->setText(Text(FormatNumber(Settings.Octave - 2, 1, true)));
  LabelVelocity->setText(Text(FormatNumber(Settings.Velocity, 3)));
  LabelTrans->setText(Text(FormatNumber(Settings.Transpose, 3, true)));
  SyncInput();
}

void KeyboardWindow::VolumeChanged() { LabelVolume->setText(Text(FormatNumber(Settings.Volume, 3))); }

void KeyboardWindow::ProgramChanged() {
  LabelProgram->setText(Text(FormatNumber(Settings.Program, 3)));
  if (Settings.DeviceType == midi::kDeviceNone || Settings.DeviceType == midi::kDeviceGM) {
    LabelBank->setText(QStringLiteral("000"));
    SetColour(LabelBank, kGreen);
    SetColour(LabelBankSep, kTeal);
  } else if (midi::SelectsBanks(Settings.DeviceType)) {
    LabelBank->setText(Text(FormatNumber(Settings.Bank, 3)));
    SetColour(LabelBank, kLime);
    SetColour(LabelBankSep, kAqua);
  }
  setWindowTitle(WindowTitle(Settings.Program));
}

void KeyboardWindow::ChooseProgram() {
  if (!FormProg) return;
  if (execDialog(FormProg) == QDialog::Accepted)
    keyboard_.SelectProgram(FormProg->ChosenProgram(), Settings.Bank);
}

void KeyboardWindow::ToggleRecording() {
  if (record::ToggleRecording(keyboard_.Capture, platform::TimeGetTime()) == record::ToggleResult::kStarted) {
    SetColour(LabelRec, kRed);
  } else {
    EndRecording();
  }
}

void KeyboardWindow::EndRecording() {
  SetColour(LabelRec, kMaroon);
  keyboard_.Capture.Recording = false;
  if (keyboard_.Capture.CaptureCount > 0) {
    if (FormRec) {
      FormRec->SetCapture(&keyboard_.Capture);
      execDialog(FormRec);
    }
    keyboard_.SendState();
  }
  record::EmptyCapture(keyboard_.Capture);
}

void KeyboardWindow::EscapeCommand() {
  if (keyboard_.Capture.Recording) {
    record::DiscardRecording(keyboard_.Capture);
    EndRecording();
  } else {
    close();
  }
}

void KeyboardWindow::ConfigCommand() {
  midi::ClosePort();
  if (FormConfig) execDialog(FormConfig);
  midi::OpenPort(midi::DeviceId);
  PrepareOutput();
  keyboard_.SendState();
  OpenInput();
}

void KeyboardWindow::CaptureOverflow() {
  showMessage(QMessageBox::Critical, tr("バッファオーバー"));
  EndRecording();
}

void KeyboardWindow::SetStayOnTop(bool on) {
  Settings.StayOnTop = on;
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (visible) show();  // changing the flags hides the window
}

void KeyboardWindow::ShowAbout() {
  if (FormAbout) execDialog(FormAbout);
}

}  // namespace app
