#include "app/hid_link.h"

#include "upgrade/firmware_upgrade.h"

std::unique_ptr<HidReceiveThread> StartHidReceiveThread(ToolState& state, HidPort& port) {
  auto receiver = std::make_unique<HidReceiveThread>(state, port);
  receiver->setUpgradeHook([&state](bool resend) { SendUpgradeFrame(state, resend); });
  receiver->start();
  return receiver;
}
