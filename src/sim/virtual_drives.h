#pragma once

#include <string>
#include <vector>

#include "core/ports.h"
#include "sim/virtual_drive_logger.h"

// Presents virtual loggers to the tool as logger volumes, disk "/dev/vloggerN"
// with the logger's directory as mount point. Each discovery also advances
// every logger by one poll, so the model moves in step with the tool's
// passes, one step per pass, the way a real logger reacts between passes.
class VirtualDrives : public DrivePort {
 public:
  void add(VirtualDriveLogger& logger) { loggers_.push_back(&logger); }

  int findLoggerDrives(DriveTables& tables) override;
  bool diskPresent(const std::string& diskPath) override;

  static std::string DiskPath(std::size_t index);

 private:
  std::vector<VirtualDriveLogger*> loggers_;
};
