#pragma once

#include <cstdint>
#include <string>

#include "app/state.h"

// Text of time-zone entry k (0..48): the offset (24 - k) * 30 minutes.
std::string TimeZoneEntryText(int index);
inline constexpr int kTimeZoneEntries = 49;

// Entry for the PC's standard bias in minutes (west positive); may lie
// outside 0..48, where no entry is selected.
int32_t InitialTimeZoneIndex(int32_t biasMinutes);

// Selects the time-zone entry for a UTC offset in minutes (east positive),
// "UTC+00:00" when no entry matches.
void SelectTimeZone(ToolState& state, int16_t offsetMinutes);

void RefreshClock(ToolState& state);
