#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sim/memory_hid.h"
#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"
#include "sim/virtual_hid_logger.h"

// The command line's demo option: "--demo=drive" plugs in a virtual drive
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

// One "--demo=..." argument into `demo`; false when `arg` is no demo option.
bool ParseDemoOption(std::string_view arg, DemoRequest& demo);

inline constexpr const char* kDemoLogName = "received-config.log";
// While a file of this name is in the demo's folder its logger is unplugged;
// removing it plugs the logger in again.
inline constexpr const char* kUnplugSwitchName = "UNPLUGGED";

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
// port. A "DAT.SRC" in the folder is the image it hands out, byte for byte,
// whatever it holds. Without one, it starts with its own image and writes it
// there, sealed. After every applied transfer or upgrade it writes its image
// (a "DAT.SRC" it did not write is copied aside first, see ImageFile), and
// at exit too, unless a file it did not write is there.
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
  bool saveImage();

  std::string folder_;
  bool scratch_ = false;
  ImageFile imageFile_{std::string()};
  std::unique_ptr<VirtualHidLogger> logger_;
  MemoryHidPort port_;  // declared last: gone before the logger it points to
};
