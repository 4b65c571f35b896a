#include "dialogs/rec_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "midi/port.h"
#include "midi/sequencer.h"
#include "mml/conv.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/midi_out.h"
#include "platform/midi_recording.h"
#include "platform/qt/settings_store.h"
#include "platform/timer.h"
#include "record/smf_reader.h"
#ifdef TONVIK_HAVE_AUDIO_RENDER
#include <QProgressDialog>

#include "platform/backends/fluidsynth_device.h"
#endif
#include "tests/support/widgets.h"

namespace dialogs {
namespace {

using test_support::Widget;

using record::Capture;
using record::kDialectCount;
using record::kModeAllMinimum;
using record::kModeAsTyped;
using record::kModeFromFirst;
using record::kModeFromTempo;
using record::ReadSmfNotes;
using record::SmfTake;

struct Event {
  uint8_t note;
  uint32_t time;
};

// Events at their key-down times; the take starts at the first and stops at `stop`.
void Fill(Capture& capture, const std::vector<Event>& events, uint32_t stop) {
  capture = Capture{};
  for (const Event& e : events) {
    capture.CaptureNotes[capture.CaptureCount] = e.note;
    capture.CaptureTimes[capture.CaptureCount] = e.time;
    ++capture.CaptureCount;
  }
  capture.CaptureTimes[capture.CaptureCount] = stop;
  capture.CaptureStart = events.front().time;
  capture.CaptureEnd = stop;
}

// 60, 62, 64, 65 at 1000, 1500, 1750, 2500, stopped at 3000: "cd8e.f" at tempo 120.
const std::vector<Event> kScale = {{60, 1000}, {62, 1500}, {64, 1750}, {65, 2500}};
// 60, 64, 72 and a rest with the same timing: "ce8>c.r".
const std::vector<Event> kOctave = {{60, 1000}, {64, 1500}, {72, 1750}, {255, 2500}};

settings::ConvertValues Values(int mode, std::string tempo = "120", std::string length = "",
                               std::string minLength = "8", std::string defLength = "4",
                               std::string first = "8") {
  settings::ConvertValues v;
  v.Mode = mode;
  v.Tempo = std::move(tempo);
  v.AllLength = std::move(length);
  v.MinLength = std::move(minLength);
  v.DefLength = std::move(defLength);
  v.FirstLength = std::move(first);
  return v;
}

class RecFormTest : public ::testing::Test {
 protected:
  RecFormTest() : device_(std::make_shared<platform::RecordingMidiOut>()) {
    platform::SetClockForTesting(&clock_);
    midi::SetTimerForTesting(&timer_);
    // A wait for the sequencer lets the timer fire, so that stopping never really sleeps.
    clock_.SetSleepHook([this] { timer_.Fire(); });
    platform::SetMidiOutDevicesForTesting(device_, {});
    midi::ConnectCompilerHandOver();
    midi::OpenPort(-1);
    settings::Settings = {};
    settings::Settings.Velocity = 100;
    settings::Settings.Volume = 90;
    settings::Settings.Program = 1;
    form_ = std::make_unique<TFormRec>();
    form_->SetCapture(&capture_);
    form_->showError = [this](const QString& text) { shownErrors_.push_back(text); };
    form_->showMessage = [this](const QString& text) { shownMessages_.push_back(text); };
  }
  ~RecFormTest() override {
    form_.reset();
    midi::ClosePort();
    midi::FreeSongBuffer();
    midi::SetTimerForTesting(nullptr);
    platform::SetClockForTesting(nullptr);
    platform::ClearMidiOutDevicesForTesting();
    settings::Settings = {};
  }

  void Open(const std::vector<Event>& events, uint32_t stop, const settings::ConvertValues& values) {
    Fill(capture_, events, stop);
    form_->SetConvertValues(values);
    form_->show();
  }
  std::string Memo() const { return Widget<QPlainTextEdit>(form_, "MemoMML")->toPlainText().toStdString(); }
  void SetMemo(const char* utf8) {
    Widget<QPlainTextEdit>(form_, "MemoMML")->setPlainText(QString::fromUtf8(utf8));
  }
  void SelectDialect(int dialect) {
    Widget<QComboBox>(form_, "ComboBoxMMLType")->setCurrentIndex(dialect);
    emit Widget<QComboBox>(form_, "ComboBoxMMLType")->activated(dialect);
  }
  void SelectMode(int mode) {
    Widget<QComboBox>(form_, "ComboBoxMode")->setCurrentIndex(mode);
    emit Widget<QComboBox>(form_, "ComboBoxMode")->activated(mode);
  }
  bool NoteOnArrives(uint8_t note) {
    for (int i = 0; i < 300; ++i) {
      for (const platform::MidiCall& call : device_->Messages()) {
        if (call.bytes.size() == 3 && (call.bytes[0] & 0xF0) == 0x90 && call.bytes[1] == note &&
            call.bytes[2] != 0) {
          return true;
        }
      }
      clock_.Advance(10);
      timer_.Fire();
    }
    return false;
  }

  platform::FakeClock clock_{100000};
  platform::ManualTimer timer_;
  std::shared_ptr<platform::RecordingMidiOut> device_;
  Capture capture_;
  std::unique_ptr<TFormRec> form_;
  std::vector<QString> shownErrors_;
  std::vector<QString> shownMessages_;
};

TEST_F(RecFormTest, ShowingConvertsTheTake) {
  Open(kScale, 3000, Values(kModeFromTempo));
  EXPECT_EQ(Memo(), "cd8e.f");
  EXPECT_EQ(Widget<QLineEdit>(form_, "EditLength")->text(), "1");
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("入力内容編集"));
}

TEST_F(RecFormTest, EveryFieldRecalculates) {
  struct Case {
    int mode;
    const char* field;  // the edit field typed into
    const char* text;
    const char* memo;
    const char* tempo;
    const char* length;
  };
  const Case cases[] = {
      {kModeFromTempo, "EditTempo", "60", "c8d16e8.f8", "60", "2"},
      {kModeFromTempo, "EditDefLength", "8", "c4de4.f4", "120", "1"},
      {kModeFromTempo, "EditMinLength", "2", "c{d2e2}f", "120", "1"},
      {kModeAsTyped, "EditLength", "2", "c8d16e8.f8", "60", "2"},
      {kModeFromFirst, "EditFirst", "8", "c8d16e8.f8", "60", "2"},
      {kModeAllMinimum, "EditMinLength", "16", "c16d16e16f16", "120", "16&4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Open(kScale, 3000, Values(c.mode, "120", "1", "8", "4", "4"));
    Widget<QLineEdit>(form_, c.field)->setText(c.text);
    EXPECT_EQ(Memo(), c.memo);
    EXPECT_EQ(Widget<QLineEdit>(form_, "EditTempo")->text().toStdString(), c.tempo);
    EXPECT_EQ(Widget<QLineEdit>(form_, "EditLength")->text().toStdString(), c.length);
    EXPECT_EQ(form_->RecalcLock, 0);
    form_->done(QDialog::Accepted);
  }
}

TEST_F(RecFormTest, UnreadableFieldsChangeNothing) {
  Open(kScale, 3000, Values(kModeFromTempo));
  for (const char* text : {"x", "", "1,5"}) {
    Widget<QLineEdit>(form_, "EditTempo")->setText(text);
    EXPECT_EQ(Memo(), "cd8e.f") << text;
  }
  Widget<QLineEdit>(form_, "EditTempo")->setText("120");
  Widget<QLineEdit>(form_, "EditMinLength")->setText("0");
  EXPECT_EQ(Memo(), "cd8e.f");
  EXPECT_TRUE(shownErrors_.empty());
}

TEST_F(RecFormTest, TheLockStopsRecalculation) {
  Open(kScale, 3000, Values(kModeFromTempo));
  ++form_->RecalcLock;
  Widget<QLineEdit>(form_, "EditTempo")->setText("60");
  EXPECT_EQ(Memo(), "cd8e.f");
  --form_->RecalcLock;
  // Loading the stored values recalculates nothing either.
  form_->SetConvertValues(Values(kModeFromTempo, "30", "", "16", "8"));
  EXPECT_EQ(Memo(), "cd8e.f");
  EXPECT_EQ(form_->RecalcLock, 0);
  Widget<QLineEdit>(form_, "EditTempo")->setText("60");
  EXPECT_EQ(Memo(), "cd16e.f");
}

TEST_F(RecFormTest, ModeChangeUpdatesTheFieldsAndRecalculates) {
  Open(kScale, 3000, Values(kModeFromTempo));
  SelectMode(kModeAllMinimum);
  EXPECT_EQ(Memo(), "c8d8e8f8");
  EXPECT_EQ(Widget<QLineEdit>(form_, "EditLength")->text(), "8&2");
  struct Case {
    int mode;
    bool tempo, length, first;
  };
  const Case cases[] = {
      {0, false, true, false}, {1, true, false, false}, {2, false, false, true}, {3, false, false, false}};
  for (const Case& c : cases) {
    SelectMode(c.mode);
    EXPECT_EQ(Widget<QLineEdit>(form_, "EditTempo")->isEnabled(), c.tempo) << c.mode;
    EXPECT_EQ(Widget<QLabel>(form_, "LabelTempo")->isEnabled(), c.tempo) << c.mode;
    EXPECT_EQ(Widget<QLineEdit>(form_, "EditLength")->isEnabled(), c.length) << c.mode;
    EXPECT_EQ(Widget<QLabel>(form_, "LabelLength")->isEnabled(), c.length) << c.mode;
    EXPECT_EQ(Widget<QLineEdit>(form_, "EditFirst")->isEnabled(), c.first) << c.mode;
    EXPECT_EQ(Widget<QLabel>(form_, "LabelFirst")->isEnabled(), c.first) << c.mode;
    EXPECT_TRUE(Widget<QLineEdit>(form_, "EditMinLength")->isEnabled());
    EXPECT_TRUE(Widget<QLineEdit>(form_, "EditDefLength")->isEnabled());
  }
}

TEST_F(RecFormTest, DialectChangeRewritesTheTextOnly) {
  // 240 ticks on C, then C an octave up: a tie and an octave change.
  Open({{60, 1000}, {72, 2250}}, 2750, Values(kModeFromTempo));
  const char* want[kDialectCount] = {"c8&2>c", "c8^2>c", "c8^2>c", "c8&2>c", "c8&c2>c", "c8&c2<c", "c8&c2>c"};
  for (int d = 0; d < kDialectCount; ++d) {
    SetMemo("edited");
    SelectDialect(d);
    EXPECT_EQ(Memo(), want[d]) << d;
    EXPECT_EQ(Widget<QLineEdit>(form_, "EditTempo")->text(), "120");
  }
}

TEST_F(RecFormTest, SakuraChordsAndZeroRestsInTheMemoAndInTestPlay) {
  // A rest 9 ticks before a chord (rounded to 0), C E G for five eighths, then C an octave up for a
  // dotted quarter: one whole note in two seconds.
  Open({{255, 1000}, {60, 1050}, {64, 1050}, {67, 1050}, {72, 2300}}, 3000, Values(kModeFromTempo));
  struct Case {
    int dialect;
    const char* memo;
    const char* play;
  };
  const Case cases[] = {
      {0, "r0{ce8&2g8&2}>c.", ":2t120i15s100v127V90@1o3l4r0{ce8&2g8&2}>c."},
      {1, "r0'ceg'8^2>c.", ":2t120i15s100v127V90@1o3l4r0{ceg8&2}>c."},
      {3, "r0c0e0g8&2>c.", ":2t120i15s100v127V90@1o3l4r0c0e0g8&2>c."},
  };
  for (const Case& c : cases) {
    SelectDialect(c.dialect);
    EXPECT_EQ(Memo(), c.memo) << c.dialect;
    EXPECT_EQ(form_->PlayProgramText(), c.play) << c.dialect;
    device_->Clear();
    Widget<QAction>(form_, "ActionPlay")->trigger();
    EXPECT_TRUE(Widget<QListWidget>(form_, "ListErrors")->isHidden()) << c.dialect;
    EXPECT_TRUE(NoteOnArrives(72)) << c.dialect;
  }
}

TEST_F(RecFormTest, ProgramTextsOfTestPlayAndSave) {
  struct Case {
    std::vector<Event> events;
    int dialect;
    const char* defLength;
    const char* memo;
    const char* play;
    const char* save;
  };
  const Case cases[] = {
      {kOctave, 0, "4", "ce8>c.r", ":2t120i15s100v127V90@1o3l4ce8>c.r", ":1i16s100o3@1t120l4ce8>c.r"},
      {kOctave, 5, "4", "c<c>c", ":2t120i15s100v127V90@1o3l4c>c<c", ":1i16s100o3@1t120l4c<c>c"},
      {kOctave, 4, "4", "c8&c2", ":2t120i15s100v127V90@1o3l4c8$c2", ":1i16s100o3@1t120l4c8&c2"},
      {kOctave, 1, "4", "'ce4g4'c8^2", ":2t120i15s100v127V90@1o3l4{ce4g4}c8&2",
       ":1i16s100o3@1t120l4'ce4g4'c8^2"},
      {kOctave, 1, "4", "'ceg'8^2c", ":2t120i15s100v127V90@1o3l4{ceg8&2}c", ":1i16s100o3@1t120l4'ceg'8^2c"},
      {kOctave, 0, "", "c", ":2t120i15s100v127V90@1o3c", ":1i16s100o3@1t120c"},
      // The octave is the first note's, not the rest's.
      {{{255, 1000}, {48, 1500}}, 0, "8", "rc", ":2t120i15s100v127V90@1o2l8rc", ":1i16s100o2@1t120l8rc"},
      // Line breaks reach the compiler as CR LF.
      {kOctave, 0, "4", "c\nd", ":2t120i15s100v127V90@1o3l4c\r\nd", ":1i16s100o3@1t120l4c\r\nd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.memo);
    Open(c.events, 3000, Values(kModeFromTempo));
    Widget<QComboBox>(form_, "ComboBoxMMLType")->setCurrentIndex(c.dialect);
    ++form_->RecalcLock;
    Widget<QLineEdit>(form_, "EditDefLength")->setText(c.defLength);
    --form_->RecalcLock;
    SetMemo(c.memo);
    EXPECT_EQ(form_->PlayProgramText(), c.play);
    EXPECT_EQ(form_->SaveProgramText(), c.save);
    form_->done(QDialog::Accepted);
  }
}

TEST_F(RecFormTest, TestPlayPlaysOnThePortAndClosingStopsIt) {
  Open(kOctave, 3000, Values(kModeFromTempo));
  Widget<QAction>(form_, "ActionPlay")->trigger();
  EXPECT_TRUE(shownErrors_.empty());
  EXPECT_TRUE(Widget<QListWidget>(form_, "ListErrors")->isHidden());
  EXPECT_TRUE(midi::IsPlaying());
  EXPECT_TRUE(NoteOnArrives(60));
  EXPECT_TRUE(NoteOnArrives(72));
  // Starting again stops the running song first and plays from the start.
  Widget<QAction>(form_, "ActionPlay")->trigger();
  EXPECT_TRUE(midi::IsPlaying());
  QTest::keyClick(form_.get(), Qt::Key_Escape);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(form_->result(), QDialog::Accepted);
  EXPECT_FALSE(midi::IsPlaying());
}

TEST_F(RecFormTest, FatalCompileErrorShowsItsMessageAndDoesNotPlay) {
  Open(kOctave, 3000, Values(kModeFromTempo));
  SetMemo("~~~~~~~~~~~~~~~~~~~~");
  Widget<QAction>(form_, "ActionPlay")->trigger();
  ASSERT_EQ(shownErrors_.size(), 1u);
  EXPECT_EQ(shownErrors_[0], QStringLiteral("エラーが多すぎます"));
  EXPECT_FALSE(midi::IsPlaying());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ASSERT_EQ(Widget<QListWidget>(form_, "ListErrors")->count(), 16);
  EXPECT_EQ(Widget<QListWidget>(form_, "ListErrors")->item(15)->text(),
            QStringLiteral("1:16 [Part:2]コマンドエラー(~)"));
}

TEST_F(RecFormTest, TestMessagesAreShownAndCapped) {
  Open(kOctave, 3000, Values(kModeFromTempo));
  SetMemo("c\n+7");
  Widget<QAction>(form_, "ActionPlay")->trigger();
  EXPECT_EQ(shownMessages_, std::vector<QString>{"Test TRK:1 %7"});
  shownMessages_.clear();
  SetMemo("c\n[+1]100");
  form_->askSaveName = [] { return QString(); };
  Widget<QAction>(form_, "ActionSave")->trigger();  // cancelled: nothing compiled
  EXPECT_TRUE(shownMessages_.empty());
  Widget<QAction>(form_, "ActionPlay")->trigger();
  EXPECT_EQ(shownMessages_.size(), static_cast<size_t>(TFormRec::kMaxTestMessages));
  EXPECT_TRUE(midi::IsPlaying());
}

TEST_F(RecFormTest, FailedFileWriteShowsItsMessage) {
  Open(kOctave, 3000, Values(kModeFromTempo));
  form_->askSaveName = [] { return QStringLiteral("/nonexistent-folder-of-tonvik/take.mid"); };
  Widget<QAction>(form_, "ActionSave")->trigger();
  ASSERT_EQ(shownErrors_.size(), 1u);
  EXPECT_TRUE(shownErrors_[0].contains("take.mid")) << shownErrors_[0].toStdString();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(RecFormTest, CompileErrorsAreListedInTheMemosCoordinates) {
  struct Case {
    const char* memo;
    const char* entry;
    const char* selected;
  };
  const Case cases[] = {
      {"cd\nex", "2:2 [Part:%1]コマンドエラー(x)", "x"},
      {"あx", "1:2 [Part:%1]コマンドエラー(x)", "x"},
      {"c\n\nabx", "3:3 [Part:%1]コマンドエラー(x)", "x"},
  };
  for (const Case& c : cases) {
    for (bool save : {false, true}) {
      SCOPED_TRACE(std::string(c.memo) + (save ? " save" : " play"));
      Open(kOctave, 3000, Values(kModeFromTempo));
      SetMemo(c.memo);
      QTemporaryDir dir;
      form_->askSaveName = [&] { return dir.path() + "/take"; };
      (save ? Widget<QAction>(form_, "ActionSave") : Widget<QAction>(form_, "ActionPlay"))->trigger();
      EXPECT_TRUE(shownErrors_.empty());
      ASSERT_EQ(Widget<QListWidget>(form_, "ListErrors")->count(), 1);
      EXPECT_FALSE(Widget<QListWidget>(form_, "ListErrors")->isHidden());
      // Test play compiles track 2, saving track 1.
      EXPECT_EQ(Widget<QListWidget>(form_, "ListErrors")->item(0)->text(),
                QString::fromUtf8(c.entry).arg(save ? 1 : 2));
      const QRect rect = Widget<QListWidget>(form_, "ListErrors")
                             ->visualItemRect(Widget<QListWidget>(form_, "ListErrors")->item(0));
      QTest::mouseClick(Widget<QListWidget>(form_, "ListErrors")->viewport(), Qt::LeftButton, {},
                        rect.center());
      QTest::mouseDClick(Widget<QListWidget>(form_, "ListErrors")->viewport(), Qt::LeftButton, {},
                         rect.center());
      EXPECT_EQ(Widget<QPlainTextEdit>(form_, "MemoMML")->textCursor().selectedText(),
                QString::fromUtf8(c.selected));
      form_->done(QDialog::Accepted);
    }
  }
}

TEST(MapCompileErrors, SpansAreClampedToTheMemo) {
  struct Case {
    int32_t start;
    int32_t length;
    int line, column, pos, len;
  };
  // Memo "aあ\nb": bytes a(0) あ(1,2) CR LF(3,4) b(5); header of 10 bytes.
  const QString memo = QStringLiteral("aあ\nb");
  const Case cases[] = {
      {10, 1, 1, 1, 0, 1},  // "a"
      {11, 2, 1, 2, 1, 1},  // "あ"
      {12, 1, 1, 2, 1, 1},  // inside "あ": the whole character
      {15, 1, 2, 1, 3, 1},  // "b"
      {3, 2, 1, 1, 0, 0},   // in the header
      {16, 1, 2, 2, 4, 0},  // at the end of the text
      {40, 5, 2, 2, 4, 0},  // beyond it
      {15, 90, 2, 1, 3, 1},
  };
  for (const Case& c : cases) {
    mml::ErrorList = {"e"};
    mml::ErrorStart[1] = c.start;
    mml::ErrorLength[1] = c.length;
    const std::vector<MemoError> errors = MapCompileErrors(memo, 10);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].line, c.line) << c.start;
    EXPECT_EQ(errors[0].column, c.column) << c.start;
    EXPECT_EQ(errors[0].start, c.pos) << c.start;
    EXPECT_EQ(errors[0].length, c.len) << c.start;
  }
  // A character CP932 lacks is one byte ("?"), a half-width katakana one byte; the column counts the
  // editor's positions.
  mml::ErrorList = {"e"};
  mml::ErrorStart[1] = 2;
  mml::ErrorLength[1] = 1;
  const std::vector<MemoError> errors = MapCompileErrors(QStringLiteral("😀ｱx"), 0);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].start, 3);
  EXPECT_EQ(errors[0].column, 4);
  EXPECT_EQ(errors[0].length, 1);
  mml::ErrorList.clear();
  EXPECT_TRUE(MapCompileErrors(memo, 0).empty());
}

TEST(WithMidExtension, AppendsOnlyWhenTheFileHasNoExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"/t/take", "/t/take.mid"},     {"/t/take.mid", "/t/take.mid"}, {"/t/take.MID", "/t/take.MID"},
      {"/t/take.smf", "/t/take.smf"}, {"/t.d/take", "/t.d/take.mid"}, {"/t/.take", "/t/.take"},
      {"/t/曲", "/t/曲.mid"},
  };
  for (const auto& [in, want] : cases)
    EXPECT_EQ(WithMidExtension(QString::fromUtf8(in)), QString::fromUtf8(want));
}

TEST_F(RecFormTest, SaveWritesAStandardMidiFile) {
  Open(kOctave, 3000, Values(kModeFromTempo));
  QTemporaryDir dir;
  // The last name has a character that code page 932 lacks.
  for (const char* name : {"take", "曲", "other.smf", "café"}) {
    const QString chosen = dir.path() + "/" + QString::fromUtf8(name);
    form_->askSaveName = [&] { return chosen; };
    Widget<QAction>(form_, "ActionSave")->trigger();
    const QString written = WithMidExtension(chosen);
    EXPECT_EQ(form_->FileName(), written);
    ASSERT_TRUE(QFile::exists(written)) << written.toStdString();
    const std::string bytes = platform::ReadWholeFile(QFile::encodeName(written).toStdString());
    const SmfTake take =
        ReadSmfNotes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    ASSERT_EQ(take.Notes.size(), 3u);
    EXPECT_EQ(take.Notes[0].Note, 60);
    EXPECT_EQ(take.Notes[1].Note, 64);
    EXPECT_EQ(take.Notes[2].Note, 72);
    EXPECT_EQ(take.Notes[1].TimeMs, 500u);
  }
  EXPECT_TRUE(shownErrors_.empty());
  // Cancelled: nothing written, the name kept.
  const QString before = form_->FileName();
  form_->askSaveName = [] { return QString(); };
  Widget<QAction>(form_, "ActionSave")->trigger();
  EXPECT_EQ(form_->FileName(), before);
}

// The open save box of `form`; without one the test fails and whatever modal window is open closes.
QFileDialog* FindSaveBox(QWidget* form) {
  auto* box = form->findChild<QFileDialog*>("SaveDialog");
  if (!box) {
    ADD_FAILURE() << "no save box";
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  }
  return box;
}

TEST_F(RecFormTest, SaveBoxAsksAboutTheFinalName) {
  QTemporaryDir dir;
  QFile existing(dir.path() + "/x.mid");
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.close();
  Open(kOctave, 3000, Values(kModeFromTempo));
  form_->SetFileName(dir.path() + "/old.mid");

  QStringList filters;
  QString suffix, folder, question;
  bool native = true;
  QTimer::singleShot(0, [&] {
    QFileDialog* box = FindSaveBox(form_.get());
    if (!box) return;
    filters = box->nameFilters();
    suffix = box->defaultSuffix();
    folder = box->directory().absolutePath();
    native = !box->testOption(QFileDialog::DontUseNativeDialog);
    QTimer::singleShot(0, [&] {
      auto* ask = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!ask) return;
      question = ask->text();
      ask->button(QMessageBox::Yes)->click();
    });
    box->selectFile(dir.path() + "/x");
    QMetaObject::invokeMethod(box, "accept", Qt::DirectConnection);
  });
  Widget<QAction>(form_, "ActionSave")->trigger();
  EXPECT_EQ(filters,
            (QStringList{QStringLiteral("標準MIDIファイル(*.mid)"), QStringLiteral("WAVファイル(*.wav)"),
                         QStringLiteral("FLACファイル(*.flac)"), QStringLiteral("全てのファイル(*)")}));
  EXPECT_EQ(suffix, "mid");
  EXPECT_EQ(folder, QDir(dir.path()).absolutePath());
  EXPECT_FALSE(native);
  EXPECT_TRUE(question.contains("x.mid")) << question.toStdString();
  EXPECT_EQ(form_->FileName(), dir.path() + "/x.mid");
  EXPECT_GT(QFileInfo(dir.path() + "/x.mid").size(), 0);
}

#ifdef TONVIK_HAVE_AUDIO_RENDER
// The chosen filter decides the extension of a name typed without one; the extension decides the file.
TEST_F(RecFormTest, SaveBoxFilterOrExtensionChoosesAnAudioFile) {
  if (platform::FindGmSoundfont().empty()) GTEST_SKIP() << "no General MIDI soundfont installed";
  QTemporaryDir dir;
  Open(kOctave, 3000, Values(kModeFromTempo));
  struct Case {
    const char* filter;
    const char* typed;
    const char* written;
    const char* starts;
  };
  const Case cases[] = {
      {"WAVファイル(*.wav)", "a", "a.wav", "RIFF"},
      {"FLACファイル(*.flac)", "b", "b.flac", "fLaC"},
      {"標準MIDIファイル(*.mid)", "c.WAV", "c.WAV", "RIFF"},
      {"WAVファイル(*.wav)", "d.mid", "d.mid", "MThd"},
  };
  for (const Case& c : cases) {
    QTimer::singleShot(0, [&] {
      QFileDialog* box = FindSaveBox(form_.get());
      if (!box) return;
      box->selectNameFilter(QString::fromUtf8(c.filter));
      emit box->filterSelected(QString::fromUtf8(c.filter));
      box->selectFile(dir.path() + "/" + c.typed);
      QMetaObject::invokeMethod(box, "accept", Qt::DirectConnection);
    });
    Widget<QAction>(form_, "ActionSave")->trigger();
    const QString written = dir.path() + "/" + c.written;
    EXPECT_EQ(form_->FileName(), written);
    const std::string bytes = platform::ReadWholeFile(QFile::encodeName(written).toStdString());
    EXPECT_EQ(bytes.substr(0, 4), c.starts) << c.written;
  }
  EXPECT_TRUE(shownErrors_.empty());
}

// Cancelling the progress box leaves no file and an earlier file untouched.
TEST_F(RecFormTest, ACancelledRenderWritesNothing) {
  if (platform::FindGmSoundfont().empty()) GTEST_SKIP() << "no General MIDI soundfont installed";
  QTemporaryDir dir;
  Open(kOctave, 3000, Values(kModeFromTempo));
  SetMemo("c1c1c1c1c1c1c1c1");
  for (const char* name : {"new.wav", "old.flac"}) {
    const QString path = dir.path() + "/" + name;
    if (QString(name) == "old.flac")
      platform::WriteFileAtomic(QFile::encodeName(path).toStdString(), {"earlier"});
    form_->askSaveName = [&] { return path; };
    bool cancelled = false;
    QTimer::singleShot(0, [&] {
      if (auto* progress = form_->findChild<QProgressDialog*>("RenderProgress")) {
        progress->cancel();
        cancelled = true;
      }
    });
    Widget<QAction>(form_, "ActionSave")->trigger();
    EXPECT_TRUE(cancelled) << name;
    EXPECT_TRUE(shownErrors_.empty());
  }
  EXPECT_FALSE(QFile::exists(dir.path() + "/new.wav"));
  EXPECT_EQ(platform::ReadWholeFile(QFile::encodeName(dir.path() + "/old.flac").toStdString()), "earlier");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}
#endif

TEST_F(RecFormTest, SaveBoxStartsInTheFolderOfTheStoredName) {
  QTemporaryDir dir;
  const QString home = QDir::homePath();
  const std::pair<QString, QString> cases[] = {
      {dir.path() + "/take.mid", dir.path()},
      {dir.path() + "/gone/take.mid", home},
      {"", home},
      {"take.mid", QDir::currentPath()},
  };
  for (const auto& [name, folder] : cases) {
    form_->SetFileName(name);
    EXPECT_EQ(form_->FileName(), name);
    EXPECT_EQ(QDir(form_->InitialFolder()).absolutePath(), QDir(folder).absolutePath()) << name.toStdString();
  }
}

TEST_F(RecFormTest, CopyPutsTheMemoOnTheClipboard) {
  Open(kOctave, 3000, Values(kModeFromTempo, "120", "", "8", "4"));
  for (const char* text : {"ce8>c.r", "", "あ\nb"}) {
    QGuiApplication::clipboard()->setText("before");
    SetMemo(text);
    Widget<QAction>(form_, "ActionCopy")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8(text));
  }
}

TEST_F(RecFormTest, ActionsButtonsAndReturn) {
  struct Case {
    QAction* action;
    const char* caption;
    const char* hint;
    QKeySequence key;
  };
  const Case cases[] = {
      {Widget<QAction>(form_, "ActionPlay"), "テスト(&T)", "テスト演奏", QKeySequence(Qt::CTRL | Qt::Key_P)},
      {Widget<QAction>(form_, "ActionSave"), "保存(&S)", "MIDIファイルに保存",
       QKeySequence(Qt::CTRL | Qt::Key_S)},
      {Widget<QAction>(form_, "ActionCopy"), "コピー(&C)", "MMLをクリップボードへコピー",
       QKeySequence(Qt::CTRL | Qt::Key_W)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.action->text(), QString::fromUtf8(c.caption));
    EXPECT_EQ(c.action->toolTip(), QString::fromUtf8(c.hint));
    EXPECT_EQ(c.action->shortcut(), c.key);
  }
  EXPECT_EQ(Widget<QPushButton>(form_, "ButtonPlay")->text(), QStringLiteral("テスト(&T)"));
  EXPECT_EQ(Widget<QPushButton>(form_, "ButtonClose")->text(), QStringLiteral("閉じる(&X)"));
  for (QPushButton* button : form_->findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
    EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
  }
  // A Return in a field (the one that stopped the recording, still held) presses no button.
  Open(kOctave, 3000, Values(kModeFromTempo));
  QApplication::setActiveWindow(form_.get());
  Widget<QLineEdit>(form_, "EditMinLength")->setFocus();
  QTest::keyClick(Widget<QLineEdit>(form_, "EditMinLength"), Qt::Key_Return);
  QTest::keyClick(form_.get(), Qt::Key_Return);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(midi::IsPlaying());
  // Ctrl+W copies.
  QGuiApplication::clipboard()->setText("before");
  QTest::keyClick(Widget<QLineEdit>(form_, "EditMinLength"), Qt::Key_W, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "ce8>c.r");
}

TEST_F(RecFormTest, ConvertValuesRoundTripThroughTheStore) {
  settings::ConvertValues values = Values(kModeFromFirst, "96", "2.", "16", "", "4.");
  values.FileName = "/music/テイク.mid";
  values.MMLType = 5;
  form_->SetConvertValues(values);
  {
    platform::SettingsStore store;
    settings::WriteSettings(store, settings::Settings, "", form_->ConvertValuesNow());
    ASSERT_TRUE(store.Flush());
  }
  platform::SettingsStore store;
  settings::SettingsRecord settings;
  std::string name;
  settings::ConvertValues read;
  settings::ReadSettings(store, settings, name, read);
  TFormRec other;
  other.SetConvertValues(read);
  const settings::ConvertValues got = other.ConvertValuesNow();
  EXPECT_EQ(got.Mode, kModeFromFirst);
  EXPECT_EQ(got.Tempo, "96");
  EXPECT_EQ(got.AllLength, "2.");
  EXPECT_EQ(got.MinLength, "16");
  EXPECT_EQ(got.DefLength, "");
  EXPECT_EQ(got.FirstLength, "4.");
  EXPECT_EQ(got.FileName, "/music/テイク.mid");
  EXPECT_EQ(got.MMLType, 5);
  EXPECT_TRUE(Widget<QLineEdit>(&other, "EditFirst")->isEnabled());
  EXPECT_FALSE(Widget<QLineEdit>(&other, "EditTempo")->isEnabled());
  store.EraseAll();
  // Out-of-range indexes from a hand-edited store select the first item.
  values.Mode = 9;
  values.MMLType = -1;
  other.SetConvertValues(values);
  EXPECT_EQ(Widget<QComboBox>(&other, "ComboBoxMode")->currentIndex(), 0);
  EXPECT_EQ(Widget<QComboBox>(&other, "ComboBoxMMLType")->currentIndex(), 0);
}

}  // namespace
}  // namespace dialogs
