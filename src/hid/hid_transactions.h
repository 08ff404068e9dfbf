#pragma once

#include "core/state.h"

// Request/answer exchanges with the logger, run on the user-interface thread.
// The receive thread reads every answer; these wait for it through rxState.

inline constexpr uint8_t kReadImageCommand = 0x91;
inline constexpr uint8_t kUpgradeDataCommand = 0x93;
inline constexpr uint8_t kReportId = 0x01;

// Starts a report the tool sends: report id, command, length byte and the
// 24-bit offset, every other byte zero.
void BuildHidRequest(HidReport& report, uint8_t command, uint8_t length, uint32_t offset);

// Reads the head of the logger's image over HID into state.image: stops at
// 516 bytes or more, or at an empty answer.
bool ReadImageOverHid(ToolState& state);

// Result codes of SendHidCommand.
inline constexpr int32_t HidSent = 0;
inline constexpr int32_t HidDeviceGone = 1;
inline constexpr int32_t HidNoAnswer = 2;
inline constexpr int32_t HidShortWrite = 3;
inline constexpr int32_t HidWaitFailed = -1;

// Writes one command report (one chunk of one record) and waits for the
// logger's answer, which is then held in state.hid.inputReport. `data` holds
// length - 6 bytes.
int32_t SendHidCommand(ToolState& state, uint8_t command, uint8_t length, uint32_t offset,
                       const uint8_t* data);

// Limits of one exchange.
inline constexpr int kHidWriteLimitMs = 500;
