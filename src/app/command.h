#pragma once

#include "app/command_line.h"

// Runs `apply` or `read`: the tool without its window, on the real ports or a
// demo's virtual logger. Returns the exit status.
int RunCommandWithoutWindow(const CommandLine& line);
