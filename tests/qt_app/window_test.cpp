// The keyboard window offscreen: labels, title, keys through the event filter, activation, settings,
// close, capture and the palette, against the recording device and a temporary settings folder.
#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTranslator>
#include <atomic>
#include <csignal>
#include <memory>

#include "app/main_window.h"
#include "app/strip.h"
#include "app/translations.h"
#include "app/windows.h"
#include "dialogs/about.h"
#include "dialogs/config_form.h"
#include "dialogs/palette.h"
#include "dialogs/rec_form.h"
#include "keyboard_fixture.h"
#include "platform/qt/key_position.h"
#include "platform/qt/settings_store.h"
#include "platform/qt/termination_signals.h"
#include "tests/support/widgets.h"

namespace app_test {
namespace {

using test_support::Widget;

using settings::Settings;

QString SettingsFile() { return QString::fromStdString(platform::SettingsStore().Location()); }

void RemoveStore() {
  platform::SettingsStore store;
  store.EraseAll();
}

QColor Colour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

// X11 scan codes (evdev + 8) of a few keys.
constexpr uint32_t kScanC = 46 + 8, kScanE = 18 + 8, kScanBackslash = 43 + 8, kScanRo = 89 + 8,
                   kScan102nd = 86 + 8, kScanYen = 124 + 8, kScanReturn = 28 + 8, kScanSpace = 57 + 8,
                   kScanEscape = 1 + 8;

class WindowTest : public KeyboardFixture {
 protected:
  void SetUp() override {
    KeyboardFixture::SetUp();
    RemoveStore();
    platform::SetKeySourceForTesting(platform::KeySource::kScanCode);
    windows_ = app::CreateWindows();
    form_.reset(windows_.keyboardWindow);
    form_->execDialog = [this](QDialog* dialog) {
      opened_.push_back(dialog);
      return dialogResult_ ? dialogResult_(dialog) : int(QDialog::Rejected);
    };
    form_->showMessage = [this](QMessageBox::Icon icon, const QString& text) {
      messages_.push_back({icon, text});
    };
    form_->keyboardModifiers = [this] { return closeModifiers_; };
  }
  void TearDown() override {
    form_.reset();
    platform::ResetKeySourceForTesting();
    RemoveStore();
    KeyboardFixture::TearDown();
  }

  // Shows the window and lets the first activation run.
  void Start() {
    ShowAndActivate();
    ASSERT_TRUE(form_->PortActive());
    Sent();
  }

  void ShowAndActivate() {
    form_->show();
    for (int i = 0; i < 100 && !form_->PortActive(); ++i) QTest::qWait(5);
  }

  void Key(QEvent::Type type, uint32_t scan, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
           bool repeat = false, QWidget* target = nullptr) {
    QKeyEvent event(type, Qt::Key_unknown, modifiers, scan, 0, 0, QString(), repeat);
    QCoreApplication::sendEvent(target ? target : form_.get(), &event);
  }
  void Tap(uint32_t scan, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Key(QEvent::KeyPress, scan, modifiers);
    Key(QEvent::KeyRelease, scan, modifiers);
  }

  struct Message {
    QMessageBox::Icon icon;
    QString text;
  };
  app::ProgramWindows windows_{};
  std::unique_ptr<app::KeyboardWindow> form_;
  std::vector<QDialog*> opened_;
  std::function<int(QDialog*)> dialogResult_;
  std::vector<Message> messages_;
  Qt::KeyboardModifiers closeModifiers_ = Qt::NoModifier;
};

TEST(FormatNumber, KeepsTheLastDigitsAndTheSign) {
  struct Case {
    int64_t value;
    int32_t width;
    bool withSign;
    const char* text;
  };
  for (const Case& c :
       {Case{5, 3, false, "005"}, Case{127, 3, false, "127"}, Case{1234, 3, false, "234"},
        Case{3, 1, true, "+3"}, Case{-2, 1, true, "-2"}, Case{-12, 3, true, "-012"}, Case{0, 3, true, "+000"},
        Case{-5, 3, true, "-005"}, Case{INT32_MIN, 3, true, "-648"}}) {
    EXPECT_EQ(app::FormatNumber(c.value, c.width, c.withSign), c.text) << c.value;
  }
}

TEST(WindowTitle, NamesTheProgramClamped) {
  EXPECT_EQ(app::WindowTitle(1), QStringLiteral("Tonvik Ver1.70 [Prog.:Piano 1]"));
  EXPECT_EQ(app::WindowTitle(88), QStringLiteral("Tonvik Ver1.70 [Prog.:Bass & Lead]"));
  EXPECT_EQ(app::WindowTitle(0), QStringLiteral("Tonvik Ver1.70 [Prog.:Piano 1]"));
  EXPECT_EQ(app::WindowTitle(500), QStringLiteral("Tonvik Ver1.70 [Prog.:Gun Shot]"));
}

TEST(KeyPosition, ScanCodesGiveJapanesePositions) {
  struct Case {
    uint32_t evdev;
    bool digits;
    uint8_t code;
  };
  const Case cases[] = {
      {46, false, 0x43},  {2, false, 0x31},   {11, false, 0x30},  {12, false, 0xBD},  {13, false, 0xDE},
      {26, false, 0xC0},  {27, false, 0xDB},  {39, false, 0xBB},  {40, false, 0xBA},  {43, false, 0xDD},
      {51, false, 0xBC},  {53, false, 0xBF},  {89, false, 0xE2},  {86, false, 0xE2},  {124, false, 0xDC},
      {57, false, 0x20},  {28, false, 0x0D},  {96, false, 0x0D},  {1, false, 0x1B},   {14, false, 0x08},
      {59, false, 0x70},  {68, false, 0x79},  {104, false, 0x21}, {109, false, 0x22}, {107, false, 0x23},
      {105, false, 0x25}, {103, false, 0x26}, {106, false, 0x27}, {108, false, 0x28}, {110, false, 0x2D},
      {111, false, 0x2E}, {71, false, 0x24},  {71, true, 0x67},   {82, false, 0x2D},  {82, true, 0x60},
      {83, false, 0x2E},  {83, true, 0x6E},   {73, false, 0x21},  {81, true, 0x63},   {76, false, 0x0C},
      {200, false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::VirtualKeyFromScanCode(c.evdev + 8, c.digits), c.code) << c.evdev << " " << c.digits;
  }
  EXPECT_EQ(platform::VirtualKeyFromScanCode(3, false), 0);
  EXPECT_EQ(platform::VirtualKeyFromQtKey(Qt::Key_C, false), 0x43);
  EXPECT_EQ(platform::VirtualKeyFromQtKey(Qt::Key_Return, false), 0x0D);
  EXPECT_EQ(platform::VirtualKeyFromQtKey(Qt::Key_Enter, true), 0x0D);
  EXPECT_EQ(platform::VirtualKeyFromQtKey(Qt::Key_5, true), 0x65);
  EXPECT_EQ(platform::VirtualKeyFromQtKey(Qt::Key_Home, true), 0x24);
}

TEST(QtKeyTable, KeypadLegendsHaveTheirOwnCodesAndUnknownKeysNone) {
  struct Case {
    int qtKey;
    uint8_t main;    // the key of the main block
    uint8_t keypad;  // the keypad's key of that legend
  };
  const Case cases[] = {
      {Qt::Key_Plus, 0xBB, 0x6B},      {Qt::Key_Minus, 0xBD, 0x6D},  {Qt::Key_Period, 0xBE, 0x6E},
      {Qt::Key_Slash, 0xBF, 0x6F},     {Qt::Key_0, 0x30, 0x60},      {Qt::Key_Asterisk, 0x6A, 0x6A},
      {Qt::Key_Semicolon, 0xBB, 0xBB}, {Qt::Key_yen, 0xDC, 0xDC},    {Qt::Key_Underscore, 0xE2, 0xE2},
      {Qt::Key_Meta, 0x5B, 0x5B},      {Qt::Key_F24, 0x87, 0x87},    {Qt::Key_Dead_Grave, 0, 0},
      {Qt::Key_unknown, 0, 0},         {Qt::Key_Henkan, 0x1C, 0x1C}, {Qt::Key_Zenkaku_Hankaku, 0xF3, 0xF3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::VirtualKeyFromQtKey(c.qtKey, false), c.main) << std::hex << c.qtKey;
    EXPECT_EQ(platform::VirtualKeyFromQtKey(c.qtKey, true), c.keypad) << std::hex << c.qtKey;
  }
}

TEST_F(WindowTest, WindowIsAFixedBlackBar) {
  EXPECT_EQ(form_->size(), QSize(600, 48));
  EXPECT_EQ(form_->minimumSize(), form_->maximumSize());
  EXPECT_FALSE(form_->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(form_->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_EQ(form_->palette().color(QPalette::Window), QColor(0, 0, 0));
  EXPECT_EQ(Widget<app::KeyStripView>(form_, "KeyStrip")->geometry(), QRect(0, 16, 600, 32));
  EXPECT_EQ(Widget<app::KeyStripView>(form_, "KeyStrip")->toolTip(), QStringLiteral("鍵盤（表示のみ）"));
  EXPECT_FALSE(form_->testAttribute(Qt::WA_InputMethodEnabled));
}

TEST_F(WindowTest, LabelsHaveTheirPlacesTextsColoursAndHints) {
  struct Case {
    QLabel* label;
    int x, width;
    const char* text;
    QColor colour;
    const char* hint;
    bool clickable;
  };
  const QColor aqua(0, 255, 255), lime(0, 255, 0), maroon(128, 0, 0);
  app::KeyboardWindow& f = *form_;
  const Case cases[] = {
      {Widget<QLabel>(&f, "LabelProgramCaption"), 0, 40, "PROG.", aqua, "音色番号設定[BS]", true},
      {Widget<QLabel>(&f, "LabelBank"), 40, 33, "000", lime, "", false},
      {Widget<QLabel>(&f, "LabelBankSep"), 72, 9, "-", aqua, "音階[Del/Ins]", false},
      {Widget<QLabel>(&f, "LabelProgram"), 80, 33, "000", lime, "", false},
      {Widget<QLabel>(&f, "LabelOctaveCaption"), 120, 32, "OCT.", aqua, "音階[Del/Ins]", false},
      {Widget<QLabel>(&f, "LabelOctave"), 152, 25, "+0", lime, "", false},
      {Widget<QLabel>(&f, "LabelVelocityCaption"), 184, 32, "VEL.", aqua, "打鍵速度[RollUp/RollDown]", false},
      {Widget<QLabel>(&f, "LabelVelocity"), 216, 33, "000", lime, "", false},
      {Widget<QLabel>(&f, "LabelVolumeCaption"), 256, 32, "VOL.", aqua, "音量[Shift+RollUp/RollDown]", false},
      {Widget<QLabel>(&f, "LabelVolume"), 288, 33, "000", lime, "", false},
      {Widget<QLabel>(&f, "LabelTransCaption"), 328, 49, "TRANS.", aqua, "移調[Shift+Ins/Del]", false},
      {Widget<QLabel>(&f, "LabelTrans"), 376, 41, "+000", lime, "", false},
      {Widget<QLabel>(&f, "LabelRec"), 431, 26, "Rec", maroon,
       "録音開始／終了[Return] 　休符[Space]　中止[Esc]", true},
      {Widget<QLabel>(&f, "LabelConfig"), 465, 49, "Config", aqua, "環境設定[Help]", true},
      {Widget<QLabel>(&f, "LabelQuit"), 520, 33, "Quit", aqua, "プログラム終了[Esc]", true},
      {Widget<QLabel>(&f, "LabelAbout"), 560, 40, "About", aqua, "このプログラムについて",
       true},  // clipped at x = 599
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.label->x(), c.x);
    EXPECT_EQ(c.label->y(), 0);
    EXPECT_EQ(c.label->width(), c.width);
    EXPECT_EQ(c.label->text(), QString::fromUtf8(c.text));
    EXPECT_EQ(Colour(c.label), c.colour);
    EXPECT_EQ(c.label->toolTip(), QString::fromUtf8(c.hint));
    EXPECT_TRUE(c.label->font().bold());
    EXPECT_EQ(c.label->font().underline(), c.clickable);
    EXPECT_EQ(c.label->cursor().shape(), c.clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
  }
  // Where boxes overlap, the later label lies on top.
  EXPECT_EQ(f.childAt(72, 5), Widget<QLabel>(&f, "LabelBankSep"));
  EXPECT_EQ(Widget<QLabel>(&f, "LabelProgramCaption")->font().pixelSize(), 13);
  EXPECT_EQ(Widget<QLabel>(&f, "LabelProgram")->font().pixelSize(), 16);
  EXPECT_TRUE(Widget<QLabel>(&f, "LabelProgram")->font().italic());
}

TEST_F(WindowTest, FirstStartShowsDefaultsAndSendsTheState) {
  form_->show();
  EXPECT_FALSE(form_->PortActive()) << "activated before the window was on the screen";
  ShowAndActivate();
  ASSERT_TRUE(form_->PortActive());
  const Bytes sent = Sent();
  // After the port's reset: no reset message for type 0, volume, bank and program, notes off.
  const Bytes state = {"B0 0B 7F", "B0 07 7F", "B0 20 00", "B0 00 00", "C0 00", "B0 7B 00", "B0 79 00"};
  ASSERT_GE(sent.size(), state.size());
  EXPECT_EQ(Bytes(sent.end() - static_cast<long>(state.size()), sent.end()), state);
  EXPECT_EQ(Widget<QLabel>(form_, "LabelProgram")->text(), "001");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelBank")->text(), "000");
  EXPECT_EQ(Colour(Widget<QLabel>(form_, "LabelBank")), QColor(0, 128, 0));
  EXPECT_EQ(Colour(Widget<QLabel>(form_, "LabelBankSep")), QColor(0, 128, 128));
  EXPECT_EQ(Widget<QLabel>(form_, "LabelOctave")->text(), "+3");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelVelocity")->text(), "127");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelVolume")->text(), "127");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelTrans")->text(), "+000");
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Tonvik Ver1.70 [Prog.:Piano 1]"));
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(midi::DeviceId, -1);
}

TEST_F(WindowTest, BankLabelFollowsTheDeviceType) {
  Start();
  struct Case {
    int32_t deviceType;
    const char* bank;
    QColor bankColour, sepColour;
  };
  const QColor lime(0, 255, 0), aqua(0, 255, 255), green(0, 128, 0), teal(0, 128, 128);
  for (const Case& c : {Case{2, "012", lime, aqua}, Case{1, "000", green, teal}, Case{3, "012", lime, aqua},
                        Case{7, "012", lime, aqua}, Case{0, "000", green, teal}}) {
    Settings.DeviceType = c.deviceType;
    form_->Keys().SelectProgram(20, 12);
    EXPECT_EQ(Widget<QLabel>(form_, "LabelBank")->text(), c.bank) << c.deviceType;
    EXPECT_EQ(Colour(Widget<QLabel>(form_, "LabelBank")), c.bankColour) << c.deviceType;
    EXPECT_EQ(Colour(Widget<QLabel>(form_, "LabelBankSep")), c.sepColour) << c.deviceType;
    EXPECT_EQ(Widget<QLabel>(form_, "LabelProgram")->text(), "020");
  }
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Tonvik Ver1.70 [Prog.:Church Organ 1]"));
}

TEST_F(WindowTest, KeysArePlayedByPhysicalPosition) {
  Start();
  struct Case {
    uint32_t scan;
    Qt::KeyboardModifiers modifiers;
    Bytes bytes;
  };
  const Case cases[] = {
      {kScanC, Qt::NoModifier, {"90 3C 7F", "90 3C 00"}},
      {kScanC, Qt::ShiftModifier, {"90 48 7F", "90 48 00"}},
      {kScanC, Qt::ControlModifier, {"90 30 7F", "90 30 00"}},
      {kScanE, Qt::NoModifier, {"90 48 7F", "90 48 00"}},
      {kScanBackslash, Qt::NoModifier, {"90 4B 7F", "90 4B 00"}},  // "]" position: offset 15
      {kScanRo, Qt::NoModifier, {"90 4A 7F", "90 4A 00"}},         // offset 14
      {kScan102nd, Qt::NoModifier, {"90 4A 7F", "90 4A 00"}},      // the ISO key at the same place
      {kScanYen, Qt::NoModifier, {"90 59 7F", "90 59 00"}},        // offset 29
  };
  for (const Case& c : cases) {
    Tap(c.scan, c.modifiers);
    EXPECT_EQ(Sent(), c.bytes) << c.scan;
  }
  // The strip follows.
  Key(QEvent::KeyPress, kScanC);
  EXPECT_EQ(Widget<app::KeyStripView>(form_, "KeyStrip")->Picture().pixel(282, 29), qRgb(255, 255, 255))
      << "pressed: no bevel";
  Key(QEvent::KeyRelease, kScanC);
  EXPECT_EQ(Widget<app::KeyStripView>(form_, "KeyStrip")->Picture().pixel(282, 29), qRgb(123, 123, 123))
      << "released: bevel";
}

TEST_F(WindowTest, AutoRepeatPlaysOnceAndRepeatedReleasesAreIgnored) {
  Start();
  Key(QEvent::KeyPress, kScanC);
  for (int i = 0; i < 3; ++i) {
    Key(QEvent::KeyRelease, kScanC, Qt::NoModifier, true);
    Key(QEvent::KeyPress, kScanC, Qt::NoModifier, true);
  }
  EXPECT_EQ(Sent(), (Bytes{"90 3C 7F"}));
  Key(QEvent::KeyRelease, kScanC);
  EXPECT_EQ(Sent(), (Bytes{"90 3C 00"}));
}

TEST_F(WindowTest, KeysAimedAtADialogPlayNothingButReleaseHeldNotes) {
  Start();
  windows_.formProg->show();
  Key(QEvent::KeyPress, kScanE, Qt::NoModifier, false, Widget<QPushButton>(windows_.formProg, "ButtonOK"));
  Key(QEvent::KeyRelease, kScanE, Qt::NoModifier, false, Widget<QPushButton>(windows_.formProg, "ButtonOK"));
  EXPECT_TRUE(Sent().empty());
  Key(QEvent::KeyPress, kScanC);
  Key(QEvent::KeyRelease, kScanC, Qt::NoModifier, false, Widget<QPushButton>(windows_.formProg, "ButtonOK"));
  EXPECT_EQ(Sent(), (Bytes{"90 3C 7F", "90 3C 00"}));
  EXPECT_EQ(form_->Keys().Pressed[60], 0);
  windows_.formProg->hide();
}

TEST_F(WindowTest, NumLockDecidesWhatKeypadKeysAre) {
  Start();
  Settings.Octave = 5;
  // Keypad Insert (NumLock off) raises the octave; keypad 0 (NumLock on) is no command.
  QKeyEvent insert(QEvent::KeyPress, Qt::Key_Insert, Qt::KeypadModifier, 82 + 8, 0, 0);
  QCoreApplication::sendEvent(form_.get(), &insert);
  EXPECT_EQ(Settings.Octave, 6);
  QKeyEvent zero(QEvent::KeyPress, Qt::Key_0, Qt::KeypadModifier, 82 + 8, 0, 0, QStringLiteral("0"));
  QCoreApplication::sendEvent(form_.get(), &zero);
  EXPECT_EQ(Settings.Octave, 6);
  EXPECT_EQ(Widget<QLabel>(form_, "LabelOctave")->text(), "+4");
}

TEST_F(WindowTest, ActivationOpensAndDeactivationCloses) {
  Start();
  form_->ApplicationStateChanged(Qt::ApplicationInactive);
  EXPECT_FALSE(form_->PortActive());
  EXPECT_FALSE(midi::PortIsOpen());
  Sent();
  Settings.DeviceType = 1;
  form_->ApplicationStateChanged(Qt::ApplicationActive);
  EXPECT_TRUE(midi::PortIsOpen());
  const Bytes sent = Sent();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[sent.size() - 8], "F0 7E 7F 09 01 F7");
  form_->ApplicationStateChanged(Qt::ApplicationActive);  // already active: nothing again
  EXPECT_TRUE(Sent().empty());
}

TEST_F(WindowTest, DeactivationLetsGoOfHeldKeys) {
  constexpr uint32_t kScanSlash = 53 + 8;  // the same note as E
  Start();
  // C and E held; the other program gets their releases.
  Key(QEvent::KeyPress, kScanC);
  Key(QEvent::KeyPress, kScanE);
  EXPECT_EQ(Sent(), (Bytes{"90 3C 7F", "90 48 7F"}));
  form_->ApplicationStateChanged(Qt::ApplicationInactive);
  const Bytes closing = Sent();
  ASSERT_GE(closing.size(), 2u);
  EXPECT_EQ(Bytes(closing.begin(), closing.begin() + 2), (Bytes{"90 3C 00", "90 48 00"}))
      << "note-offs before the port closes";
  EXPECT_EQ(Widget<app::KeyStripView>(form_, "KeyStrip")->Picture().pixel(282, 29), qRgb(123, 123, 123))
      << "drawn released";
  EXPECT_EQ(form_->Keys().Pressed[60], 0);
  EXPECT_EQ(form_->Keys().Pressed[72], 0);
  form_->ApplicationStateChanged(Qt::ApplicationActive);
  Sent();
  // The next press sounds, and so does another key on a note that was held.
  Tap(kScanC);
  Tap(kScanSlash);
  EXPECT_EQ(Sent(), (Bytes{"90 3C 7F", "90 3C 00", "90 48 7F", "90 48 00"}));
}

TEST_F(WindowTest, StartUpActivationDoesNotFollowADeactivation) {
  // The states come from the test alone, as from a window manager that reports them late.
  QObject::disconnect(qApp, &QGuiApplication::applicationStateChanged, form_.get(), nullptr);
  Sent();
  form_->show();
  form_->ApplicationStateChanged(Qt::ApplicationInactive);  // switched away at once
  QTest::qWait(700);
  EXPECT_FALSE(form_->PortActive());
  EXPECT_TRUE(Sent().empty()) << "no state sent while another program is active";
  form_->ApplicationStateChanged(Qt::ApplicationActive);
  EXPECT_TRUE(form_->PortActive());
  const Bytes sent = Sent();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent.back(), "B0 79 00") << "switching back sends the state";
}

TEST_F(WindowTest, AnActivationBeforeTheSettingsAreLoadedIsNotLost) {
  form_->ApplicationStateChanged(Qt::ApplicationActive);  // before the first show: ignored for now
  EXPECT_FALSE(form_->PortActive());
  ShowAndActivate();
  EXPECT_TRUE(form_->PortActive());
}

// The MIDI input's name: none unless a usable name is stored.
TEST_F(WindowTest, TheStoredInputNameIsTrimmedAndAnythingUnusableIsNone) {
  const std::pair<QString, std::string> cases[] = {
      {QString(), "なし"},
      {QStringLiteral("なし"), "なし"},
      {QStringLiteral("  Keyboard:out (JACK) \t"), "Keyboard:out (JACK)"},
      {QStringLiteral("   "), "なし"},
      {QString(300, QLatin1Char('k')), "なし"},
  };
  for (const auto& [stored, used] : cases) {
    {
      QSettings file(SettingsFile(), QSettings::IniFormat);
      if (stored.isNull()) {
        file.remove("Device/InputDeviceName");
      } else {
        file.setValue("Device/InputDeviceName", stored);
      }
    }
    const platform::SettingsStore store;
    EXPECT_EQ(settings::ReadInputDeviceName(store), used) << stored.toStdString();
  }
}

// A chosen MIDI input that is not there is reported once per run (and tried again after the dialog).
TEST_F(WindowTest, AChosenInputThatIsGoneIsReportedOnce) {
  setenv("JACK_DEFAULT_SERVER", "tonvik-no-server-here", 1);
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    file.setValue("Device/InputDeviceName", "Keyboard:out (JACK)");
  }
  Start();
  form_->ConfigCommand();
  int reports = 0;
  for (const Message& message : messages_) {
    reports += message.text == QStringLiteral("指定したMIDI入力デバイスが見つかりませんでした") ? 1 : 0;
  }
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(settings::InputDeviceName, "Keyboard:out (JACK)") << "kept for when it is plugged in";
  settings::InputDeviceName = settings::kNoInput;
}

TEST_F(WindowTest, SettingsAreWrittenAndReadBack) {
  Settings.DeviceType = 2;
  Settings.Channel = 9;
  Settings.Volume = 90;
  Settings.Program = 42;
  Settings.Bank = 7;
  Settings.Octave = 3;
  Settings.Transpose = -12;
  Settings.Velocity = 64;
  Settings.StayOnTop = true;
  Settings.ForcePC98x1 = true;
  Settings.Mapping = 1;
  form_->SaveSettings();
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    const char* keys[] = {"Device/DeviceName",    "Device/DeviceType",  "Device/Channel",
                          "Controls/Volume",      "Controls/Voice",     "Controls/Bank",
                          "Controls/Octave",      "Controls/Transpose", "Controls/Velocity",
                          "Convert/Mode",         "Convert/Tempo",      "Convert/AllLength",
                          "Convert/MinLength",    "Convert/DefLength",  "Convert/FirstLength",
                          "Convert/FileName",     "Convert/MMLType",    "View/Top",
                          "Keyboard/ForcePC98x1", "Keyboard/Mapping",   "Device/InputDeviceName"};
    EXPECT_EQ(file.allKeys().size(), 21);
    for (const char* key : keys) EXPECT_TRUE(file.contains(QString::fromLatin1(key))) << key;
    EXPECT_EQ(file.value("Controls/Voice").toInt(), 41);
  }
  Settings = settings::SettingsRecord{};
  form_->LoadSettings();
  {
    const platform::SettingsStore store;
    settings::ReadStartValues(store, Settings, false);
  }
  EXPECT_EQ(Settings.DeviceType, 2);
  EXPECT_EQ(Settings.Channel, 9);
  EXPECT_EQ(Settings.Volume, 90);
  EXPECT_EQ(Settings.Program, 42);
  EXPECT_EQ(Settings.Bank, 7);
  EXPECT_EQ(Settings.Octave, 3);
  EXPECT_EQ(Settings.Transpose, -12);
  EXPECT_EQ(Settings.Velocity, 64);
  EXPECT_TRUE(Settings.StayOnTop);
  EXPECT_TRUE(Settings.ForcePC98x1);
  EXPECT_EQ(Settings.Mapping, 1);
  EXPECT_EQ(Widget<QLabel>(form_, "LabelOctave")->text(), "+1");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelTrans")->text(), "-012");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelVelocity")->text(), "064");
}

TEST_F(WindowTest, StayOnTopComesFromTheStoreAndFollowsTheConfiguration) {
  EXPECT_FALSE(form_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  Start();
  form_->SetStayOnTop(true);
  EXPECT_TRUE(form_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(form_->isVisible()) << "shown again after the flag changed";
  EXPECT_TRUE(Settings.StayOnTop);
  form_->FormClose();

  form_.reset();
  windows_ = app::CreateWindows();
  form_.reset(windows_.keyboardWindow);
  EXPECT_TRUE(form_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(Settings.StayOnTop);
  form_->SetStayOnTop(false);
  EXPECT_FALSE(form_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(WindowTest, ConvertValuesGoThroughTheEditDialog) {
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    file.setValue("Convert/Tempo", "96");
    file.setValue("Convert/MinLength", "16");
    file.setValue("Convert/MMLType", 3);
    file.setValue("Convert/Mode", 9);  // no such item: the first
  }
  form_->LoadSettings();
  const settings::ConvertValues shown = windows_.formRec->ConvertValuesNow();
  EXPECT_EQ(shown.Tempo, "96");
  EXPECT_EQ(shown.MinLength, "16");
  EXPECT_EQ(shown.DefLength, "4");
  EXPECT_EQ(shown.MMLType, 3);
  EXPECT_EQ(shown.Mode, 0);
  form_->SaveSettings();
  QSettings file(SettingsFile(), QSettings::IniFormat);
  EXPECT_EQ(file.value("Convert/Tempo").toString(), "96");
  EXPECT_EQ(file.value("Convert/FirstLength").toString(), "8");
  EXPECT_EQ(file.value("Convert/MMLType").toInt(), 3);
  EXPECT_EQ(file.value("Convert/Mode").toInt(), 0);
}

TEST_F(WindowTest, AFirstTakeWithNothingStoredHasItsRhythm) {
  Start();
  dialogs::TFormRec* formRec = windows_.formRec;
  EXPECT_EQ(Widget<QComboBox>(formRec, "ComboBoxMode")->currentText(), QStringLiteral("テンポから計算"));
  // Return, C, Space, C, Return at 120 quarter notes a minute: eighths, not one chord of length 0.
  Tap(kScanReturn);
  const uint32_t times[] = {5000, 5250, 5500, 5750};
  clock_->Set(times[0]);
  Tap(kScanC);
  clock_->Set(times[1]);
  Tap(kScanSpace);
  clock_->Set(times[2]);
  Tap(kScanC);
  clock_->Set(times[3]);
  QString memo;
  dialogResult_ = [&](QDialog*) {
    formRec->show();
    memo = Widget<QPlainTextEdit>(formRec, "MemoMML")->toPlainText();
    formRec->hide();
    return int(QDialog::Accepted);
  };
  Tap(kScanReturn);
  EXPECT_EQ(memo, QStringLiteral("c8r8c8"));
}

TEST_F(WindowTest, AStoredLengthModeIsUsedAsItIs) {
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    file.setValue("Convert/Mode", 0);
  }
  form_->LoadSettings();
  EXPECT_EQ(windows_.formRec->ConvertValuesNow().Mode, 0);
}

TEST_F(WindowTest, BadStoredValuesReadAsDefaultsOrClampWhereTheyIndex) {
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    file.setValue("Controls/Octave", "five");
    file.setValue("Controls/Velocity", "");
    file.setValue("Controls/Voice", 499);
  }
  form_->LoadSettings();
  EXPECT_EQ(Settings.Octave, 5);
  EXPECT_EQ(Settings.Velocity, 127);
  EXPECT_EQ(Settings.Program, 128);
  form_->Keys().SelectProgram(Settings.Program, Settings.Bank);
  EXPECT_EQ(Widget<QLabel>(form_, "LabelProgram")->text(), "128");
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Tonvik Ver1.70 [Prog.:Gun Shot]"));
  windows_.formProg->show();
  EXPECT_EQ(windows_.formProg->TabIndex(), 15);
  EXPECT_EQ(windows_.formProg->ItemIndex(), 7);
  windows_.formProg->hide();
}

TEST_F(WindowTest, OutOfRangeStoredValuesAreKeptInTheRangesOfTheirKeys) {
  // Shown, sent and saved alike: each value as the command keys would have left it at its limit.
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    file.setValue("Device/DeviceType", 7);
    file.setValue("Device/Channel", -1);
    file.setValue("Controls/Volume", 2147483647);
    file.setValue("Controls/Voice", -7);
    file.setValue("Controls/Bank", 500);
    file.setValue("Controls/Octave", 2147483647);
    file.setValue("Controls/Transpose", 2147483647);
    file.setValue("Controls/Velocity", -1);
    file.setValue("Keyboard/Mapping", 5);
  }
  {
    const platform::SettingsStore store;
    settings::ReadStartValues(store, Settings, false);
  }
  EXPECT_EQ(Settings.Mapping, 0);
  Start();
  struct Case {
    const char* name;
    int32_t value, expected;
  };
  for (const Case& c : {Case{"DeviceType", Settings.DeviceType, 0}, Case{"Channel", Settings.Channel, 0},
                        Case{"Volume", Settings.Volume, 127}, Case{"Program", Settings.Program, 1},
                        Case{"Bank", Settings.Bank, 127}, Case{"Octave", Settings.Octave, 10},
                        Case{"Transpose", Settings.Transpose, 127}, Case{"Velocity", Settings.Velocity, 0}}) {
    EXPECT_EQ(c.value, c.expected) << c.name;
  }
  EXPECT_EQ(Widget<QLabel>(form_, "LabelOctave")->text(), "+8");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelTrans")->text(), "+127");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelVelocity")->text(), "000");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelVolume")->text(), "127");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelProgram")->text(), "001");

  // Octave 10 and transposition +127: C is out of range and silent.
  Tap(kScanC);
  EXPECT_TRUE(Sent().empty());

  form_->SaveSettings();
  QSettings file(SettingsFile(), QSettings::IniFormat);
  struct Stored {
    const char* key;
    int value;
  };
  for (const Stored& c :
       {Stored{"Device/DeviceType", 0}, Stored{"Device/Channel", 0}, Stored{"Controls/Volume", 127},
        Stored{"Controls/Voice", 0}, Stored{"Controls/Bank", 127}, Stored{"Controls/Octave", 10},
        Stored{"Controls/Transpose", 127}, Stored{"Controls/Velocity", 0}, Stored{"Keyboard/Mapping", 0}}) {
    EXPECT_EQ(file.value(QString::fromLatin1(c.key)).toInt(), c.value) << c.key;
  }
}

TEST_F(WindowTest, TheLowestStoredValuesAreKeptInRangeToo) {
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    file.setValue("Controls/Octave", QString::number(INT32_MIN));
    file.setValue("Controls/Transpose", QString::number(INT32_MIN));
    file.setValue("Controls/Voice", 2147483647);
    file.setValue("Controls/Bank", -3);
    file.setValue("Controls/Volume", -9);
    file.setValue("Device/DeviceType", -1);
    file.setValue("Device/Channel", 9);
  }
  Start();
  EXPECT_EQ(Settings.Octave, 0);
  EXPECT_EQ(Settings.Transpose, -127);
  EXPECT_EQ(Settings.Program, 128);
  EXPECT_EQ(Settings.Bank, 0);
  EXPECT_EQ(Settings.Volume, 0);
  EXPECT_EQ(Settings.DeviceType, 0);
  EXPECT_EQ(Settings.Channel, 9);
  EXPECT_EQ(Widget<QLabel>(form_, "LabelOctave")->text(), "-2");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelTrans")->text(), "-127");
  EXPECT_EQ(Widget<QLabel>(form_, "LabelVolume")->text(), "000");
}

TEST_F(WindowTest, SavingAfterACorruptFileReportsTheWriteItself) {
  const QString path = SettingsFile();
  {
    QFile corrupt(path);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
    // A section that nothing reads, with a line that is no value: the error shows only when the save
    // merges the file.
    corrupt.write("[Controls]\nVolume=33\n[Junk]\nno value here\n");
  }
  form_->LoadSettings();
  Settings.Velocity = 55;
  form_->SaveSettings();
  EXPECT_TRUE(messages_.empty());
  QSettings file(path, QSettings::IniFormat);
  EXPECT_EQ(file.value("Controls/Velocity").toInt(), 55);
  EXPECT_EQ(file.value("Controls/Volume").toInt(), 33);
}

TEST_F(WindowTest, AFailedWriteAfterAReadErrorIsStillReported) {
  // The store's path is a folder: it can be neither read nor written.
  ASSERT_TRUE(QDir().mkpath(SettingsFile()));
  form_->LoadSettings();
  form_->SaveSettings();
  QDir(SettingsFile()).removeRecursively();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].text.startsWith(QStringLiteral("設定を保存できませんでした。")));
}

TEST_F(WindowTest, UnknownDeviceNameIsReportedAfterEverythingIsRead) {
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    file.setValue("Device/DeviceName", "No Such Synth");
    file.setValue("Controls/Volume", 33);
  }
  form_->showMessage = [this](QMessageBox::Icon, const QString& text) {
    messages_.push_back({QMessageBox::Warning, text});
    EXPECT_EQ(Settings.Volume, 33);
  };
  form_->LoadSettings();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, QStringLiteral("指定したMIDIデバイスが見つかりませんでした"));
  EXPECT_EQ(midi::DeviceId, -1);
}

TEST_F(WindowTest, CloseSavesOrErasesWithShift) {
  Start();
  Settings.Velocity = 77;
  closeModifiers_ = Qt::NoModifier;
  form_->FormClose();
  EXPECT_TRUE(QFileInfo::exists(SettingsFile()));
  EXPECT_TRUE(messages_.empty());
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(file.value("Controls/Velocity").toInt(), 77);
  }

  form_.reset();
  windows_ = app::CreateWindows();
  form_.reset(windows_.keyboardWindow);
  form_->showMessage = [this](QMessageBox::Icon icon, const QString& text) {
    messages_.push_back({icon, text});
  };
  form_->keyboardModifiers = [] { return Qt::KeyboardModifiers(Qt::ShiftModifier); };
  const QString folder = QFileInfo(SettingsFile()).path();
  form_->close();
  EXPECT_FALSE(QFileInfo::exists(SettingsFile()));
  EXPECT_FALSE(QDir(folder).exists());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].icon, QMessageBox::Information);
  EXPECT_EQ(messages_[0].text, QStringLiteral("レジストリを消去しました。"));
  form_->SaveSettings();  // nothing writes the store again
  EXPECT_FALSE(QFileInfo::exists(SettingsFile()));
}

TEST_F(WindowTest, EscapeClosesTheWindowWhenNotRecording) {
  Start();
  Tap(kScanEscape);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_TRUE(QFileInfo::exists(SettingsFile()));
}

TEST_F(WindowTest, RecordingOpensTheEditDialogAndSendsTheStateAfter) {
  Start();
  Tap(kScanReturn);
  EXPECT_EQ(Colour(Widget<QLabel>(form_, "LabelRec")), QColor(255, 0, 0));
  clock_->Set(5000);
  Tap(kScanC);
  clock_->Set(5200);
  Tap(kScanSpace);
  clock_->Set(5400);
  Tap(kScanC);
  clock_->Set(5600);
  int countInDialog = -1;
  dialogResult_ = [&](QDialog*) {
    countInDialog = form_->Keys().Capture.CaptureCount;
    EXPECT_EQ(form_->Keys().Capture.CaptureTimes[3], 5600u);
    EXPECT_EQ(form_->Keys().Capture.CaptureEnd, 5600u);
    return int(QDialog::Accepted);
  };
  Sent();
  Tap(kScanReturn);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], windows_.formRec);
  EXPECT_EQ(countInDialog, 3);
  EXPECT_EQ(form_->Keys().Capture.CaptureCount, 0);
  EXPECT_FALSE(form_->Keys().Capture.Recording);
  EXPECT_EQ(Colour(Widget<QLabel>(form_, "LabelRec")), QColor(128, 0, 0));
  EXPECT_EQ(Sent(), (Bytes{"B0 0B 7F", "B0 07 7F", "B0 20 00", "B0 00 00", "C0 00", "B0 7B 00", "B0 79 00"}));
}

TEST_F(WindowTest, EmptyTakeAndEscapeOpenNoDialog) {
  Start();
  Tap(kScanReturn);
  Tap(kScanReturn);
  Tap(kScanReturn);
  Tap(kScanC);
  Tap(kScanEscape);  // discards the take
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(form_->Keys().Capture.Recording);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(Colour(Widget<QLabel>(form_, "LabelRec")), QColor(128, 0, 0));
}

TEST_F(WindowTest, OverflowShowsItsMessageAndLosesTheTake) {
  Start();
  Tap(kScanReturn);
  for (int i = 0; i < record::kMaxCaptureEvents; ++i) Key(QEvent::KeyPress, kScanSpace, Qt::NoModifier, true);
  EXPECT_TRUE(messages_.empty());
  Key(QEvent::KeyPress, kScanSpace, Qt::NoModifier, true);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].icon, QMessageBox::Critical);
  EXPECT_EQ(messages_[0].text, QStringLiteral("バッファオーバー"));
  EXPECT_TRUE(opened_.empty());
  EXPECT_FALSE(form_->Keys().Capture.Recording);
  EXPECT_EQ(form_->Keys().Capture.CaptureCount, 0);
  EXPECT_EQ(Colour(Widget<QLabel>(form_, "LabelRec")), QColor(128, 0, 0));
}

TEST_F(WindowTest, OverflowBoxThatDeliversTheReleaseLeavesNoNoteSounding) {
  Start();
  Tap(kScanReturn);
  for (int i = 0; i < record::kMaxCaptureEvents; ++i) Key(QEvent::KeyPress, kScanSpace, Qt::NoModifier, true);
  // The box runs an event loop; the key is let go while it is open.
  form_->showMessage = [this](QMessageBox::Icon icon, const QString& text) {
    messages_.push_back({icon, text});
    QWidget box;
    box.show();
    QCoreApplication::postEvent(
        &box, new QKeyEvent(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, kScanC, 0, 0));
    QCoreApplication::processEvents();
  };
  Sent();
  Key(QEvent::KeyPress, kScanC);  // the 4096th event
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, QStringLiteral("バッファオーバー"));
  EXPECT_EQ(Sent(), (Bytes{"90 3C 7F", "90 3C 00"}));
  EXPECT_EQ(form_->Keys().Pressed[60], 0);
  EXPECT_EQ(Widget<app::KeyStripView>(form_, "KeyStrip")->Picture().pixel(282, 29), qRgb(123, 123, 123))
      << "drawn released";
  Tap(kScanC);
  EXPECT_EQ(Sent(), (Bytes{"90 3C 7F", "90 3C 00"})) << "the next strike sounds";
}

TEST_F(WindowTest, ConfigCommandReopensThePortWhateverTheResult) {
  Start();
  Key(QEvent::KeyPress, 107 + 8);  // End ("Help")
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], windows_.formConfig);
  EXPECT_TRUE(midi::PortIsOpen());
  const Bytes sent = Sent();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent.back(), "B0 79 00");
}

TEST_F(WindowTest, ClickableLabelsRunTheirCommands) {
  Start();
  QTest::mouseClick(Widget<QLabel>(form_, "LabelAbout"), Qt::LeftButton);
  QTest::mouseClick(Widget<QLabel>(form_, "LabelConfig"), Qt::LeftButton);
  QTest::mouseClick(Widget<QLabel>(form_, "LabelProgramCaption"), Qt::LeftButton);
  QTest::mouseClick(Widget<QLabel>(form_, "LabelRec"), Qt::LeftButton);
  ASSERT_EQ(opened_.size(), 3u);
  EXPECT_EQ(opened_[0], windows_.formAbout);
  EXPECT_EQ(opened_[1], windows_.formConfig);
  EXPECT_EQ(opened_[2], windows_.formProg);
  EXPECT_TRUE(form_->Keys().Capture.Recording);
  QTest::mouseClick(Widget<QLabel>(form_, "LabelQuit"), Qt::LeftButton);
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(WindowTest, PaletteChoiceSelectsTheProgramWithTheCurrentBank) {
  Start();
  Settings.DeviceType = 3;
  Settings.Bank = 4;
  dialogs::TFormProg* palette = windows_.formProg;
  dialogResult_ = [&](QDialog*) {
    palette->show();
    EXPECT_EQ(palette->TabIndex(), 0);
    EXPECT_EQ(palette->ItemIndex(), 0);
    palette->SetItemIndex(2);
    Widget<QPushButton>(palette, "Tab2")->click();  // the organ family: the item stays
    EXPECT_EQ(Widget<QRadioButton>(palette, "Item2")->text(), QStringLiteral("(&3)Organ 3"));
    palette->hide();
    return int(QDialog::Accepted);
  };
  Tap(14 + 8);  // Backspace
  EXPECT_EQ(Settings.Program, 19);
  EXPECT_EQ(Sent(), (Bytes{"B0 00 04", "B0 20 00", "C0 12"}));
  dialogResult_ = [&](QDialog*) {
    palette->show();
    Widget<QPushButton>(palette, "Tab7")->click();
    palette->hide();
    return int(QDialog::Rejected);
  };
  Tap(14 + 8);
  EXPECT_EQ(Settings.Program, 19);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(WindowTest, PaletteShowsFamiliesAndPlaysItsTestNoteOnChannel16) {
  Start();
  dialogs::TFormProg* palette = windows_.formProg;
  EXPECT_EQ(palette->windowTitle(), QStringLiteral("音色コマンド入力"));
  EXPECT_EQ(Widget<QPushButton>(palette, "Tab1")->text(), QStringLiteral("クロマチック・パーカッション(CP)"));
  EXPECT_EQ(Widget<QPushButton>(palette, "Tab15")->text(), QStringLiteral("サウンドエフェクト(SF)"));
  EXPECT_EQ(Widget<QGroupBox>(palette, "RadioGroupProgram")->title(), QStringLiteral("音色選択"));
  EXPECT_EQ(Widget<QPushButton>(palette, "ButtonListen")->text(), QStringLiteral("♪"));
  EXPECT_EQ(Widget<QPushButton>(palette, "ButtonOK")->text(), QStringLiteral("&OK"));
  EXPECT_EQ(Widget<QPushButton>(palette, "ButtonCancel")->text(), QStringLiteral("&Cancel"));
  EXPECT_TRUE(Widget<QPushButton>(palette, "ButtonOK")->isDefault());
  EXPECT_EQ(dialogs::ProgramItemCaption(0, 0), QStringLiteral("(&1)Piano 1"));
  EXPECT_EQ(dialogs::ProgramItemCaption(10, 7), QStringLiteral("(&8)Bass & Lead"));
  EXPECT_EQ(dialogs::ProgramItemCaption(15, 7), QStringLiteral("(&8)Gun Shot"));

  Settings.Program = 128;
  Settings.Channel = 9;
  palette->show();
  EXPECT_EQ(palette->TabIndex(), 15);
  EXPECT_EQ(palette->ItemIndex(), 7);
  EXPECT_TRUE(Widget<QPushButton>(palette, "Tab15")->isChecked());
  QTest::keyClick(palette, Qt::Key_3);
  EXPECT_EQ(palette->ItemIndex(), 2);
  QTest::mousePress(Widget<QPushButton>(palette, "ButtonListen"), Qt::LeftButton);
  EXPECT_EQ(Sent(), (Bytes{"CF 7A", "BF 0B 7F", "BF 07 7F", "9F 40 7F"}));
  QTest::mouseRelease(Widget<QPushButton>(palette, "ButtonListen"), Qt::LeftButton);
  EXPECT_EQ(Sent(), (Bytes{"9F 40 00"}));
  palette->hide();
  EXPECT_TRUE(Sent().empty()) << "the note-off goes once";
  palette->show();
  QTest::mousePress(Widget<QPushButton>(palette, "ButtonListen"), Qt::LeftButton);
  Sent();
  palette->hide();  // closing while held ends the note
  EXPECT_EQ(Sent(), (Bytes{"9F 40 00"}));
}

TEST_F(WindowTest, PaletteTestNoteLastsFromMouseDownToMouseUpOnce) {
  Start();
  dialogs::TFormProg* palette = windows_.formProg;
  palette->show();
  QPushButton* button = Widget<QPushButton>(palette, "ButtonListen");
  const QPoint inside = button->rect().center();
  const QPoint outside = button->rect().bottomRight() + QPoint(40, 40);
  auto move = [button](QPoint at) {
    QMouseEvent event(QEvent::MouseMove, at, button->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(button, &event);
  };
  QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, inside);
  EXPECT_EQ(Sent(), (Bytes{"CF 00", "BF 0B 7F", "BF 07 7F", "9F 40 7F"}));
  move(outside);
  move(inside);
  move(outside);
  EXPECT_TRUE(Sent().empty()) << "dragging off and back neither ends nor repeats the note";
  QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, outside);
  EXPECT_EQ(Sent(), (Bytes{"9F 40 00"}));
  // The second click of a double click sounds as well.
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                            QEvent::MouseButtonRelease}) {
    const bool down = type != QEvent::MouseButtonRelease;
    QMouseEvent event(type, inside, button->mapToGlobal(inside), Qt::LeftButton,
                      down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &event);
  }
  EXPECT_EQ(Sent(), (Bytes{"CF 00", "BF 0B 7F", "BF 07 7F", "9F 40 7F", "9F 40 00", "CF 00", "BF 0B 7F",
                           "BF 07 7F", "9F 40 7F", "9F 40 00"}));
  // Space on the focused button plays nothing.
  button->setFocus();
  QTest::keyPress(button, Qt::Key_Space);
  QTest::keyRelease(button, Qt::Key_Space);
  EXPECT_TRUE(Sent().empty());
  palette->hide();
}

TEST_F(WindowTest, PaletteKeepsItsChoiceWhenTheWindowManagerShowsItAgain) {
  dialogs::TFormProg* palette = windows_.formProg;
  Settings.Program = 1;
  palette->show();
  Widget<QPushButton>(palette, "Tab2")->click();
  palette->SetItemIndex(4);
  // Restored from minimised: a spontaneous show.
  QShowEvent restored;
  QSpontaneKeyEvent::setSpontaneous(&restored);
  qApp->notify(palette, &restored);  // sendEvent would make it a non-spontaneous one
  EXPECT_EQ(palette->TabIndex(), 2);
  EXPECT_EQ(palette->ItemIndex(), 4);
  palette->hide();
  palette->show();  // opened again: the current program
  EXPECT_EQ(palette->TabIndex(), 0);
  EXPECT_EQ(palette->ItemIndex(), 0);
  palette->hide();
}

TEST(QtTranslations, JapaneseDesktopGetsQtsOwnTextsInJapanese) {
  const QString english = QCoreApplication::translate("QPlatformTheme", "Cancel");
  ASSERT_EQ(english, QStringLiteral("Cancel"));
  ASSERT_TRUE(app::LoadQtTranslations(QLocale(QLocale::Japanese, QLocale::Japan)));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
  EXPECT_NE(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("Save As"));
  EXPECT_FALSE(app::LoadQtTranslations(QLocale(QLocale::Zulu)));
  // Back to Qt's English for the other tests.
  test_support::RemoveTranslators();
}

TEST_F(WindowTest, AboutBoxShowsNameVersionAndItsButton) {
  dialogs::TFormAbout* about = windows_.formAbout;
  EXPECT_EQ(about->windowTitle(), QStringLiteral("このプログラムについて"));
  EXPECT_EQ(Widget<QLabel>(about, "ProductName")->text(), QStringLiteral("Tonvik"));
  EXPECT_EQ(Widget<QLabel>(about, "Version")->text(), QStringLiteral("Ver.1.70"));
  EXPECT_EQ(Widget<QPushButton>(about, "OKButton")->text(), QStringLiteral("もういい"));
  EXPECT_FALSE(Widget<QLabel>(about, "ProgramIcon")->pixmap().isNull());
  about->show();
  QTest::mouseClick(Widget<QPushButton>(about, "OKButton"), Qt::LeftButton);
  EXPECT_FALSE(about->isVisible());
  EXPECT_EQ(about->result(), QDialog::Accepted);
}

TEST_F(WindowTest, NewLayoutFromTheConfigurationForgetsHeldKeys) {
  Start();
  Key(QEvent::KeyPress, kScanC);
  Settings.Mapping = 1;
  // What the configuration dialog's OK does through its hooks.
  form_->Keys().BuildKeyTable();
  form_->Keys().ReleaseAllKeys();
  form_->DrawAllKeys();
  EXPECT_EQ(form_->Keys().KeyCount, 41);
  EXPECT_EQ(Widget<app::KeyStripView>(form_, "KeyStrip")->Picture().pixel(282, 29), qRgb(123, 123, 123))
      << "drawn released";
  Sent();
  Key(QEvent::KeyRelease, kScanC);
  EXPECT_TRUE(Sent().empty());
}

// An output that takes time to start (the built-in synthesizer loading its soundfont): messages before
// it is ready are dropped; the test decides when it settles and whether it fails.
class StartingOutput final : public platform::MidiOutDevice {
 public:
  explicit StartingOutput(std::shared_ptr<platform::RecordingMidiOut> sink) : sink_(std::move(sink)) {}
  platform::MidiOutCaps Caps() const override { return sink_->Caps(); }
  bool Open() override { return failure_.empty() && sink_->Open(); }
  void Close() override { sink_->Close(); }
  void ShortMsg(uint32_t packed) override {
    if (ready_) sink_->ShortMsg(packed);
  }
  void LongMsg(std::span<const uint8_t> bytes) override {
    if (ready_) sink_->LongMsg(bytes);
  }
  void Reset() override {
    if (ready_) sink_->Reset();
  }
  void SetVolume(uint32_t leftRight) override {
    if (ready_) sink_->SetVolume(leftRight);
  }
  bool Prepare(std::function<void()>) override {
    ++prepared_;
    return settled_;
  }
  std::string Failure() const override { return settled_ ? failure_ : std::string(); }
  std::vector<std::string> Links() const override { return links_; }
  void SetLinks(std::vector<std::string> links) override { links_ = std::move(links); }

  void Settle(std::string failure) {
    failure_ = std::move(failure);
    ready_ = failure_.empty();
    settled_ = true;
  }
  int prepared_ = 0;
  std::vector<std::string> links_;

 private:
  std::shared_ptr<platform::RecordingMidiOut> sink_;
  std::atomic<bool> settled_ = false;
  std::atomic<bool> ready_ = false;
  std::string failure_;
};

TEST_F(WindowTest, TheOutputStartsAtLoadAndGetsTheStateWhenReady) {
  auto output = std::make_shared<StartingOutput>(device_);
  platform::SetMidiOutDevicesForTesting(output, {});
  midi::DeviceId = -1;
  form_->LoadSettings();
  EXPECT_GT(output->prepared_, 0) << "the chosen output starts with the settings, before any activation";
  ShowAndActivate();
  ASSERT_TRUE(form_->PortActive());
  Sent();       // what the fixture's own port sent as it closed
  Tap(kScanC);  // before the output is ready: dropped, not queued
  EXPECT_TRUE(Sent().empty());
  output->Settle("");
  Bytes sent;
  for (int i = 0; i < 100 && sent.empty(); ++i) {
    QTest::qWait(10);
    sent = Sent();
  }
  ASSERT_FALSE(sent.empty()) << "the state is sent once the output is ready";
  EXPECT_EQ(
      std::count_if(sent.begin(), sent.end(), [](const std::string& m) { return m.starts_with("C0 "); }), 1)
      << "the program";
  EXPECT_EQ(
      std::count_if(sent.begin(), sent.end(), [](const std::string& m) { return m.starts_with("90 3C"); }), 0)
      << "the early key stays dropped";
  EXPECT_TRUE(messages_.empty());
}

TEST_F(WindowTest, AnOutputThatCannotStartIsReportedOnceWithTheReason) {
  struct Case {
    const char* name;
    bool failsAtOnce;
  };
  for (const Case c : {Case{"failed before the activation", true}, Case{"fails while it starts", false}}) {
    SCOPED_TRACE(c.name);
    auto output = std::make_shared<StartingOutput>(device_);
    if (c.failsAtOnce) output->Settle("no General MIDI soundfont found");
    platform::SetMidiOutDevicesForTesting(output, {});
    midi::DeviceId = -1;
    windows_ = app::CreateWindows();
    form_.reset(windows_.keyboardWindow);
    messages_.clear();
    form_->showMessage = [this](QMessageBox::Icon icon, const QString& text) {
      messages_.push_back({icon, text});
    };
    ShowAndActivate();
    if (!c.failsAtOnce) {
      output->Settle("no General MIDI soundfont found");
      for (int i = 0; i < 100 && messages_.empty(); ++i) QTest::qWait(10);
    }
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);
    EXPECT_EQ(messages_[0].text,
              QStringLiteral("指定したMIDIデバイスが見つかりませんでした\nno General MIDI soundfont found"));
    form_->ApplicationStateChanged(Qt::ApplicationInactive);
    form_->ApplicationStateChanged(Qt::ApplicationActive);
    QTest::qWait(100);
    EXPECT_EQ(messages_.size(), 1u) << "once per run, not at every activation";
  }
}

// The output port's connections (made by hand in a JACK patchbay) come back at the next start.
TEST_F(WindowTest, TheOutputsConnectionsAreKeptInTheStore) {
  auto output = std::make_shared<StartingOutput>(device_);
  output->Settle("");
  platform::SetMidiOutDevicesForTesting(output, {});
  midi::DeviceId = -1;
  {
    QSettings file(SettingsFile(), QSettings::IniFormat);
    file.setValue("Device/Links", "synth:midi_in\tmeter:in");
  }
  form_->LoadSettings();
  EXPECT_EQ(output->links_, (std::vector<std::string>{"synth:midi_in", "meter:in"}));
  output->links_ = {"other:in"};
  form_->FormClose();
  QSettings file(SettingsFile(), QSettings::IniFormat);
  EXPECT_EQ(file.value("Device/Links").toString(), QStringLiteral("other:in"));
}

TEST(TerminationSignals, RunTheQuitOnTheEventLoop) {
  QObject context;
  int quits = 0;
  ASSERT_TRUE(platform::OnTerminationSignals(&context, [&] { ++quits; }));
  std::raise(SIGTERM);
  std::raise(SIGHUP);
  EXPECT_EQ(quits, 0) << "not inside the signal handler";
  for (int i = 0; i < 100 && quits < 2; ++i) QTest::qWait(10);
  EXPECT_EQ(quits, 2);
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGHUP, SIG_DFL);
}

}  // namespace
}  // namespace app_test
