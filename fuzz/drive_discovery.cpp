// How drive loggers are found on Linux: the USB ids, device numbers and
// mountinfo lines the kernel writes, and whole sysfs trees laid out as the
// kernel lays them out.
//
// Holds: a parser accepts only what it can print back (an id is four hex
// digits, a device number two decimals); a mount point the kernel escaped
// decodes to itself, and the first whole-filesystem mount of a device is the
// one found; in a generated tree exactly the mounted volumes of disks with
// the logger's ids are found, disks in name order, the disk before its
// partitions by number, and exactly the unmounted ones are listed apart.

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/drive_discovery.h"
#include "fuzz_support.h"
#include "support/fake_sysfs.h"

namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string Hex4(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", v);
  return text;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The kernel's escaping of a mountinfo path field.
std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
      char octal[8];
      std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
      out += octal;
    } else {
      out += c;
    }
  }
  return out;
}

void Texts(std::string_view text) {
  const uint16_t id = UsbIdFromText(text);
  if (id != 0)
    Require(text.size() >= 4 && std::all_of(text.begin(), text.begin() + 4, IsHex) &&
                Upper(text.substr(0, 4)) == Hex4(id),
            "a USB id is accepted only as four hex digits");

  const std::string terminated(text.substr(0, text.find('\0')));
  if (const std::optional<uint32_t> hex = ParseHex(terminated.c_str())) {
    Require(terminated.size() <= 8 && std::all_of(terminated.begin(), terminated.end(), IsHex),
            "ParseHex accepts at most eight hex digits");
    Require(terminated.empty() || std::stoul(terminated, nullptr, 16) == *hex,
            "ParseHex reads the digits' value");
  }

  if (const std::optional<DeviceNumber> number = ParseDeviceNumber(text)) {
    const std::string printed =
        std::to_string(number->major) + ":" + std::to_string(number->minor);
    const std::optional<DeviceNumber> again = ParseDeviceNumber(printed);
    Require(again && *again == *number, "a device number prints back");
    std::string_view bare = text;
    if (!bare.empty() && bare.back() == '\n') bare.remove_suffix(1);
    Require(std::all_of(bare.begin(), bare.end(),
                        [](char c) { return (c >= '0' && c <= '9') || c == ':'; }),
            "a device number is decimal digits and a colon");
  }

  std::string decoded;
  DecodeMountField(text, decoded);
  Require(decoded.size() <= text.size(), "decoding never lengthens a field");
  DecodeMountField(Escape(text), decoded);
  Require(decoded == text, "an escaped mount point decodes to itself");

  // The fuzzer's text as mountinfo, with our mounts of an unlikely device after it.
  const DeviceNumber device{4093, 1048573};
  std::string earlier;
  const bool already = FindMountPoint(text, device, earlier);
  const std::string point = "/media/" + std::string(text.substr(0, 64));
  std::string mountinfo(text);
  mountinfo += "\n601 29 4093:1048573 /sub /media/bind rw - vfat /dev/sdz1 rw\n";
  mountinfo += "602 29 4093:1048573 / " + Escape(point) + " rw - vfat /dev/sdz1 rw\n";
  std::string found;
  Require(FindMountPoint(mountinfo, device, found), "a whole-filesystem mount is found");
  Require(found == (already ? earlier : point),
          "the first whole-filesystem mount is found, its path decoded, bind mounts passed over");
}

// ---- Generated trees ---------------------------------------------------------

constexpr const char* kIds[] = {"2017", "0901", "0003", "1d6b", "abcd", "ABCD"};

struct Volume {
  int number = 0;  // 0: the disk itself
  std::string name;
  std::string dev;
  bool mounted = false;
  std::string mountPoint;
};

struct Disk {
  std::string name;
  bool logger = false;
  std::vector<Volume> volumes;  // the disk, then partitions by number
};

void Tree(FuzzInput& in) {
  ScratchDir dir;
  FakeSysfs sys(dir.path());
  sys.AddSystemMounts(in.byte() % 12);
  std::vector<Disk> disks;
  const int count = 1 + in.byte() % 4;
  for (int d = 0; d < count; ++d) {
    Disk disk;
    disk.name = std::string("sd") + static_cast<char>('a' + d);
    const uint8_t kind = in.byte();
    const std::string major = std::to_string(65 + d);  // clear of the system mounts' devices
    const std::string devDisk = major + ":0";
    const bool usb = kind % 3 == 0;
    if (usb) {
      const char* vendor = kIds[in.byte() % 6];
      const char* product = kIds[in.byte() % 6];
      sys.AddUsbDisk(disk.name, devDisk, "1-" + std::to_string(d + 1), vendor, product);
      disk.logger = Upper(vendor) == "2017" && Upper(product) == "0901";
    } else if (kind % 3 == 1) {
      sys.AddSataDisk(disk.name, devDisk);
    } else {
      sys.AddVirtualDisk(disk.name, devDisk);
    }
    disk.volumes.push_back({0, disk.name, devDisk, false, {}});
    // Partitions created out of order; their numbers are distinct.
    const int partitions = in.byte() % 4;
    std::vector<int> numbers;
    for (int p = 0; p < partitions; ++p) {
      int number = 1 + in.byte() % 9;
      while (std::find(numbers.begin(), numbers.end(), number) != numbers.end())
        number = number % 9 + 1;
      numbers.push_back(number);
      const std::string dev = major + ":" + std::to_string(number);
      sys.AddPartition(disk.name, number, dev);
      disk.volumes.push_back({number, disk.name + std::to_string(number), dev, false, {}});
    }
    std::sort(disk.volumes.begin() + 1, disk.volumes.end(),
              [](const Volume& a, const Volume& b) { return a.number < b.number; });
    for (Volume& v : disk.volumes) {
      const uint8_t how = in.byte();
      if (how & 1) sys.Mount(v.dev, "/media/bind" + v.name, "/sub");  // a bind mount: passed over
      if (how & 2) {
        v.mounted = true;
        v.mountPoint = "/media/user/" + std::string(in.until('\0'));
        if (v.mountPoint.size() > 200) v.mountPoint.resize(200);
        sys.Mount(v.dev, Escape(v.mountPoint));
      }
    }
    disks.push_back(std::move(disk));
  }

  SysfsDrives drives(sys.sysRoot(), sys.mountinfo());
  DriveTables tables;
  const int found = drives.findLoggerDrives(tables);
  std::vector<std::string> unmounted;
  int expected = 0;
  for (const Disk& disk : disks) {
    if (!disk.logger) continue;
    for (const Volume& v : disk.volumes) {
      if (!v.mounted) {
        if (v.number != 0 || disk.volumes.size() == 1) unmounted.push_back("/dev/" + v.name);
        continue;
      }
      const auto at = static_cast<std::size_t>(expected);
      Require(expected < found && tables.loggerDiskPaths[at] == "/dev/" + disk.name &&
                  tables.loggerDriveRoots[at] == v.mountPoint,
              "each mounted logger volume is found, in order, with its mount point");
      ++expected;
    }
  }
  Require(found == expected, "nothing but the mounted logger volumes is found");
  const auto end = static_cast<std::size_t>(found);
  Require(tables.loggerDiskPaths[end].empty() && tables.loggerDriveRoots[end].empty(),
          "an empty entry follows the last volume found");
  Require(drives.unmountedLoggerVolumes() == unmounted,
          "exactly the unmounted logger volumes are listed apart");
  for (const Disk& disk : disks)
    Require(drives.diskPresent("/dev/" + disk.name) == disk.logger,
            "a disk is present as a logger exactly when it is one");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  FuzzInput in(data, size);
  // Most inputs exercise the parsers; a tree on disk costs far more per run.
  if (size > 0 && data[0] == 'T') {
    in.byte();
    Tree(in);
  } else {
    Texts(in.rest());
  }
  return 0;
}
