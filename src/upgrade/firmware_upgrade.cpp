#include "upgrade/firmware_upgrade.h"

// No firmware images are carried yet, so no logger is ever upgraded.
bool StartFirmwareUpgrade(ToolState&) { return false; }

void FirmwareUpgradeStep(ToolState& state) {
  state.poll.upgradeState.store(upgrade::Idle, std::memory_order_release);
}
