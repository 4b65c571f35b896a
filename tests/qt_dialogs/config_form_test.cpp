#include "dialogs/config_form.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "midi/port.h"
#include "platform/midi_out.h"
#include "platform/midi_recording.h"
#include "platform/qt/settings_store.h"
#include "settings/settings.h"
#include "tests/support/widgets.h"

namespace dialogs {
namespace {

using test_support::Widget;

using platform::MidiCall;
using platform::MidiOutCaps;
using platform::RecordingMidiOut;

MidiOutCaps Caps(std::string name, uint16_t technology, uint16_t voices = 0, uint16_t notes = 0,
                 uint32_t support = 0) {
  MidiOutCaps caps;
  caps.name = std::move(name);
  caps.technology = technology;
  caps.voices = voices;
  caps.notes = notes;
  caps.support = support;
  return caps;
}

std::vector<MidiCall::Kind> Kinds(const RecordingMidiOut& device) {
  std::vector<MidiCall::Kind> kinds;
  for (const MidiCall& call : device.Calls()) {
    if (call.kind == MidiCall::Kind::kOpen || call.kind == MidiCall::Kind::kClose) kinds.push_back(call.kind);
  }
  return kinds;
}

TEST(DeviceRow, ColumnsFollowTheCapabilities) {
  constexpr uint32_t vol = platform::kMidiCapsVolume;
  constexpr uint32_t lr = platform::kMidiCapsLrVolume;
  struct Case {
    MidiOutCaps caps;
    DeviceRowTexts want;
  };
  const Case cases[] = {
      {Caps("Port  ", 1), {"Port  ", "PORT", "--", "--", "×"}},
      {Caps("Gen", 2, 32, 16, vol), {"Gen", "GEN ", "32", "16", "○"}},
      {Caps("Sq", 3, 1, 0, vol | lr), {"Sq", " SQ ", "1", "--", "◎"}},
      {Caps("Fm", 4, 0, 65535, lr), {"Fm", " FM ", "--", "65535", "×"}},
      {Caps("Map", 5), {"Map", "MAP ", "--", "--", "×"}},
      {Caps("Wave", 6), {"Wave", "SW  ", "--", "--", "×"}},
      {Caps("Soft", 7), {"Soft", "SW  ", "--", "--", "×"}},
      // Codes the table has no text for.
      {Caps("Zero", 0), {"Zero", "--", "--", "--", "×"}},
      {Caps("Eight", 8), {"Eight", "--", "--", "--", "×"}},
      {Caps("Max", 65535), {"Max", "--", "--", "--", "×"}},
      {Caps(std::string("Cut\0rest", 8), 1), {"Cut", "PORT", "--", "--", "×"}},
  };
  for (const Case& c : cases) {
    const DeviceRowTexts got = FormatDeviceRow(c.caps);
    EXPECT_EQ(got.name, c.want.name);
    EXPECT_EQ(got.type, c.want.type) << c.caps.name;
    EXPECT_EQ(got.voices, c.want.voices) << c.caps.name;
    EXPECT_EQ(got.notes, c.want.notes) << c.caps.name;
    EXPECT_EQ(got.vc, c.want.vc) << c.caps.name;
  }
}

TEST(DeviceName, TrimsSpacesAndControlCharactersOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"Synth A  ", "Synth A"},
      {" \t\r\nSynth\x01", "Synth"},
      {"", ""},
      {"   ", ""},
      {"シンセ ", "シンセ"},  // bytes of 0x80 and above are never trimmed
      {std::string("Name \0 junk", 11), "Name"},
      {"A  B", "A  B"},
  };
  for (const auto& [raw, want] : cases) EXPECT_EQ(TrimDeviceName(raw), want) << raw;
}

class ConfigFormTest : public ::testing::Test {
 protected:
  ConfigFormTest()
      : mapper_(std::make_shared<RecordingMidiOut>(
            Caps("Default synth", 7, 256, 256, platform::kMidiCapsVolume))),
        a_(std::make_shared<RecordingMidiOut>(Caps("Synth A  ", 1))),
        b_(std::make_shared<RecordingMidiOut>(Caps("Synth B", 2, 64, 32))),
        form_(nullptr) {
    platform::SetMidiOutDevicesForTesting(mapper_, {a_, b_});
    settings::Settings = {};
    midi::DeviceId = -1;
    form_.SetHooks({[this] { log_.push_back("send"); },
                    [this](bool top) { log_.push_back(top ? "top:1" : "top:0"); },
                    [this] { log_.push_back("keys"); }});
  }
  ~ConfigFormTest() override {
    midi::ClosePort();
    platform::ClearMidiOutDevicesForTesting();
    midi::DeviceId = -1;
    settings::Settings = {};
  }

  void Select(int row) {
    Widget<QTreeWidget>(&form_, "ListViewDevices")->clearSelection();
    if (row >= 0) {
      Widget<QTreeWidget>(&form_, "ListViewDevices")
          ->setCurrentItem(Widget<QTreeWidget>(&form_, "ListViewDevices")->topLevelItem(row));
      Widget<QTreeWidget>(&form_, "ListViewDevices")->topLevelItem(row)->setSelected(true);
    }
  }
  // Changes every control away from its shown value.
  void ChangeEverything() {
    Widget<QCheckBox>(&form_, "CheckBoxChannel")->setChecked(true);
    Widget<QComboBox>(&form_, "ComboBoxType")->setCurrentIndex(3);
    Widget<QCheckBox>(&form_, "CheckBoxTop")->setChecked(true);
    Widget<QComboBox>(&form_, "ComboBoxKey")->setCurrentIndex(1);
    Widget<QCheckBox>(&form_, "CheckBoxKey98")->setChecked(true);
  }
  void ExpectNothingApplied() {
    EXPECT_EQ(midi::DeviceId, -1);
    EXPECT_EQ(settings::Settings.Channel, 0);
    EXPECT_EQ(settings::Settings.DeviceType, 0);
    EXPECT_FALSE(settings::Settings.StayOnTop);
    EXPECT_EQ(settings::Settings.Mapping, 0);
    EXPECT_FALSE(settings::Settings.ForcePC98x1);
    EXPECT_TRUE(log_.empty());
    EXPECT_TRUE(Kinds(*a_).empty());
    EXPECT_TRUE(Kinds(*b_).empty());
  }

  std::shared_ptr<RecordingMidiOut> mapper_, a_, b_;
  std::vector<std::string> log_;
  TFormConfig form_;
};

TEST_F(ConfigFormTest, ListsTheMapperThenEveryDevice) {
  form_.show();
  ASSERT_EQ(Widget<QTreeWidget>(&form_, "ListViewDevices")->topLevelItemCount(), 3);
  const char* want[3][5] = {{"Default synth", "SW  ", "256", "256", "○"},
                            {"Synth A  ", "PORT", "--", "--", "×"},
                            {"Synth B", "GEN ", "64", "32", "×"}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 5; ++c) {
      EXPECT_EQ(Widget<QTreeWidget>(&form_, "ListViewDevices")->topLevelItem(r)->text(c).toStdString(),
                want[r][c])
          << r << "," << c;
    }
  }
  EXPECT_EQ(Widget<QTreeWidget>(&form_, "ListViewDevices")->headerItem()->text(0), "DriverName");
  EXPECT_EQ(Widget<QTreeWidget>(&form_, "ListViewDevices")->headerItem()->text(4), "VC");
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("環境設定"));
  form_.done(QDialog::Rejected);
}

// The input list: "なし" first; a chosen input that is not there now keeps its row, so that OK keeps
// the choice; the row selected at OK becomes the choice, Cancel changes nothing.
TEST_F(ConfigFormTest, TheInputListKeepsAChosenInputThatIsGoneAndOkStoresTheSelectedRow) {
  setenv("JACK_DEFAULT_SERVER", "tonvik-no-server-here", 1);  // no JACK sources in the list
  auto* inputs = Widget<QTreeWidget>(&form_, "ListViewInputs");
  struct Case {
    std::string chosen;
    int selectRow;  // -1: as shown
    int result;
    std::string after;
  };
  const Case cases[] = {
      {"なし", -1, QDialog::Accepted, "なし"},
      {"Keyboard:out (JACK)", -1, QDialog::Accepted, "Keyboard:out (JACK)"},
      {"Keyboard:out (JACK)", 0, QDialog::Accepted, "なし"},
      {"Keyboard:out (JACK)", 0, QDialog::Rejected, "Keyboard:out (JACK)"},
  };
  for (const Case& c : cases) {
    settings::InputDeviceName = c.chosen;
    form_.FormShow();
    ASSERT_GE(inputs->topLevelItemCount(), 1);
    EXPECT_EQ(inputs->topLevelItem(0)->text(0).toStdString(), "なし");
    QTreeWidgetItem* last = inputs->topLevelItem(inputs->topLevelItemCount() - 1);
    EXPECT_EQ(last->text(0).toStdString(), c.chosen);
    EXPECT_TRUE(last->isSelected());
    if (c.chosen != "なし") {
      EXPECT_EQ(last->text(1).toStdString(), "--");
    }
    if (c.selectRow >= 0) {
      inputs->clearSelection();
      inputs->topLevelItem(c.selectRow)->setSelected(true);
    }
    form_.done(c.result);
    EXPECT_EQ(settings::InputDeviceName, c.after) << c.chosen;
  }
  settings::InputDeviceName = settings::kNoInput;
}

TEST_F(ConfigFormTest, NoDeviceListsOnlyTheMapper) {
  platform::SetMidiOutDevicesForTesting(mapper_, {});
  form_.FormShow();
  EXPECT_EQ(Widget<QTreeWidget>(&form_, "ListViewDevices")->topLevelItemCount(), 1);
  EXPECT_TRUE(form_.FormCloseQuery());
  // Without a default output its row stays, empty.
  platform::SetMidiOutDevicesForTesting(nullptr, {a_});
  form_.FormShow();
  ASSERT_EQ(Widget<QTreeWidget>(&form_, "ListViewDevices")->topLevelItemCount(), 2);
  EXPECT_EQ(Widget<QTreeWidget>(&form_, "ListViewDevices")->topLevelItem(0)->text(0), "");
  EXPECT_EQ(Widget<QTreeWidget>(&form_, "ListViewDevices")->topLevelItem(0)->text(1), "--");
}

TEST_F(ConfigFormTest, ShowsTheSettings) {
  struct Case {
    int32_t deviceId;
    int wantRow;
  };
  // A device number that is no longer a row shows the default output.
  const Case cases[] = {{-1, 0}, {0, 1}, {1, 2}, {2, 0}, {57, 0}, {-7, 0}};
  settings::Settings.Channel = 9;
  settings::Settings.DeviceType = 2;
  settings::Settings.StayOnTop = true;
  settings::Settings.Mapping = 1;
  settings::Settings.ForcePC98x1 = true;
  for (const Case& c : cases) {
    midi::DeviceId = c.deviceId;
    form_.FormShow();
    ASSERT_EQ(Widget<QTreeWidget>(&form_, "ListViewDevices")->selectedItems().size(), 1);
    EXPECT_EQ(
        Widget<QTreeWidget>(&form_, "ListViewDevices")
            ->indexOfTopLevelItem(Widget<QTreeWidget>(&form_, "ListViewDevices")->selectedItems().first()),
        c.wantRow)
        << c.deviceId;
  }
  EXPECT_TRUE(Widget<QCheckBox>(&form_, "CheckBoxChannel")->isChecked());
  EXPECT_EQ(Widget<QComboBox>(&form_, "ComboBoxType")->currentIndex(), 2);
  EXPECT_TRUE(Widget<QCheckBox>(&form_, "CheckBoxTop")->isChecked());
  EXPECT_EQ(Widget<QComboBox>(&form_, "ComboBoxKey")->currentIndex(), 1);
  EXPECT_TRUE(Widget<QCheckBox>(&form_, "CheckBoxKey98")->isChecked());
}

TEST_F(ConfigFormTest, OkAppliesEverythingInOrder) {
  form_.show();
  Select(2);
  ChangeEverything();
  // Each step sees the ones before it done and the ones after it not yet.
  form_.SetHooks({[this] {
                    EXPECT_EQ(midi::DeviceId, 1);
                    EXPECT_TRUE(midi::PortIsOpen());
                    EXPECT_EQ(settings::Settings.DeviceType, 3);
                    EXPECT_EQ(settings::Settings.Channel, 9);
                    EXPECT_FALSE(settings::Settings.StayOnTop);
                    log_.push_back("send");
                  },
                  [this](bool top) {
                    EXPECT_TRUE(settings::Settings.StayOnTop);
                    EXPECT_FALSE(settings::Settings.ForcePC98x1);
                    log_.push_back(top ? "top:1" : "top:0");
                  },
                  [this] {
                    EXPECT_TRUE(settings::Settings.ForcePC98x1);
                    EXPECT_EQ(settings::Settings.Mapping, 1);
                    log_.push_back("keys");
                  }});
  Widget<QPushButton>(&form_, "ButtonOK")->click();
  EXPECT_FALSE(form_.isVisible());
  EXPECT_EQ(form_.result(), QDialog::Accepted);
  EXPECT_EQ(log_, (std::vector<std::string>{"send", "top:1", "keys"}));
  EXPECT_EQ(Kinds(*b_), std::vector<MidiCall::Kind>{MidiCall::Kind::kOpen});
}

TEST_F(ConfigFormTest, TheSameDeviceIsClosedAndOpenedAgain) {
  midi::OpenPort(0);
  ASSERT_TRUE(midi::PortIsOpen());
  form_.show();
  Widget<QPushButton>(&form_, "ButtonOK")->click();
  EXPECT_EQ(midi::DeviceId, 0);
  EXPECT_EQ(Kinds(*a_), (std::vector<MidiCall::Kind>{MidiCall::Kind::kOpen, MidiCall::Kind::kClose,
                                                     MidiCall::Kind::kOpen}));
  EXPECT_EQ(log_, (std::vector<std::string>{"send", "top:0", "keys"}));
}

TEST_F(ConfigFormTest, DoubleClickOnARowAppliesLikeOk) {
  form_.show();
  ChangeEverything();
  QTreeWidgetItem* row = Widget<QTreeWidget>(&form_, "ListViewDevices")->topLevelItem(1);
  const QRect rect = Widget<QTreeWidget>(&form_, "ListViewDevices")->visualItemRect(row);
  QTest::mouseClick(Widget<QTreeWidget>(&form_, "ListViewDevices")->viewport(), Qt::LeftButton, {},
                    rect.center());
  QTest::mouseDClick(Widget<QTreeWidget>(&form_, "ListViewDevices")->viewport(), Qt::LeftButton, {},
                     rect.center());
  EXPECT_FALSE(form_.isVisible());
  EXPECT_EQ(form_.result(), QDialog::Accepted);
  EXPECT_EQ(midi::DeviceId, 0);
  EXPECT_EQ(settings::Settings.DeviceType, 3);
  EXPECT_EQ(log_, (std::vector<std::string>{"send", "top:1", "keys"}));
}

TEST_F(ConfigFormTest, CancelEscapeAndCloseBoxChangeNothing) {
  const std::vector<std::pair<const char*, std::function<void()>>> ways = {
      {"Cancel", [this] { Widget<QPushButton>(&form_, "ButtonCancel")->click(); }},
      {"Esc", [this] { QTest::keyClick(&form_, Qt::Key_Escape); }},
      {"close box", [this] { form_.close(); }},
  };
  for (const auto& [name, close] : ways) {
    form_.show();
    Select(2);
    ChangeEverything();
    close();
    EXPECT_FALSE(form_.isVisible()) << name;
    EXPECT_EQ(form_.result(), QDialog::Rejected) << name;
    ExpectNothingApplied();
  }
}

TEST_F(ConfigFormTest, NoWayOfClosingWithoutASelectedRow) {
  const std::vector<std::pair<const char*, std::function<void()>>> ways = {
      {"OK", [this] { Widget<QPushButton>(&form_, "ButtonOK")->click(); }},
      {"Cancel", [this] { Widget<QPushButton>(&form_, "ButtonCancel")->click(); }},
      {"Esc", [this] { QTest::keyClick(&form_, Qt::Key_Escape); }},
      {"Return", [this] { QTest::keyClick(&form_, Qt::Key_Return); }},
      {"close box", [this] { form_.close(); }},
      {"double-click", [this] { form_.ListViewDevicesDblClick(); }},
  };
  form_.show();
  ChangeEverything();
  Select(-1);
  EXPECT_FALSE(form_.FormCloseQuery());
  for (const auto& [name, close] : ways) {
    close();
    EXPECT_TRUE(form_.isVisible()) << name;
  }
  ExpectNothingApplied();
  // A row selected again allows closing.
  Select(2);
  Widget<QPushButton>(&form_, "ButtonOK")->click();
  EXPECT_FALSE(form_.isVisible());
  EXPECT_EQ(midi::DeviceId, 1);
}

TEST_F(ConfigFormTest, FindsAStoredDeviceByItsTrimmedName) {
  struct Case {
    std::string name;
    bool found;
    int32_t deviceId;
  };
  const Case cases[] = {
      {"", true, -1},         {"Synth A", true, 0},         {"Synth B", true, 1}, {"Synth A  ", false, -1},
      {"synth b", false, -1}, {"Default synth", false, -1}, {"Gone", false, -1},
  };
  for (const Case& c : cases) {
    midi::DeviceId = 5;
    EXPECT_EQ(FindDeviceByName(c.name), c.found) << c.name;
    EXPECT_EQ(midi::DeviceId, c.deviceId) << c.name;
  }
  platform::SetMidiOutDevicesForTesting(nullptr, {});
  EXPECT_FALSE(FindDeviceByName("Synth A"));
  EXPECT_EQ(midi::DeviceId, -1);
}

TEST_F(ConfigFormTest, DuplicateNamesFindTheFirst) {
  auto twin = std::make_shared<RecordingMidiOut>(Caps(" Synth B", 1));
  platform::SetMidiOutDevicesForTesting(mapper_, {a_, twin, b_});
  EXPECT_TRUE(FindDeviceByName("Synth B"));
  EXPECT_EQ(midi::DeviceId, 1);
}

TEST_F(ConfigFormTest, CurrentDeviceName) {
  const std::pair<int32_t, std::string> cases[] = {
      {-1, ""}, {0, "Synth A"}, {1, "Synth B"}, {2, ""}, {-3, ""}};
  for (const auto& [id, want] : cases) {
    midi::DeviceId = id;
    EXPECT_EQ(CurrentDeviceName(), want) << id;
  }
}

TEST_F(ConfigFormTest, DeviceNameRoundTripThroughTheStore) {
  midi::DeviceId = 0;
  {
    platform::SettingsStore store;
    settings::WriteSettings(store, settings::Settings, CurrentDeviceName(), settings::ConvertValues{});
    ASSERT_TRUE(store.Flush());
  }
  midi::DeviceId = -1;
  platform::SettingsStore store;
  settings::SettingsRecord settings;
  std::string name;
  settings::ConvertValues convert;
  settings::ReadSettings(store, settings, name, convert);
  EXPECT_EQ(name, "Synth A");
  EXPECT_TRUE(FindDeviceByName(name));
  EXPECT_EQ(midi::DeviceId, 0);
  store.EraseAll();
}

}  // namespace
}  // namespace dialogs
