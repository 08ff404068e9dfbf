#pragma once

#include "core/state.h"

// Cuts an alarm box's text to one decimal. True when the text was left alone.
bool LimitDecimals(ToolState& state, int id);

// Writes both temperature alarms in the selected unit, with the unit signs.
void ShowTemperatureAlarms(ToolState& state);

// Enables the alarm boxes for the channels, firmware and Setup Lock, and
// recomputes the capacity. Nothing while no logger is present.
void UpdateAlarmBoxes(ToolState& state);

// A newer HID logger with "Enable Alarm" unchecked takes no alarm limits.
bool AlarmsSwitchedOff(const ToolState& state);

// The alarm boxes' part of a Setup Lock toggle.
void ApplySetupLockToAlarms(ToolState& state);
