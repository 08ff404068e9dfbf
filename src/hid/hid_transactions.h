#pragma once

#include "app/state.h"

// Reads the head of the logger's image over HID into state.image.
bool ReadImageOverHid(ToolState& state);
