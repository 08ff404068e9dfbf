#pragma once

// Runs the tool's poll pass the way the window's timer would, for tests in
// which another thread (the HID receive thread) moves things on meanwhile.

#include <chrono>
#include <functional>
#include <thread>

#include "app/poll_pass.h"

// A pass every 5 ms until `done` holds; false when `limit` passed first.
inline bool PassUntil(ToolState& state, const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(3)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    RunPollPass(state);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}
