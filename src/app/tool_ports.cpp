#include "app/tool_ports.h"

ToolPorts::ToolPorts(ToolState& state, const std::optional<DemoRequest>& demo,
                     std::string& error) {
  error.clear();
  state.ports.clock = &clock_;
  state.ports.drives = &drives_;
  state.ports.mounter = &mounter_;
  state.ports.hid = &hidraw_;
  if (!demo) return;
  // The virtual logger is the only one the tool sees.
  state.virtualLoggersOnly = true;
  state.ports.mounter = nullptr;
  if (demo->kind == DemoKind::Hid) {
    hidDemo_ = std::make_unique<HidDemo>(*demo, error);
    state.ports.hid = &hidDemo_->port();
    state.ports.drives = nullptr;
  } else {
    driveDemo_ = std::make_unique<DriveDemo>(*demo, error);
    state.ports.drives = &driveDemo_->drives();
    state.ports.hid = nullptr;
  }
}

std::vector<std::string> ToolPorts::demoNotice() const {
  if (!hidDemo_ && !driveDemo_) return {};
  const std::string& folder = hidDemo_ ? hidDemo_->folder() : driveDemo_->folder();
  const std::string unplug = "'" + folder + "/" + kUnplugSwitchName + "'";
  return {std::string("virtual ") + (hidDemo_ ? "HID" : "drive") + " logger in " + folder,
          "to unplug it: touch " + unplug + "; to plug it in again: rm " + unplug};
}
