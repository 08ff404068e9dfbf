#include "drive/drive_discovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// Decimal digits only, up to 32 bits.
std::optional<uint32_t> ParseDecimal(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

// Reads a small file (a sysfs attribute comes whole in one read). -1 only
// when the file cannot be opened, so that "missing" and "unreadable" differ.
long ReadSmallFile(const std::string& path, char* buffer, std::size_t capacity) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n;
  do n = ::read(fd, buffer, capacity);
  while (n < 0 && errno == EINTR);
  ::close(fd);
  return n < 0 ? 0 : static_cast<long>(n);
}

// Reads a whole file into `out`, reusing its memory. /proc files come in
// pieces, so read until the end.
bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t size = 0;
  for (;;) {
    if (out.size() < size + 4096) out.resize(std::max<std::size_t>(size + 4096, out.capacity()));
    ssize_t n = ::read(fd, out.data() + size, out.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(size);
  return true;
}

// Splits off the next space-separated field of a mountinfo line.
std::string_view NextField(std::string_view& rest) {
  std::size_t space = rest.find(' ');
  std::string_view field = rest.substr(0, space);
  rest.remove_prefix(space == std::string_view::npos ? rest.size() : space + 1);
  return field;
}

}  // namespace

std::optional<uint32_t> ParseHex(const char* text) {
  uint32_t value = 0;
  for (int i = 0; i < 9; ++i) {
    char c = text[i];
    if (c == '\0') return value;
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return std::nullopt;  // nine digits: more than 32 bits
}

uint16_t UsbIdFromText(std::string_view text) {
  // Four hex digits, no fewer: "901" or "25\0\0" is not an id, however it parses.
  if (text.size() < 4) return 0;
  char id[5] = {};
  for (std::size_t i = 0; i < 4; ++i) {
    char c = text[i];
    if (HexDigit(c) < 0) return 0;
    id[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  std::optional<uint32_t> value = ParseHex(id);
  return value ? static_cast<uint16_t>(*value) : uint16_t{0};
}

std::optional<DeviceNumber> ParseDeviceNumber(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::optional<uint32_t> major = ParseDecimal(text.substr(0, colon));
  std::optional<uint32_t> minor = ParseDecimal(text.substr(colon + 1));
  if (!major || !minor) return std::nullopt;
  return DeviceNumber{*major, *minor};
}

void DecodeMountField(std::string_view field, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    // Three octal digits up to \377: one byte.
    if (c == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
      out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += c;
    }
  }
}

std::optional<MountInfoLine> ParseMountInfoLine(std::string_view line) {
  std::string_view rest = line;
  NextField(rest);  // mount id
  NextField(rest);  // parent id
  std::optional<DeviceNumber> device = ParseDeviceNumber(NextField(rest));
  std::string_view root = NextField(rest);
  std::string_view mountPoint = NextField(rest);
  if (!device || root.empty() || mountPoint.empty()) return std::nullopt;
  return MountInfoLine{*device, root, mountPoint};
}

bool FindMountPoint(std::string_view mountinfo, DeviceNumber device, std::string& mountPoint) {
  while (!mountinfo.empty()) {
    std::size_t end = mountinfo.find('\n');
    std::string_view line = mountinfo.substr(0, end);
    mountinfo.remove_prefix(end == std::string_view::npos ? mountinfo.size() : end + 1);
    std::optional<MountInfoLine> entry = ParseMountInfoLine(line);
    if (!entry || !(entry->device == device) || entry->root != "/") continue;
    DecodeMountField(entry->mountPoint, mountPoint);
    return true;
  }
  return false;
}

SysfsDrives::SysfsDrives(std::string sysRoot, std::string mountinfo)
    : sysRoot_(std::move(sysRoot)),
      mountinfoPath_(std::move(mountinfo)),
      virtualDevices_(sysRoot_ + "/devices/virtual/") {}

void SysfsDrives::ListDisks() {
  disks_.clear();
  path_.assign(sysRoot_).append("/block");
  DIR* dir = ::opendir(path_.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    disks_.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(disks_.begin(), disks_.end());
}

// Puts the real device directory of /sys/block/<name> into devicePath_. The
// link is resolved as text: its target lies in the plain directory tree
// below /sys/devices, so one readlink does what realpath would do with a
// call per path component.
bool SysfsDrives::ResolveDisk(std::string_view name) {
  path_.assign(sysRoot_).append("/block/").append(name);
  char target[PATH_MAX];
  ssize_t n = ::readlink(path_.c_str(), target, sizeof target);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return false;
  std::string_view rest(target, static_cast<std::size_t>(n));

  if (rest.front() == '/') {
    devicePath_.assign(rest);
  } else {
    devicePath_.assign(sysRoot_).append("/block");
    while (!rest.empty()) {
      std::size_t slash = rest.find('/');
      std::string_view part = rest.substr(0, slash);
      rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        std::size_t up = devicePath_.rfind('/');
        devicePath_.resize(up == std::string::npos ? 0 : up);
      } else {
        devicePath_.append("/").append(part);
      }
    }
  }
  // Loop, RAM, device-mapper and md disks never sit below a USB device.
  return devicePath_.compare(0, virtualDevices_.size(), virtualDevices_) != 0;
}

// Walks up from the disk in devicePath_ to the nearest directory that has
// both idVendor and idProduct: the USB device. Its interface directories
// have neither, and a hub further up has ids of its own. False when there is
// no such directory below the sysfs root: not a USB disk.
bool SysfsDrives::FindUsbIds(uint16_t& vendor, uint16_t& product) {
  path_.assign(devicePath_);
  char text[16];
  for (;;) {
    std::size_t slash = path_.rfind('/');
    if (slash == std::string::npos || slash <= sysRoot_.size()) return false;
    path_.resize(slash);
    path_.append("/idVendor");
    long vendorLength = ReadSmallFile(path_, text, sizeof text);
    path_.resize(slash);
    if (vendorLength < 0) continue;
    vendor = UsbIdFromText(std::string_view(text, static_cast<std::size_t>(vendorLength)));
    path_.append("/idProduct");
    long productLength = ReadSmallFile(path_, text, sizeof text);
    path_.resize(slash);
    if (productLength < 0) continue;
    product = UsbIdFromText(std::string_view(text, static_cast<std::size_t>(productLength)));
    return true;
  }
}

bool SysfsDrives::IsLoggerDisk() {
  uint16_t vendor = 0;
  uint16_t product = 0;
  return FindUsbIds(vendor, product) && vendor == kLoggerDiskVendorId &&
         product == kLoggerDiskProductId;
}

// The disk itself, then its partitions by number. A partition is a
// directory below the disk's, named after the disk, with a `partition` file.
void SysfsDrives::ListVolumes(std::string_view diskName) {
  volumes_.resize(1);
  volumes_[0].number = 0;
  volumes_[0].name.clear();
  DIR* dir = ::opendir(devicePath_.c_str());
  if (!dir) return;
  char text[16];
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name.size() <= diskName.size() || name.compare(0, diskName.size(), diskName) != 0)
      continue;
    if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
    path_.assign(devicePath_).append("/").append(name).append("/partition");
    long length = ReadSmallFile(path_, text, sizeof text);
    if (length < 0) continue;
    std::string_view digits(text, static_cast<std::size_t>(length));
    if (!digits.empty() && digits.back() == '\n') digits.remove_suffix(1);
    std::optional<uint32_t> number = ParseDecimal(digits);
    if (!number) continue;
    volumes_.push_back(Volume{*number, std::string(name)});
  }
  ::closedir(dir);
  std::sort(volumes_.begin() + 1, volumes_.end(), [](const Volume& a, const Volume& b) {
    return a.number != b.number ? a.number < b.number : a.name < b.name;
  });
}

int SysfsDrives::findLoggerDrives(DriveTables& tables) {
  int count = 0;
  int usbDisks = 0;
  bool mountsRead = false;
  unmounted_.clear();
  ListDisks();
  char text[32];

  for (const std::string& disk : disks_) {
    if (count == kMaxLoggerVolumes || usbDisks == kMaxUsbDisks) break;
    if (!ResolveDisk(disk)) continue;
    uint16_t vendor = 0;
    uint16_t product = 0;
    if (!FindUsbIds(vendor, product)) continue;
    ++usbDisks;
    if (vendor != kLoggerDiskVendorId || product != kLoggerDiskProductId) continue;

    // Most passes see no logger, so the mount table is read only once one is there.
    if (!mountsRead) {
      if (!ReadWholeFile(mountinfoPath_, mounts_)) mounts_.clear();
      mountsRead = true;
    }
    ListVolumes(disk);
    for (const Volume& volume : volumes_) {
      if (count == kMaxLoggerVolumes) break;
      path_.assign(devicePath_);
      if (!volume.name.empty()) path_.append("/").append(volume.name);
      path_.append("/dev");
      long length = ReadSmallFile(path_, text, sizeof text);
      if (length < 0) continue;
      std::optional<DeviceNumber> device =
          ParseDeviceNumber(std::string_view(text, static_cast<std::size_t>(length)));
      if (!device) continue;
      // An unmounted volume has no path to its files yet; a later pass finds
      // it once mounted. The disk of a partitioned logger holds no filesystem
      // of its own, so only its partitions are worth mounting.
      if (!FindMountPoint(mounts_, *device, root_)) {
        if (!volume.name.empty() || volumes_.size() == 1)
          unmounted_.push_back("/dev/" + (volume.name.empty() ? disk : volume.name));
        continue;
      }
      std::size_t at = static_cast<std::size_t>(count);
      tables.loggerDiskPaths[at].assign("/dev/").append(disk);
      tables.loggerDriveRoots[at].assign(root_);
      ++count;
    }
  }

  std::size_t end = static_cast<std::size_t>(count);
  tables.loggerDiskPaths[end].clear();
  tables.loggerDriveRoots[end].clear();
  return count;
}

// Asks sysfs rather than opening the block device: an open of /dev/<disk>
// may need rights the user lacks and can wake or spin up the device. The
// USB ids are checked again so that another disk that took the same name
// after the logger was pulled out does not pass for it.
bool SysfsDrives::diskPresent(const std::string& diskPath) {
  std::size_t slash = diskPath.rfind('/');
  std::string_view name(diskPath);
  if (slash != std::string::npos) name.remove_prefix(slash + 1);
  if (name.empty() || name == "." || name == "..") return false;
  return ResolveDisk(name) && IsLoggerDisk();
}
