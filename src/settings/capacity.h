#pragma once

#include "core/state.h"

// Records that fit in the logger's memory for the selected channels.
void RecomputeRecordCapacity(ToolState& state);

// Writes the longest recording time for the interval box's value.
void ShowRecordingTime(ToolState& state);
