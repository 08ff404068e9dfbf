#pragma once

#include "app/state.h"

// Delivers a waiting configuration block to the logger, at most one step a pass.
void ConfigurationTransfer(ToolState& state);
