#pragma once

#include <memory>

#include "core/state.h"
#include "hid/receive_thread.h"

// Starts the receive thread for the tool, wired to move a firmware upgrade
// on; every owner of the thread starts it here, so none runs without it.
std::unique_ptr<HidReceiveThread> StartHidReceiveThread(ToolState& state, HidPort& port);
