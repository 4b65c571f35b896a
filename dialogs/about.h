// The about box "このプログラムについて": the program's name, icon and version.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace dialogs {

class TFormAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TFormAbout(QWidget* parent = nullptr);

 private:
  // The controls, named as their object names (tests find them by these).
  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* Comments;
  QPushButton* OKButton;
};

}  // namespace dialogs
