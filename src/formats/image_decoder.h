#pragma once

#include "app/state.h"

// Turn an accepted image into DeviceInfo and the form. False only when the
// logger needs a newer tool (the message has been shown).
bool DecodeDriveImage(ToolState& state, bool setupUnlocked);
bool DecodeHidImage(ToolState& state, bool setupUnlocked);
