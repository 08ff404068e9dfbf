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

// Help and Version: print kHelp or the version to standard output, exit 0.
enum class ArgsResult { Normal, Demo, Help, Version, Invalid };
ArgsResult ParseArgs(int argc, const char* const* argv, DemoRequest& demo);

inline constexpr const char* kUsage =
    "Usage: thlogger-config [--demo=drive[:DIR] | --demo=hid[:DIR] |\n"
    "                        --demo=old-drive[:DIR] | --demo=old-hid[:DIR] |\n"
    "                        --help | --version]\n";

// Kept in step with packaging/thlogger-config.1.
inline constexpr const char* kHelp =
    "Usage: thlogger-config [OPTION]\n"
    "Configure USB temperature/humidity data loggers.\n"
    "\n"
    "  --demo=drive[:DIR]      plug in a virtual drive logger\n"
    "  --demo=hid[:DIR]        plug in a virtual HID logger\n"
    "  --demo=old-drive[:DIR]  a virtual drive logger with older firmware\n"
    "  --demo=old-hid[:DIR]    a virtual HID logger with older firmware\n"
    "                          (:DIR keeps the logger's files in DIR;\n"
    "                          without it a scratch folder goes at exit)\n"
    "  --help                  show this help and exit\n"
    "  --version               show the version and exit\n"
    "\n"
    "Without an option the tool works with the loggers plugged in.\n";

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
