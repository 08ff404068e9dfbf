#pragma once

#include "core/state.h"

inline constexpr int kPollPeriodMs = 50;
inline constexpr int kDriveUpgradePeriodMs = 2;
inline constexpr int kHidUpgradePeriodMs = 100;

// Sets every record to its start state and fills the form with its initial
// contents. Runs once when the main window has been created, before the
// first pass.
void InitialiseForm(ToolState& state);

// One pass of the poll timer, up to re-arming it: returns the period in
// milliseconds after which the next pass is due. The caller re-arms the timer
// and then calls RefreshClock.
int RunPollPass(ToolState& state);

// Returns the form to its look without a logger.
void ResetForm(ToolState& state);

// Reads the connected HID logger's image and decodes it into the form, as an
// arrival does. A configured HID logger stays connected, so a check of what
// it took reads it again this way.
void ReadHidLogger(ToolState& state);
