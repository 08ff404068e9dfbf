#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sim/memory_hid.h"
#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"
#include "sim/virtual_hid_logger.h"

// The command line's one option: "--demo=drive" plugs in a virtual drive
// logger, "--demo=hid" a virtual HID logger; "--demo=old-drive" and
// "--demo=old-hid" the same loggers one version below the firmware the tool
// carries, so Configure upgrades them first. ":DIR" after any of them keeps
// the logger's files in DIR.
enum class DemoKind { Drive, Hid };

struct DemoRequest {
  std::string folder;  // empty: a scratch folder that goes at exit
  DemoKind kind = DemoKind::Drive;
  bool oldFirmware = false;  // a fresh logger starts at an older version (a kept image wins)
};

enum class ArgsResult { Normal, Demo, Invalid };
ArgsResult ParseArgs(int argc, const char* const* argv, DemoRequest& demo);

inline constexpr const char* kUsage =
    "usage: thlogger-config [--demo=drive[:DIR] | --demo=hid[:DIR] |\n"
    "                        --demo=old-drive[:DIR] | --demo=old-hid[:DIR]]\n";

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

// A virtual HID logger plugged in for the whole run, behind an in-memory HID
// port. Its image is kept in the folder as a sealed "DAT.SRC", written at the
// start, after every applied transfer or upgrade and at exit, and taken up
// again by the next run when it is an HID-family logger's.
class HidDemo {
 public:
  // Empty `error` on success; otherwise why the demo could not start.
  explicit HidDemo(const DemoRequest& request, std::string& error);
  ~HidDemo();
  HidDemo(const HidDemo&) = delete;
  HidDemo& operator=(const HidDemo&) = delete;

  MemoryHidPort& port() { return port_; }
  // Change it through port().edit() while the tool's threads run.
  VirtualHidLogger& logger() { return *logger_; }
  const std::string& folder() const { return folder_; }

 private:
  bool saveImage() const;

  std::string folder_;
  bool scratch_ = false;
  std::unique_ptr<VirtualHidLogger> logger_;
  MemoryHidPort port_;  // declared last: gone before the logger it points to
};
