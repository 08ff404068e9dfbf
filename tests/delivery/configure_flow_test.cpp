#include "delivery/configure_flow.h"

#include <gtest/gtest.h>

#include "core/control_ids.h"
#include "app/form_events.h"
#include "support/test_tool.h"

namespace {

// A drive logger that measures both channels, with a form that validates.
class ConfigureFlowTest : public ::testing::Test {
 protected:
  TestTool t;
  MemoryForm& f = t.form;

  void SetUp() override {
    DeviceInfo& d = t.s().device;
    d.fwVersionHigh = 0x24;
    d.fwVersionLow = 0x10;
    d.fwVersion = 0x2410;
    d.capabilityFlags = 0xE0;
    d.sensorTempMin = -400;
    d.sensorTempMax = 850;
    t.s().poll.driveCount = 1;
    const std::pair<int, const char*> texts[] = {
        {ctl::RecordLedFlash, "0"},     {ctl::AlarmLedFlash, "0"},    {ctl::StartDelay, "30"},
        {ctl::Interval, "60"},          {ctl::LowTempAlarm, "2.0"},   {ctl::HighTempAlarm, "8.0"},
        {ctl::LowHumidityAlarm, "20.0"}, {ctl::HighHumidityAlarm, "80.0"},
        {ctl::Trademark, "KELM"},       {ctl::DeviceName, "Fridge 3"}, {ctl::DeviceId, "A0001"}};
    for (const auto& [id, text] : texts) f.at(id).text = text;
    f.setSelection(ctl::TimeZone, f.findEntry(ctl::TimeZone, "UTC+08:00"));
    f.setSelection(ctl::DateFormat, 1);
    f.setSelection(ctl::Channel, 2);
    f.setSelection(ctl::TempUnit, 0);
    f.setSelection(ctl::PdfLanguage, 0);
    f.at(ctl::Configure).text = "Configure";
    f.at(ctl::Configure).enabled = true;
  }
  void Click(int id) { OnFormEvent(t.s(), id, FormEvent::Clicked); }
  void Select(int id, int index) {
    f.setSelection(id, index);
    OnFormEvent(t.s(), id, FormEvent::SelectionChanged);
  }
};

TEST_F(ConfigureFlowTest, TwoClicksInOnePeriodBuildOneBlock) {
  Click(ctl::Configure);
  Click(ctl::Configure);
  ConfigureFlow(t.s());
  EXPECT_TRUE(t.messages.shown.empty()) << t.messages.last();
  EXPECT_EQ(t.s().poll.transferState, TransferWrite);
  const uint16_t length = t.s().block.length;
  EXPECT_GT(length, 0);
  EXPECT_EQ(f.text(ctl::Configure), "Configuring...");
  EXPECT_FALSE(f.enabled(ctl::Configure));
  EXPECT_EQ(t.s().poll.changeFlags, 0u);

  // A click while the block is still in flight builds nothing new.
  Click(ctl::Configure);
  ConfigureFlow(t.s());
  EXPECT_EQ(t.s().block.length, length);
  EXPECT_EQ(t.s().poll.transferState, TransferWrite);
}

TEST_F(ConfigureFlowTest, FailedValidationOffersConfigureAgain) {
  f.at(ctl::Interval).text = "0";
  f.at(ctl::Configure).text = "Configuring...";
  Click(ctl::Configure);
  ConfigureFlow(t.s());
  ASSERT_EQ(t.messages.shown.size(), 1u);
  EXPECT_EQ(t.s().block.length, 0);
  EXPECT_EQ(t.s().poll.transferState, TransferIdle);
  EXPECT_EQ(f.text(ctl::Configure), "Configure");
  EXPECT_TRUE(f.enabled(ctl::Configure));
  EXPECT_EQ(f.focused, ctl::Interval);
}

TEST_F(ConfigureFlowTest, ChannelStepRunsBeforeValidationAndAsksForTheIntervalAgain) {
  // Humidity only: the temperature alarms no longer need to be valid.
  f.at(ctl::LowTempAlarm).text = "x";
  Select(ctl::Channel, 1);
  ConfigureFlow(t.s());
  EXPECT_FALSE(f.enabled(ctl::LowTempAlarm));
  EXPECT_EQ(t.s().poll.changeFlags, flag::IntervalChanged);
  ConfigureFlow(t.s());
  EXPECT_EQ(f.text(ctl::RecordingTime).rfind("Longest", 0), 0u);

  Click(ctl::Configure);
  ConfigureFlow(t.s());
  EXPECT_TRUE(t.messages.shown.empty()) << t.messages.last();
  EXPECT_EQ(t.s().settings.channels, 2);
}

TEST_F(ConfigureFlowTest, PdfLanguageSetsTheDateOrderOnOlderLoggersOnly) {
  t.s().device.fwVersionHigh = 0x1F;
  Select(ctl::PdfLanguage, 1);
  ConfigureFlow(t.s());
  EXPECT_EQ(f.selection(ctl::DateFormat), 2);
  Select(ctl::PdfLanguage, 0);
  ConfigureFlow(t.s());
  EXPECT_EQ(f.selection(ctl::DateFormat), 0);
  EXPECT_EQ(t.s().poll.changeFlags & flag::DateDisplayStale, 0u);

  t.s().device.fwVersionHigh = 0x20;
  Select(ctl::PdfLanguage, 1);
  ConfigureFlow(t.s());
  EXPECT_EQ(f.selection(ctl::DateFormat), 0);
}

TEST_F(ConfigureFlowTest, SetupLockFreezesTheSharedSettingsButNotTheDeviceId) {
  const int locked[] = {ctl::TimeZone,  ctl::DateFormat,  ctl::StartDelay,  ctl::Interval,
                        ctl::Channel,   ctl::TempUnit,    ctl::PdfLanguage, ctl::PowerSave,
                        ctl::Trademark, ctl::DeviceName,  ctl::UserInfo,    ctl::Website,
                        ctl::StartOnTime, ctl::StartPicker, ctl::EnableAlarm, ctl::PdfPassword,
                        ctl::RecordLedFlash, ctl::AlarmLedFlash, ctl::OutputCsv};
  f.at(ctl::DeviceId).enabled = true;
  f.setChecked(ctl::SetupLock, true);
  Click(ctl::SetupLock);
  ConfigureFlow(t.s());
  for (int id : locked) EXPECT_FALSE(f.enabled(id)) << id;
  EXPECT_TRUE(f.enabled(ctl::DeviceId));
  EXPECT_TRUE(f.enabled(ctl::Configure));

  // Locked fields are still validated and sent.
  Click(ctl::Configure);
  ConfigureFlow(t.s());
  EXPECT_TRUE(t.messages.shown.empty()) << t.messages.last();
  EXPECT_GT(t.s().block.length, 0);

  f.setChecked(ctl::SetupLock, false);
  f.setChecked(ctl::StartOnTime, false);
  Click(ctl::SetupLock);
  ConfigureFlow(t.s());
  for (int id : locked) EXPECT_TRUE(f.enabled(id)) << id;
}

}  // namespace
