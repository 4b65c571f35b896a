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
#include "platform/midi_in.h"
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

QString DeviceNotFoundText() { return TFormConfig::tr("指定したMIDIデバイスが見つかりませんでした"); }

std::string CurrentDeviceName() {
  if (midi::DeviceId == -1) return {};
  const std::shared_ptr<platform::MidiOutDevice> device = midi::ChosenDevice();
  return device ? TrimDeviceName(device->Caps().name) : std::string();
}

TFormConfig::TFormConfig(QWidget* parent) : QDialog(parent) {
  setObjectName("FormConfig");
  setWindowTitle(tr("環境設定"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  ListViewDevices = new QTreeWidget(this);
  ListViewDevices->setObjectName("ListViewDevices");
  ListViewDevices->setColumnCount(kColumnCount);
  ListViewDevices->setHeaderLabels({tr("DriverName"), tr("Type"), tr("Voices"), tr("Notes"), tr("VC")});
  ListViewDevices->setRootIsDecorated(false);
  ListViewDevices->setItemsExpandable(false);
  ListViewDevices->setUniformRowHeights(true);
  ListViewDevices->setAllColumnsShowFocus(true);
  ListViewDevices->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListViewDevices->setSelectionMode(QAbstractItemView::SingleSelection);
  ListViewDevices->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Grid lines between the cells.
  ListViewDevices->setStyleSheet(
      "QTreeWidget::item { border-right: 1px solid palette(mid); border-bottom: 1px solid palette(mid); }"
      "QTreeWidget::item:selected { background: palette(highlight); color: palette(highlighted-text); }");
  ListViewDevices->setToolTip(tr("MIDI信号出力先を指定します。"));
  for (int c = 0; c < kColumnCount; ++c) {
    ListViewDevices->setColumnWidth(c, kColumnWidths[c]);
    ListViewDevices->headerItem()->setTextAlignment(c, kColumnAligns[c] | Qt::AlignVCenter);
  }
  ListViewDevices->header()->setStretchLastSection(false);
  ListViewDevices->header()->setSectionsMovable(false);
  ListViewDevices->setMinimumWidth(std::accumulate(std::begin(kColumnWidths), std::end(kColumnWidths), 24));
  connect(ListViewDevices, &QTreeWidget::itemDoubleClicked, this, [this] { ListViewDevicesDblClick(); });

  ListViewInputs = new QTreeWidget(this);
  ListViewInputs->setObjectName("ListViewInputs");
  ListViewInputs->setColumnCount(2);
  ListViewInputs->setHeaderLabels({tr("DriverName"), tr("Type")});
  ListViewInputs->setRootIsDecorated(false);
  ListViewInputs->setItemsExpandable(false);
  ListViewInputs->setUniformRowHeights(true);
  ListViewInputs->setAllColumnsShowFocus(true);
  ListViewInputs->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListViewInputs->setSelectionMode(QAbstractItemView::SingleSelection);
  ListViewInputs->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListViewInputs->setStyleSheet(ListViewDevices->styleSheet());
  ListViewInputs->setToolTip(tr("MIDI信号の入力元（MIDIキーボード）を指定します。"));
  ListViewInputs->setColumnWidth(
      0, kColumnWidths[kColName] + kColumnWidths[kColVoices] + kColumnWidths[kColNotes]);
  ListViewInputs->setColumnWidth(1, kColumnWidths[kColType]);
  ListViewInputs->header()->setStretchLastSection(true);
  ListViewInputs->header()->setSectionsMovable(false);

  CheckBoxChannel = new QCheckBox(tr("&Drum"), this);
  CheckBoxChannel->setObjectName("CheckBoxChannel");
  CheckBoxChannel->setToolTip(tr("チェックするとドラムモードで発音します。"));

  ComboBoxType = new QComboBox(this);
  ComboBoxType->setObjectName("ComboBoxType");
  ComboBoxType->addItems(
      {tr("音源リセットなし"), tr("GMリセットあり"), tr("XGリセットあり"), tr("GSリセットあり")});
  ComboBoxType->setToolTip(tr("MIDIリセット方法を指定します。"));

  CheckBoxTop = new QCheckBox(tr("常に最前面"), this);
  CheckBoxTop->setObjectName("CheckBoxTop");
  CheckBoxTop->setToolTip(tr("チェックするとウィンドウを常に最前面にします。"));

  ComboBoxKey = new QComboBox(this);
  ComboBoxKey->setObjectName("ComboBoxKey");
  ComboBoxKey->addItems({tr("標準配列"), tr("MOD配列")});
  ComboBoxKey->setToolTip(tr("キーボード配列を選択します。"));

  CheckBoxKey98 = new QCheckBox(tr("PC98Key"), this);
  CheckBoxKey98->setObjectName("CheckBoxKey98");
  CheckBoxKey98->setToolTip(tr("チェックすると強制的にPC98x1キーボード用で動作させます。"));

  ButtonOK = new QPushButton(tr("&OK"), this);
  ButtonOK->setObjectName("ButtonOK");
  ButtonOK->setDefault(true);
  connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
  ButtonCancel = new QPushButton(tr("&Cancel"), this);
  ButtonCancel->setObjectName("ButtonCancel");
  ButtonCancel->setAutoDefault(false);
  connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* options = new QGridLayout;
  options->addWidget(CheckBoxChannel, 0, 0);
  options->addWidget(ComboBoxType, 0, 1);
  options->addWidget(CheckBoxTop, 1, 0);
  options->addWidget(ComboBoxKey, 1, 1);
  options->addWidget(CheckBoxKey98, 2, 0);
  options->setColumnStretch(1, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ButtonOK);
  buttons->addWidget(ButtonCancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ListViewDevices, 1);
  layout->addWidget(ListViewInputs);
  layout->addLayout(options);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  ListViewDevices->setFixedHeight(160);
  ListViewInputs->setFixedHeight(96);
}

void TFormConfig::showEvent(QShowEvent* event) {
  // Qt centres a dialog on its parent window (kept on the screen) at every showing.
  if (!event->spontaneous()) FormShow();
  QDialog::showEvent(event);
}

void TFormConfig::FormShow() {
  ListViewDevices->setUpdatesEnabled(false);
  ListViewDevices->clear();
  // Built anew: DeviceId follows the chosen device to its new number.
  const int n = midi::RefreshDeviceList();
  for (int d = -1; d < n; ++d) {
    platform::MidiOutCaps caps;
    if (!platform::MidiOutGetDevCaps(d, &caps)) {
      caps = {};
      caps.technology = 0;  // no such device: no type either
    }
    const DeviceRowTexts texts = FormatDeviceRow(caps);
    auto* item = new QTreeWidgetItem(ListViewDevices);
    const std::string* cells[kColumnCount] = {&texts.name, &texts.type, &texts.voices, &texts.notes,
                                              &texts.vc};
    for (int c = 0; c < kColumnCount; ++c) {
      item->setText(c, QString::fromStdString(*cells[c]));
      item->setTextAlignment(c, kColumnAligns[c] | Qt::AlignVCenter);
    }
  }
  ListViewDevices->setUpdatesEnabled(true);

  // A device that has gone since the settings were read is no row: the default output is selected then,
  // so that the dialog can always be closed, and OK makes it the device.
  int row = midi::DeviceId + 1;
  if (row < 0 || row >= ListViewDevices->topLevelItemCount()) row = 0;
  QTreeWidgetItem* item = ListViewDevices->topLevelItem(row);
  ListViewDevices->setCurrentItem(item);
  item->setSelected(true);
  ListViewDevices->scrollToItem(item);
  ListViewDevices->setFocus();

  FillInputList();

  const settings::SettingsRecord& s = settings::Settings;
  CheckBoxChannel->setChecked(s.Channel == 9);
  ComboBoxType->setCurrentIndex(s.DeviceType >= 0 && s.DeviceType < ComboBoxType->count() ? s.DeviceType : 0);
  CheckBoxTop->setChecked(s.StayOnTop);
  ComboBoxKey->setCurrentIndex(s.Mapping >= 0 && s.Mapping < ComboBoxKey->count() ? s.Mapping : 0);
  CheckBoxKey98->setChecked(s.ForcePC98x1);
}

void TFormConfig::FillInputList() {
  ListViewInputs->clear();
  const std::vector<platform::MidiInPort> inputs = platform::MidiInGetPorts();
  // A row shows the source's name and keeps it as its data, which is what OK stores; the row for no
  // input shows the word in the window's language but stores the setting's own value.
  auto addRow = [this](const std::string& name, const std::string& type) {
    auto* item = new QTreeWidgetItem(ListViewInputs);
    item->setText(0, QString::fromStdString(name));
    item->setData(0, Qt::UserRole, QString::fromStdString(name));
    item->setText(1, QString::fromStdString(type));
    item->setTextAlignment(1, Qt::AlignHCenter | Qt::AlignVCenter);
    return item;
  };
  QTreeWidgetItem* chosen = addRow(settings::kNoInput, "");
  chosen->setText(0, tr("なし"));
  const std::string& name = settings::InputDeviceName;
  const std::optional<int32_t> found =
      name == settings::kNoInput ? std::nullopt : midi::FindInputNumberByName(inputs, name);
  for (size_t i = 0; i < inputs.size(); ++i) {
    QTreeWidgetItem* item = addRow(inputs[i].name, inputs[i].type);
    if (found && static_cast<size_t>(*found) == i) chosen = item;
  }
  if (name != settings::kNoInput && !found) chosen = addRow(name, "--");
  ListViewInputs->setCurrentItem(chosen);
  chosen->setSelected(true);
}

int TFormConfig::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = ListViewDevices->selectedItems();
  return selected.isEmpty() ? -1 : ListViewDevices->indexOfTopLevelItem(selected.first());
}

void TFormConfig::ListViewDevicesDblClick() { done(QDialog::Accepted); }

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
  const QList<QTreeWidgetItem*> input = ListViewInputs->selectedItems();
  if (!input.isEmpty())
    settings::InputDeviceName =
        settings::ValidInputName(input.first()->data(0, Qt::UserRole).toString().toStdString());
}

}  // namespace dialogs
