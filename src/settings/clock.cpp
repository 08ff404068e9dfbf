#include "settings/clock.h"

#include <cstdio>
#include <cstdlib>

#include "core/control_ids.h"

namespace {

constexpr std::string_view kZoneErrorLabel = "Time zone error";
constexpr std::size_t kZoneTextLength = 9;  // "UTC+hh:mm"

// `year` counts from 2000, so every fourth one, 2100 included, is a leap year;
// the loggers keep their calendar the same way.
int MonthLength(int month, int year) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;  // not from the PC clock; keeps the walk bounded
  if (month == 2 && (year & 3) == 0) return 29;
  return kDays[month - 1];
}

// The selected zone into zoneOffsetMinutes. A zone that cannot be parsed on
// every pass (no entry selected) would otherwise raise a modal box every
// 50 ms: it is told once, and again only after the selection has changed.
void ReadSelectedZone(ToolState& state) {
  ClockDisplayMemo& memo = state.clockMemo;
  int32_t selection = state.form().selection(ctl::TimeZone);
  if (selection != memo.reportedZoneSelection) {
    memo.reportedZoneSelection = selection;
    memo.zoneErrorReported = false;
  }
  Label label = memo.zoneErrorReported ? NoLabel : Label(kZoneErrorLabel);
  if (!ParseZoneText(state.ports.messages, state.form().text(ctl::TimeZone), label,
                     state.clock.zoneOffsetMinutes))
    memo.zoneErrorReported = true;
}

}  // namespace

std::string TimeZoneEntryText(int index) {
  int offset = (24 - index) * 30;
  int a = std::abs(offset);
  char text[16];
  std::snprintf(text, sizeof text, "UTC%c%02d:%02d", offset < 0 ? '-' : '+', a / 60, a % 60);
  return text;
}

int32_t InitialTimeZoneIndex(int32_t biasMinutes) { return (biasMinutes + 720) / 30; }

void SelectTimeZone(ToolState& state, int16_t offsetMinutes) {
  FormPort& form = state.form();
  int offset = offsetMinutes;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int a = std::abs(offset);
    char text[16];
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", offset < 0 ? '-' : '+', a / 60 % 100,
                  a % 60);
    int index = form.findEntry(ctl::TimeZone, text);
    if (index >= 0) {
      form.setSelection(ctl::TimeZone, index);
      return;
    }
    offset = 0;
  }
}

bool ParseZoneText(MessagePort* messages, std::string_view text, Label label,
                   int32_t& offsetMinutes) {
  int32_t hours = 0;
  int32_t minutes = 0;
  if (text.size() < kZoneTextLength) {
    // Nothing selected: told as the parser tells an empty field, without
    // looking at the text.
    if (label) ParseInteger(messages, {}, 0, 12, label, hours);
    return false;
  }
  if (ParseInteger(messages, text.substr(4, 2), 0, 12, label, hours) != 0) return false;
  if (ParseInteger(messages, text.substr(7, 2), 0, 59, label, minutes) != 0) return false;
  int32_t offset = hours * 60 + minutes;
  offsetMinutes = text[3] == '-' ? -offset : offset;
  return true;
}

void RefreshClock(ToolState& state) {
  ClockState& clock = state.clock;
  // Offset and local time from one reading: the offset in force now, summer
  // time included, or every clock sent in summer would be an hour off.
  ClockReading reading = state.pcClock().now();
  clock.pcOffsetMinutes = reading.utcOffsetMinutes;
  ReadSelectedZone(state);
  int d = clock.zoneOffsetMinutes - clock.pcOffsetMinutes;

  const LocalTime& t = reading.local;
  int year = (t.year + 48) % 256;
  int month = t.month;
  int day = t.day;
  int hour = t.hour + d / 60;
  int minute = t.minute + d % 60;
  int second = t.second;

  if (d > 0) {
    if (second >= 60) {
      minute += second / 60;
      second %= 60;
    }
    if (minute >= 60) {
      hour += minute / 60;
      minute %= 60;
    }
    if (hour >= 24) {
      int days = hour / 24;
      hour %= 24;
      for (int i = 0; i < days; ++i) {
        if (++day > MonthLength(month, year)) {
          day = 1;
          if (++month > 12) {
            month = 1;
            year = (year + 1) & 0xFF;
          }
        }
      }
    }
  } else {
    if (minute < 0) {
      int k = (-minute - 1) / 60 + 1;
      hour -= k;
      minute += 60 * k;
    }
    if (hour < 0) {
      int days = (-hour - 1) / 24 + 1;
      hour += 24 * days;
      for (int i = 0; i < days; ++i) {
        if (--day < 1) {
          if (--month < 1) {
            month = 12;
            year = (year - 1) & 0xFF;
          }
          day = MonthLength(month, year);
        }
      }
    }
  }

  LoggerClock& lc = clock.loggerClock;
  lc.year = static_cast<uint8_t>(year);
  lc.month = static_cast<uint8_t>(month);
  lc.day = static_cast<uint8_t>(day);
  lc.hour = static_cast<uint8_t>(hour);
  lc.minute = static_cast<uint8_t>(minute);
  lc.second = static_cast<uint8_t>(second);

  // The date text is rebuilt by RenderDate in the next pass; only the time
  // text is cheap enough to write here, and only when its second moved.
  ClockDisplayMemo& memo = state.clockMemo;
  FormPort& form = state.form();
  int32_t format = form.selection(ctl::DateFormat);
  if (lc.year == memo.shownYear && lc.month == memo.shownMonth && lc.day == memo.shownDay &&
      format == memo.shownFormat) {
    if (lc.second != memo.shownSecond) {
      char text[16];
      std::snprintf(text, sizeof text, "%02d:%02d:%02d", lc.hour, lc.minute, lc.second);
      form.setText(ctl::TimeText, text);
      form.refresh(ctl::TimeText);
      memo.shownSecond = lc.second;
    }
    return;
  }
  memo.shownYear = lc.year;
  memo.shownMonth = lc.month;
  memo.shownDay = lc.day;
  memo.shownFormat = format;
  state.poll.changeFlags |= flag::DateDisplayStale;
}

void ApplyTimeZoneSelection(ToolState& state) {
  ReadSelectedZone(state);
  SelectTimeZone(state, static_cast<int16_t>(state.clock.zoneOffsetMinutes));
}

void RenderDate(ToolState& state) {
  FormPort& form = state.form();
  const LoggerClock& lc = state.clock.loggerClock;
  int year = 2000 + lc.year;
  char text[32];
  bool known = true;
  switch (form.selection(ctl::DateFormat)) {
    case 0:
      std::snprintf(text, sizeof text, "%02d/%02d/%04d", lc.day, lc.month, year);
      break;
    case 1:
      std::snprintf(text, sizeof text, "%02d/%02d/%04d", lc.month, lc.day, year);
      break;
    case 2:
      std::snprintf(text, sizeof text, "%04d/%02d/%02d", year, lc.month, lc.day);
      break;
    default:
      known = false;
  }
  if (known) form.setText(ctl::DateText, text);
  form.refresh(ctl::DateText);
}
