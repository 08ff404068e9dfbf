#pragma once

#include "core/state.h"

// Serves the form's change flags in their fixed order, the Configure request last.
void ConfigureFlow(ToolState& state);
