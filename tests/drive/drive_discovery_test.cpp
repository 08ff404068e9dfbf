#include "drive/drive_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_sysfs.h"
#include "support/test_tool.h"

namespace {

std::string Decoded(std::string_view field) {
  std::string out = "stale";
  DecodeMountField(field, out);
  return out;
}

TEST(ParseHex, DigitsOfEitherCaseUpToEight) {
  EXPECT_EQ(ParseHex("2017"), 0x2017u);
  EXPECT_EQ(ParseHex("0A5C"), 0x0A5Cu);
  EXPECT_EQ(ParseHex("0a5c"), 0x0A5Cu);
  EXPECT_EQ(ParseHex("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseHex(""), 0u);  // nothing read is 0, and a success
}

TEST(ParseHex, RejectsANinthDigitAndOtherCharacters) {
  EXPECT_FALSE(ParseHex("123456789"));
  EXPECT_FALSE(ParseHex("000000000"));
  EXPECT_FALSE(ParseHex("20G7"));
  EXPECT_FALSE(ParseHex("2017\n"));
  EXPECT_FALSE(ParseHex(" 2017"));
  EXPECT_FALSE(ParseHex("-1"));
  EXPECT_FALSE(ParseHex("0x20"));
}

TEST(UsbIdFromText, TakesTheFirstFourCharactersOfTheAttribute) {
  EXPECT_EQ(UsbIdFromText("2017\n"), 0x2017);
  EXPECT_EQ(UsbIdFromText("0a5c\n"), 0x0A5C);
  EXPECT_EQ(UsbIdFromText("0A5C"), 0x0A5C);
  EXPECT_EQ(UsbIdFromText("201700\n"), 0x2017);
  EXPECT_EQ(UsbIdFromText("20x7\n"), 0);
  EXPECT_EQ(UsbIdFromText("17\n"), 0);  // the newline is within the four
  EXPECT_EQ(UsbIdFromText("901"), 0);
  EXPECT_EQ(UsbIdFromText(std::string_view("25\0\0", 4)), 0);
  EXPECT_EQ(UsbIdFromText(""), 0);
}

TEST(ParseDeviceNumber, StrictMajorColonMinor) {
  EXPECT_EQ(ParseDeviceNumber("8:16\n"), (DeviceNumber{8, 16}));
  EXPECT_EQ(ParseDeviceNumber("259:0"), (DeviceNumber{259, 0}));
  EXPECT_EQ(ParseDeviceNumber("4294967295:1"), (DeviceNumber{4294967295u, 1}));
  for (const char* bad : {"", "8", "8:", ":16", "8:16x", "8 :16", "4294967296:1", "8:16\n\n"})
    EXPECT_FALSE(ParseDeviceNumber(bad)) << bad;
}

TEST(DecodeMountField, UndoesTheKernelsOctalEscapes) {
  EXPECT_EQ(Decoded("/media/ann/MY\\040LOGGER"), "/media/ann/MY LOGGER");
  EXPECT_EQ(Decoded("/a\\011b\\012c\\134d"), "/a\tb\nc\\d");
  EXPECT_EQ(Decoded("/media/ann/\xE8\xAE\xB0\xE5\xBD\x95"), "/media/ann/\xE8\xAE\xB0\xE5\xBD\x95");
  EXPECT_EQ(Decoded("/x\\377"), "/x\xFF");
  // Not an escape: stays as it is, and nothing is read past the end.
  EXPECT_EQ(Decoded("/x\\400"), "/x\\400");
  EXPECT_EQ(Decoded("/x\\08"), "/x\\08");
  EXPECT_EQ(Decoded("/x\\04"), "/x\\04");
  EXPECT_EQ(Decoded("/x\\"), "/x\\");
  EXPECT_EQ(Decoded(""), "");
}

TEST(FindMountPoint, FirstWholeFilesystemMountOfExactlyThatDevice) {
  const char* mountinfo =
      "1 0 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
      "garbage line\n"
      "60 1 8:1 / /data rw - ext4 /dev/sda1 rw\n"          // 8:1 is not 8:17
      "61 1 18:17 / /other rw - ext4 /dev/x rw\n"          // nor is 18:17
      "62 1 8:17 /sub /srv/bind rw - vfat /dev/sdb1 rw\n"  // only part of it
      "63 1 8:17 / /media/ann/LOG\\040A rw - vfat /dev/sdb1 rw\n"
      "64 1 8:17 / /mnt/second rw - vfat /dev/sdb1 rw";    // no final newline
  std::string point;
  ASSERT_TRUE(FindMountPoint(mountinfo, {8, 17}, point));
  EXPECT_EQ(point, "/media/ann/LOG A");
  EXPECT_TRUE(FindMountPoint(mountinfo, {8, 1}, point));
  EXPECT_EQ(point, "/data");
  EXPECT_FALSE(FindMountPoint(mountinfo, {8, 16}, point));
  EXPECT_FALSE(FindMountPoint("", {8, 17}, point));
}

// ---- Discovery on fake sysfs trees -------------------------------------------

class SysfsDrivesTest : public ::testing::Test {
 protected:
  TempDir dir;
  FakeSysfs sys{dir.path()};
  SysfsDrives drives{sys.sysRoot(), sys.mountinfo()};
  DriveTables tables;

  void SetUp() override {
    sys.AddSystemMounts(10);
    sys.AddNvmeDisk("nvme0n1", "259:0");
    sys.AddPartition("nvme0n1", 1, "259:1", "nvme0n1p1");
    sys.AddPartition("nvme0n1", 2, "259:2", "nvme0n1p2");
  }

  void AddLogger(const std::string& disk, const std::string& dev, const std::string& port) {
    sys.AddUsbDisk(disk, dev, port, "2017", "0901");
  }

  int Find() { return drives.findLoggerDrives(tables); }
  void ExpectEntry(int i, const std::string& disk, const std::string& root) {
    EXPECT_EQ(tables.loggerDiskPaths[static_cast<std::size_t>(i)], disk) << i;
    EXPECT_EQ(tables.loggerDriveRoots[static_cast<std::size_t>(i)], root) << i;
  }
};

TEST_F(SysfsDrivesTest, NoLoggerClearsEntryZeroAndLeavesTheRest) {
  tables.loggerDiskPaths[0] = "/dev/old";
  tables.loggerDriveRoots[0] = "/media/old";
  tables.loggerDiskPaths[1] = "/dev/kept";
  EXPECT_EQ(Find(), 0);
  ExpectEntry(0, "", "");
  EXPECT_EQ(tables.loggerDiskPaths[1], "/dev/kept");
}

TEST_F(SysfsDrivesTest, MountedLoggerDiskIsFound) {
  AddLogger("sdb", "8:16", "1-1");
  sys.Mount("8:16", "/media/ann/LOGGER");
  tables.loggerDiskPaths[1] = "/dev/old";
  EXPECT_EQ(Find(), 1);
  ExpectEntry(0, "/dev/sdb", "/media/ann/LOGGER");
  ExpectEntry(1, "", "");
  EXPECT_TRUE(drives.diskPresent("/dev/sdb"));
}

TEST_F(SysfsDrivesTest, LoggerPartitionsComeInNumberOrderAfterTheDisk) {
  AddLogger("sdb", "8:16", "1-1");
  // 10 sorts before 2 by name; number order must win.
  sys.AddPartition("sdb", 10, "8:26");
  sys.AddPartition("sdb", 2, "8:18");
  sys.AddPartition("sdb", 3, "8:19");  // not mounted
  sys.Mount("8:26", "/media/ann/TEN");
  sys.Mount("8:18", "/media/ann/TWO");
  sys.Mount("8:16", "/media/ann/WHOLE");
  EXPECT_EQ(Find(), 3);
  ExpectEntry(0, "/dev/sdb", "/media/ann/WHOLE");
  ExpectEntry(1, "/dev/sdb", "/media/ann/TWO");
  ExpectEntry(2, "/dev/sdb", "/media/ann/TEN");
  ExpectEntry(3, "", "");
}

TEST_F(SysfsDrivesTest, TwoLoggersInDiskNameOrder) {
  AddLogger("sdc", "8:32", "1-1");
  AddLogger("sdb", "8:16", "1-2");
  sys.Mount("8:32", "/media/ann/C");
  sys.Mount("8:16", "/media/ann/B");
  EXPECT_EQ(Find(), 2);
  ExpectEntry(0, "/dev/sdb", "/media/ann/B");
  ExpectEntry(1, "/dev/sdc", "/media/ann/C");
}

TEST_F(SysfsDrivesTest, OnlyTheLoggersOwnIdsCount) {
  sys.AddUsbDisk("sda", "8:0", "1-1", "2017", "0003");  // the logger's HID identity
  sys.AddUsbDisk("sdb", "8:16", "1-2", "0781", "5581");  // a USB stick
  sys.AddUsbDisk("sdc", "8:32", "1-3", "2017", nullptr);  // no idProduct: the root hub's are found
  sys.AddUsbDisk("sdd", "8:48", "1-4", "2o17", "0901");   // unparseable vendor is 0
  sys.AddSataDisk("sde", "8:64");
  sys.AddVirtualDisk("loop0", "7:0");
  for (const char* dev : {"8:0", "8:16", "8:32", "8:48", "8:64", "7:0", "259:0"})
    sys.Mount(dev, std::string("/mnt/") + dev);
  EXPECT_EQ(Find(), 0);
  for (const char* disk : {"/dev/sda", "/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/sde",
                           "/dev/loop0", "/dev/nvme0n1"})
    EXPECT_FALSE(drives.diskPresent(disk)) << disk;
}

TEST_F(SysfsDrivesTest, LoggerBehindAHubIsMatchedOnItsOwnDevice) {
  sys.AddUsbDevice("1-1", "05e3", "0608");  // the hub
  AddLogger("sdb", "8:16", "1-1/1-1.3");
  sys.Mount("8:16", "/media/ann/L");
  // The reverse: a stick behind a hub that carries the logger's ids.
  sys.AddUsbDevice("1-2", "2017", "0901");
  sys.AddUsbDisk("sdc", "8:32", "1-2/1-2.1", "0781", "5581");
  sys.Mount("8:32", "/media/ann/S");
  EXPECT_EQ(Find(), 1);
  ExpectEntry(0, "/dev/sdb", "/media/ann/L");
}

TEST_F(SysfsDrivesTest, NothingIsCachedBetweenCalls) {
  AddLogger("sdb", "8:16", "1-1");
  EXPECT_EQ(Find(), 0);  // plugged in, not mounted yet
  EXPECT_TRUE(drives.diskPresent("/dev/sdb"));
  sys.Mount("8:16", "/media/ann/LOGGER");
  EXPECT_EQ(Find(), 1);
  sys.Unmount("8:16");
  sys.Mount("8:16", "/media/ann/LOGGER1");
  EXPECT_EQ(Find(), 1);
  ExpectEntry(0, "/dev/sdb", "/media/ann/LOGGER1");
  sys.RemoveDisk("sdb");
  EXPECT_EQ(Find(), 0);  // the stale mount line alone does not count
  ExpectEntry(0, "", "");
  EXPECT_FALSE(drives.diskPresent("/dev/sdb"));
}

TEST_F(SysfsDrivesTest, AnotherDiskUnderTheLoggersNameIsNotTheLogger) {
  AddLogger("sdb", "8:16", "1-1");
  ASSERT_TRUE(drives.diskPresent("/dev/sdb"));
  sys.RemoveDisk("sdb");
  sys.AddUsbDisk("sdb", "8:16", "1-2", "0781", "5581");
  EXPECT_FALSE(drives.diskPresent("/dev/sdb"));
  for (const char* bad : {"", "/dev/", "/dev/..", "..", "/dev/nosuch"})
    EXPECT_FALSE(drives.diskPresent(bad)) << bad;
}

TEST_F(SysfsDrivesTest, EscapedMountPointIsDecoded) {
  AddLogger("sdb", "8:16", "1-1");
  sys.AddPartition("sdb", 1, "8:17");
  sys.Mount("8:17", "/media/ann/TH\\040LOGGER\\011\\134x");
  EXPECT_EQ(Find(), 1);
  ExpectEntry(0, "/dev/sdb", "/media/ann/TH LOGGER\t\\x");
}

TEST_F(SysfsDrivesTest, BindMountOfASubdirectoryIsPassedOver) {
  AddLogger("sdb", "8:16", "1-1");
  sys.Mount("8:16", "/srv/reports", "/REPORTS");
  EXPECT_EQ(Find(), 0);
  sys.Mount("8:16", "/media/ann/LOGGER");
  EXPECT_EQ(Find(), 1);
  ExpectEntry(0, "/dev/sdb", "/media/ann/LOGGER");
}

TEST_F(SysfsDrivesTest, MissingMountTableFindsNothing) {
  AddLogger("sdb", "8:16", "1-1");
  sys.Mount("8:16", "/media/ann/LOGGER");
  SysfsDrives noMounts(sys.sysRoot(), dir.file("no-such-mountinfo"));
  EXPECT_EQ(noMounts.findLoggerDrives(tables), 0);
  SysfsDrives noSysfs(dir.file("no-such-sys"), sys.mountinfo());
  EXPECT_EQ(noSysfs.findLoggerDrives(tables), 0);
}

TEST_F(SysfsDrivesTest, MoreThan26LoggerVolumesKeepTheEndEntry) {
  // Three loggers with ten mounted partitions each: 30 volumes.
  const char* disks[] = {"sdb", "sdc", "sdd"};
  for (int d = 0; d < 3; ++d) {
    int major = 8, base = 16 * (d + 1);
    AddLogger(disks[d], std::to_string(major) + ":" + std::to_string(base),
              "1-" + std::to_string(d + 1));
    for (int p = 1; p <= 10; ++p) {
      std::string dev = std::to_string(major) + ":" + std::to_string(base + p);
      sys.AddPartition(disks[d], p, dev);
      sys.Mount(dev, "/media/ann/" + std::string(disks[d]) + std::to_string(p));
    }
  }
  EXPECT_EQ(Find(), kMaxLoggerVolumes);
  ExpectEntry(0, "/dev/sdb", "/media/ann/sdb1");
  ExpectEntry(25, "/dev/sdd", "/media/ann/sdd6");
  ExpectEntry(26, "", "");
}

TEST_F(SysfsDrivesTest, AtMost26UsbDisksAreLookedAt) {
  // 26 USB sticks that sort before the logger use up the disk list.
  for (int i = 0; i < 26; ++i) {
    std::string name = std::string("sda") + static_cast<char>('a' + i);
    sys.AddUsbDisk(name, "65:" + std::to_string(i * 16), "1-" + std::to_string(i + 1), "0781",
                   "5581");
  }
  AddLogger("sdz", "65:500", "1-30");
  sys.Mount("65:500", "/media/ann/LOGGER");
  sys.AddSataDisk("sda", "8:0");  // not USB: does not use up a place
  EXPECT_EQ(Find(), 0);
  sys.RemoveDisk("sdaa");
  EXPECT_EQ(Find(), 1);
  ExpectEntry(0, "/dev/sdz", "/media/ann/LOGGER");
}

TEST_F(SysfsDrivesTest, UnmountedLoggerPartitionsAreListedMountedOnesAreNot) {
  AddLogger("sdb", "8:16", "1-1");
  sys.AddPartition("sdb", 2, "8:18");
  sys.AddPartition("sdb", 1, "8:17");
  sys.AddUsbDisk("sdc", "8:32", "1-2", "0781", "5581");  // an unmounted stick: not a logger
  sys.AddPartition("sdc", 1, "8:33");
  EXPECT_EQ(Find(), 0);
  // The partitioned disk itself holds no filesystem: only its partitions count.
  EXPECT_EQ(drives.unmountedLoggerVolumes(), (std::vector<std::string>{"/dev/sdb1", "/dev/sdb2"}));
  sys.Mount("8:17", "/media/ann/LOGGER");
  EXPECT_EQ(Find(), 1);
  EXPECT_EQ(drives.unmountedLoggerVolumes(), (std::vector<std::string>{"/dev/sdb2"}));
  sys.RemoveDisk("sdb");
  EXPECT_EQ(Find(), 0);
  EXPECT_TRUE(drives.unmountedLoggerVolumes().empty());  // nothing kept from the last call
}

TEST_F(SysfsDrivesTest, UnpartitionedLoggerDiskIsListedUntilMounted) {
  AddLogger("sdb", "8:16", "1-1");
  EXPECT_EQ(Find(), 0);
  EXPECT_EQ(drives.unmountedLoggerVolumes(), (std::vector<std::string>{"/dev/sdb"}));
  sys.Mount("8:16", "/media/ann/LOGGER");
  EXPECT_EQ(Find(), 1);
  EXPECT_TRUE(drives.unmountedLoggerVolumes().empty());
}

}  // namespace
