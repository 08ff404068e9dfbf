#pragma once

#include <string>

#include "core/ports.h"

// Mounts a logger volume for the user through UDisks2 over D-Bus, as a
// desktop's file manager does: no root, polkit decides.
class UDisksMounter : public VolumeMounter {
 public:
  // `busAddress` names the bus UDisks2 is on; empty is the system bus. Tests
  // point it at a private bus with a stand-in service.
  explicit UDisksMounter(std::string busAddress = "");

  // Connects for each call: mounts are rare, and a connection kept open
  // would outlive a restart of the bus or of UDisks2.
  MountResult mount(const std::string& blockDevice, std::string& mountPoint,
                    std::string& error) override;

 private:
  std::string busAddress_;
};
