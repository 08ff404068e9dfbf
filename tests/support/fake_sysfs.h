#pragma once

// A sysfs tree and a mountinfo file laid out as the kernel lays them out,
// symlinks included, under a scratch directory: <base>/sys and
// <base>/mountinfo.
//
//   sys/block/sdb -> ../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/
//                    host2/target2:0:0/2:0:0:0/block/sdb
//   sys/devices/.../usb1/1-1/{idVendor,idProduct}     "2017\n", "0901\n"
//   sys/devices/.../block/sdb/dev                     "8:16\n"
//   sys/devices/.../block/sdb/sdb1/{dev,partition}    "8:17\n", "1\n"

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

class FakeSysfs {
 public:
  explicit FakeSysfs(const std::string& base)
      : sys_(base + "/sys"), mountinfo_(base + "/mountinfo") {
    std::filesystem::create_directories(sys_ + "/block");
    std::filesystem::create_directories(UsbBusDir());
    // The root hub has ids of its own: a walk that goes too far finds them.
    Write(UsbBusDir() + "/idVendor", "1d6b\n");
    Write(UsbBusDir() + "/idProduct", "0002\n");
    WriteMounts();
  }

  const std::string& sysRoot() const { return sys_; }
  const std::string& mountinfo() const { return mountinfo_; }

  // A USB device at `port` below the root hub ("1-1", or "1-1/1-1.2" behind a
  // hub). A null id leaves its file out.
  void AddUsbDevice(const std::string& port, const char* idVendor, const char* idProduct) {
    std::string dir = UsbBusDir() + "/" + port;
    std::filesystem::create_directories(dir);
    if (idVendor) Write(dir + "/idVendor", std::string(idVendor) + "\n");
    if (idProduct) Write(dir + "/idProduct", std::string(idProduct) + "\n");
    Write(dir + "/speed", "480\n");
  }

  // A mass-storage disk on the first interface of a USB device.
  void AddUsbDisk(const std::string& disk, const std::string& dev, const std::string& port,
                  const char* idVendor, const char* idProduct) {
    AddUsbDevice(port, idVendor, idProduct);
    std::string leaf = port.substr(port.rfind('/') + 1);
    int host = nextHost_++;
    std::string h = std::to_string(host);
    AddDisk(disk, dev,
            std::string(kUsbBus) + "/" + port + "/" +
                leaf + ":1.0/host" + h + "/target" + h + ":0:0/" + h + ":0:0:0");
  }

  // A SATA disk on the chipset's controller.
  void AddSataDisk(const std::string& disk, const std::string& dev) {
    int host = nextHost_++;
    std::string h = std::to_string(host);
    AddDisk(disk, dev,
            "pci0000:00/0000:00:17.0/ata" + std::to_string(host + 1) + "/host" + h + "/target" +
                h + ":0:0/" + h + ":0:0:0");
  }

  // An NVMe namespace: no "block" directory level, partitions named p<N>.
  void AddNvmeDisk(const std::string& disk, const std::string& dev) {
    std::string dir = sys_ + "/devices/pci0000:00/0000:00:1d.0/0000:02:00.0/nvme/nvme0/" + disk;
    AddDiskAt(disk, dev, dir, "../devices/pci0000:00/0000:00:1d.0/0000:02:00.0/nvme/nvme0/" + disk);
  }

  // Loop and other virtual disks.
  void AddVirtualDisk(const std::string& disk, const std::string& dev) {
    AddDiskAt(disk, dev, sys_ + "/devices/virtual/block/" + disk,
              "../devices/virtual/block/" + disk);
  }

  // A partition directory named `name` (default <disk><number>).
  void AddPartition(const std::string& disk, int number, const std::string& dev,
                    std::string name = "") {
    if (name.empty()) name = disk + std::to_string(number);
    std::string dir = disks_.at(disk) + "/" + name;
    std::filesystem::create_directories(dir);
    Write(dir + "/dev", dev + "\n");
    Write(dir + "/partition", std::to_string(number) + "\n");
    Write(dir + "/size", "4096\n");
  }

  // The disk disappears as on unplugging: link and device directory go.
  void RemoveDisk(const std::string& disk) {
    std::filesystem::remove(sys_ + "/block/" + disk);
    std::filesystem::remove_all(disks_.at(disk));
    disks_.erase(disk);
  }

  // Adds a mountinfo line; the mount point is given as the kernel writes it
  // (escaped).
  void Mount(const std::string& dev, const std::string& mountPoint,
             const std::string& root = "/", const std::string& fstype = "vfat") {
    mounts_.push_back(std::to_string(nextMountId_++) + " 29 " + dev + " " + root + " " +
                      mountPoint + " rw,nosuid,nodev,relatime shared:500 - " + fstype +
                      " /dev/sdx rw,uid=1000,gid=1000,fmask=0022,dmask=0022");
    WriteMounts();
  }

  void Unmount(const std::string& dev) {
    std::erase_if(mounts_, [&](const std::string& line) {
      return line.find(" " + dev + " ") != std::string::npos;
    });
    WriteMounts();
  }

  // Lines of an ordinary desktop system ahead of the removable mounts.
  void AddSystemMounts(int lines) {
    static const char* const kSystem[] = {
        "1 0 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw",
        "22 1 0:21 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw",
        "23 1 0:22 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw",
        "24 1 0:5 / /dev rw,nosuid,relatime shared:2 - devtmpfs udev rw,size=8000000k",
        "25 24 0:23 / /dev/pts rw,nosuid,noexec,relatime shared:3 - devpts devpts rw,mode=600",
        "26 1 0:24 / /run rw,nosuid,nodev,noexec,relatime shared:5 - tmpfs tmpfs rw,mode=755",
        "27 22 0:25 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 rw",
        "28 1 259:1 / /boot/efi rw,relatime shared:30 - vfat /dev/nvme0n1p1 rw,fmask=0077",
        "29 26 0:30 / /run/user/1000 rw,nosuid,nodev,relatime shared:600 - tmpfs tmpfs rw,mode=700",
        "30 1 8:1 / /data rw,relatime shared:31 - ext4 /dev/sda1 rw",
    };
    for (int i = 0; i < lines; ++i) {
      if (i < 10) {
        system_.push_back(kSystem[i]);
      } else {
        system_.push_back(std::to_string(100 + i) + " 1 7:" + std::to_string(i) + " / /snap/core" +
                          std::to_string(i) + "/1 ro,nodev,relatime shared:" +
                          std::to_string(i) + " - squashfs /dev/loop" + std::to_string(i) + " ro");
      }
    }
    WriteMounts();
  }

 private:
  // The root hub, below sys/devices.
  static constexpr const char* kUsbBus = "pci0000:00/0000:00:14.0/usb1";
  std::string UsbBusDir() const { return sys_ + "/devices/" + kUsbBus; }

  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  // `parent` is the device path below sys/devices that holds block/<disk>.
  void AddDisk(const std::string& disk, const std::string& dev, const std::string& parent) {
    AddDiskAt(disk, dev, sys_ + "/devices/" + parent + "/block/" + disk,
              "../devices/" + parent + "/block/" + disk);
  }

  void AddDiskAt(const std::string& disk, const std::string& dev, const std::string& dir,
                 const std::string& link) {
    std::filesystem::create_directories(dir + "/queue");
    std::filesystem::create_directories(dir + "/holders");
    std::filesystem::create_directories(dir + "/power");
    Write(dir + "/dev", dev + "\n");
    Write(dir + "/removable", "1\n");
    Write(dir + "/queue/partition", "0\n");  // decoy: not a partition directory
    std::filesystem::create_directory_symlink(link, sys_ + "/block/" + disk);
    disks_[disk] = dir;
  }

  void WriteMounts() {
    std::ofstream out(mountinfo_, std::ios::binary | std::ios::trunc);
    for (const std::string& line : system_) out << line << '\n';
    for (const std::string& line : mounts_) out << line << '\n';
  }

  std::string sys_;
  std::string mountinfo_;
  std::map<std::string, std::string> disks_;
  std::vector<std::string> system_;
  std::vector<std::string> mounts_;
  int nextHost_ = 2;
  int nextMountId_ = 500;
};
