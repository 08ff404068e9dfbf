#include "formats/image_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/control_ids.h"
#include "app/poll_pass.h"
#include "core/codepage.h"
#include "formats/config_block.h"
#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "formats/record_layout.h"
#include "settings/validation.h"
#include "sim/logger_parameters.h"
#include "support/test_tool.h"

namespace {

constexpr uint8_t kBothSensors = img::CapTemperature | img::CapHumidity;
constexpr uint8_t kFullCaps = img::CapExtended | kBothSensors | img::CapFahrenheit;
constexpr uint8_t kKindByFlags = 1;  // a sensor kind whose channels come from the flags

struct Family {
  const char* name;
  bool hid;
};
void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

// A form in its start state, and an image written field by field at the
// offsets loggers use.
class DecoderTest : public ::testing::Test {
 protected:
  TestTool tool;
  ToolState& s = tool.s();
  MemoryForm& form = tool.form;

  DecoderTest() { InitialiseForm(s); }

  void Put8(int offset, uint8_t v) { s.image.bytes[static_cast<std::size_t>(offset)] = v; }
  void Put16(int offset, uint16_t v) {
    Put8(offset, static_cast<uint8_t>(v));
    Put8(offset + 1, static_cast<uint8_t>(v >> 8));
  }
  void Put32(int offset, uint32_t v) {
    Put16(offset, static_cast<uint16_t>(v));
    Put16(offset + 2, static_cast<uint16_t>(v >> 16));
  }
  void PutBytes(int offset, std::string_view bytes) {
    std::memcpy(s.image.bytes.data() + offset, bytes.data(), bytes.size());
  }

  // A fresh image of `length` bytes: header, capabilities and sensor kind,
  // the rest zero. The header goes into DeviceInfo as the poll pass puts it.
  void NewImage(bool hid, uint8_t caps, uint8_t kind = kKindByFlags) {
    std::fill(s.image.bytes.begin(), s.image.bytes.end(), uint8_t{0});
    s.image.length = hid ? img::HidImageHead : 640;
    Put8(img::FwVersionHigh, hid ? 0x40 : 0x24);
    Put8(img::FwVersionLow, hid ? 0x94 : 0x00);
    Put8(img::ProductIdLow, img::LoggerProductIdLow);
    Put8(img::CapabilityFlags, caps);
    Put8(img::SensorKind, kind);
    if (hid) Put16(img::RequiredToolLevel, ToolLevel);
  }

  bool Decode(bool hid, bool unlocked = true) {
    ExtractHeader(s.image, s.device);
    return hid ? DecodeHidImage(s, unlocked) : DecodeDriveImage(s, unlocked);
  }

  bool Refreshed(int id) const {
    return std::find(form.refreshed.begin(), form.refreshed.end(), id) != form.refreshed.end();
  }
};

// ---- What a sensor can measure ---------------------------------------------

TEST(SupportedChannels, KindOrFlagsDecide) {
  DeviceInfo d;
  d.capabilityFlags = 0x00;
  EXPECT_EQ(SupportedChannels(d, 0x41), 2);
  EXPECT_EQ(SupportedChannels(d, 0xE1), 3);
  EXPECT_EQ(SupportedChannels(d, 0x21), 1);
  EXPECT_EQ(SupportedChannels(d, 0x0B), 1);  // above 10, no channel bits
  EXPECT_EQ(SupportedChannels(d, 2), 1);
  EXPECT_EQ(SupportedChannels(d, 0), 1);
  EXPECT_EQ(SupportedChannels(d, 1), 0);
  d.capabilityFlags = 0x60;
  for (int k : {1, 6, 9, 10, 0x81})
    EXPECT_EQ(SupportedChannels(d, static_cast<uint8_t>(k)), 3) << k;
  EXPECT_EQ(SupportedChannels(d, 2), 1);
  d.capabilityFlags = 0x40;
  EXPECT_EQ(SupportedChannels(d, 9), 2);
}

// ---- DeviceInfo, capacity cap, too-old test, version text --------------------

TEST_F(DecoderTest, CopiesDeviceInfoAndOnlyHidTakesFlagsAndToolLevel) {
  NewImage(true, 0x3D, 7);
  Put8(img::TempSampleBits, 12);
  Put8(img::MemoryBytesLow, 0x34);
  Put8(img::MemoryBytesMid, 0x12);
  Put8(img::MemoryBytesHigh, 0x05);
  Put16(img::SensorTempMax, 850);
  Put16(img::SensorTempMin, static_cast<uint16_t>(-400));
  Put8(img::ProductIdHigh, 0x11);
  Put8(img::DeviceFlags, 0x04);
  Put16(img::RequiredToolLevel, 0xFFFF);
  ASSERT_TRUE(Decode(true));
  EXPECT_EQ(s.device.capabilityFlags, 0x3D);
  EXPECT_EQ(s.device.sensorKind, 7);
  EXPECT_EQ(s.device.tempSampleBits, 12);
  EXPECT_EQ(s.device.recordMemoryBytes, 0x051234u);
  EXPECT_EQ(s.device.sensorTempMax, 850);
  EXPECT_EQ(s.device.sensorTempMin, -400);
  EXPECT_EQ(s.device.productIdHigh, 0x11);
  EXPECT_EQ(s.device.productIdLow, 0x82);
  EXPECT_EQ(s.device.deviceFlags, 0x04);
  EXPECT_EQ(s.device.requiredToolLevel, 0xFFFF);

  // A drive image keeps what the last HID logger said about these two.
  NewImage(false, 0x20);
  Put8(img::DeviceFlags, 0x00);
  Put16(img::RequiredToolLevel, 0x1234);
  ASSERT_TRUE(Decode(false));
  EXPECT_EQ(s.device.capabilityFlags, 0x20);
  EXPECT_EQ(s.device.deviceFlags, 0x04);
  EXPECT_EQ(s.device.requiredToolLevel, 0xFFFF);
}

TEST_F(DecoderTest, DriveMemoryTypeCapsRecordCapacity) {
  struct Case {
    uint8_t code;
    uint32_t before, after;
  } cases[] = {{19, 50000, 10000}, {20, 50000, 20000}, {20, 15000, 15000},
               {21, 50000, 40000}, {22, 0xFFFFFFFF, 80000}, {23, 50000, 50000},
               {18, 50000, 50000}};
  for (const Case& c : cases) {
    NewImage(false, 0x20);
    Put8(img::MemoryTypeCode, c.code);
    s.device.recordCapacity = c.before;
    ASSERT_TRUE(Decode(false));
    EXPECT_EQ(s.device.recordCapacity, c.after) << int{c.code};
  }
  NewImage(true, 0x20);
  Put8(img::MemoryTypeCode, 20);
  s.device.recordCapacity = 50000;
  ASSERT_TRUE(Decode(true));
  EXPECT_EQ(s.device.recordCapacity, 50000u);
}

TEST_F(DecoderTest, HidToolLevelAboveOursRefusesTheLogger) {
  for (uint16_t level : {uint16_t{821}, uint16_t{0}, uint16_t{0xFFFF}}) {
    NewImage(true, kFullCaps);
    Put16(img::RequiredToolLevel, level);
    EXPECT_TRUE(Decode(true)) << level;
  }
  EXPECT_TRUE(tool.messages.shown.empty());

  NewImage(true, kFullCaps);
  Put16(img::RequiredToolLevel, 822);
  PutBytes(img::DeviceName, "Refused");
  form.at(ctl::FwVersion).text = "FW Version:";
  s.poll.changeFlags = 0;
  s.device.recordCapacity = 1234;
  EXPECT_FALSE(Decode(true));
  ASSERT_EQ(tool.messages.shown.size(), 1u);
  EXPECT_EQ(tool.messages.last(),
            "This configuration tool is too old！\r\nPlease use the lateset configuration tool ");
  EXPECT_EQ(tool.messages.shown[0].icon, MessageIcon::Warning);
  // DeviceInfo and the channel request are taken, the form is not.
  EXPECT_EQ(s.device.requiredToolLevel, 822);
  EXPECT_EQ(s.device.capabilityFlags, kFullCaps);
  EXPECT_EQ(s.poll.changeFlags, flag::ChannelChanged);
  EXPECT_EQ(form.text(ctl::FwVersion), "FW Version:");
  EXPECT_EQ(form.text(ctl::DeviceName), "");
}

TEST_F(DecoderTest, DriveTooOldTestUsesTheLevelLeftByHid) {
  NewImage(false, kFullCaps);
  Put16(img::RequiredToolLevel, 0x9999);  // a drive image's bytes here mean nothing
  s.device.recordCapacity = 50000;
  Put8(img::MemoryTypeCode, 19);
  EXPECT_TRUE(Decode(false));

  s.device.requiredToolLevel = 822;
  s.device.recordCapacity = 50000;
  EXPECT_FALSE(Decode(false, false));
  ASSERT_EQ(tool.messages.shown.size(), 1u);
  EXPECT_EQ(tool.messages.last(),
            "This configuration tool is too old! Please use the latest version of the "
            "Configuration tool");
  EXPECT_EQ(tool.messages.shown[0].icon, MessageIcon::Warning);
  EXPECT_EQ(s.device.recordCapacity, 10000u);  // the cap comes before the test

  s.device.requiredToolLevel = 0xFFFF;
  EXPECT_TRUE(Decode(false));
}

TEST_F(DecoderTest, VersionTextPerFamily) {
  NewImage(false, 0x20);
  Put8(img::FwVersionHigh, 0x2A);
  ASSERT_TRUE(Decode(false));
  EXPECT_EQ(form.text(ctl::FwVersion), "FW Version:V2.A");
  EXPECT_TRUE(Refreshed(ctl::FwVersion));

  NewImage(true, 0x20);
  ASSERT_TRUE(Decode(true));
  EXPECT_EQ(form.text(ctl::FwVersion), "Fw Version:V4.094");
  NewImage(true, 0x20);
  Put8(img::FwVersionHigh, 0x4F);
  Put8(img::FwVersionLow, 0xFF);
  ASSERT_TRUE(Decode(true));
  EXPECT_EQ(form.text(ctl::FwVersion), "Fw Version:V4.FFF");
}

// ---- Both families ---------------------------------------------------------

class BothFamilies : public DecoderTest, public ::testing::WithParamInterface<Family> {
 protected:
  bool hid() const { return GetParam().hid; }
  bool Decode(bool unlocked = true) { return DecoderTest::Decode(hid(), unlocked); }
};

INSTANTIATE_TEST_SUITE_P(Decoders, BothFamilies,
                         ::testing::Values(Family{"Drive", false}, Family{"Hid", true}),
                         [](const ::testing::TestParamInfo<Family>& p) { return std::string(p.param.name); });

TEST_P(BothFamilies, SetupLockTakesOnlyTheDeviceId) {
  NewImage(hid(), kFullCaps);
  PutBytes(img::DeviceId, "ID-0042");
  PutBytes(img::DeviceName, "Other");
  Put8(img::PdfLanguage, 1);
  Put8(img::TempUnit, 1);
  Put8(img::ChannelMask, 3);
  Put8(img::TzHours, 8);
  Put32(img::StartDelaySeconds, 600);
  Put16(img::TempAlarmHigh, 600);
  Put8(img::OptionBits, 0x06);
  Put32(img::PowerSaveTimeout, 300);
  Put8(img::PdfPassword, 'x');
  form.setText(ctl::DeviceName, "Mine");
  form.setEnabled(ctl::TimeZone, false);
  form.setChecked(ctl::OutputCsv, true);
  const auto before = form.controls;
  const LoggerSettings settingsBefore = s.settings;

  ASSERT_TRUE(Decode(false));
  EXPECT_EQ(form.text(ctl::DeviceId), "ID-0042");
  EXPECT_TRUE(Refreshed(ctl::DeviceId));
  EXPECT_EQ(s.poll.changeFlags, flag::ChannelChanged);
  EXPECT_EQ(s.settings.tempAlarmHighC, settingsBefore.tempAlarmHighC);
  EXPECT_EQ(s.device.capabilityFlags, kFullCaps);
  for (const auto& [id, control] : before) {
    if (id == ctl::DeviceId || id == ctl::FwVersion) continue;
    const auto& now = form.controls.at(id);
    EXPECT_EQ(now.text, control.text) << id;
    EXPECT_EQ(now.selection, control.selection) << id;
    EXPECT_EQ(now.checked, control.checked) << id;
    EXPECT_EQ(now.enabled, control.enabled) << id;
  }
  EXPECT_EQ(form.controls.size(), before.size() + (before.count(ctl::FwVersion) ? 0 : 1));
}

TEST_P(BothFamilies, WithoutExtendedSetOnlyChannelRuleApplies) {
  NewImage(hid(), kBothSensors);
  Put8(img::ChannelMask, 1);
  PutBytes(img::DeviceName, "Ignored");
  Put16(img::TempAlarmHigh, 600);
  form.setSelection(ctl::Channel, 2);
  form.setSelection(ctl::TempUnit, 1);
  form.setText(ctl::DeviceName, "Mine");
  form.setEnabled(ctl::TimeZone, false);
  form.setEnabled(ctl::DateFormat, false);
  form.setChecked(ctl::OutputCsv, true);
  form.setEnabled(ctl::StartOnTime, false);

  ASSERT_TRUE(Decode());
  EXPECT_EQ(s.poll.changeFlags, flag::ChannelChanged);  // no TempUnitChanged
  EXPECT_EQ(s.settings.tempAlarmHighC, 8.0);
  EXPECT_EQ(form.text(ctl::DeviceName), "Mine");
  EXPECT_TRUE(form.enabled(ctl::TimeZone));
  EXPECT_TRUE(form.enabled(ctl::DateFormat));
  // The HID family offers Start On Time and starts with CSV output off.
  EXPECT_EQ(form.enabled(ctl::StartOnTime), hid());
  EXPECT_EQ(form.checked(ctl::OutputCsv), !hid());
  // Both channels, no Fahrenheit: channel kept, unit forced to Celsius.
  EXPECT_EQ(form.selection(ctl::Channel), 2);
  EXPECT_TRUE(form.enabled(ctl::Channel));
  EXPECT_EQ(form.selection(ctl::TempUnit), 0);
  EXPECT_FALSE(form.enabled(ctl::TempUnit));
}

TEST_P(BothFamilies, BasicChannelRuleFollowsTheSensor) {
  struct Case {
    uint8_t caps;
    uint8_t kind;
    int channel;  // expected selection, -1: the form's 2 is kept
    bool channelOn, unitOn, tempOn, humOn;
    int unit;  // expected selection, the form's 1 unless forced
  } cases[] = {
      {0x40, kKindByFlags, 1, false, false, false, true, 1},  // humidity only
      {0x00, 0x41, 1, false, false, false, true, 1},         // humidity by kind
      {0xE0, kKindByFlags, -1, true, true, true, true, 1},    // both, Fahrenheit
      {0x60, kKindByFlags, -1, true, false, true, true, 0},   // both, Celsius only
      {0xA0, kKindByFlags, 0, false, true, true, false, 1},   // temperature, Fahrenheit
      {0x40, 2, 0, false, false, true, false, 1},             // temperature by kind
      {0x00, kKindByFlags, 0, false, false, true, false, 1},  // nothing supported
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "caps " << int{c.caps} << " kind " << int{c.kind});
    NewImage(hid(), c.caps, c.kind);
    form.setSelection(ctl::Channel, 2);
    form.setSelection(ctl::TempUnit, 1);
    // Start from the opposite of what is expected, so every state is set.
    form.setEnabled(ctl::Channel, !c.channelOn);
    form.setEnabled(ctl::TempUnit, !c.unitOn);
    form.setEnabled(ctl::LowTempAlarm, !c.tempOn);
    form.setEnabled(ctl::HighTempAlarm, !c.tempOn);
    form.setEnabled(ctl::LowHumidityAlarm, !c.humOn);
    form.setEnabled(ctl::HighHumidityAlarm, !c.humOn);
    ASSERT_TRUE(Decode());
    EXPECT_EQ(form.selection(ctl::Channel), c.channel < 0 ? 2 : c.channel);
    EXPECT_EQ(form.enabled(ctl::Channel), c.channelOn);
    EXPECT_EQ(form.selection(ctl::TempUnit), c.unit);
    EXPECT_EQ(form.enabled(ctl::TempUnit), c.unitOn);
    EXPECT_EQ(form.enabled(ctl::LowTempAlarm), c.tempOn);
    EXPECT_EQ(form.enabled(ctl::HighTempAlarm), c.tempOn);
    EXPECT_EQ(form.enabled(ctl::LowHumidityAlarm), c.humOn);
    EXPECT_EQ(form.enabled(ctl::HighHumidityAlarm), c.humOn);
  }
}

TEST_P(BothFamilies, ExtendedSetFillsTheForm) {
  NewImage(hid(), kFullCaps);
  Put8(img::TzHours, static_cast<uint8_t>(-5));
  Put8(img::TzMinutes, static_cast<uint8_t>(-30));
  Put8(img::PdfLanguage, 1);
  Put8(img::DateFormat, 1);
  Put8(img::ChannelMask, 3);
  Put8(img::TempUnit, 1);
  Put32(img::StartDelaySeconds, 90);
  Put32(img::IntervalSeconds, 300);
  Put16(img::TempAlarmHigh, 160);
  Put16(img::TempAlarmLow, static_cast<uint16_t>(-800));
  Put16(img::HumidityAlarmHigh, 655);
  Put16(img::HumidityAlarmLow, 100);
  PutBytes(img::DeviceName, "Cold room 3");
  PutBytes(img::DeviceId, "SN000123");
  PutBytes(img::Website, "www.example.com");
  PutBytes(img::UserInfo, "Keep below 8 C");
  PutBytes(img::Trademark, "ACME");
  Put16(img::AlarmLedSeconds, 7);
  Put16(img::RecordLedSeconds, 9);
  form.setEnabled(ctl::TimeZone, false);
  form.setEnabled(ctl::LowHumidityAlarm, false);
  form.setEnabled(ctl::HighHumidityAlarm, false);

  ASSERT_TRUE(Decode());
  EXPECT_EQ(s.poll.changeFlags, flag::ChannelChanged | flag::TempUnitChanged);
  EXPECT_EQ(form.text(ctl::TimeZone), "UTC-05:30");
  EXPECT_TRUE(form.enabled(ctl::TimeZone));
  EXPECT_EQ(form.selection(ctl::PdfLanguage), 1);
  EXPECT_EQ(form.selection(ctl::DateFormat), 1);
  EXPECT_EQ(form.selection(ctl::Channel), 2);
  EXPECT_TRUE(form.enabled(ctl::Channel));
  EXPECT_EQ(form.selection(ctl::TempUnit), 1);
  EXPECT_TRUE(form.enabled(ctl::TempUnit));
  EXPECT_EQ(form.text(ctl::StartDelay), "1");
  EXPECT_EQ(form.text(ctl::Interval), "300");
  EXPECT_DOUBLE_EQ(s.settings.tempAlarmHighC, 8.0);
  EXPECT_DOUBLE_EQ(s.settings.tempAlarmHighF, 46.4);
  EXPECT_DOUBLE_EQ(s.settings.tempAlarmLowC, -40.0);
  EXPECT_DOUBLE_EQ(s.settings.tempAlarmLowF, -40.0);
  EXPECT_EQ(form.text(ctl::HighHumidityAlarm), "65.5");
  EXPECT_EQ(form.text(ctl::LowHumidityAlarm), "10.0");
  EXPECT_TRUE(form.enabled(ctl::HighHumidityAlarm));
  EXPECT_TRUE(form.enabled(ctl::LowHumidityAlarm));
  EXPECT_EQ(form.text(ctl::DeviceName), "Cold room 3");
  EXPECT_EQ(form.text(ctl::DeviceId), "SN000123");
  EXPECT_TRUE(Refreshed(ctl::DeviceId));
  EXPECT_EQ(form.text(ctl::Website), "www.example.com");
  EXPECT_EQ(form.text(ctl::UserInfo), "Keep below 8 C");
  EXPECT_EQ(form.text(ctl::Trademark), "ACME");
  // LED flash times exist on drive loggers only.
  EXPECT_EQ(form.text(ctl::AlarmLedFlash), hid() ? "0" : "7");
  EXPECT_EQ(form.text(ctl::RecordLedFlash), hid() ? "0" : "9");
}

TEST_P(BothFamilies, ParameterEdgeValues) {
  struct Case {
    int8_t tzHours, tzMinutes;
    const char* zone;
    uint32_t delay;
    const char* delayText;
    int16_t alarm;
    double c, f;
  } cases[] = {
      {8, 0, "UTC+08:00", 59, "0", 0, 0.0, 32.0},
      {5, 30, "UTC+05:30", 60, "1", 1, 0.05, 32.09},
      {-12, 0, "UTC-12:00", 0xFFFFFFFF, "71582788", -1, -0.05, 31.91},
      {14, 0, "UTC+00:00", 3599, "59", 32767, 1638.35, 2981.03},  // no entry
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    NewImage(hid(), kFullCaps);
    Put8(img::TzHours, static_cast<uint8_t>(c.tzHours));
    Put8(img::TzMinutes, static_cast<uint8_t>(c.tzMinutes));
    Put32(img::StartDelaySeconds, c.delay);
    Put16(img::TempAlarmHigh, static_cast<uint16_t>(c.alarm));
    ASSERT_TRUE(Decode());
    EXPECT_EQ(form.text(ctl::TimeZone), c.zone);
    EXPECT_EQ(form.text(ctl::StartDelay), c.delayText);
    EXPECT_DOUBLE_EQ(s.settings.tempAlarmHighC, c.c);
    EXPECT_NEAR(s.settings.tempAlarmHighF, c.f, 1e-9);
  }
}

TEST_P(BothFamilies, OutOfRangeSelectorsFallBack) {
  struct Case {
    uint8_t language, dateFormat, unit;
    int language_, dateFormat_, unit_;
  } cases[] = {
      {2, 7, 5, 0, 0, 0}, {1, 7, 2, 1, 2, 0}, {0, 2, 1, 0, 2, 1}, {1, 0, 0, 1, 0, 0},
  };
  for (const Case& c : cases) {
    NewImage(hid(), kFullCaps);
    Put8(img::PdfLanguage, c.language);
    Put8(img::DateFormat, c.dateFormat);
    Put8(img::TempUnit, c.unit);
    ASSERT_TRUE(Decode());
    EXPECT_EQ(form.selection(ctl::PdfLanguage), c.language_);
    EXPECT_EQ(form.selection(ctl::DateFormat), c.dateFormat_);
    EXPECT_EQ(form.selection(ctl::TempUnit), c.unit_);
  }
  // Without Fahrenheit support the unit is Celsius whatever the image says.
  NewImage(hid(), kFullCaps & ~img::CapFahrenheit);
  Put8(img::TempUnit, 1);
  ASSERT_TRUE(Decode());
  EXPECT_EQ(form.selection(ctl::TempUnit), 0);
  EXPECT_FALSE(form.enabled(ctl::TempUnit));
}

TEST_P(BothFamilies, ChannelComboAndHumidityAlarms) {
  struct Case {
    uint8_t caps, kind, mask;
    int channel;
    bool channelOn, humidityShown;
  } cases[] = {
      {0x61, kKindByFlags, 3, 2, true, true},
      {0x61, kKindByFlags, 2, 1, true, true},
      {0x61, kKindByFlags, 1, 0, true, false},
      {0x61, kKindByFlags, 5, 0, true, false},
      {0x41, kKindByFlags, 1, 1, false, true},   // humidity only, whatever the mask
      {0x21, kKindByFlags, 3, 0, false, false},  // temperature only
      {0x61, 2, 3, 2, true, false},              // the kind has no humidity sensor
      {0x61, 0x61, 2, 1, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "caps " << int{c.caps} << " kind " << int{c.kind}
                                    << " mask " << int{c.mask});
    NewImage(hid(), c.caps, c.kind);
    Put8(img::ChannelMask, c.mask);
    Put16(img::HumidityAlarmHigh, 900);
    Put16(img::HumidityAlarmLow, 5);
    form.setText(ctl::HighHumidityAlarm, "80.0");
    form.setText(ctl::LowHumidityAlarm, "20.0");
    ASSERT_TRUE(Decode());
    EXPECT_EQ(form.selection(ctl::Channel), c.channel);
    EXPECT_EQ(form.enabled(ctl::Channel), c.channelOn);
    EXPECT_EQ(form.enabled(ctl::HighHumidityAlarm), c.humidityShown);
    EXPECT_EQ(form.enabled(ctl::LowHumidityAlarm), c.humidityShown);
    EXPECT_EQ(form.text(ctl::HighHumidityAlarm), c.humidityShown ? "90.0" : "80.0");
    EXPECT_EQ(form.text(ctl::LowHumidityAlarm), c.humidityShown ? "0.5" : "20.0");
  }
}

TEST_P(BothFamilies, TextFieldsEndAtNulOrAtTheirEnd) {
  NewImage(hid(), kFullCaps);
  PutBytes(img::DeviceName, std::string(20, 'N'));
  PutBytes(img::DeviceId, std::string(20, 'I'));
  PutBytes(img::Website, std::string(50, 'W'));
  PutBytes(img::UserInfo, std::string(100, 'U'));
  PutBytes(img::Trademark, std::string("TM\0hidden", 9));
  Put8(img::Trademark + 19, 'Z');
  ASSERT_TRUE(Decode());
  EXPECT_EQ(form.text(ctl::DeviceName), std::string(20, 'N'));
  EXPECT_EQ(form.text(ctl::DeviceId), std::string(20, 'I'));
  EXPECT_EQ(form.text(ctl::Website), std::string(50, 'W'));
  EXPECT_EQ(form.text(ctl::UserInfo), std::string(100, 'U'));
  EXPECT_EQ(form.text(ctl::Trademark), "TM");

  NewImage(hid(), kFullCaps);
  PutBytes(img::DeviceName, ToCodePage("冷库温度记录仪"));
  std::string ten = ToCodePage("一二三四五六七八九十");
  ASSERT_EQ(ten.size(), 20u);
  PutBytes(img::DeviceId, ten);
  PutBytes(img::UserInfo, ToCodePage("温度℃"));
  // A double-byte character cut by the field's end, or by the NUL after it.
  PutBytes(img::Trademark, std::string(19, 'T') + "\xD6");
  PutBytes(img::Website, "www.\xD6");
  ASSERT_TRUE(Decode());
  EXPECT_EQ(form.text(ctl::DeviceName), "冷库温度记录仪");
  EXPECT_EQ(form.text(ctl::DeviceId), "一二三四五六七八九十");
  EXPECT_EQ(form.text(ctl::UserInfo), "温度℃");
  EXPECT_EQ(form.text(ctl::Trademark), std::string(19, 'T'));
  EXPECT_EQ(form.text(ctl::Website), "www.");
}

// What the form accepts goes through validation and the encoder to a logger
// (the virtual one takes the records into its image) and is decoded back
// unchanged, also when it fills its field to the last byte.
TEST_P(BothFamilies, AcceptedTextsComeBackAsTyped) {
  struct Texts {
    std::string name, id, website, userInfo, trademark, password;
  };
  std::string fiftyChinese;
  for (int i = 0; i < 5; ++i) fiftyChinese += "冷库一号温度记录仪器";
  const Texts cases[] = {
      {"Freezer 4 / Rack 12B", "SN-2024-000000000042", std::string(46, 'w') + ".com",
       std::string(100, 'u'), "ACME Instruments Ltd", "Ab3dEf7H"},
      {"一二三四五六七八九十", "ID-00000000000000009", "http://example.com/", fiftyChinese,
       "温湿度℃记录仪器厂家", "1"},
      {"冷库A1", "x", "", "", "商标", ""},
  };
  for (const Texts& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> image = DefaultLoggerImage(hid() ? 0x40 : 0x24, hid() ? 0x94 : 0x10);
    auto load = [&] {
      std::copy(image.begin(), image.end(), s.image.bytes.begin());
      s.image.length = static_cast<uint32_t>(image.size());
      ASSERT_TRUE(Decode());
    };
    load();
    form.setText(ctl::DeviceName, c.name);
    form.setText(ctl::DeviceId, c.id);
    form.setText(ctl::Website, c.website);
    form.setText(ctl::UserInfo, c.userInfo);
    form.setText(ctl::Trademark, c.trademark);
    if (hid()) form.setText(ctl::PdfPassword, c.password);
    ASSERT_TRUE(ValidateSettings(s)) << tool.messages.last();
    s.block = {};
    ASSERT_TRUE(BuildConfigBlock(s));

    std::vector<ReceivedRecord> records;
    for (std::size_t offset = 0;;) {
      RecordView r = ReadRecord(BlockBytes(s.block), offset);
      ASSERT_EQ(r.status, RecordStatus::Ok);
      if (r.command == kEndCommand) break;
      records.push_back({r.command, r.data});
      offset += r.length;
    }
    LoggerClock clock{};
    ASSERT_TRUE(ApplyRecords(image, records, {true, true}, clock));
    for (int id : {ctl::DeviceName, ctl::DeviceId, ctl::Website, ctl::UserInfo, ctl::Trademark,
                   ctl::PdfPassword})
      form.setText(id, "stale");
    load();
    EXPECT_EQ(form.text(ctl::DeviceName), c.name);
    EXPECT_EQ(form.text(ctl::DeviceId), c.id);
    EXPECT_EQ(form.text(ctl::Website), c.website);
    EXPECT_EQ(form.text(ctl::UserInfo), c.userInfo);
    EXPECT_EQ(form.text(ctl::Trademark), c.trademark);
    EXPECT_EQ(form.text(ctl::PdfPassword), hid() ? c.password : "");
  }
}

// ---- Option controls ---------------------------------------------------------

TEST_F(DecoderTest, DriveOptionControlsAreFixed) {
  NewImage(false, kFullCaps);
  Put8(img::OptionBits, 0x02);  // a drive logger's bytes here mean nothing
  Put32(img::PowerSaveTimeout, 300);
  PutBytes(img::PdfPassword, "abcd");
  form.setText(ctl::PdfPassword, "old");
  form.setChecked(ctl::StartOnTime, true);
  form.setEnabled(ctl::StartOnTime, true);
  form.setEnabled(ctl::StartPicker, true);
  form.setChecked(ctl::PowerSave, true);
  form.setChecked(ctl::OutputCsv, true);
  form.setChecked(ctl::EnableAlarm, false);
  ASSERT_TRUE(Decode(false));
  EXPECT_EQ(form.text(ctl::PdfPassword), "");
  EXPECT_FALSE(form.enabled(ctl::PdfPassword));
  EXPECT_FALSE(form.checked(ctl::StartOnTime));
  EXPECT_FALSE(form.enabled(ctl::StartOnTime));
  EXPECT_FALSE(form.enabled(ctl::StartPicker));
  EXPECT_FALSE(form.checked(ctl::PowerSave));
  EXPECT_FALSE(form.enabled(ctl::PowerSave));
  EXPECT_FALSE(form.checked(ctl::OutputCsv));
  EXPECT_FALSE(form.enabled(ctl::OutputCsv));
  EXPECT_TRUE(form.checked(ctl::EnableAlarm));
  EXPECT_FALSE(form.enabled(ctl::EnableAlarm));
}

TEST_F(DecoderTest, HidOptionControlsFollowTheImage) {
  struct Case {
    uint8_t options;
    uint32_t powerSave;
    bool csv, alarm, save;
  } cases[] = {
      {0x00, 0xFFFFFFFF, false, false, false},
      {0x02, 300, true, false, true},
      {0x04, 0, false, true, true},
      {0x07, 0xFFFFFFFE, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.options});
    NewImage(true, kFullCaps);
    Put8(img::OptionBits, c.options);
    Put32(img::PowerSaveTimeout, c.powerSave);
    for (int id : {ctl::PowerSave, ctl::OutputCsv, ctl::EnableAlarm, ctl::StartOnTime})
      form.setEnabled(id, false);
    form.setEnabled(ctl::PdfPassword, false);
    form.setChecked(ctl::StartOnTime, true);
    form.setText(ctl::RecordLedFlash, "5");
    ASSERT_TRUE(Decode(true));
    EXPECT_EQ(form.checked(ctl::OutputCsv), c.csv);
    EXPECT_EQ(form.checked(ctl::EnableAlarm), c.alarm);
    EXPECT_EQ(form.checked(ctl::PowerSave), c.save);
    EXPECT_TRUE(form.enabled(ctl::OutputCsv));
    EXPECT_TRUE(form.enabled(ctl::EnableAlarm));
    EXPECT_TRUE(form.enabled(ctl::PowerSave));
    EXPECT_TRUE(form.enabled(ctl::StartOnTime));
    EXPECT_TRUE(form.checked(ctl::StartOnTime));
    EXPECT_FALSE(form.enabled(ctl::PdfPassword));  // left as it was
    EXPECT_EQ(form.text(ctl::RecordLedFlash), "5");
  }
}

TEST_F(DecoderTest, HidPasswordIsCheckedAndABadOneZeroed) {
  NewImage(true, kFullCaps);
  PutBytes(img::PdfPassword, std::string("ab12\0\0\0\0", 8));
  ASSERT_TRUE(Decode(true));
  EXPECT_EQ(form.text(ctl::PdfPassword), "ab12");

  NewImage(true, kFullCaps);
  PutBytes(img::PdfPassword, "Zz09Yy87");
  Put8(img::PdfPassword + 8, 'X');  // beyond the field
  ASSERT_TRUE(Decode(true));
  EXPECT_EQ(form.text(ctl::PdfPassword), "Zz09Yy87");

  for (std::string_view bad : {std::string_view("ab-1"), std::string_view("1234567 "),
                               std::string_view("\xD6\xD0")}) {
    NewImage(true, kFullCaps);
    PutBytes(img::PdfPassword, bad);
    form.setText(ctl::PdfPassword, "old");
    ASSERT_TRUE(Decode(true));
    EXPECT_EQ(form.text(ctl::PdfPassword), "");
    for (int i = 0; i < img::PdfPasswordSize; ++i)
      EXPECT_EQ(s.image.bytes[static_cast<std::size_t>(img::PdfPassword + i)], 0) << i;
  }
}

// ---- A short HID image -------------------------------------------------------

TEST_F(DecoderTest, ShortHidImageDoesNotShowAnEarlierLoggersBytes) {
  NewImage(true, kFullCaps);
  Put8(img::ChannelMask, 3);
  Put8(img::TzHours, 8);
  Put8(img::PdfLanguage, 1);
  Put32(img::StartDelaySeconds, 600);
  Put32(img::IntervalSeconds, 60);
  Put16(img::TempAlarmHigh, 600);
  Put16(img::HumidityAlarmHigh, 800);
  PutBytes(img::DeviceName, "Long logger");
  PutBytes(img::DeviceId, "LONG-ID");
  PutBytes(img::Trademark, "ACME");
  Put8(img::OptionBits, 0x06);
  Put32(img::PowerSaveTimeout, 300);
  PutBytes(img::PdfPassword, "secret1");
  ASSERT_TRUE(Decode(true));
  ASSERT_EQ(form.text(ctl::DeviceName), "Long logger");

  // The next logger ends its image inside the device ID: the buffer keeps
  // the first logger's bytes from there on.
  s.image.length = img::DeviceId + 3;
  PutBytes(img::DeviceId, "NEW");
  PutBytes(img::DeviceName, "Short");
  Put8(img::DeviceName + 5, 0);
  Put32(img::StartDelaySeconds, 120);
  ASSERT_TRUE(Decode(true));
  EXPECT_EQ(form.text(ctl::DeviceName), "Short");
  EXPECT_EQ(form.text(ctl::DeviceId), "NEW");
  EXPECT_EQ(form.text(ctl::StartDelay), "2");
  EXPECT_EQ(form.text(ctl::Trademark), "");
  EXPECT_EQ(form.text(ctl::Website), "");
  EXPECT_EQ(form.text(ctl::PdfPassword), "");
  EXPECT_EQ(form.text(ctl::TimeZone), "UTC+00:00");
  EXPECT_EQ(form.selection(ctl::Channel), 0);
  EXPECT_FALSE(form.checked(ctl::OutputCsv));
  EXPECT_FALSE(form.checked(ctl::EnableAlarm));
  EXPECT_TRUE(form.checked(ctl::PowerSave));  // zero is not the "off" value

  // Shorter still: the header's capability byte is gone too.
  s.image.length = img::ProductIdLow + 1;
  s.device.requiredToolLevel = 0;
  Put16(img::RequiredToolLevel, 900);
  ASSERT_TRUE(Decode(true));
  EXPECT_EQ(s.device.requiredToolLevel, 0);
  s.image.length = img::CapabilityFlags;
  ASSERT_TRUE(Decode(true));
  EXPECT_EQ(s.device.capabilityFlags, 0);
}

}  // namespace
