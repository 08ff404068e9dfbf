#pragma once

#include "core/state.h"

// The USB identity of a logger's HID interface; all three must match.
inline constexpr uint16_t kLoggerVendorId = 0x2017;
inline constexpr uint16_t kLoggerProductId = 0x0003;
inline constexpr uint16_t kLoggerRelease = 0x0400;

// Fills hid.devicePaths with the paths of the loggers' HID interfaces, in the
// port's order (27 at most, the rest emptied) and returns how many matched.
// Called from the receive thread only.
int32_t EnumerateHidDevices(HidLink& hid, HidPort& port);
