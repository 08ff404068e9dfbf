#include "app/system_clock.h"

#include <time.h>

#include <algorithm>

namespace {

struct ZoneReading {
  int32_t offsetMinutes = 0;
  bool daylight = false;
};

ZoneReading ReadZone(time_t t, struct tm* out = nullptr) {
  struct tm tm {};
  if (localtime_r(&t, &tm) == nullptr) return {};
  if (out != nullptr) *out = tm;
  return {static_cast<int32_t>(tm.tm_gmtoff / 60), tm.tm_isdst > 0};
}

// Noon of the first day of a month of `year`, local time.
time_t MidMonth(int year, int month) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month;
  tm.tm_mday = 1;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

time_t CurrentSecond() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec;
}

}  // namespace

ClockReading SystemClock::now() const {
  // localtime_r need not look at TZ again; tzset makes a changed zone count.
  tzset();
  struct tm tm {};
  ZoneReading zone = ReadZone(CurrentSecond(), &tm);
  ClockReading reading;
  reading.local = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  reading.utcOffsetMinutes = zone.offsetMinutes;
  return reading;
}

int32_t SystemClock::standardOffsetMinutes() const {
  tzset();
  // The zone's declared standard offset; read before any conversion, since
  // glibc rewrites `timezone` with every localtime call.
  const auto declared = static_cast<int32_t>(-timezone / 60);

  struct tm tm {};
  ZoneReading current = ReadZone(CurrentSecond(), &tm);
  ZoneReading january = ReadZone(MidMonth(tm.tm_year + 1900, 0));
  ZoneReading july = ReadZone(MidMonth(tm.tm_year + 1900, 6));

  // Daylight saving in one half of the year, whichever hemisphere: standard
  // time is the earlier of the two clocks. Taking the smaller offset rather
  // than the one flagged standard also gives GMT for Ireland, whose zone data
  // flag the winter clock as the daylight-saving one.
  if (january.daylight != july.daylight)
    return std::min(january.offsetMinutes, july.offsetMinutes);
  // No daylight saving this year (apart from a short spell at most).
  if (!current.daylight) return current.offsetMinutes;
  if (!january.daylight) return january.offsetMinutes;
  return declared;
}
