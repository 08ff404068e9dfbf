#pragma once

#include "core/state.h"
#include "settings/field_parsers.h"

// Reads and checks every field of the form into state.settings, stopping at
// the first that fails (its message shown, the focus moved as the field
// requires). True when every field passed.
bool ValidateSettings(ToolState& state);

// Read a temperature alarm box in the unit the form shows and store both
// units. Without a label a failure shows nothing but still moves the caret.
bool ReadTemperatureAlarmLow(ToolState& state, Label label);
bool ReadTemperatureAlarmHigh(ToolState& state, Label label);

// A degF value in degC, rounded to a multiple of 0.05 degC.
double FahrenheitToRoundedCelsius(double fahrenheit);
