#include "dialogs/config_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <numeric>
#include <optional>

#include "midi/port.h"
#include "settings/settings.h"

namespace dialogs {

namespace {

enum Column { kColName, kColType, kColVoices, kColNotes, kColVc, kColumnCount };
constexpr int kColumnWidths[kColumnCount] = {144, 48, 48, 48, 32};
constexpr Qt::Alignment kColumnAligns[kColumnCount] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight,
                                                       Qt::AlignRight, Qt::AlignLeft};

}  // namespace

DeviceRowTexts FormatDeviceRow(const platform::MidiOutCaps& caps) {
  midi::DeviceRow row = midi::FormatDeviceRow(0, caps);
  return {std::move(row.Name), std::move(row.Type), std::move(row.Voices), std::move(row.Notes),
          std::move(row.VC)};
}

bool FindDeviceByName(const std::string& name) {
  midi::DeviceId = -1;
  if (name.empty()) return true;
  const std::optional<int32_t> id = midi::FindDeviceNumberByName(name);
  if (!id) return false;
  midi::DeviceId = *id;
  return true;
}

std::string CurrentDeviceName() {
  if (midi::DeviceId == -1) return {};
  const std::shared_ptr<platform::MidiOutDevice> device = midi::ChosenDevice();
  return device ? TrimDeviceName(device->Caps().name) : std::string();
}

TFormConfig::TFormConfig(QWidget* parent) : QDialog(parent) {
  setObjectName("FormConfig");
  setWindowTitle(QStringLiteral("環境設定"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  ListView1 = new QTreeWidget(this);
  ListView1->setObjectName("ListView1");
  ListView1->setColumnCount(kColumnCount);
  ListView1->setHeaderLabels({"DriverName", "Type", "Voices", "Notes", "VC"});
  ListView1->setRootIsDecorated(false);
  ListView1->setItemsExpandable(false);
  ListView1->setUniformRowHeights(true);
  ListView1->setAllColumnsShowFocus(true);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Grid lines between the cells.
  ListView1->setStyleSheet(
      "QTreeWidget::item { border-right: 1px solid palette(mid); border-bottom: 1px solid palette(mid); }"
      "QTreeWidget::item:selected { background: palette(highlight); color: palette(highlighted-text); }");
  ListView1->setToolTip(QStringLiteral("MIDI信号出力先を指定します。"));
  for (int c = 0; c < kColumnCount; ++c) {
    ListView1->setColumnWidth(c, kColumnWidths[c]);
    ListView1->headerItem()->setTextAlignment(c, kColumnAligns[c] | Qt::AlignVCenter);
  }
  ListView1->header()->setStretchLastSection(false);
  ListView1->header()->setSectionsMovable(false);
  ListView1->setMinimumWidth(std::accumulate(std::begin(kColumnWidths), std::end(kColumnWidths), 24));
  connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { ListView1DblClick(); });

  CheckBoxChannel = new QCheckBox(QStringLiteral("&Drum"), this);
  CheckBoxChannel->setObjectName("CheckBoxChannel");
  CheckBoxChannel->setToolTip(QStringLiteral("チェックするとドラムモードで発音します。"));

  ComboBoxType = new QComboBox(this);
  ComboBoxType->setObjectName("ComboBoxType");
  ComboBoxType->addItems({QStringLiteral("音源リセットなし"), QStringLiteral("GMリセットあり"),
                          QStringLiteral("XGリセットあり"), QStringLiteral("GSリセットあり")});
  ComboBoxType->setToolTip(QStringLiteral("MIDIリセット方法を指定します。"));

  CheckBoxTop = new QCheckBox(QStringLiteral("常に最前面"), this);
  CheckBoxTop->setObjectName("CheckBoxTop");
  CheckBoxTop->setToolTip(QStringLiteral("チェックするとウィンドウを常に最前面にします。"));

  ComboBoxKey = new QComboBox(this);
  ComboBoxKey->setObjectName("ComboBoxKey");
  ComboBoxKey->addItems({QStringLiteral("標準配列"), QStringLiteral("MOD配列")});
  ComboBoxKey->setToolTip(QStringLiteral("キーボード配列を選択します。"));

  CheckBoxKey98 = new QCheckBox(QStringLiteral("PC98Key"), this);
  CheckBoxKey98->setObjectName("CheckBoxKey98");
  CheckBoxKey98->setToolTip(QStringLiteral("チェックすると強制的にPC98x1キーボード用で動作させます。"));

  Button1 = new QPushButton(QStringLiteral("&OK"), this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  Button2 = new QPushButton(QStringLiteral("&Cancel"), this);
  Button2->setObjectName("Button2");
  Button2->setAutoDefault(false);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

  auto* options = new QGridLayout;
  options->addWidget(CheckBoxChannel, 0, 0);
  options->addWidget(ComboBoxType, 0, 1);
  options->addWidget(CheckBoxTop, 1, 0);
  options->addWidget(ComboBoxKey, 1, 1);
  options->addWidget(CheckBoxKey98, 2, 0);
  options->setColumnStretch(1, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ListView1, 1);
  layout->addLayout(options);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  ListView1->setFixedHeight(160);
}

void TFormConfig::showEvent(QShowEvent* event) {
  // Qt centres a dialog on its parent window (kept on the screen) at every showing.
  if (!event->spontaneous()) FormShow();
  QDialog::showEvent(event);
}

void TFormConfig::FormShow() {
  ListView1->setUpdatesEnabled(false);
  ListView1->clear();
  // Built anew: DeviceId follows the chosen device to its new number.
  const int n = midi::RefreshDeviceList();
  for (int d = -1; d < n; ++d) {
    platform::MidiOutCaps caps;
    if (!platform::MidiOutGetDevCaps(d, &caps)) {
      caps = {};
      caps.technology = 0;  // no such device: no type either
    }
    const DeviceRowTexts texts = FormatDeviceRow(caps);
    auto* item = new QTreeWidgetItem(ListView1);
    const std::string* cells[kColumnCount] = {&texts.name, &texts.type, &texts.voices, &texts.notes,
                                              &texts.vc};
    for (int c = 0; c < kColumnCount; ++c) {
      item->setText(c, QString::fromStdString(*cells[c]));
      item->setTextAlignment(c, kColumnAligns[c] | Qt::AlignVCenter);
    }
  }
  ListView1->setUpdatesEnabled(true);

  // A device that has gone since the settings were read is no row: the default output is selected then,
  // so that the dialog can always be closed, and OK makes it the device.
  int row = midi::DeviceId + 1;
  if (row < 0 || row >= ListView1->topLevelItemCount()) row = 0;
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  ListView1->setCurrentItem(item);
  item->setSelected(true);
  ListView1->scrollToItem(item);
  ListView1->setFocus();

  const settings::SettingsRecord& s = settings::Settings;
  CheckBoxChannel->setChecked(s.Channel == 9);
  ComboBoxType->setCurrentIndex(s.DeviceType >= 0 && s.DeviceType < ComboBoxType->count() ? s.DeviceType : 0);
  CheckBoxTop->setChecked(s.StayOnTop);
  ComboBoxKey->setCurrentIndex(s.Mapping >= 0 && s.Mapping < ComboBoxKey->count() ? s.Mapping : 0);
  CheckBoxKey98->setChecked(s.ForcePC98x1);
}

int TFormConfig::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
  return selected.isEmpty() ? -1 : ListView1->indexOfTopLevelItem(selected.first());
}

void TFormConfig::ListView1DblClick() { done(QDialog::Accepted); }

bool TFormConfig::FormCloseQuery() const { return SelectedRow() >= 0; }

void TFormConfig::done(int result) {
  if (!FormCloseQuery()) return;
  FormClose(result);
  QDialog::done(result);
}

void TFormConfig::FormClose(int result) {
  if (result != QDialog::Accepted) return;
  settings::SettingsRecord& s = settings::Settings;
  midi::ClosePort();
  midi::DeviceId = SelectedRow() - 1;
  s.DeviceType = ComboBoxType->currentIndex();
  s.Channel = CheckBoxChannel->isChecked() ? 9 : 0;
  midi::OpenPort(midi::DeviceId);
  if (hooks_.sendState) hooks_.sendState();
  s.StayOnTop = CheckBoxTop->isChecked();
  if (hooks_.setStayOnTop) hooks_.setStayOnTop(s.StayOnTop);
  s.ForcePC98x1 = CheckBoxKey98->isChecked();
  s.Mapping = ComboBoxKey->currentIndex();
  if (hooks_.rebuildKeys) hooks_.rebuildKeys();
}

}  // namespace dialogs
