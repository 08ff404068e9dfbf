#include "delivery/transfer.h"

void ConfigurationTransfer(ToolState&) {}
