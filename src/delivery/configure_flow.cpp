#include "delivery/configure_flow.h"

void ConfigureFlow(ToolState& state) { state.poll.changeFlags = 0; }
