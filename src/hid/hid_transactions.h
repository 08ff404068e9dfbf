#pragma once

#include "core/state.h"

// Reads the head of the logger's image over HID into state.image.
bool ReadImageOverHid(ToolState& state);

// Result codes of SendHidCommand.
inline constexpr int32_t HidSent = 0;
inline constexpr int32_t HidDeviceGone = 1;
inline constexpr int32_t HidNoAnswer = 2;
inline constexpr int32_t HidShortWrite = 3;
inline constexpr int32_t HidWaitFailed = -1;

// Writes one command report (one chunk of one record) and waits for the
// logger's answer, which is then held in state.hid.inputReport.
int32_t SendHidCommand(ToolState& state, uint8_t command, uint8_t length, uint32_t offset,
                       const uint8_t* data);
