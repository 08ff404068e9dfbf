#pragma once

#include "core/state.h"

// True when an upgrade runs, is awaited or has ended the Configure request.
bool StartFirmwareUpgrade(ToolState& state);
// One step of writing the firmware file to the logger's drive.
void FirmwareUpgradeStep(ToolState& state);
