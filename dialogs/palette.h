// The instrument palette "音色コマンド入力": a General MIDI program chosen by family and name, with a
// test note on channel 16 while the "♪" button is held.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace dialogs {

// The caption of item `item` (0..7) of family `family`: "(&1)Piano 1".
QString ProgramItemCaption(int family, int item);

class TFormProg : public QDialog {
  Q_OBJECT

 public:
  explicit TFormProg(QWidget* parent = nullptr);

  int TabIndex() const { return tabIndex_; }
  int ItemIndex() const;
  void SetTabIndex(int index);
  void SetItemIndex(int index);
  // TabIndex * 8 + ItemIndex + 1.
  int32_t ChosenProgram() const { return tabIndex_ * 8 + ItemIndex() + 1; }

  // The current family's names into the radio group; the selected item stays.
  void FillProgramList();
  void TabControlFamilyChange();
  void TestNoteOn();
  void TestNoteOff();
  bool TestNoteSounding() const { return testNote_; }

 protected:
  // FormShow: the tab and item of the main window's program.
  void showEvent(QShowEvent* event) override;
  // The test note: from the left mouse button's press on "♪" to its release.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The controls, named as their object names (tests find them by these).
  QButtonGroup* TabControlFamily;  // the Tabs: one flat, exclusive button per family, in rows
  QGroupBox* RadioGroupProgram;
  QPushButton* ButtonListen;
  QPushButton* ButtonOK;
  QPushButton* ButtonCancel;
  std::array<QPushButton*, 16> Tabs{};   // "Tab0".."Tab15"
  std::array<QRadioButton*, 8> Items{};  // "Item0".."Item7"

  int tabIndex_ = 0;
  bool testNote_ = false;
};

}  // namespace dialogs
