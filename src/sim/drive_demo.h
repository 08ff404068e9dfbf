#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"

// The command line's one option: "--demo=drive" plugs in a virtual drive
// logger; "--demo=drive:DIR" keeps its volume in DIR.
struct DemoRequest {
  std::string folder;  // empty: a scratch folder that goes at exit
};

enum class ArgsResult { Normal, Demo, Invalid };
ArgsResult ParseArgs(int argc, const char* const* argv, DemoRequest& demo);

inline constexpr const char* kDemoLogName = "received-config.log";

// A virtual drive logger plugged in for the whole run.
class DriveDemo {
 public:
  // Empty `error` on success; otherwise why the demo could not start.
  explicit DriveDemo(const DemoRequest& request, std::string& error);
  ~DriveDemo();
  DriveDemo(const DriveDemo&) = delete;
  DriveDemo& operator=(const DriveDemo&) = delete;

  DrivePort& drives() { return drives_; }
  VirtualDriveLogger& logger() { return *logger_; }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  bool scratch_ = false;
  std::unique_ptr<VirtualDriveLogger> logger_;
  VirtualDrives drives_;
};
