#include "app/profile.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/form_events.h"
#include "app/form_model.h"
#include "app/poll_pass.h"
#include "formats/config_block.h"
#include "settings/validation.h"
#include "support/model_tool.h"
#include "support/test_tool.h"

namespace {

struct Tool : ModelTool {
  void Type(int id, const std::string& text) { form.setText(id, text); }
  void Choose(int id, int index) {
    form.setSelection(id, index);
    OnFormEvent(s(), id, FormEvent::SelectionChanged);
  }
  void Click(int id) {
    form.setChecked(id, !form.checked(id));
    OnFormEvent(s(), id, FormEvent::Clicked);
  }
  // A logger that measures both and knows degF, of the HID family.
  void Logger() {
    s().device.fwVersionHigh = 0x40;
    s().device.fwVersionLow = 0x20;
    s().device.fwVersion = 0x4020;
    s().device.capabilityFlags = 0xE0;
    s().device.sensorTempMin = -400;
    s().device.sensorTempMax = 850;
  }
  std::vector<uint8_t> Block() {
    EXPECT_TRUE(ValidateSettings(s())) << tool.messages.last();
    s().block.length = 0;
    EXPECT_TRUE(BuildConfigBlock(s()));
    const auto bytes = BlockBytes(s().block);
    return {bytes.begin(), bytes.end()};
  }
};

// A form filled in by a person: every field away from its initial value.
std::string SavedProfile(Tool& a) {
  a.Logger();
  a.Choose(ctl::TimeZone, a.form.findEntry(ctl::TimeZone, "UTC-05:30"));
  a.Choose(ctl::PdfLanguage, 1);
  RunPollPass(a.s());
  a.Choose(ctl::DateFormat, 0);  // not the one the language would suggest
  a.Type(ctl::StartDelay, "15");
  a.Type(ctl::Interval, "120");
  a.Choose(ctl::Channel, 2);
  a.Click(ctl::EnableAlarm);
  a.Choose(ctl::TempUnit, 1);
  RunPollPass(a.s());
  a.Type(ctl::LowTempAlarm, "33.0");
  a.Type(ctl::HighTempAlarm, "50.5");
  a.Type(ctl::LowHumidityAlarm, "25.5");
  a.Type(ctl::HighHumidityAlarm, "75");
  a.Click(ctl::PowerSave);
  a.Click(ctl::OutputCsv);
  a.Type(ctl::RecordLedFlash, "5");
  a.Type(ctl::AlarmLedFlash, "60");
  a.Type(ctl::Trademark, "ACME \"冷链\"");
  a.Type(ctl::DeviceName, "冷库 4, 东");
  a.Type(ctl::UserInfo, "Batch 7\\line");
  a.Type(ctl::Website, "www.example.com");
  a.Type(ctl::PdfPassword, "ab12");
  a.form.setEnabled(ctl::StartOnTime, true);
  a.Click(ctl::StartOnTime);
  a.form.setDateTime(ctl::StartPicker, {2025, 2, 28, 23, 45, 0});
  a.Type(ctl::DeviceId, "A0001");
  RunPollPass(a.s());
  return SaveProfile(a.form);
}

// Saved from one form, loaded into a fresh one before any logger is read,
// the profile gives the same form and, once a logger is there, the same
// block; only the device ID is the new logger's own.
TEST(Profile, RoundTripGivesTheSameBlock) {
  Tool a;
  const std::string profile = SavedProfile(a);
  EXPECT_EQ(profile.find("A0001"), std::string::npos);
  EXPECT_NE(profile.find("\"tempUnit\": \"F\""), std::string::npos);
  EXPECT_NE(profile.find("\"startTime\": \"2025-02-28 23:45\""), std::string::npos);

  Tool b;
  const ProfileLoad load = LoadProfile(b.s(), profile);
  ASSERT_TRUE(load.ok) << load.message;
  b.form.setDateTime(ctl::StartPicker, load.startTime);
  RunPollPass(b.s());
  EXPECT_EQ(SaveProfile(b.form), profile);
  EXPECT_EQ(b.form.text(ctl::LowTempAlarm), "33.0");
  EXPECT_EQ(b.form.text(ctl::LowTempUnitSign), "℉");
  EXPECT_EQ(b.form.text(ctl::DateFormat), "日/月/年");
  EXPECT_TRUE(b.form.enabled(ctl::StartPicker));

  b.Logger();
  b.Type(ctl::DeviceId, "A0001");
  EXPECT_EQ(b.Block(), a.Block());
  EXPECT_NEAR(b.s().settings.tempAlarmLowC, 0.55001, 1e-9);
}

// Writes the raw JSON value of one field, or drops the field.
std::string With(std::string doc, const std::string& key, const std::string& raw) {
  const std::regex line("\"" + key + "\": [^\\n]*?(,?)\\n");
  return std::regex_replace(doc, line, "\"" + key + "\": " + raw + "$1\n");
}
std::string Without(std::string doc, const std::string& key) {
  return std::regex_replace(doc, std::regex("  \"" + key + "\": [^\\n]*\\n"), "");
}

// Every kind of fault names its field and leaves the form as it was.
TEST(Profile, BadProfileChangesNothing) {
  Tool a;
  const std::string good = SavedProfile(a);
  struct Case {
    std::string doc;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"{ \"profileVersion\": 1, ", "not valid JSON"},
      {"[1, 2]", "JSON object"},
      {With(good, "profileVersion", "2"), "\"profileVersion\" 2 is not one"},
      {Without(good, "profileVersion"), "\"profileVersion\" is missing"},
      {Without(good, "intervalSeconds"), "\"intervalSeconds\" is missing"},
      {With(good, "intervalSeconds", "120"), "\"intervalSeconds\" must be a text"},
      {With(good, "intervalSeconds", "\"0\""), "\"intervalSeconds\" must be a whole number from 1 to 86400"},
      {With(good, "startDelayMinutes", "\"1e3\""), "\"startDelayMinutes\" must be a whole number"},
      {With(good, "powerSave", "\"yes\""), "\"powerSave\" must be true or false"},
      {With(good, "tempUnit", "\"K\""), "\"tempUnit\" must be one of \"C\" or \"F\""},
      {With(good, "timeZone", "\"UTC+05:45\""), "\"timeZone\" must be an entry"},
      {With(good, "tempAlarmLow", "\"2.05\""), "\"tempAlarmLow\" must be a number with at most one decimal"},
      {With(good, "tempAlarmHigh", "\"400.0\""), "\"tempAlarmHigh\" must be a number with at most one decimal from -328.0 to 392.0"},
      {With(good, "humidityAlarmHigh", "\"100.5\""), "\"humidityAlarmHigh\""},
      {With(good, "deviceName", "\"冷库冷库冷库冷库冷库冷\""), "\"deviceName\" must be at most 20 bytes"},
      {With(good, "trademark", "\"\""), "\"trademark\" must not be empty"},
      {With(good, "userInfo", "\"😀\""), "\"userInfo\" holds a character"},
      {With(good, "website", "\"www.例子.com\""), "\"website\" may hold only"},
      {With(good, "pdfPassword", "\"abc!\""), "\"pdfPassword\""},
      {With(good, "startTime", "\"2025-02-29 08:00\""), "\"startTime\" must be a date"},
      {With(good, "website", "\"\",\n  \"deviceId\": \"A1\""), "unknown field \"deviceId\""},
      {With(good, "channel", "\"Humidity\",\n  \"channel\": \"Temperature\""), "\"channel\" is given more than once"},
  };
  for (const Case& c : cases) {
    Tool b;
    b.view.changes = 0;
    const std::string before = SaveProfile(b.form);
    const uint32_t flags = b.s().poll.changeFlags;
    const ProfileLoad load = LoadProfile(b.s(), c.doc);
    EXPECT_FALSE(load.ok) << c.says;
    EXPECT_NE(load.message.find(c.says), std::string::npos) << load.message;
    EXPECT_EQ(load.message.rfind("Profile: ", 0), 0u) << load.message;
    EXPECT_EQ(SaveProfile(b.form), before) << c.says;
    EXPECT_EQ(b.view.changes, 0) << c.says;
    EXPECT_EQ(b.s().poll.changeFlags, flags) << c.says;
  }
}

}  // namespace
