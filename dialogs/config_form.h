// The configuration dialog "環境設定": output device, MIDI input, reset type, drum mode, keyboard layout,
// PC-98 key codes and stay-on-top. Nothing is applied before it closes with OK. Also the two routines with
// which the settings store turns a stored device name into a device number and back.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <string_view>

#include "midi/device_list.h"
#include "platform/midi_out.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QTreeWidget;

namespace dialogs {

// Texts of one row of the device list, in column order (the row texts of midi/device_list.h).
struct DeviceRowTexts {
  std::string name;    // as reported, not trimmed
  std::string type;    // four characters for technology codes 1..7, "--" for any other code
  std::string voices;  // decimal, "--" for 0
  std::string notes;   // decimal, "--" for 0
  std::string vc;      // "×" no volume control, "◎" left and right separately, "○" one volume
};
DeviceRowTexts FormatDeviceRow(const platform::MidiOutCaps& caps);

// A device name as stored: up to the first zero byte, without leading and trailing spaces and control
// characters.
using midi::TrimDeviceName;

// Sets midi::DeviceId from a stored name: -1 for the empty name, else the device that
// midi::FindDeviceNumberByName finds (the same trimmed name, or the same without instance numbers). Returns
// false (and sets -1) when no device has that name; the caller then shows DeviceNotFoundText(), after it
// has read all other settings.
bool FindDeviceByName(const std::string& name);
// The message for a stored or chosen device that cannot be found or opened, in the user's language.
QString DeviceNotFoundText();

// The trimmed name of the chosen device (midi::ChosenDevice) for the store, also when it has left the
// list; empty for -1 and for a number that is no device.
std::string CurrentDeviceName();

// The main window's side of applying the dialog: each call in the order the dialog makes them.
struct ConfigHooks {
  std::function<void()> sendState;
  std::function<void(bool)> setStayOnTop;
  // Builds the key table for the new layout and forgets held keys (held-note table all 255, Pressed
  // cleared, the strip redrawn), so that a new layout inherits no held notes.
  std::function<void()> rebuildKeys;
};

class TFormConfig : public QDialog {
  Q_OBJECT

 public:
  explicit TFormConfig(QWidget* parent = nullptr);

  void SetHooks(ConfigHooks hooks) { hooks_ = std::move(hooks); }

  // Fills the device list and sets the controls from the settings (also run by every showing).
  void FormShow();
  void ListViewDevicesDblClick();
  // True while a row of the device list is selected: the dialog closes only then.
  bool FormCloseQuery() const;
  // Applies everything when `result` is Accepted.
  void FormClose(int result);

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The controls, named as their object names (tests find them by these).
  QTreeWidget* ListViewDevices;
  // The MIDI inputs: "なし" (none) first, then the sources as listed now, and a chosen source that is
  // not listed now (type "--"), so that OK keeps it.
  QTreeWidget* ListViewInputs;
  QCheckBox* CheckBoxChannel;
  QComboBox* ComboBoxType;
  QCheckBox* CheckBoxTop;
  QComboBox* ComboBoxKey;
  QCheckBox* CheckBoxKey98;
  QPushButton* ButtonOK;
  QPushButton* ButtonCancel;

  int SelectedRow() const;
  void FillInputList();

  ConfigHooks hooks_;
};

}  // namespace dialogs
