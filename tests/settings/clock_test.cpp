#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/control_ids.h"
#include "settings/clock.h"
#include "support/test_tool.h"

namespace {

std::string Show(const LoggerClock& c) {
  char text[40];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return text;
}

void SelectZone(TestTool& tool, const char* text) {
  int index = tool.form.findEntry(ctl::TimeZone, text);
  ASSERT_GE(index, 0) << text;
  tool.form.setSelection(ctl::TimeZone, index);
}

// ---- The PC's local time moved into the selected zone -----------------------

struct ZoneCase {
  const char* what;
  int32_t pcOffset;
  const char* zone;
  LocalTime local;
  const char* expected;  // loggerClock, year counted from 2000
};

TEST(LoggerClock, MovesLocalTimeIntoSelectedZone) {
  const ZoneCase cases[] = {
      {"same zone", 480, "UTC+08:00", {2024, 5, 6, 7, 8, 9}, "24-05-06 07:08:09"},
      {"back over a leap day", 480, "UTC-05:00", {2024, 3, 1, 3, 10, 20}, "24-02-29 14:10:20"},
      {"forward over new year", -300, "UTC+08:00", {2023, 12, 31, 23, 30, 0}, "24-01-01 12:30:00"},
      {"quarter-hour zone", 345, "UTC+06:00", {2024, 6, 1, 10, 50, 0}, "24-06-01 11:05:00"},
      {"minute borrow into the day before", 345, "UTC+05:30", {2024, 3, 1, 0, 10, 0},
       "24-02-29 23:55:00"},
      {"2100 counts as leap, forward", 0, "UTC+02:00", {2100, 2, 28, 22, 0, 0}, "100-02-29 00:00:00"},
      {"2100 counts as leap, back", 0, "UTC-02:00", {2100, 3, 1, 1, 0, 0}, "100-02-29 23:00:00"},
      {"2000 is leap", 0, "UTC-02:00", {2000, 3, 1, 1, 0, 0}, "0-02-29 23:00:00"},
      {"2023 is not leap", 0, "UTC-02:00", {2023, 3, 1, 1, 0, 0}, "23-02-28 23:00:00"},
      {"widest forward move", -720, "UTC+12:00", {2000, 12, 31, 23, 0, 0}, "1-01-01 23:00:00"},
      {"widest backward move", 720, "UTC-12:00", {2024, 1, 1, 0, 0, 0}, "23-12-31 00:00:00"},
      {"end of a 30-day month", 0, "UTC+01:00", {2024, 4, 30, 23, 0, 0}, "24-05-01 00:00:00"},
      {"year wraps past 255", 0, "UTC+01:00", {2255, 12, 31, 23, 0, 0}, "0-01-01 00:00:00"},
      {"year wraps below 0", 0, "UTC-01:00", {2000, 1, 1, 0, 30, 0}, "255-12-31 23:30:00"},
  };
  for (const ZoneCase& c : cases) {
    TestTool tool;
    tool.clock.reading = {c.local, c.pcOffset};
    SelectZone(tool, c.zone);
    RefreshClock(tool.s());
    EXPECT_EQ(Show(tool.s().clock.loggerClock), c.expected) << c.what;
    EXPECT_TRUE(tool.messages.shown.empty()) << c.what;
  }
}

TEST(LoggerClock, UsesTheOffsetInForceNotTheStandardOne) {
  // New York in summer: standard time is UTC-05:00, the clock runs at UTC-04:00.
  TestTool tool;
  tool.clock.standardOffset = -300;
  tool.clock.reading = {{2024, 7, 4, 12, 0, 0}, -240};
  SelectZone(tool, "UTC-04:00");
  RefreshClock(tool.s());
  EXPECT_EQ(tool.s().clock.pcOffsetMinutes, -240);
  EXPECT_EQ(Show(tool.s().clock.loggerClock), "24-07-04 12:00:00");

  SelectZone(tool, "UTC-05:00");
  RefreshClock(tool.s());
  EXPECT_EQ(Show(tool.s().clock.loggerClock), "24-07-04 11:00:00");
}

TEST(LoggerClock, FailingZoneKeepsLastGoodOffset) {
  TestTool tool;
  tool.clock.reading = {{2024, 3, 5, 10, 0, 0}, 0};
  RefreshClock(tool.s());  // nothing selected yet: offset stays at its start value
  EXPECT_EQ(tool.s().clock.zoneOffsetMinutes, 0);
  EXPECT_EQ(Show(tool.s().clock.loggerClock), "24-03-05 10:00:00");

  SelectZone(tool, "UTC+08:00");
  RefreshClock(tool.s());
  tool.form.setSelection(ctl::TimeZone, -1);
  RefreshClock(tool.s());
  EXPECT_EQ(tool.s().clock.zoneOffsetMinutes, 480);
  EXPECT_EQ(Show(tool.s().clock.loggerClock), "24-03-05 18:00:00");
}

// ---- Zone texts and entries -------------------------------------------------

TEST(ZoneText, ParsesSignHoursAndMinutes) {
  const struct {
    const char* text;
    int32_t offset;
  } good[] = {{"UTC-00:30", -30}, {"UTC+00:00", 0}, {"UTC+12:00", 720},
              {"UTC-12:00", -720}, {"UTC+05:45", 345}, {"UTC-03:30", -210}};
  for (const auto& g : good) {
    MemoryMessages messages;
    int32_t offset = 9999;
    EXPECT_TRUE(ParseZoneText(&messages, g.text, Label("Time zone error"), offset)) << g.text;
    EXPECT_EQ(offset, g.offset) << g.text;
    EXPECT_TRUE(messages.shown.empty());
  }
}

TEST(ZoneText, FailuresLeaveOffsetAndTellWhy) {
  const struct {
    std::string_view text;
    const char* message;
  } bad[] = {
      {"UTC+13:00", "Time zone error: 数值必须在0至12之内!"},
      {"UTC+13:99", "Time zone error: 数值必须在0至12之内!"},  // minutes not looked at
      {"UTC+05:60", "Time zone error: 数值必须在0至59之内!"},
      {"UTC+ab:00", "Time zone error: 存在非法字符!"},
      {"", "Time zone error: 内容为空"},
      // Short of a full entry: the minutes that follow in memory are not read.
      {std::string_view("UTC+05:30", 8), "Time zone error: 内容为空"},
  };
  for (const auto& b : bad) {
    MemoryMessages messages;
    int32_t offset = 77;
    EXPECT_FALSE(ParseZoneText(&messages, b.text, Label("Time zone error"), offset)) << b.text;
    EXPECT_EQ(offset, 77) << b.text;
    ASSERT_EQ(messages.shown.size(), 1u) << b.text;
    EXPECT_EQ(messages.last(), b.message);

    MemoryMessages quiet;
    EXPECT_FALSE(ParseZoneText(&quiet, b.text, NoLabel, offset));
    EXPECT_TRUE(quiet.shown.empty());
  }
}

TEST(ZoneEntries, SelectTimeZoneFindsEntryOrFallsBackToUtc) {
  const struct {
    int16_t offset;
    const char* entry;
  } cases[] = {{-30, "UTC-00:30"}, {0, "UTC+00:00"},   {345, "UTC+00:00"}, {-720, "UTC-12:00"},
               {720, "UTC+12:00"}, {750, "UTC+00:00"}, {-780, "UTC+00:00"}, {330, "UTC+05:30"}};
  TestTool tool;
  for (const auto& c : cases) {
    tool.form.setSelection(ctl::TimeZone, 3);
    SelectTimeZone(tool.s(), c.offset);
    EXPECT_EQ(tool.form.text(ctl::TimeZone), c.entry) << c.offset;
  }
}

TEST(ZoneEntries, InitialIndexFromBias) {
  EXPECT_EQ(InitialTimeZoneIndex(-345), 12);  // UTC+05:45 goes east to UTC+06:00
  EXPECT_EQ(TimeZoneEntryText(12), "UTC+06:00");
  EXPECT_EQ(InitialTimeZoneIndex(0), 24);
  EXPECT_EQ(InitialTimeZoneIndex(-720), 0);
  EXPECT_EQ(InitialTimeZoneIndex(-749), 0);
  EXPECT_EQ(InitialTimeZoneIndex(720), 48);
  EXPECT_LT(InitialTimeZoneIndex(-750), 0);
  EXPECT_LT(InitialTimeZoneIndex(-840), 0);
  EXPECT_GT(InitialTimeZoneIndex(750), 48);
}

TEST(ZoneEntries, ApplySelectionKeepsPickedEntryAndMovesClock) {
  TestTool tool;
  tool.clock.reading = {{2024, 3, 5, 10, 0, 0}, 0};
  SelectZone(tool, "UTC-03:30");
  int picked = tool.form.selection(ctl::TimeZone);
  ApplyTimeZoneSelection(tool.s());
  EXPECT_EQ(tool.s().clock.zoneOffsetMinutes, -210);
  EXPECT_EQ(tool.form.selection(ctl::TimeZone), picked);
  RefreshClock(tool.s());
  EXPECT_EQ(Show(tool.s().clock.loggerClock), "24-03-05 06:30:00");
}

// ---- Reporting a zone that never parses -------------------------------------

TEST(ZoneReport, NoEntrySelectedIsToldOncePerSelection) {
  TestTool tool;
  tool.clock.reading = {{2024, 3, 5, 10, 0, 0}, 0};
  tool.form.setSelection(ctl::TimeZone, -1);
  for (int pass = 0; pass < 100; ++pass) RefreshClock(tool.s());
  ASSERT_EQ(tool.messages.shown.size(), 1u);
  EXPECT_EQ(tool.messages.last(), "Time zone error: 内容为空");
  EXPECT_EQ(tool.messages.shown[0].icon, MessageIcon::Warning);

  // A good entry and back to none: the new failure is told once more.
  SelectZone(tool, "UTC+01:00");
  for (int pass = 0; pass < 10; ++pass) RefreshClock(tool.s());
  EXPECT_EQ(tool.messages.shown.size(), 1u);
  tool.form.setSelection(ctl::TimeZone, -1);
  for (int pass = 0; pass < 100; ++pass) RefreshClock(tool.s());
  EXPECT_EQ(tool.messages.shown.size(), 2u);
}

TEST(ZoneReport, ApplyAndRefreshInOnePassTellOnce) {
  TestTool tool;
  tool.form.setSelection(ctl::TimeZone, -1);
  ApplyTimeZoneSelection(tool.s());
  RefreshClock(tool.s());
  EXPECT_EQ(tool.messages.shown.size(), 1u);
  // With nothing selected the entry of the offset in use is shown.
  EXPECT_EQ(tool.form.text(ctl::TimeZone), "UTC+00:00");
}

// ---- Date and time texts ----------------------------------------------------

struct ClockDisplay : ::testing::Test {
  TestTool tool;

  void SetUp() override {
    SelectZone(tool, "UTC+00:00");
    tool.form.setSelection(ctl::DateFormat, 1);
    tool.form.at(ctl::DateText).text = "2018/12/12";
    tool.form.at(ctl::TimeText).text = "22:00:00";
  }
  // One pass as the poll loop runs it: the Configure flow serves a stale date
  // first, the refresh comes last.
  void Pass(LocalTime t) {
    if (tool.s().poll.changeFlags & flag::DateDisplayStale) {
      tool.s().poll.changeFlags &= ~flag::DateDisplayStale;
      RenderDate(tool.s());
    }
    tool.clock.reading = {t, 0};
    RefreshClock(tool.s());
  }
  std::string Date() { return tool.form.text(ctl::DateText); }
  std::string Time() { return tool.form.text(ctl::TimeText); }
  bool Stale() { return (tool.s().poll.changeFlags & flag::DateDisplayStale) != 0; }
};

TEST_F(ClockDisplay, FirstPassesShowDateThenTime) {
  Pass({2024, 3, 5, 10, 0, 0});
  EXPECT_TRUE(Stale());
  EXPECT_EQ(Date(), "2018/12/12");
  EXPECT_EQ(Time(), "22:00:00");

  Pass({2024, 3, 5, 10, 0, 0});
  EXPECT_FALSE(Stale());
  EXPECT_EQ(Date(), "03/05/2024");
  EXPECT_EQ(Time(), "10:00:00");
  EXPECT_EQ(tool.form.refreshed, (std::vector<int>{ctl::DateText, ctl::TimeText}));
}

TEST_F(ClockDisplay, TimeTextChangesOncePerSecond) {
  Pass({2024, 3, 5, 10, 0, 0});
  Pass({2024, 3, 5, 10, 0, 0});
  tool.form.textWrites.clear();
  tool.form.refreshed.clear();
  for (int pass = 0; pass < 20; ++pass) Pass({2024, 3, 5, 10, 0, 0});
  EXPECT_TRUE(tool.form.textWrites.empty());
  for (int pass = 0; pass < 20; ++pass) Pass({2024, 3, 5, 10, 0, 1});
  EXPECT_EQ(tool.form.textWrites, std::vector<int>{ctl::TimeText});
  EXPECT_EQ(tool.form.refreshed, std::vector<int>{ctl::TimeText});
  EXPECT_EQ(Time(), "10:00:01");
  EXPECT_FALSE(Stale());
}

TEST_F(ClockDisplay, NewDayKeepsOldTimeForOnePass) {
  Pass({2024, 3, 5, 23, 59, 59});
  Pass({2024, 3, 5, 23, 59, 59});
  Pass({2024, 3, 6, 0, 0, 0});
  EXPECT_TRUE(Stale());
  EXPECT_EQ(Time(), "23:59:59");
  EXPECT_EQ(Date(), "03/05/2024");
  Pass({2024, 3, 6, 0, 0, 0});
  EXPECT_EQ(Date(), "03/06/2024");
  EXPECT_EQ(Time(), "00:00:00");
}

TEST_F(ClockDisplay, DateFormatsRenderOnePassAfterSelection) {
  Pass({2024, 3, 5, 10, 0, 0});
  Pass({2024, 3, 5, 10, 0, 0});
  const struct {
    int selection;
    const char* date;
  } formats[] = {{0, "05/03/2024"}, {1, "03/05/2024"}, {2, "2024/03/05"}};
  for (const auto& f : formats) {
    tool.form.setSelection(ctl::DateFormat, f.selection);
    Pass({2024, 3, 5, 10, 0, 0});
    EXPECT_TRUE(Stale()) << f.selection;
    Pass({2024, 3, 5, 10, 0, 0});
    EXPECT_EQ(Date(), f.date);
  }
}

TEST_F(ClockDisplay, NoDateFormatLeavesDateButStillRefreshes) {
  Pass({2024, 3, 5, 10, 0, 0});
  Pass({2024, 3, 5, 10, 0, 0});
  tool.form.setSelection(ctl::DateFormat, -1);
  Pass({2024, 3, 5, 10, 0, 0});
  EXPECT_TRUE(Stale());
  tool.form.refreshed.clear();
  Pass({2024, 3, 5, 10, 0, 0});
  EXPECT_EQ(Date(), "03/05/2024");
  EXPECT_EQ(tool.form.refreshed, std::vector<int>{ctl::DateText});
  EXPECT_FALSE(Stale());  // the memo took the empty selection: no new flag
}

}  // namespace
