#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/state.h"
#include "settings/field_parsers.h"

// Text of time-zone entry k (0..48): the offset (24 - k) * 30 minutes.
std::string TimeZoneEntryText(int index);
inline constexpr int kTimeZoneEntries = 49;

// Entry for the PC's standard bias in minutes (west positive); may lie
// outside 0..48, where no entry is selected.
int32_t InitialTimeZoneIndex(int32_t biasMinutes);

// Selects the time-zone entry for a UTC offset in minutes (east positive),
// "UTC+00:00" when no entry matches.
void SelectTimeZone(ToolState& state, int16_t offsetMinutes);

// Offset in minutes (east positive) of a time-zone entry text such as
// "UTC-05:30". Returns false, leaving `offsetMinutes` alone, when the hours
// (0..12) or minutes (0..59) do not parse, or when the text is shorter than
// an entry; with a label the failure is shown as the integer parser shows it.
bool ParseZoneText(MessagePort* messages, std::string_view text, Label label,
                   int32_t& offsetMinutes);

// Moves the PC's local time into the selected zone (ClockState::loggerClock)
// and keeps the time text current; a new date or date format raises
// DateDisplayStale instead. Runs at the end of every poll pass.
void RefreshClock(ToolState& state);

// Re-reads the selected zone after the user picked one, and selects the entry
// of the offset the clock now uses.
void ApplyTimeZoneSelection(ToolState& state);

// Writes the date text from loggerClock in the selected date format; leaves
// it alone when no format is selected.
void RenderDate(ToolState& state);
