#include "settings/alarms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "app/form_events.h"
#include "settings/validation.h"
#include "support/test_tool.h"

namespace {

using Boxes = std::array<bool, 4>;  // enabled: low temp, high temp, low hum, high hum
constexpr std::array<int, 4> kBoxes = {ctl::LowTempAlarm, ctl::HighTempAlarm,
                                       ctl::LowHumidityAlarm, ctl::HighHumidityAlarm};

// Like the dialog, a program write into an edit box notifies as typing does.
class NotifyingForm : public MemoryForm {
 public:
  ToolState* state = nullptr;
  void setText(int id, std::string_view t) override {
    MemoryForm::setText(id, t);
    if (id / 100 == 24) OnFormEvent(*state, id, FormEvent::TextChanged);
  }
};

class AlarmsTest : public ::testing::Test {
 protected:
  TestTool tool;
  NotifyingForm form;
  ToolState& s = tool.s();

  AlarmsTest() {
    form.controls = tool.form.controls;
    form.state = &s;
    s.ports.form = &form;
    s.device.sensorTempMin = -2000;
    s.device.sensorTempMax = 2000;
    s.settings.tempAlarmLowC = 2.0, s.settings.tempAlarmLowF = 35.6;
    s.settings.tempAlarmHighC = 8.0, s.settings.tempAlarmHighF = 46.4;
    form.setSelection(ctl::TempUnit, 0);
    form.setSelection(ctl::Channel, 0);
    for (auto [id, text] : {std::pair{ctl::LowTempAlarm, "2.0"}, {ctl::HighTempAlarm, "8.0"},
                            {ctl::LowHumidityAlarm, "20.0"}, {ctl::HighHumidityAlarm, "80.0"}})
      form.at(id).text = text;
  }
  void Type(int id, const std::string& text) {
    form.at(id).text = text;
    OnFormEvent(s, id, FormEvent::TextChanged);
  }
  void Pick(int id, int index) {
    form.setSelection(id, index);
    OnFormEvent(s, id, FormEvent::SelectionChanged);
  }
  // The alarm steps of the next poll pass, in the Configure flow's order.
  void Pass() {
    auto take = [this](uint32_t bit) {
      bool raised = (s.poll.changeFlags & bit) != 0;
      s.poll.changeFlags &= ~bit;
      return raised;
    };
    if (take(flag::LowTempAlarmEdited)) ReadTemperatureAlarmLow(s, NoLabel);
    if (take(flag::HighTempAlarmEdited)) ReadTemperatureAlarmHigh(s, NoLabel);
    if (take(flag::TempUnitChanged)) ShowTemperatureAlarms(s);
    if (take(flag::ChannelChanged)) UpdateAlarmBoxes(s);
    if (take(flag::SetupLockToggled)) ApplySetupLockToAlarms(s);
  }
  void SetBoxes(const Boxes& on) {
    for (std::size_t i = 0; i < kBoxes.size(); ++i) form.setEnabled(kBoxes[i], on[i]);
  }
  Boxes Enabled() const {
    Boxes on{};
    for (std::size_t i = 0; i < kBoxes.size(); ++i) on[i] = form.enabled(kBoxes[i]);
    return on;
  }
};

TEST_F(AlarmsTest, TypingKeepsOneDecimalAndRereadsTemperatureBoxesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"25.55", "25.5"}, {"1.2.3", "1.2"}, {"12..", "12."}, {".55", ".5"},
      {"-5.℃7", "-5.℃"}, {"1.😀5", "1.😀"}, {"12.3", "12.3"}, {"-", "-"}};
  for (int box : kBoxes) {
    for (auto [typed, kept] : cases) {
      s.poll.changeFlags = 0;
      form.focused = 0;
      Type(box, typed);
      EXPECT_EQ(form.text(box), kept) << box << " " << typed;
      const bool cut = std::string(typed) != kept;
      EXPECT_EQ(form.focused == box && form.caretAtEnd, cut) << box << " " << typed;
      const uint32_t reread = box == ctl::LowTempAlarm    ? flag::LowTempAlarmEdited
                              : box == ctl::HighTempAlarm ? flag::HighTempAlarmEdited
                                                          : 0;
      EXPECT_EQ(s.poll.changeFlags, reread) << box << " " << typed;
    }
  }
  Type(ctl::LowTempAlarm, "25.55");
  Pass();
  EXPECT_DOUBLE_EQ(s.settings.tempAlarmLowC, 25.5);
}

TEST_F(AlarmsTest, UnitSwitchShowsStoredAlarmsWithoutCountingAsEdits) {
  auto shown = [this] {
    return form.text(ctl::LowTempAlarm) + " " + form.text(ctl::HighTempAlarm) + " " +
           form.text(ctl::LowTempUnitSign) + form.text(ctl::HighTempUnitSign);
  };
  Pick(ctl::TempUnit, 1);
  Pass();
  EXPECT_EQ(shown(), "35.6 46.4 ℉℉");
  EXPECT_EQ(s.poll.changeFlags, 0u);
  EXPECT_EQ(std::count(form.refreshed.begin(), form.refreshed.end(), ctl::LowTempUnitSign), 1);
  Pick(ctl::TempUnit, 0);
  Pass();
  EXPECT_EQ(shown(), "2.0 8.0 ℃℃");

  // The next user edit after the program's writes is re-read again.
  Pick(ctl::TempUnit, 1);
  Pass();
  Type(ctl::LowTempAlarm, "33.0");
  Pass();
  EXPECT_NEAR(s.settings.tempAlarmLowC, 0.55001, 1e-12);
  Pick(ctl::TempUnit, 0);
  Pass();
  EXPECT_EQ(shown(), "0.6 8.0 ℃℃");

  // A half-typed value stores nothing; the last good one is shown again.
  Type(ctl::LowTempAlarm, "-");
  Pass();
  EXPECT_TRUE(form.focused == ctl::LowTempAlarm && form.caretAtEnd);
  Pick(ctl::TempUnit, 1);
  Pass();
  EXPECT_EQ(shown(), "33.0 46.4 ℉℉");
}

TEST_F(AlarmsTest, ChannelChangeEnablesBoxesByChannelFirmwareAndLock) {
  struct Case {
    int channel;
    uint8_t fwHigh, fwLow;
    bool alarm, lock;
    Boxes on;
  };
  const Case cases[] = {
      {0, 0x41, 0x00, false, false, {1, 1, 0, 0}}, {1, 0x41, 0x00, false, false, {0, 0, 1, 1}},
      {2, 0x41, 0x00, false, false, {1, 1, 1, 1}}, {-1, 0x41, 0x00, false, false, {1, 1, 0, 0}},
      {2, 0x40, 0x10, false, false, {0, 0, 0, 0}}, {2, 0x40, 0x0F, false, false, {1, 1, 1, 1}},
      {2, 0x3F, 0x10, false, false, {1, 1, 1, 1}}, {2, 0x40, 0x10, true, false, {1, 1, 1, 1}},
      {2, 0x10, 0x00, true, true, {0, 0, 0, 0}}};
  s.poll.driveCount = 1;
  for (const Case& c : cases) {
    s.device.fwVersionHigh = c.fwHigh, s.device.fwVersionLow = c.fwLow;
    form.setChecked(ctl::EnableAlarm, c.alarm);
    form.setChecked(ctl::SetupLock, c.lock);
    form.setSelection(ctl::Channel, c.channel);
    SetBoxes({!c.on[0], !c.on[1], !c.on[2], !c.on[3]});
    EXPECT_EQ(AlarmsSwitchedOff(s), c.fwHigh == 0x40 && c.fwLow == 0x10 && !c.alarm);
    OnFormEvent(s, ctl::EnableAlarm, FormEvent::Clicked);
    Pass();
    EXPECT_EQ(Enabled(), c.on) << c.channel << " " << int{c.fwHigh} << "." << int{c.fwLow};
    EXPECT_EQ(s.poll.changeFlags, flag::IntervalChanged);
  }
}

TEST_F(AlarmsTest, ChannelChangeWaitsForALogger) {
  Pick(ctl::Channel, 1);
  Pass();
  EXPECT_EQ(Enabled(), (Boxes{1, 1, 1, 1}));
  EXPECT_EQ(s.poll.changeFlags, 0u);
  s.hid.deviceCount = 1;
  Pick(ctl::Channel, 1);
  Pass();
  EXPECT_EQ(Enabled(), (Boxes{0, 0, 1, 1}));
}

TEST_F(AlarmsTest, SetupLockClosesOrReopensBoxesWhateverTheFirmware) {
  struct Case {
    int channel;
    bool alarm, lock;
    Boxes on;
  };
  const Case cases[] = {{0, true, false, {1, 1, 0, 0}}, {1, true, false, {0, 0, 1, 1}},
                        {2, true, false, {1, 1, 1, 1}}, {-1, true, false, {0, 0, 0, 0}},
                        {2, true, true, {0, 0, 0, 0}},  {2, false, false, {0, 0, 0, 0}}};
  for (const Case& c : cases) {
    form.setChecked(ctl::EnableAlarm, c.alarm);
    form.setChecked(ctl::SetupLock, c.lock);
    form.setSelection(ctl::Channel, c.channel);
    SetBoxes({!c.on[0], !c.on[1], !c.on[2], !c.on[3]});
    OnFormEvent(s, ctl::SetupLock, FormEvent::Clicked);
    Pass();
    EXPECT_EQ(Enabled(), c.on) << c.channel << " " << c.alarm << " " << c.lock;
  }
}

}  // namespace
