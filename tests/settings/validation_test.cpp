#include <gtest/gtest.h>

#include <string>

#include "core/control_ids.h"
#include "settings/validation.h"
#include "support/test_tool.h"

namespace {

using Bytes = std::basic_string<uint8_t>;
template <std::size_t N>
Bytes Field(const std::array<uint8_t, N>& a) { return Bytes(a.begin(), a.end()); }

// A form that passes, on a logger that measures both channels in either unit.
class Validation : public ::testing::Test {
 protected:
  TestTool t;
  MemoryForm& f = t.form;
  LoggerSettings& s = t.s().settings;

  void SetUp() override {
    DeviceInfo& d = t.s().device;
    d.capabilityFlags = 0xE0;
    d.fwVersion = 0x4050;
    d.sensorTempMin = -400;
    d.sensorTempMax = 850;
    const std::pair<int, const char*> texts[] = {
        {ctl::RecordLedFlash, "5"},     {ctl::AlarmLedFlash, "10"},   {ctl::StartDelay, "0"},
        {ctl::Interval, "60"},          {ctl::LowTempAlarm, "2.0"},   {ctl::HighTempAlarm, "8.0"},
        {ctl::LowHumidityAlarm, "20.5"}, {ctl::HighHumidityAlarm, "80"},
        {ctl::Trademark, "ACME"},       {ctl::DeviceName, "温度记录仪"}, {ctl::UserInfo, ""},
        {ctl::Website, "www.example.com"}, {ctl::DeviceId, "TL-0001"},
        {ctl::PdfPassword, "Pass1234"}};
    for (const auto& [id, text] : texts) f.at(id).text = text;
    Zone("UTC+05:30");
    f.setSelection(ctl::DateFormat, 2);
    f.setSelection(ctl::Channel, 2);
    f.setSelection(ctl::TempUnit, 0);
    f.setSelection(ctl::PdfLanguage, 1);
    f.setChecked(ctl::PowerSave, true);
    f.setChecked(ctl::EnableAlarm, true);
    f.setChecked(ctl::StartOnTime, true);
    f.at(ctl::StartPicker).dateTime = {2031, 7, 15, 13, 45, 50};
  }
  void Zone(const char* text) { f.setSelection(ctl::TimeZone, f.findEntry(ctl::TimeZone, text)); }
  // Validation fails with exactly this one message.
  void ExpectFailure(const std::string& message) {
    EXPECT_FALSE(ValidateSettings(t.s()));
    ASSERT_EQ(t.messages.shown.size(), 1u);
    EXPECT_EQ(t.messages.last(), message);
    EXPECT_EQ(t.messages.shown[0].icon, MessageIcon::Warning);
  }
};

TEST_F(Validation, ValidFormFillsEverySetting) {
  s.reservedWords = {1, 2, 3, 4};
  ASSERT_TRUE(ValidateSettings(t.s())) << t.messages.last();
  EXPECT_TRUE(t.messages.shown.empty());
  EXPECT_EQ(s.reservedWords, (std::array<uint32_t, 4>{}));
  EXPECT_EQ(s.recordLedFlashSeconds, 5);
  EXPECT_EQ(s.alarmLedFlashSeconds, 10);
  EXPECT_EQ(s.tzHours, 5);
  EXPECT_EQ(s.tzMinutes, 30);
  EXPECT_EQ(s.dateFormat, 2);
  EXPECT_EQ(s.intervalSeconds, 60);
  EXPECT_EQ(s.channels, 3);
  EXPECT_DOUBLE_EQ(s.tempAlarmLowC, 2.0);
  EXPECT_DOUBLE_EQ(s.tempAlarmHighF, 46.4);
  EXPECT_DOUBLE_EQ(s.humidityAlarmLow, 20.5);
  EXPECT_DOUBLE_EQ(s.humidityAlarmHigh, 80.0);
  EXPECT_EQ(s.pdfLanguage, 1);
  EXPECT_EQ(s.powerSaveTimeout, 300);
  EXPECT_EQ(s.alarmEnabled, 1);
  EXPECT_EQ(s.outputCsv, 0);
  EXPECT_EQ(s.startOnTime, 1);
  EXPECT_EQ(Bytes({s.startYear, s.startMonth, s.startDay, s.startHour, s.startMinute}),
            Bytes({31, 7, 15, 13, 45}));
  EXPECT_EQ(Field(s.deviceName).substr(0, 11),
            Bytes({0xCE, 0xC2, 0xB6, 0xC8, 0xBC, 0xC7, 0xC2, 0xBC, 0xD2, 0xC7, 0}));
  EXPECT_EQ(Field(s.deviceId).substr(0, 8), Bytes({'T', 'L', '-', '0', '0', '0', '1', 0}));
  EXPECT_EQ(s.userInfo[0], 0);
  EXPECT_EQ(Field(s.pdfPassword), Bytes({'P', 'a', 's', 's', '1', '2', '3', '4'}));

  f.setChecked(ctl::PowerSave, false);
  Zone("UTC-03:30");
  ASSERT_TRUE(ValidateSettings(t.s()));
  EXPECT_EQ(s.powerSaveTimeout, -1);
  EXPECT_EQ(s.tzHours, -3);
  EXPECT_EQ(s.tzMinutes, -30);
  Zone("UTC-00:30");
  ASSERT_TRUE(ValidateSettings(t.s()));
  EXPECT_EQ(s.tzHours, 0);
  EXPECT_EQ(s.tzMinutes, -30);
}

TEST_F(Validation, TextOfFieldSizeIsStoredWithoutTerminator) {
  f.at(ctl::Trademark).text = std::string(20, 'T');
  ASSERT_TRUE(ValidateSettings(t.s()));
  EXPECT_EQ(Field(s.trademark), Bytes(20, 'T'));
  f.at(ctl::Trademark).text = "ABC";  // a shorter text after it must end itself
  ASSERT_TRUE(ValidateSettings(t.s()));
  EXPECT_EQ(Field(s.trademark).substr(0, 4), Bytes({'A', 'B', 'C', 0}));
}

TEST_F(Validation, BadBoxTellsWhyAndPutsCaretAtItsEnd) {
  const struct {
    int id;
    std::string text;
    const char* message;
  } cases[] = {
      {ctl::RecordLedFlash, "61", "Record LED Flash Time Error: 数值必须在0至60之内!"},
      {ctl::AlarmLedFlash, "x", "Alarm LED Flash Time Error: 存在非法字符!"},
      {ctl::StartDelay, "-5", "Start Delay Error: 数值必须在0至1440之内!"},
      {ctl::Interval, "0", "Sampling Interval Error: 数值必须在1至86400之内!"},
      {ctl::LowTempAlarm, "abc", "Temperature Low Alarm Error: 存在非法字符!"},
      {ctl::HighTempAlarm, "85.1", "Temperature High Alarm Error: 数值必须在-40.0至85.0之内!"},
      {ctl::LowHumidityAlarm, "101", "Humidity Low Alarm Error: 数值必须在0.0至100.0之内!"},
      {ctl::HighHumidityAlarm, "", "Humidity High Alarm Error: 内容为空"},
      {ctl::Trademark, std::string(21, 'T'), "Trademark Error: too long!"},
      {ctl::DeviceName, "", "Device Name Error: Empty!"},
      {ctl::UserInfo, std::string(101, 'u'), "User Information Error: too long!"},
      {ctl::Website, "www.例子.com", "Website Error: illegal characters!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    SetUp();
    t.messages.shown.clear();
    f.focused = 0;
    f.caretAtEnd = false;
    f.at(c.id).text = c.text;
    ExpectFailure(c.message);
    EXPECT_EQ(f.focused, c.id);
    EXPECT_TRUE(f.caretAtEnd);
    EXPECT_EQ(f.text(c.id), c.text) << "only the device ID box is ever cleared";
  }
}

TEST_F(Validation, FailedTextFieldLosesItsFirstByte) {
  ASSERT_TRUE(ValidateSettings(t.s()));
  f.at(ctl::Trademark).text = std::string(21, 'T');
  ExpectFailure("Trademark Error: too long!");
  EXPECT_EQ(s.trademark[0], 0);
  EXPECT_EQ(s.trademark[1], 'T');
  EXPECT_EQ(s.recordLedFlashSeconds, 5) << "earlier steps keep their results";
}

TEST_F(Validation, BadDeviceIdIsClearedFromTheBox) {
  f.at(ctl::DeviceId).text = "ID\x01";
  ExpectFailure("Device ID Error: illegal characters!");
  EXPECT_EQ(f.text(ctl::DeviceId), "");
  EXPECT_EQ(s.deviceId[0], 0);
  EXPECT_EQ(f.focused, ctl::DeviceId);
  EXPECT_TRUE(f.caretAtEnd);
}

TEST_F(Validation, CharacterTheLoggerCannotHoldIsRefusedAtItsField) {
  const struct {
    int id;
    std::string text;
    const char* message;
  } cases[] = {
      {ctl::Trademark, "ACME☃", "Trademark Error: illegal characters!"},
      {ctl::DeviceName, "☃ room", "Device Name Error: illegal characters!"},
      {ctl::UserInfo, "Keep cold 😀", "User Information Error: illegal characters!"},
      {ctl::Website, "www.☃.com", "Website Error: illegal characters!"},
      {ctl::DeviceId, "TL☃", "Device ID Error: illegal characters!"},
      // Its '?' would fall beyond the field: the length fault comes first.
      {ctl::DeviceName, std::string(20, 'N') + "☃", "Device Name Error: too long!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    SetUp();
    t.messages.shown.clear();
    f.focused = 0;
    f.caretAtEnd = false;
    f.at(c.id).text = c.text;
    ExpectFailure(c.message);
    EXPECT_EQ(f.focused, c.id);
    EXPECT_TRUE(f.caretAtEnd);
    EXPECT_EQ(f.text(c.id), c.id == ctl::DeviceId ? "" : c.text);
  }
  // A '?' the user typed is a character like any other.
  SetUp();
  t.messages.shown.clear();
  f.at(ctl::DeviceName).text = "Room ?";
  EXPECT_TRUE(ValidateSettings(t.s())) << t.messages.last();
}

TEST_F(Validation, NoZoneSelectedLeavesFocus) {
  f.setSelection(ctl::TimeZone, -1);
  ExpectFailure("Time Zone Error: 内容为空");
  EXPECT_EQ(f.focused, 0);
}

TEST_F(Validation, ChannelAndUnitMustSuitTheLogger) {
  const struct {
    int channel, unit;
    uint8_t caps;
    const char* message;
  } cases[] = {
      {1, 0, 0xA0, "This Device don't support humidity measurement\r\n"
                   "Please modify the channel parameter!"},
      {2, 0, 0xA0, "This Device don't support temperature & humidity measurement "
                   "simultaneously\r\nPlease modify the channel parameter!"},
      {2, 0, 0xC0, "This Device don't support temperature & humidity measurement "
                   "simultaneously\r\nPlease modify the channel parameter!"},
      {0, 0, 0xC0, "This Device don't support temperature measurement\r\n"
                   "Please modify the channel parameter!"},
      {-1, 0, 0x40, "This Device don't support temperature measurement\r\n"
                    "Please modify the channel parameter!"},
      {0, 1, 0x60, "This Device don't support ℉\r\nPlease modify the temperature unit parameter!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    t.messages.shown.clear();
    f.setSelection(ctl::Channel, c.channel);
    f.setSelection(ctl::TempUnit, c.unit);
    t.s().device.capabilityFlags = c.caps;
    ExpectFailure(c.message);
    EXPECT_EQ(f.focused, 0);
  }
}

TEST_F(Validation, HighAlarmsMustExceedLowOnes) {
  f.at(ctl::LowTempAlarm).text = "10.0";
  f.at(ctl::HighTempAlarm).text = "10.0";
  ExpectFailure("Temperature High Alarm must be larger than Low Alarm");
  EXPECT_EQ(f.focused, ctl::LowTempAlarm);
  EXPECT_FALSE(f.caretAtEnd);

  t.messages.shown.clear();
  f.setSelection(ctl::TempUnit, 1);  // 50.0 and 50.1 degF round to 10.0 and 10.05 degC
  f.at(ctl::LowTempAlarm).text = "50.0";
  f.at(ctl::HighTempAlarm).text = "50.1";
  f.at(ctl::LowHumidityAlarm).text = "50";
  f.at(ctl::HighHumidityAlarm).text = "50";
  ExpectFailure("Humidity High Alarm must be larger than Low Alarm");
  EXPECT_EQ(f.focused, ctl::LowHumidityAlarm);
  EXPECT_FALSE(f.caretAtEnd);
  EXPECT_NEAR(s.tempAlarmHighC, 10.05001, 1e-9);
  EXPECT_DOUBLE_EQ(s.tempAlarmHighF, 50.1);
}

TEST_F(Validation, DisabledAlarmBoxesAreSkippedUnlessTheChannelNeedsThem) {
  for (int id : {ctl::LowTempAlarm, ctl::HighTempAlarm, ctl::LowHumidityAlarm,
                 ctl::HighHumidityAlarm}) {
    f.at(id).text = "junk";
    f.setEnabled(id, false);
  }
  f.setSelection(ctl::Channel, 1);
  f.at(ctl::LowHumidityAlarm).text = "10";
  f.at(ctl::HighHumidityAlarm).text = "90";
  s.tempAlarmLowC = 7.0;
  ASSERT_TRUE(ValidateSettings(t.s())) << t.messages.last();
  EXPECT_DOUBLE_EQ(s.tempAlarmLowC, 7.0);

  // Temperature only: humidity alarms are never read, so their 0/0 start
  // values must not trip the order check.
  s = LoggerSettings{};
  f.setSelection(ctl::Channel, 0);
  f.at(ctl::LowTempAlarm).text = "1";
  f.at(ctl::HighTempAlarm).text = "2";
  f.at(ctl::HighHumidityAlarm).text = "junk";
  ASSERT_TRUE(ValidateSettings(t.s())) << t.messages.last();
  EXPECT_DOUBLE_EQ(s.humidityAlarmHigh, 0.0);

  f.at(ctl::HighTempAlarm).text = "junk";  // disabled, but the channel needs it
  ExpectFailure("Temperature High Alarm Error: 存在非法字符!");

  t.messages.shown.clear();
  f.at(ctl::HighTempAlarm).text = "2";
  f.setEnabled(ctl::HighHumidityAlarm, true);  // enabled, read whatever the channel
  ExpectFailure("Humidity High Alarm Error: 存在非法字符!");
}

TEST_F(Validation, PasswordTakesUpToEightLettersAndDigits) {
  f.at(ctl::PdfPassword).text = "abcdEFGH";
  ASSERT_TRUE(ValidateSettings(t.s()));
  EXPECT_EQ(Field(s.pdfPassword), Bytes({'a', 'b', 'c', 'd', 'E', 'F', 'G', 'H'}));
  f.at(ctl::PdfPassword).text = "";
  ASSERT_TRUE(ValidateSettings(t.s()));
  EXPECT_EQ(Field(s.pdfPassword), Bytes(8, 0));

  for (const char* text : {"abc!", "密码"}) {
    SCOPED_TRACE(text);
    t.messages.shown.clear();
    s.pdfPassword.fill('x');
    f.at(ctl::PdfPassword).text = text;
    ExpectFailure("Pdf Password can only be composed of numbers and letters!");
    EXPECT_EQ(Field(s.pdfPassword), Bytes(8, 0));
    EXPECT_EQ(f.text(ctl::PdfPassword), "");
    EXPECT_EQ(f.focused, ctl::PdfPassword);
    EXPECT_TRUE(f.caretAtEnd);
  }
  // The ninth character is only ever too many, whatever it is.
  for (const char* text : {"abcdefghi", "abcdefgh!"}) {
    SCOPED_TRACE(text);
    t.messages.shown.clear();
    f.focused = 0;
    f.at(ctl::PdfPassword).text = text;
    ExpectFailure("Pdf Password should not exceed 8 characters in length");
    EXPECT_EQ(f.focused, 0);
    EXPECT_EQ(f.text(ctl::PdfPassword), text);
  }
}

TEST_F(Validation, NewerFirmwareWithRejectFlagRefusesConfiguration) {
  t.s().device.deviceFlags = 0x04;
  t.s().device.fwVersion = 0x4060;
  EXPECT_TRUE(ValidateSettings(t.s()));
  t.s().device.fwVersion = 0x4061;
  ExpectFailure("Device Rejected Configuration");
  EXPECT_EQ(s.pdfPassword[0], 'P') << "every field was read before";
  t.messages.shown.clear();
  t.s().device.deviceFlags = 0xFB;
  EXPECT_TRUE(ValidateSettings(t.s()));
}

TEST(TemperatureAlarmReader, FahrenheitEntryRoundsCelsiusToTheLoggerStep) {
  EXPECT_NEAR(FahrenheitToRoundedCelsius(100.0), 37.80001, 1e-9);
  EXPECT_NEAR(FahrenheitToRoundedCelsius(50.0), 10.00001, 1e-9);
  EXPECT_NEAR(FahrenheitToRoundedCelsius(32.0), -0.00001, 1e-9);
  EXPECT_NEAR(FahrenheitToRoundedCelsius(-4.0), -20.00001, 1e-9);

  TestTool t;
  t.s().device.sensorTempMin = -400;
  t.s().device.sensorTempMax = 850;
  t.form.setSelection(ctl::TempUnit, 1);
  t.form.at(ctl::LowTempAlarm).text = "100.0";
  ASSERT_TRUE(ReadTemperatureAlarmLow(t.s(), NoLabel));
  EXPECT_DOUBLE_EQ(t.s().settings.tempAlarmLowF, 100.0);
  EXPECT_NEAR(t.s().settings.tempAlarmLowC, 37.80001, 1e-9);

  t.form.at(ctl::LowTempAlarm).text = "185.1";  // beyond 85 degC in degF, told nowhere
  EXPECT_FALSE(ReadTemperatureAlarmLow(t.s(), NoLabel));
  EXPECT_TRUE(t.messages.shown.empty());
  EXPECT_EQ(t.form.focused, ctl::LowTempAlarm);

  t.form.setSelection(ctl::TempUnit, 0);  // a degC entry is kept as typed
  t.form.at(ctl::HighTempAlarm).text = "10.03";
  ASSERT_TRUE(ReadTemperatureAlarmHigh(t.s(), NoLabel));
  EXPECT_DOUBLE_EQ(t.s().settings.tempAlarmHighC, 10.03);
  EXPECT_DOUBLE_EQ(t.s().settings.tempAlarmHighF, 10.03 * 1.8 + 32);
}

}  // namespace
