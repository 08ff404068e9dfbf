#include "settings/clock.h"

#include <cstdio>
#include <cstdlib>

#include "app/control_ids.h"

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

void RefreshClock(ToolState&) {}
