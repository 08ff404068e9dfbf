#pragma once

#include "core/state.h"

// Asked before every Configure: true when an upgrade runs, is awaited, or the
// request must end here; false when the logger is to be configured now.
bool StartFirmwareUpgrade(ToolState& state);

// One step of writing "APP.BIN" to the logger's drive: 256-byte blocks until
// the shown percentage changes, then the read-back and the three records.
void FirmwareUpgradeStep(ToolState& state);

// Builds the next upgrade frame in outputReport and writes it, or writes the
// last one again (`resend`). The first frame comes from the user-interface
// thread, every later one from the receive thread.
void SendUpgradeFrame(ToolState& state, bool resend);

// After an upgrade the logger comes back: whether its firmware is now the
// one the tool carries for its family.
bool FirmwareIsCurrent(const DeviceInfo& device);

// What the user is shown when an upgrade fails, or does not take.
inline constexpr const char* kUpgradeFailedCaption = "升级失败!";
inline constexpr const char* kUpgradeFailedMessage = "升级失败,请重新配置!";
// Said once when a real logger is older than the firmware a build without
// real images would give it.
inline constexpr const char* kStandInRefusalMessage =
    "This logger's firmware is older than the tool's, but this build of the tool "
    "carries no real firmware (see the About box), so the logger keeps its "
    "firmware and is configured as it is.";
// Every byte of the image has reached the logger.
inline constexpr const char* kUpgradeDeliveredCaption = "正在更新固件";
