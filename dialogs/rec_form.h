// The MML edit dialog "入力内容編集": the conversion fields, the MML text of the latest take, and the
// actions test play, save as a Standard MIDI File, copy, close.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/backends/audio_render.h"
#include "record/capture.h"
#include "record/convert.h"
#include "record/dialect.h"
#include "settings/settings.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace dialogs {

// One compile error as the dialog lists it: message (UTF-8) and its span in the memo's text
// (QString positions, clamped to the text).
struct MemoError {
  QString message;
  int line = 1;    // 1-based
  int column = 1;  // 1-based, in the editor's positions (UTF-16 units)
  int start = 0;
  int length = 0;
};

// Maps the compiler's error spans (byte offsets into the CP932 program text) onto `memo`, which follows
// a header line of `headerBytes` bytes. Spans inside the header are shown at the start of the memo.
std::vector<MemoError> MapCompileErrors(const QString& memo, int headerBytes);

// The save box's filters: the MIDI file first, the audio files next to it, then every file.
QStringList SaveFilters();

// The name the save box chose, with ".mid" appended when its file part has no extension.
QString WithMidExtension(const QString& fileName);

class TFormRec : public QDialog {
  Q_OBJECT

 public:
  explicit TFormRec(QWidget* parent = nullptr);

  // The take the dialog converts (the main window's capture record); it must outlive the dialog.
  void SetCapture(const record::Capture* capture) { capture_ = capture ? capture : &empty_; }

  // The store's "Convert" section: put into the controls with RecalcLock raised, then UpdateControls;
  // and taken from them for saving.
  void SetConvertValues(const settings::ConvertValues& values);
  settings::ConvertValues ConvertValuesNow() const;

  // The save box's file name; also sets the folder the save box starts in.
  void SetFileName(const QString& name);
  QString FileName() const { return fileName_; }
  // The folder of the file name when it exists, else the home folder.
  QString InitialFolder() const { return initialFolder_; }

  void UpdateControls();
  void Recalculate();
  void BuildMML();
  void EditTempoChange();
  void ComboBoxModeChange();
  void ComboBoxMMLTypeChange();
  void ActionPlayExecute();
  void ActionSaveExecute();
  void ActionCopyExecute();

  // The program texts test play and save compile (header + text).
  std::string PlayProgramText() const;
  std::string SaveProgramText() const;

  // Asks for the name to save under; empty when cancelled. Tests replace it.
  std::function<QString()> askSaveName;
  // Show an error message box, and the box of the "+" command; tests replace them.
  std::function<void(const QString&)> showError;
  std::function<void(const QString&)> showMessage;
  static constexpr int kMaxTestMessages = 16;

  int RecalcLock = 0;

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The controls, named as their object names (tests find them by these).
  QFrame* PanelFields;
  QLabel* LabelLength;
  QLineEdit* EditLength;
  QLabel* LabelTempo;
  QLineEdit* EditTempo;
  QLabel* LabelMinLength;
  QLineEdit* EditMinLength;
  QLabel* LabelDefLength;
  QLineEdit* EditDefLength;
  QLabel* LabelFirst;
  QLineEdit* EditFirst;
  QLabel* LabelMode;
  QComboBox* ComboBoxMode;
  QLabel* LabelMMLType;
  QComboBox* ComboBoxMMLType;
  QPlainTextEdit* MemoMML;
  QListWidget* ListErrors;
  QPushButton* ButtonCopy;
  QPushButton* ButtonPlay;
  QPushButton* ButtonSave;
  QPushButton* ButtonClose;
  QAction* ActionPlay;
  QAction* ActionSave;
  QAction* ActionCopy;

  QString RunSaveDialog();
  // Runs a compilation under the busy cursor, then lists its errors (their spans behind a header of
  // `headerBytes` bytes); shows the message of an exception that leaves it and returns false then.
  bool Compile(const std::function<void()>& run, int headerBytes);
  // Compiles `program` and renders it into an audio file, with a progress box that can cancel it.
  void RenderAudioFile(const std::string& program, const std::string& nativePath,
                       platform::AudioFormat format);
  void ShowErrors(int headerBytes);
  void SelectError(int row);
  std::string MemoCp932() const;

  record::ConvertFields FieldTexts() const;
  record::HeaderValues Header() const;

  record::Capture empty_;
  const record::Capture* capture_ = &empty_;
  record::ConvertState state_;
  QString fileName_;
  QString initialFolder_;
  std::vector<MemoError> errors_;
};

}  // namespace dialogs
