#include "dialogs/palette.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/program_names.h"
#include "midi/port.h"
#include "settings/settings.h"

namespace dialogs {
namespace {

constexpr int kRowWidth = 520;  // the tab rows wrap at this width
constexpr uint8_t kTestChannel = 15;
constexpr uint8_t kTestNote = 64;

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A literal "&" in a button text must be doubled, or it becomes an accelerator.
QString ButtonText(const QString& caption) {
  const int accelerator = caption.indexOf(QStringLiteral(")"));
  QString rest = caption.mid(accelerator + 1);
  rest.replace(QStringLiteral("&"), QStringLiteral("&&"));
  return caption.left(accelerator + 1) + rest;
}

}  // namespace

QString ProgramItemCaption(int family, int item) {
  const int program = std::clamp(family, 0, kFamilyCount - 1) * kFamilySize + std::clamp(item, 0, 7) + 1;
  return QStringLiteral("(&%1)").arg(item + 1) + Utf8(ProgramName(program));
}

TFormProg::TFormProg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormProg"));
  setWindowTitle(tr("音色コマンド入力"));
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* layout = new QVBoxLayout(this);

  // The tab strip: flat buttons in rows, one checked at a time.
  TabControlFamily = new QButtonGroup(this);
  TabControlFamily->setObjectName(QStringLiteral("TabControlFamily"));
  TabControlFamily->setExclusive(true);
  auto* rows = new QVBoxLayout;
  rows->setSpacing(2);
  QHBoxLayout* row = nullptr;
  int rowWidth = 0;
  for (int f = 0; f < kFamilyCount; ++f) {
    auto* tab = new QPushButton(tr(FamilyNames[static_cast<size_t>(f)].data()), this);
    tab->setObjectName(QStringLiteral("Tab%1").arg(f));
    tab->setFlat(true);
    tab->setCheckable(true);
    tab->setAutoDefault(false);
    tab->setFocusPolicy(Qt::TabFocus);
    tab->setAttribute(Qt::WA_Hover, true);
    TabControlFamily->addButton(tab, f);
    Tabs[static_cast<size_t>(f)] = tab;
    const int width = tab->sizeHint().width();
    if (!row || rowWidth + width > kRowWidth) {
      row = new QHBoxLayout;
      row->setSpacing(2);
      rows->addLayout(row);
      rowWidth = 0;
    }
    row->addWidget(tab);
    rowWidth += width + 2;
  }
  layout->addLayout(rows);
  connect(TabControlFamily, &QButtonGroup::idClicked, this, [this](int id) {
    tabIndex_ = id;
    TabControlFamilyChange();
  });

  RadioGroupProgram = new QGroupBox(tr("音色選択"), this);
  RadioGroupProgram->setObjectName(QStringLiteral("RadioGroupProgram"));
  auto* grid = new QGridLayout(RadioGroupProgram);
  auto* items = new QButtonGroup(this);
  for (int i = 0; i < kFamilySize; ++i) {
    auto* item = new QRadioButton(RadioGroupProgram);
    item->setObjectName(QStringLiteral("Item%1").arg(i));
    items->addButton(item, i);
    // Two columns, filled top to bottom.
    grid->addWidget(item, i % 4, i / 4);
    Items[static_cast<size_t>(i)] = item;
  }
  layout->addWidget(RadioGroupProgram);

  auto* buttons = new QHBoxLayout;
  ButtonListen = new QPushButton(QStringLiteral("♪"), this);
  ButtonListen->setObjectName(QStringLiteral("ButtonListen"));
  ButtonListen->setAutoDefault(false);
  ButtonOK = new QPushButton(tr("&OK"), this);
  ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
  ButtonOK->setDefault(true);
  ButtonCancel = new QPushButton(tr("&Cancel"), this);
  ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
  ButtonCancel->setAutoDefault(false);
  buttons->addWidget(ButtonListen);
  buttons->addStretch();
  buttons->addWidget(ButtonOK);
  buttons->addWidget(ButtonCancel);
  layout->addLayout(buttons);
  // The test note follows the mouse button itself, not the button's pressed state, which also changes
  // when the mouse is dragged off and back, and with Space.
  ButtonListen->installEventFilter(this);
  connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

  // FormCreate.
  SetTabIndex(0);
  FillProgramList();
  SetItemIndex(0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

int TFormProg::ItemIndex() const {
  for (int i = 0; i < kFamilySize; ++i) {
    if (Items[static_cast<size_t>(i)]->isChecked()) return i;
  }
  return 0;
}

void TFormProg::SetTabIndex(int index) {
  tabIndex_ = std::clamp(index, 0, kFamilyCount - 1);
  Tabs[static_cast<size_t>(tabIndex_)]->setChecked(true);
}

void TFormProg::SetItemIndex(int index) {
  Items[static_cast<size_t>(std::clamp(index, 0, 7))]->setChecked(true);
}

void TFormProg::FillProgramList() {
  for (int i = 0; i < kFamilySize; ++i) {
    Items[static_cast<size_t>(i)]->setText(ButtonText(ProgramItemCaption(tabIndex_, i)));
  }
}

void TFormProg::TabControlFamilyChange() { FillProgramList(); }

void TFormProg::showEvent(QShowEvent* event) {
  // Only when the dialog is opened; a window manager restoring it from minimised leaves the choice as is.
  if (!event->spontaneous()) {
    const int32_t program = settings::ClampedProgram(settings::Settings.Program);
    SetTabIndex((program - 1) / kFamilySize);
    SetItemIndex((program - 1) % kFamilySize);
    FillProgramList();
  }
  QDialog::showEvent(event);
}

bool TFormProg::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  // The second press of a double click comes as a double-click event.
  const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
  if (watched == ButtonListen && (press || type == QEvent::MouseButtonRelease) &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (!press) {
      TestNoteOff();
    } else if (!testNote_) {
      TestNoteOn();
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TFormProg::hideEvent(QHideEvent* event) {
  TestNoteOff();
  QDialog::hideEvent(event);
}

void TFormProg::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key >= Qt::Key_1 && key <= Qt::Key_8 && !(event->modifiers() & ~Qt::KeypadModifier)) {
    SetItemIndex(key - Qt::Key_1);
    Items[static_cast<size_t>(key - Qt::Key_1)]->setFocus();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TFormProg::TestNoteOn() {
  const uint8_t program = static_cast<uint8_t>(ChosenProgram() - 1);
  midi::SendShort(midi::PackShort(0xC0 | kTestChannel, program));
  midi::SendShort(midi::PackShort(0xB0 | kTestChannel, 11, 127));
  midi::SendShort(midi::PackShort(0xB0 | kTestChannel, 7, 127));
  midi::SendShort(midi::PackShort(0x90 | kTestChannel, kTestNote, 127));
  testNote_ = true;
}

void TFormProg::TestNoteOff() {
  if (!testNote_) return;
  testNote_ = false;
  midi::SendShort(midi::PackShort(0x90 | kTestChannel, kTestNote, 0));
}

}  // namespace dialogs
