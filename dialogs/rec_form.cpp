#include "dialogs/rec_form.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QShowEvent>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <optional>

#include "midi/sequencer.h"
#include "midi/song_render.h"
#include "mml/conv.h"
#include "mml/events.h"
#include "mml/state.h"
#include "platform/text.h"

namespace dialogs {

namespace {

QString FromCp932(const std::string& cp932) { return QString::fromStdString(platform::Cp932ToUtf8(cp932)); }

std::string ToCp932(const QString& text) { return platform::Utf8ToCp932(text.toStdString()); }

// Messages of exceptions from the compiler are CP932; those of the file layer are UTF-8.
QString ExceptionText(const std::exception& e) {
  const std::string what = e.what();
  if (platform::IsValidUtf8(what)) return QString::fromStdString(what);
  return FromCp932(what);
}

bool IsCp932Lead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

bool EndsWithNmm(const QString& name) { return name.endsWith(QStringLiteral(".nmm"), Qt::CaseInsensitive); }

// The compiler takes a file name in CP932 and opens it under the platform's own name for it. A name with
// characters that CP932 lacks cannot go that way: the text is then only built, and the file written here
// under the name as chosen.
void CompileToFile(const std::string& program, const QString& fileName) {
  const std::string cp932 = ToCp932(fileName);
  if (FromCp932(cp932) == fileName) {
    mml::CompileMML(program, cp932);
    return;
  }
  mml::CompileMML(program, std::string(1, '\0'));
  const std::string native = QFile::encodeName(fileName).toStdString();
  if (EndsWithNmm(fileName)) {
    mml::WriteNmmFile(mml::EventList, mml::Timebase, mml::CutTime, mml::EndTime, native);
  } else {
    mml::WriteSmfFile(mml::EventList, mml::Timebase, mml::CutTime, mml::EndTime, native);
  }
}

// The extension the save box adds to a name typed without one: the chosen filter's (in SaveFilters order).
QString SuffixForFilter(const QString& filter) {
  static const char* const kSuffixes[] = {"mid", "wav", "flac", "mid"};
  const qsizetype index = SaveFilters().indexOf(filter);
  return QString::fromLatin1(kSuffixes[index < 0 ? 0 : index]);
}

QLabel* NewLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

QLineEdit* NewEdit(const QString& text, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(name);
  edit->setFixedWidth(64);
  return edit;
}

QPushButton* NewActionButton(QAction* action, const char* name, QWidget* parent) {
  auto* button = new QPushButton(action->text(), parent);
  button->setObjectName(name);
  button->setToolTip(action->toolTip());
  button->setAutoDefault(false);
  QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
  return button;
}

QAction* NewAction(const QString& caption, const QString& hint, QKeyCombination key, const char* name,
                   QWidget* parent) {
  auto* action = new QAction(caption, parent);
  action->setObjectName(name);
  action->setToolTip(hint);
  action->setStatusTip(hint);
  action->setShortcut(QKeySequence(key));
  action->setShortcutContext(Qt::WindowShortcut);
  parent->addAction(action);
  return action;
}

}  // namespace

QStringList SaveFilters() {
  return {TFormRec::tr("標準MIDIファイル(*.mid)"), TFormRec::tr("WAVファイル(*.wav)"),
          TFormRec::tr("FLACファイル(*.flac)"), TFormRec::tr("全てのファイル(*)")};
}

std::vector<MemoError> MapCompileErrors(const QString& memo, int headerBytes) {
  if (mml::ErrorList.empty()) return {};
  // Byte offset in the compiled text behind the header -> position in the memo, for every character
  // boundary (the last entry is the end of the memo). Every character of the memo is one character of
  // its CP932 text (one CP932 lacks is "?"), and a line break is compiled as CR LF.
  const std::string cp932 = ToCp932(memo);
  std::vector<int> byteAt;
  std::vector<int> posAt;
  int bytes = 0;
  size_t at = 0;
  for (int pos = 0; pos < memo.size();) {
    const bool pair =
        memo.at(pos).isHighSurrogate() && pos + 1 < memo.size() && memo.at(pos + 1).isLowSurrogate();
    const int width = at < cp932.size() && IsCp932Lead(static_cast<uint8_t>(cp932[at])) ? 2 : 1;
    at += width;
    byteAt.push_back(bytes);
    posAt.push_back(pos);
    bytes += memo.at(pos) == u'\n' ? 2 : width;
    pos += pair ? 2 : 1;
  }
  byteAt.push_back(bytes);
  posAt.push_back(static_cast<int>(memo.size()));

  auto toPos = [&](int64_t offset) {
    if (offset <= 0) return 0;
    // The character holding byte `offset` (the start of a two-byte character for its second byte).
    const auto it = std::upper_bound(byteAt.begin(), byteAt.end(), offset);
    return posAt[static_cast<size_t>(it - byteAt.begin()) - 1];
  };

  std::vector<MemoError> errors;
  const size_t count = std::min<size_t>(mml::ErrorList.size(), 16);
  for (size_t i = 1; i <= count; ++i) {
    MemoError e;
    e.message = FromCp932(mml::ErrorList[i - 1]);
    const int64_t start = static_cast<int64_t>(mml::ErrorStart[i]) - headerBytes;
    const int64_t end = start + std::max<int32_t>(mml::ErrorLength[i], 0);
    e.start = toPos(start);
    e.length = toPos(end) - e.start;
    // A span that begins inside the memo shows at least the character it begins in.
    if (e.length == 0 && start >= 0 && start < bytes && end > start) e.length = 1;
    e.length = std::min<int>(e.length, static_cast<int>(memo.size()) - e.start);
    const int lineStart = e.start == 0 ? 0 : static_cast<int>(memo.lastIndexOf(u'\n', e.start - 1)) + 1;
    e.line = static_cast<int>(memo.left(e.start).count(u'\n')) + 1;
    e.column = e.start - lineStart + 1;
    errors.push_back(e);
  }
  return errors;
}

QString WithMidExtension(const QString& fileName) {
  const qsizetype slash = std::max(fileName.lastIndexOf(u'/'), fileName.lastIndexOf(QDir::separator()));
  if (fileName.indexOf(u'.', slash + 1) >= 0) return fileName;
  return fileName + QStringLiteral(".mid");
}

TFormRec::TFormRec(QWidget* parent) : QDialog(parent) {
  setObjectName("FormRec");
  setWindowTitle(tr("入力内容編集"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  ActionPlay = NewAction(tr("テスト(&T)"), tr("テスト演奏"), Qt::CTRL | Qt::Key_P, "ActionPlay", this);
  ActionSave = NewAction(tr("保存(&S)"), tr("MIDIファイルに保存"), Qt::CTRL | Qt::Key_S, "ActionSave", this);
  ActionCopy = NewAction(tr("コピー(&C)"), tr("MMLをクリップボードへコピー"), Qt::CTRL | Qt::Key_W,
                         "ActionCopy", this);
  connect(ActionPlay, &QAction::triggered, this, [this] { ActionPlayExecute(); });
  connect(ActionSave, &QAction::triggered, this, [this] { ActionSaveExecute(); });
  connect(ActionCopy, &QAction::triggered, this, [this] { ActionCopyExecute(); });

  PanelFields = new QFrame(this);
  PanelFields->setObjectName("PanelFields");
  PanelFields->setFrameShape(QFrame::StyledPanel);
  PanelFields->setToolTip(tr("音長はｎ音符指定（&でつなげられる）"));

  LabelLength = NewLabel(tr("総音長"), "LabelLength", PanelFields);
  EditLength = NewEdit(QStringLiteral("1"), "EditLength", PanelFields);
  LabelTempo = NewLabel(tr("テンポ"), "LabelTempo", PanelFields);
  EditTempo = NewEdit(QStringLiteral("120"), "EditTempo", PanelFields);
  LabelMinLength = NewLabel(tr("最小音長"), "LabelMinLength", PanelFields);
  EditMinLength = NewEdit(QStringLiteral("8"), "EditMinLength", PanelFields);
  LabelDefLength = NewLabel(tr("省略音長"), "LabelDefLength", PanelFields);
  EditDefLength = NewEdit(QStringLiteral("4"), "EditDefLength", PanelFields);
  LabelFirst = NewLabel(tr("先頭音長"), "LabelFirst", PanelFields);
  EditFirst = NewEdit(QStringLiteral("8"), "EditFirst", PanelFields);

  LabelMode = NewLabel(tr("総音長計算"), "LabelMode", PanelFields);
  ComboBoxMode = new QComboBox(PanelFields);
  ComboBoxMode->setObjectName("ComboBoxMode");
  ComboBoxMode->addItems(
      {tr("そのまま"), tr("テンポから計算"), tr("先頭音長から計算"), tr("全て最小音長として計算")});
  LabelMMLType = NewLabel(tr("MML形式"), "LabelMMLType", PanelFields);
  ComboBoxMMLType = new QComboBox(PanelFields);
  ComboBoxMMLType->setObjectName("ComboBoxMMLType");
  ComboBoxMMLType->addItems({tr("独自形式"), tr("サクラ形式"), tr("mml2mid形式"), tr("FMP形式"),
                             tr("PMD形式"), tr("はてな形式"), tr("マビノギ形式")});

  MemoMML = new QPlainTextEdit(PanelFields);
  MemoMML->setObjectName("MemoMML");
  // The memo's own hint is switched off, and the panel's hint is not shown over it either.
  MemoMML->setWhatsThis(tr("ここでMMLを編集"));
  MemoMML->installEventFilter(this);
  MemoMML->viewport()->installEventFilter(this);

  ListErrors = new QListWidget(PanelFields);
  ListErrors->setObjectName("ListErrors");
  ListErrors->hide();
  connect(ListErrors, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { SelectError(ListErrors->row(item)); });

  for (QLineEdit* edit : {EditTempo, EditLength, EditMinLength, EditDefLength, EditFirst}) {
    connect(edit, &QLineEdit::textChanged, this, [this] { EditTempoChange(); });
  }
  connect(ComboBoxMode, &QComboBox::activated, this, [this] { ComboBoxModeChange(); });
  connect(ComboBoxMMLType, &QComboBox::activated, this, [this] { ComboBoxMMLTypeChange(); });

  auto* fields = new QGridLayout;
  fields->addWidget(LabelMode, 0, 0);
  fields->addWidget(ComboBoxMode, 0, 1, 1, 3);
  fields->addWidget(LabelMMLType, 0, 4);
  fields->addWidget(ComboBoxMMLType, 0, 5);
  fields->addWidget(LabelTempo, 1, 0);
  fields->addWidget(EditTempo, 1, 1);
  fields->addWidget(LabelLength, 1, 2);
  fields->addWidget(EditLength, 1, 3);
  fields->addWidget(LabelFirst, 1, 4);
  fields->addWidget(EditFirst, 1, 5, Qt::AlignLeft);
  fields->addWidget(LabelMinLength, 2, 0);
  fields->addWidget(EditMinLength, 2, 1);
  fields->addWidget(LabelDefLength, 2, 2);
  fields->addWidget(EditDefLength, 2, 3);
  fields->setColumnStretch(5, 1);

  auto* panel = new QVBoxLayout(PanelFields);
  panel->addLayout(fields);
  panel->addWidget(MemoMML, 3);
  panel->addWidget(ListErrors, 1);

  ButtonCopy = NewActionButton(ActionCopy, "ButtonCopy", this);
  ButtonPlay = NewActionButton(ActionPlay, "ButtonPlay", this);
  ButtonSave = NewActionButton(ActionSave, "ButtonSave", this);
  ButtonClose = new QPushButton(tr("閉じる(&X)"), this);
  ButtonClose->setObjectName("ButtonClose");
  ButtonClose->setToolTip(tr("閉じる"));
  // No button is pressed by Return: the Return that stops a recording may still be held.
  ButtonClose->setAutoDefault(false);
  connect(ButtonClose, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ButtonCopy);
  buttons->addWidget(ButtonPlay);
  buttons->addWidget(ButtonSave);
  buttons->addStretch(1);
  buttons->addWidget(ButtonClose);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PanelFields, 1);
  layout->addLayout(buttons);
  setFixedSize(520, 340);
  // Tab goes through the controls as they are laid out.
  QWidget* order[] = {ComboBoxMode,  ComboBoxMMLType, EditTempo,  EditLength, EditFirst,
                      EditMinLength, EditDefLength,   MemoMML,    ListErrors, ButtonCopy,
                      ButtonPlay,    ButtonSave,      ButtonClose};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  initialFolder_ = QDir::homePath();
  askSaveName = [this] { return RunSaveDialog(); };
  showError = [this](const QString& text) {
    QMessageBox::critical(this, QApplication::applicationName(), text);
  };
  showMessage = [this](const QString& text) {
    QMessageBox::information(this, QApplication::applicationName(), text);
  };
}

bool TFormRec::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip && (watched == MemoMML || watched == MemoMML->viewport())) {
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TFormRec::SetConvertValues(const settings::ConvertValues& values) {
  auto index = [](int32_t value, const QComboBox* box) {
    return value >= 0 && value < box->count() ? value : 0;
  };
  ++RecalcLock;
  ComboBoxMode->setCurrentIndex(index(values.Mode, ComboBoxMode));
  EditTempo->setText(QString::fromStdString(values.Tempo));
  EditLength->setText(QString::fromStdString(values.AllLength));
  EditMinLength->setText(QString::fromStdString(values.MinLength));
  EditDefLength->setText(QString::fromStdString(values.DefLength));
  EditFirst->setText(QString::fromStdString(values.FirstLength));
  SetFileName(QString::fromStdString(values.FileName));
  --RecalcLock;
  ComboBoxMMLType->setCurrentIndex(index(values.MMLType, ComboBoxMMLType));
  UpdateControls();
}

settings::ConvertValues TFormRec::ConvertValuesNow() const {
  settings::ConvertValues values;
  values.Mode = ComboBoxMode->currentIndex();
  values.Tempo = EditTempo->text().toStdString();
  values.AllLength = EditLength->text().toStdString();
  values.MinLength = EditMinLength->text().toStdString();
  values.DefLength = EditDefLength->text().toStdString();
  values.FirstLength = EditFirst->text().toStdString();
  values.FileName = fileName_.toStdString();
  values.MMLType = ComboBoxMMLType->currentIndex();
  return values;
}

void TFormRec::SetFileName(const QString& name) {
  fileName_ = name;
  const QString folder = name.isEmpty() ? QString() : QFileInfo(name).absolutePath();
  initialFolder_ = !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void TFormRec::keyPressEvent(QKeyEvent* event) {
  // Esc presses the close button, which closes with the result OK.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    ButtonClose->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TFormRec::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    errors_.clear();
    ListErrors->clear();
    ListErrors->hide();
    UpdateControls();
    Recalculate();
  }
  QDialog::showEvent(event);
}

void TFormRec::done(int result) {
  midi::StopPlayback();
  QDialog::done(result);
}

void TFormRec::UpdateControls() {
  const int mode = ComboBoxMode->currentIndex();
  LabelTempo->setEnabled(mode == record::kModeFromTempo);
  EditTempo->setEnabled(mode == record::kModeFromTempo);
  LabelFirst->setEnabled(mode == record::kModeFromFirst);
  EditFirst->setEnabled(mode == record::kModeFromFirst);
  LabelLength->setEnabled(mode == record::kModeAsTyped);
  EditLength->setEnabled(mode == record::kModeAsTyped);
}

record::ConvertFields TFormRec::FieldTexts() const {
  record::ConvertFields fields;
  fields.Tempo = ToCp932(EditTempo->text());
  fields.Length = ToCp932(EditLength->text());
  fields.MinLength = ToCp932(EditMinLength->text());
  fields.DefLength = ToCp932(EditDefLength->text());
  fields.First = ToCp932(EditFirst->text());
  return fields;
}

void TFormRec::Recalculate() {
  record::ConvertFields fields = FieldTexts();
  if (!record::Recalculate(*capture_, ComboBoxMode->currentIndex(), fields, state_)) return;
  // The computed fields are written with the lock raised, so that they start no further recalculation.
  ++RecalcLock;
  const QString tempo = FromCp932(fields.Tempo);
  const QString length = FromCp932(fields.Length);
  if (EditTempo->text() != tempo) EditTempo->setText(tempo);
  if (EditLength->text() != length) EditLength->setText(length);
  --RecalcLock;
  BuildMML();
}

void TFormRec::BuildMML() {
  MemoMML->setPlainText(FromCp932(record::BuildMML(*capture_, state_, ComboBoxMMLType->currentIndex())));
}

void TFormRec::EditTempoChange() {
  if (RecalcLock != 0) return;
  ++RecalcLock;
  Recalculate();
  --RecalcLock;
}

void TFormRec::ComboBoxModeChange() {
  UpdateControls();
  Recalculate();
}

void TFormRec::ComboBoxMMLTypeChange() { BuildMML(); }

record::HeaderValues TFormRec::Header() const {
  record::HeaderValues values;
  values.Tempo = ToCp932(EditTempo->text());
  values.Velocity = settings::Settings.Velocity;
  values.Volume = settings::Settings.Volume;
  values.Program = settings::Settings.Program;
  values.Octave = HeaderOctave(*capture_);
  values.DefLength = ToCp932(EditDefLength->text());
  return values;
}

std::string TFormRec::MemoCp932() const {
  return platform::NormalizeLineBreaks(ToCp932(MemoMML->toPlainText()));
}

std::string TFormRec::PlayProgramText() const {
  return record::TestPlayText(Header(), MemoCp932(), ComboBoxMMLType->currentIndex());
}

std::string TFormRec::SaveProgramText() const { return record::SaveText(Header(), MemoCp932()); }

bool TFormRec::Compile(const std::function<void()>& run, int headerBytes) {
  QString failure;
  // The "+" command's boxes, at most kMaxTestMessages per compilation: a "+" inside a repeat must not
  // bury the user under boxes.
  int messages = 0;
  mml::SetMessageHandler([&](const std::string& cp932) {
    if (++messages <= kMaxTestMessages && showMessage) showMessage(FromCp932(cp932));
  });
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    run();
  } catch (const std::exception& e) {
    failure = ExceptionText(e);
    if (failure.isEmpty()) failure = QStringLiteral("?");
  }
  QApplication::restoreOverrideCursor();
  mml::SetMessageHandler(nullptr);
  ShowErrors(headerBytes);
  if (failure.isEmpty()) return true;
  if (showError) showError(failure);
  return false;
}

void TFormRec::ShowErrors(int headerBytes) {
  errors_ = MapCompileErrors(MemoMML->toPlainText(), headerBytes);
  ListErrors->clear();
  for (const MemoError& e : errors_) {
    ListErrors->addItem(QStringLiteral("%1:%2 %3").arg(e.line).arg(e.column).arg(e.message));
  }
  ListErrors->setVisible(!errors_.empty());
}

void TFormRec::SelectError(int row) {
  if (row < 0 || row >= static_cast<int>(errors_.size())) return;
  const MemoError& e = errors_[row];
  QTextCursor cursor = MemoMML->textCursor();
  const int size = static_cast<int>(MemoMML->toPlainText().size());
  cursor.setPosition(std::min(e.start, size));
  cursor.setPosition(std::min(e.start + e.length, size), QTextCursor::KeepAnchor);
  MemoMML->setTextCursor(cursor);
  MemoMML->setFocus();
}

void TFormRec::ActionPlayExecute() {
  midi::StopPlayback();
  const int headerBytes = static_cast<int>(record::TestPlayHeader(Header()).size());
  const std::string program = PlayProgramText();
  if (Compile([&] { mml::CompileMML(program, std::string(1, '\xFF')); }, headerBytes)) {
    midi::StartPlayback();
  }
}

QString TFormRec::RunSaveDialog() {
  // Qt's own dialog: a desktop portal would take the activation from the application, which closes the
  // port. The default suffix makes the overwrite question ask about the name that is really written.
  QFileDialog box(this, QString(), initialFolder_);
  box.setObjectName("SaveDialog");
  box.setOption(QFileDialog::DontUseNativeDialog);
  box.setAcceptMode(QFileDialog::AcceptSave);
  box.setFileMode(QFileDialog::AnyFile);
  box.setNameFilters(SaveFilters());
  box.setDefaultSuffix(QStringLiteral("mid"));
  connect(&box, &QFileDialog::filterSelected, &box,
          [&box](const QString& filter) { box.setDefaultSuffix(SuffixForFilter(filter)); });
  if (!fileName_.isEmpty()) box.selectFile(QFileInfo(fileName_).fileName());
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return {};
  return box.selectedFiles().first();
}

void TFormRec::ActionSaveExecute() {
  const QString chosen = askSaveName ? askSaveName() : QString();
  if (chosen.isEmpty()) return;
  SetFileName(WithMidExtension(chosen));
  const int headerBytes = static_cast<int>(record::SaveHeader(Header()).size());
  const std::string program = SaveProgramText();
  const std::string native = QFile::encodeName(fileName_).toStdString();
  if (const std::optional<platform::AudioFormat> format = midi::AudioFormatForName(native)) {
    Compile([&] { RenderAudioFile(program, native, *format); }, headerBytes);
    return;
  }
  Compile([&] { CompileToFile(program, fileName_); }, headerBytes);
}

void TFormRec::RenderAudioFile(const std::string& program, const std::string& nativePath,
                               platform::AudioFormat format) {
  mml::CompileMML(program, std::string(1, '\0'));
  // The render runs here, on the UI thread, with a progress box whose button cancels it; a cancelled
  // render writes nothing. The box needs the normal cursor over the busy one.
  QProgressDialog progress(tr("音声ファイルを作成中..."), tr("中止"), 0, 1000, this);
  progress.setObjectName("RenderProgress");
  progress.setWindowTitle(windowTitle());
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setAutoReset(false);
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  struct CursorBack {
    ~CursorBack() { QApplication::restoreOverrideCursor(); }
  } cursorBack;
  midi::RenderSongFile(nativePath, format, mml::LastPlayImage(), mml::Timebase, midi::SongRenderOptions(),
                       [&](const midi::SongRenderProgress& p) {
                         const double part = p.totalSeconds > 0 ? p.seconds / p.totalSeconds : 1;
                         progress.setValue(static_cast<int>(std::clamp(part, 0.0, 1.0) * 1000));
                         QCoreApplication::processEvents();
                         return !progress.wasCanceled();
                       });
}

void TFormRec::ActionCopyExecute() { QGuiApplication::clipboard()->setText(MemoMML->toPlainText()); }

}  // namespace dialogs
