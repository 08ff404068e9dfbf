#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.h"
#include "core/state.h"

// Finding the mounted volumes of plugged-in drive loggers on Linux.
//
// Linux has no drive letters. A logger volume is a mounted filesystem whose
// block device (the whole disk or one of its partitions) sits below the USB
// device of a logger's mass-storage function. The disks come from sysfs, the
// mount points from mountinfo. Nothing is cached between calls: loggers are
// plugged in and pulled out between two passes.

inline constexpr uint16_t kLoggerDiskVendorId = 0x2017;
inline constexpr uint16_t kLoggerDiskProductId = 0x0901;

// USB disks looked at per call, and logger volumes stored: the tables keep
// their last entry free for the empty end entry.
inline constexpr int kMaxUsbDisks = 26;
inline constexpr int kMaxLoggerVolumes = kPathTableSize - 1;

// Hex digits of a NUL-terminated text, at most 8 of them. An empty text is 0.
// nullopt for any other character or for a ninth digit.
std::optional<uint32_t> ParseHex(const char* text);

// A USB id as sysfs writes it ("2017\n"): its first four characters, upper
// case, through ParseHex. 0 when they are not four hex digits.
uint16_t UsbIdFromText(std::string_view text);

struct DeviceNumber {
  uint32_t major = 0;
  uint32_t minor = 0;
  bool operator==(const DeviceNumber&) const = default;
};

// "major:minor", as in a sysfs `dev` file (a final newline is allowed) and
// in mountinfo's third field.
std::optional<DeviceNumber> ParseDeviceNumber(std::string_view text);

// Undoes the kernel's octal escapes of a mountinfo path field ("\040" for a
// space, "\011", "\012", "\134"). A backslash that does not start three
// octal digits stays as it is.
void DecodeMountField(std::string_view field, std::string& out);

// One line of mountinfo; root and mountPoint are still escaped.
struct MountInfoLine {
  DeviceNumber device;
  std::string_view root;        // the part of the filesystem mounted there
  std::string_view mountPoint;
};

std::optional<MountInfoLine> ParseMountInfoLine(std::string_view line);

// Decoded mount point of the first mount, in mountinfo order, of the whole
// filesystem on `device`. Mounts of a subdirectory (bind mounts) are passed
// over: the logger's files are in the root of its filesystem.
bool FindMountPoint(std::string_view mountinfo, DeviceNumber device, std::string& mountPoint);

// The drive port on sysfs and mountinfo. Both roots are parameters so that
// tests and benchmarks can point it at a fake tree.
class SysfsDrives : public DrivePort {
 public:
  explicit SysfsDrives(std::string sysRoot = "/sys",
                       std::string mountinfo = "/proc/self/mountinfo");

  // Disks in name order (the kernel's directory order carries no meaning, so
  // names make it repeatable), at most kMaxUsbDisks USB disks; per logger
  // disk the disk itself, then its partitions by number. Entry i holds
  // "/dev/<disk>" and the volume's mount point.
  int findLoggerDrives(DriveTables& tables) override;

  // `diskPath` is "/dev/<disk>". True while that disk exists and still
  // belongs to a logger.
  bool diskPresent(const std::string& diskPath) override;

  // "/dev/<volume>" of each logger volume the last findLoggerDrives found
  // without a mount, in the same order; the disk itself only when it has no
  // partitions.
  std::vector<std::string> unmountedLoggerVolumes() const override { return unmounted_; }

 private:
  struct Volume {
    uint32_t number = 0;  // 0: the disk itself
    std::string name;     // directory below the disk's; empty for the disk
  };

  bool ResolveDisk(std::string_view name);
  bool IsLoggerDisk();
  bool FindUsbIds(uint16_t& vendor, uint16_t& product);
  void ListDisks();
  void ListVolumes(std::string_view diskName);

  std::string sysRoot_;
  std::string mountinfoPath_;
  std::string virtualDevices_;  // "<sysRoot>/devices/virtual/"

  // Scratch buffers, kept only so that their memory is reused by each call.
  std::vector<std::string> disks_;
  std::vector<Volume> volumes_;
  std::vector<std::string> unmounted_;  // the last call's result, not a cache
  std::string devicePath_;
  std::string path_;
  std::string mounts_;
  std::string root_;
};
