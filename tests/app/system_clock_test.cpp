#include "app/system_clock.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace {

// Sets TZ for one test and puts the previous value back afterwards.
class ZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    hadZone_ = tz != nullptr;
    if (hadZone_) savedZone_ = tz;
  }
  void TearDown() override {
    if (hadZone_) {
      setenv("TZ", savedZone_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  // A zone name ("Asia/Shanghai") or a POSIX rule (always with digits, no
  // data file needed). False when the zone's data file is not installed.
  static bool UseZone(const std::string& zone) {
    if (zone.find_first_of("0123456789") != std::string::npos) {
      setenv("TZ", zone.c_str(), 1);
      return true;
    }
    if (access(("/usr/share/zoneinfo/" + zone).c_str(), R_OK) != 0) return false;
    setenv("TZ", (":" + zone).c_str(), 1);
    return true;
  }

  // Checks that the reading names the current moment in its own offset.
  static void ExpectConsistent(const ClockReading& r) {
    struct tm tm {};
    tm.tm_year = r.local.year - 1900;
    tm.tm_mon = r.local.month - 1;
    tm.tm_mday = r.local.day;
    tm.tm_hour = r.local.hour;
    tm.tm_min = r.local.minute;
    tm.tm_sec = r.local.second;
    time_t utc = timegm(&tm) - static_cast<time_t>(r.utcOffsetMinutes) * 60;
    EXPECT_LE(std::abs(static_cast<long>(utc - time(nullptr))), 2L);
  }

  SystemClock clock_;

 private:
  bool hadZone_ = false;
  std::string savedZone_;
};

TEST_F(ZoneTest, StandardOffsetIgnoresDaylightSavingInBothHemispheres) {
  struct Case {
    const char* zone;
    int32_t standard;
  };
  const Case cases[] = {
      {"UTC", 0},
      {"Asia/Shanghai", 480},
      {"Asia/Kathmandu", 345},
      {"America/New_York", -300},
      {"America/St_Johns", -210},
      {"Australia/Sydney", 600},   // daylight saving over new year
      {"Pacific/Chatham", 765},
      {"America/Sao_Paulo", -180},  // no daylight saving any more
      {"Europe/Dublin", 0},        // its data flag the winter clock as the saving one
      {"EST5EDT,M3.2.0,M11.1.0", -300},
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", 600},
      {"<+0545>-5:45", 345},
  };
  int checked = 0;
  for (const Case& c : cases) {
    if (!UseZone(c.zone)) continue;
    ++checked;
    EXPECT_EQ(clock_.standardOffsetMinutes(), c.standard) << c.zone;
  }
  if (checked < 4) GTEST_SKIP() << "time-zone data not installed";
}

TEST_F(ZoneTest, ReadingCarriesTheOffsetInForceIncludingDaylightSaving) {
  UseZone("UTC0");
  ClockReading utc = clock_.now();
  EXPECT_EQ(utc.utcOffsetMinutes, 0);
  ExpectConsistent(utc);

  // Daylight saving all year round: the reading is an hour ahead of standard.
  UseZone("XST-3XDT,J1/0,J365/25");
  ClockReading summer = clock_.now();
  EXPECT_EQ(summer.utcOffsetMinutes, 240);
  EXPECT_EQ(clock_.standardOffsetMinutes(), 180);
  ExpectConsistent(summer);

  // A zone change is seen by the next reading.
  UseZone("<-0930>9:30");
  ClockReading west = clock_.now();
  EXPECT_EQ(west.utcOffsetMinutes, -570);
  ExpectConsistent(west);
}

TEST_F(ZoneTest, NewYorkReadingIsStandardOrSummerTime) {
  if (!UseZone("America/New_York")) GTEST_SKIP() << "no data for America/New_York";
  ClockReading r = clock_.now();
  EXPECT_TRUE(r.utcOffsetMinutes == -300 || r.utcOffsetMinutes == -240) << r.utcOffsetMinutes;
  ExpectConsistent(r);
}

}  // namespace
