#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/system_clock.h"
#include "core/state.h"
#include "drive/drive_discovery.h"
#include "drive/udisks_mounter.h"
#include "hid/hidraw_port.h"
#include "sim/drive_demo.h"

// The ports the tool runs on, for the window and for the commands without
// one alike: the PC's clock, the logger drives, UDisks2 and hidraw, or a demo's
// virtual logger in place of the real ones. Wires them into the state; the
// caller adds the form and the messages.
class ToolPorts {
 public:
  // Empty `error` on success; otherwise why the demo could not start.
  ToolPorts(ToolState& state, const std::optional<DemoRequest>& demo, std::string& error);
  ToolPorts(const ToolPorts&) = delete;
  ToolPorts& operator=(const ToolPorts&) = delete;

  // What a person needs to know to unplug the demo's logger, line by line;
  // none without a demo.
  std::vector<std::string> demoNotice() const;

 private:
  SystemClock clock_;
  SysfsDrives drives_;
  UDisksMounter mounter_;  // mounts a logger disk no automounter mounted
  HidrawPort hidraw_;
  std::unique_ptr<DriveDemo> driveDemo_;
  std::unique_ptr<HidDemo> hidDemo_;
};
