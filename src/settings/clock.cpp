#include "settings/clock.h"

#include <cstdio>
#include <cstdlib>

std::string TimeZoneEntryText(int index) {
  int offset = (24 - index) * 30;
  int a = std::abs(offset);
  char text[16];
  std::snprintf(text, sizeof text, "UTC%c%02d:%02d", offset < 0 ? '-' : '+', a / 60, a % 60);
  return text;
}

int32_t InitialTimeZoneIndex(int32_t biasMinutes) { return (biasMinutes + 720) / 30; }

void RefreshClock(ToolState&) {}
