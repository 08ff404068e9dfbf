#include "sim/virtual_drives.h"

std::string VirtualDrives::DiskPath(std::size_t index) {
  return "/dev/vlogger" + std::to_string(index);
}

int VirtualDrives::findLoggerDrives(DriveTables& tables) {
  int count = 0;
  for (std::size_t i = 0; i < loggers_.size(); ++i) {
    VirtualDriveLogger& logger = *loggers_[i];
    logger.poll();
    if (!logger.plugged() || count >= kPathTableSize - 1) continue;
    tables.loggerDiskPaths[static_cast<std::size_t>(count)] = DiskPath(i);
    tables.loggerDriveRoots[static_cast<std::size_t>(count)] = logger.volume();
    ++count;
  }
  tables.loggerDiskPaths[static_cast<std::size_t>(count)].clear();
  tables.loggerDriveRoots[static_cast<std::size_t>(count)].clear();
  return count;
}

bool VirtualDrives::diskPresent(const std::string& diskPath) {
  for (std::size_t i = 0; i < loggers_.size(); ++i)
    if (DiskPath(i) == diskPath) return loggers_[i]->plugged();
  return false;
}
