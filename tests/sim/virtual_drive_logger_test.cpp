#include "sim/virtual_drive_logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/poll_pass.h"
#include "formats/config_block.h"
#include "formats/image_decoder.h"
#include "formats/logger_image.h"
#include "sim/drive_demo.h"
#include "sim/virtual_drives.h"
#include "support/test_tool.h"
#include "upgrade/firmware_images.h"

namespace {

namespace fs = std::filesystem;

// The tool's upgrade block, made by its own encoder.
Bytes UpgradeRecords(uint8_t fwVersionHigh, uint8_t clockByte = 0) {
  TestTool tool;
  tool.s().device.fwVersionHigh = fwVersionHigh;
  const uint8_t clock[6] = {0, 0, 0, 0, 0, clockByte};
  AppendRecord(tool.s(), 0x03, clock);
  AppendRecord(tool.s(), 0x64, reinterpret_cast<const uint8_t*>("APP.BIN"), 8);
  AppendRecord(tool.s(), 0xFF, nullptr, 0);
  return Bytes(tool.s().block.bytes.begin(), tool.s().block.bytes.begin() + tool.s().block.length);
}

class VirtualLogger : public ::testing::Test {
 protected:
  TempDir dir;
  std::string volume = dir.path() + "/volume";
  std::string logPath = dir.path() + "/received.log";
  VirtualDriveLogger logger{volume, logPath};

  // Reads the logger's "DAT.SRC" into a fresh form the way the tool does.
  bool Decode(TestTool& tool) {
    InitialiseForm(tool.s());
    Bytes bytes = ReadFile(volume + "/DAT.SRC");
    std::copy(bytes.begin(), bytes.end(), tool.s().image.bytes.begin());
    tool.s().image.length = static_cast<uint32_t>(bytes.size());
    if (CheckDriveImage(tool.s().image) != ImageCheck::Accepted) return false;
    ExtractHeader(tool.s().image, tool.s().device);
    return DecodeDriveImage(tool.s(), true);
  }

  // The block the tool would send for settings `edit` applied to the defaults.
  Bytes BlockFor(void (*edit)(LoggerSettings&)) {
    TestTool tool;
    EXPECT_TRUE(Decode(tool));
    LoggerSettings& s = tool.s().settings;
    s.intervalSeconds = 300;
    s.channels = 3;
    s.tzHours = 8;
    s.dateFormat = 1;
    edit(s);
    EXPECT_TRUE(BuildConfigBlock(tool.s()));
    auto bytes = BlockBytes(tool.s().block);
    return Bytes(bytes.begin(), bytes.end());
  }
  void Deliver(const Bytes& block) {
    WriteFile(volume + "/CONFIG.CFG", block);
    WriteFile(volume + "/OK.DAT", {'O', 'K'});
  }
};

TEST_F(VirtualLogger, OffersAValidImageThatDecodesToItsParameters) {
  ASSERT_TRUE(logger.plugIn());
  TestTool tool;
  ASSERT_TRUE(Decode(tool));
  EXPECT_EQ(tool.form.text(ctl::DeviceName), "Virtual Logger");
  EXPECT_EQ(tool.form.text(ctl::DeviceId), "VL000001");
  EXPECT_EQ(tool.form.text(ctl::Interval), "300");
  EXPECT_EQ(tool.form.text(ctl::TimeZone), "UTC+08:00");
  EXPECT_EQ(tool.form.selection(ctl::Channel), 2);
  EXPECT_TRUE(tool.messages.shown.empty()) << tool.messages.last();
}

TEST_F(VirtualLogger, AppliesAConfirmedBlockAndComesBackWithIt) {
  ASSERT_TRUE(logger.plugIn());
  const Bytes block = BlockFor([](LoggerSettings& s) {
    s.intervalSeconds = 60;
    s.tzHours = -3;
    s.tzMinutes = -30;
    const char name[] = "Fridge 7";
    std::copy(std::begin(name), std::end(name) - 1, s.deviceName.begin());
    s.tempAlarmHighC = 5.0;
  });
  Deliver(block);
  logger.poll();
  EXPECT_EQ(logger.lastOutcome(), VirtualDriveLogger::Outcome::Applied);
  EXPECT_EQ(logger.lastBlock(), block);
  EXPECT_FALSE(logger.plugged());
  for (const char* name : {"CONFIG.CFG", "OK.DAT", "DAT.SRC"})
    EXPECT_FALSE(fs::exists(volume + "/" + name)) << name;

  logger.poll();
  ASSERT_TRUE(logger.plugged());
  TestTool tool;
  ASSERT_TRUE(Decode(tool));
  EXPECT_EQ(tool.form.text(ctl::DeviceName), "Fridge 7");
  EXPECT_EQ(tool.form.text(ctl::Interval), "60");
  EXPECT_EQ(tool.form.text(ctl::TimeZone), "UTC-03:30");
  EXPECT_DOUBLE_EQ(tool.s().settings.tempAlarmHighC, 5.0);

  std::ifstream log(logPath);
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  EXPECT_EQ(line.rfind("applied 55 ", 0), 0u) << line;
  EXPECT_EQ(line.size(), std::string("applied").size() + 3 * block.size());
}

TEST_F(VirtualLogger, RefusesADamagedOrUnconfirmedBlockWhole) {
  ASSERT_TRUE(logger.plugIn());
  const Bytes before = logger.image();
  const Bytes good = BlockFor([](LoggerSettings& s) { s.intervalSeconds = 60; });
  struct Case {
    const char* name;
    Bytes block;
  };
  Bytes badCheck = good;
  badCheck[good.size() - 6] ^= 1;  // the check byte of the last data record
  Bytes cut(good.begin(), good.end() - 5);  // the end record is missing
  Bytes truncated(good.begin(), good.begin() + 20);
  for (const Case& c : {Case{"check byte", badCheck}, Case{"no end record", cut},
                        Case{"truncated", truncated}}) {
    SCOPED_TRACE(c.name);
    Deliver(c.block);
    logger.poll();
    EXPECT_EQ(logger.lastOutcome(), VirtualDriveLogger::Outcome::Refused);
    EXPECT_EQ(logger.image(), before);
    logger.poll();
    ASSERT_TRUE(logger.plugged());
  }
  // Without "OK" in "OK.DAT" nothing is taken.
  WriteFile(volume + "/CONFIG.CFG", good);
  WriteFile(volume + "/OK.DAT", {'N', 'O'});
  const int received = logger.receivedBlocks();
  logger.poll();
  EXPECT_EQ(logger.receivedBlocks(), received);
  EXPECT_EQ(logger.image(), before);
  EXPECT_TRUE(logger.plugged());
  EXPECT_TRUE(fs::exists(volume + "/CONFIG.CFG"));
}

TEST_F(VirtualLogger, LeavesRecordsOtherThanSettingsAlone) {
  ASSERT_TRUE(logger.plugIn());
  Bytes block = BlockFor([](LoggerSettings& s) { s.intervalSeconds = 90; });
  Bytes firmware = {0x55, 7, block[2], 0x64, 0xAB, 0xCD};
  firmware.push_back(Sum8(firmware.data(), firmware.size()));
  block.insert(block.end() - 5, firmware.begin(), firmware.end());  // before the end record
  Deliver(block);
  logger.poll();
  EXPECT_EQ(logger.lastOutcome(), VirtualDriveLogger::Outcome::Applied);
  EXPECT_EQ(logger.image()[img::IntervalSeconds], 90);
}

TEST_F(VirtualLogger, TakesOnlyTheToolsUpgradeAndComesBackAtTheNewVersion) {
  const Bytes firmware(kAppImageStm32Length, 0x3C);
  logger.setU8(img::FwVersionLow, 0x02);
  ASSERT_TRUE(logger.plugIn());
  // Refused: the address byte of firmware below 0x24, a clock not zero, a
  // file a byte short. Then the tool's own, taken.
  for (auto [block, length] : {std::pair{UpgradeRecords(0x23), firmware.size()},
                               std::pair{UpgradeRecords(0x24, 1), firmware.size()},
                               std::pair{UpgradeRecords(0x24), firmware.size() - 1},
                               std::pair{UpgradeRecords(0x24), firmware.size()}}) {
    WriteFile(volume + "/APP.BIN", Bytes(firmware.begin(), firmware.begin() + length));
    Deliver(block);
    logger.poll();
    logger.poll();
  }
  EXPECT_EQ(logger.upgrades(), 1);
  EXPECT_EQ(logger.firmwareReceived(), firmware);
  EXPECT_FALSE(fs::exists(volume + "/APP.BIN"));
  TestTool tool;
  ASSERT_TRUE(Decode(tool));
  EXPECT_EQ(tool.s().device.fwVersion, 0x2403);
}

TEST_F(VirtualLogger, FirmwareFaultsSpoilAppBin) {
  const Bytes firmware(kAppImageStm32Length, 0x3C);
  ASSERT_TRUE(logger.plugIn());
  logger.faults.firmwareShortWrite = true;
  WriteFile(volume + "/APP.BIN", firmware);
  logger.poll();
  logger.poll();  // spoiled once per write, not once per poll
  EXPECT_EQ(ReadFile(volume + "/APP.BIN").size(), firmware.size() - 1);

  logger.faults = {.firmwareDifferingReadBack = true};
  WriteFile(volume + "/APP.BIN", firmware);
  logger.poll();
  const Bytes back = ReadFile(volume + "/APP.BIN");
  EXPECT_EQ(std::count(back.begin(), back.end(), 0x3C), kAppImageStm32Length - 1);
}

TEST_F(VirtualLogger, AdoptsAnImageLeftInItsVolume) {
  logger.setText(img::DeviceName, img::DeviceNameSize, "Copied");
  ASSERT_TRUE(logger.plugIn());
  VirtualDriveLogger second(volume);
  ASSERT_TRUE(second.adoptExistingImage());
  EXPECT_EQ(second.image(), logger.image());
  WriteFile(volume + "/DAT.SRC", {1, 2, 3, 4});
  VirtualDriveLogger third(volume);
  EXPECT_FALSE(third.adoptExistingImage());
}

// Someone's image stays while the logger is plugged, pulled out or refuses
// a block; the first image the logger changes replaces it after a copy, and
// from then on the file is the logger's own.
TEST_F(VirtualLogger, KeepsAnImageItDidNotWriteAndCopiesItBeforeReplacingIt) {
  logger.setText(img::DeviceName, img::DeviceNameSize, "Mine");
  Bytes mine = logger.image();
  SealDriveImage(mine.data(), mine.size());
  fs::create_directories(volume);
  WriteFile(volume + "/DAT.SRC", mine);
  VirtualDriveLogger found(volume);
  ASSERT_TRUE(found.adoptExistingImage());
  ASSERT_TRUE(found.plugIn());
  found.unplug();
  EXPECT_EQ(ReadFile(volume + "/DAT.SRC"), mine);
  ASSERT_TRUE(found.plugIn());
  Deliver({0x55, 0x05});
  found.poll();
  EXPECT_EQ(found.lastOutcome(), VirtualDriveLogger::Outcome::Refused);
  found.poll();
  ASSERT_TRUE(found.plugged());
  EXPECT_EQ(ReadFile(volume + "/DAT.SRC"), mine);

  Deliver(BlockFor([](LoggerSettings& s) { s.intervalSeconds = 60; }));
  found.poll();
  EXPECT_EQ(found.lastOutcome(), VirtualDriveLogger::Outcome::Applied);
  found.poll();
  ASSERT_TRUE(found.plugged());
  EXPECT_EQ(ReadFile(volume + "/DAT.SRC.orig"), mine);
  EXPECT_EQ(ReadFile(volume + "/DAT.SRC"), found.image());

  Deliver(BlockFor([](LoggerSettings& s) { s.intervalSeconds = 120; }));
  found.poll();
  EXPECT_FALSE(fs::exists(volume + "/DAT.SRC"));  // its own, gone while it re-enumerates
  found.poll();
  EXPECT_EQ(ReadFile(volume + "/DAT.SRC"), found.image());
  EXPECT_FALSE(fs::exists(volume + "/DAT.SRC.orig.1"));
}

// The way out of a logger stuck after "Failed": pulled out and plugged in
// afresh by hand, with the file that stands for the unplugged cable.
TEST_F(VirtualLogger, TheUnplugSwitchPullsItOutAndPlugsItInAfresh) {
  const std::string unplugged = dir.path() + "/UNPLUGGED";
  logger.setUnplugSwitch(unplugged);
  ASSERT_TRUE(logger.plugIn());
  logger.faults.removeAfterWrite = true;
  WriteFile(volume + "/CONFIG.CFG", {1});
  logger.poll();
  logger.faults = {};
  logger.poll();
  EXPECT_FALSE(logger.plugged());  // never back by itself

  WriteFile(unplugged, {});
  logger.poll();
  EXPECT_FALSE(logger.plugged());
  fs::remove(unplugged);
  logger.poll();
  EXPECT_TRUE(logger.plugged());
  EXPECT_TRUE(fs::exists(volume + "/DAT.SRC"));

  WriteFile(unplugged, {});
  logger.poll();
  logger.poll();
  EXPECT_FALSE(logger.plugged());
  EXPECT_FALSE(fs::exists(volume + "/DAT.SRC"));
}

TEST_F(VirtualLogger, FaultsSpoilWhatTheToolWrites) {
  ASSERT_TRUE(logger.plugIn());
  const Bytes block = BlockFor([](LoggerSettings&) {});

  logger.faults.shortWrites = true;
  WriteFile(volume + "/CONFIG.CFG", block);
  logger.poll();
  logger.poll();  // spoiled once per write, not once per poll
  EXPECT_EQ(ReadFile(volume + "/CONFIG.CFG").size(), block.size() - 1);

  logger.faults.shortWrites = false;
  logger.faults.differingReadBack = true;
  WriteFile(volume + "/CONFIG.CFG", block);
  logger.poll();
  Bytes back = ReadFile(volume + "/CONFIG.CFG");
  EXPECT_EQ(back.size(), block.size());
  EXPECT_NE(back, block);

  logger.faults.differingReadBack = false;
  logger.faults.readOnly = true;
  logger.poll();
  EXPECT_FALSE(std::ofstream(volume + "/OK.DAT").is_open());

  logger.faults.readOnly = false;
  logger.poll();
  EXPECT_TRUE(std::ofstream(volume + "/OK.DAT").is_open());
  fs::remove(volume + "/OK.DAT");
  logger.faults.removeAfterWrite = true;
  WriteFile(volume + "/CONFIG.CFG", block);
  logger.poll();
  EXPECT_FALSE(logger.plugged());
  EXPECT_FALSE(fs::exists(volume + "/DAT.SRC"));
}

TEST_F(VirtualLogger, DrivesPortListsPluggedLoggersAndAdvancesThem) {
  TempDir other;
  VirtualDriveLogger second(other.path());
  VirtualDrives drives;
  drives.add(logger);
  drives.add(second);
  ASSERT_TRUE(second.plugIn());
  DriveTables tables;
  EXPECT_EQ(drives.findLoggerDrives(tables), 1);
  EXPECT_EQ(tables.loggerDiskPaths[0], "/dev/vlogger1");
  EXPECT_EQ(tables.loggerDriveRoots[0], other.path());
  EXPECT_TRUE(tables.loggerDriveRoots[1].empty());
  EXPECT_FALSE(drives.diskPresent("/dev/vlogger0"));

  ASSERT_TRUE(logger.plugIn());
  EXPECT_EQ(drives.findLoggerDrives(tables), 2);
  EXPECT_EQ(tables.loggerDriveRoots[0], volume);
  EXPECT_TRUE(drives.diskPresent("/dev/vlogger0"));

  Deliver(BlockFor([](LoggerSettings&) {}));
  EXPECT_EQ(drives.findLoggerDrives(tables), 1);  // re-enumerating
  EXPECT_EQ(drives.findLoggerDrives(tables), 2);
}

}  // namespace

namespace {

// What a person put in the demo's folder reaches the tool's real poll pass
// as it is, so the tool's own messages show, and stays after the run.
TEST(DemoOption, DriveDemoLeavesAFoundImageForTheToolAsItIs) {
  Bytes whole = VirtualDriveLogger("unused").image();
  SealDriveImage(whole.data(), whole.size());
  Bytes badCheck = whole;
  badCheck[100] ^= 1;
  Bytes random(640);
  for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<uint8_t>(i * 131 + 7);
  const struct {
    Bytes found;
    const char* message;
  } cases[] = {{Bytes(whole.begin(), whole.end() - 4), "DAT.SRC Length Error!"},
               {badCheck, "DAT.SRC Checksum Error!"},
               {random, "DAT.SRC Checksum Error!"}};
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir.path() + "/DAT.SRC", c.found);
    std::string error;
    {
      DriveDemo demo({dir.path()}, error);
      ASSERT_EQ(error, "");
      TestTool tool;
      tool.s().ports.drives = &demo.drives();
      InitialiseForm(tool.s());
      for (int i = 0; i < 3; ++i) RunPollPass(tool.s());
      ASSERT_EQ(tool.messages.shown.size(), 1u) << c.message;
      EXPECT_EQ(tool.messages.last(), c.message);
    }
    EXPECT_EQ(ReadFile(dir.path() + "/DAT.SRC"), c.found) << c.message;
    EXPECT_FALSE(fs::exists(dir.path() + "/DAT.SRC.orig"));
  }
}

TEST(DemoOption, AKeptFolderHoldsTheImageAndTheLogAfterTheRun) {
  TempDir dir;
  const std::string folder = dir.path() + "/logger";
  std::string error;
  Bytes image;
  {
    DriveDemo demo({folder}, error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(demo.folder(), folder);
    demo.logger().setText(img::DeviceName, img::DeviceNameSize, "Kept");
    DriveTables tables;
    EXPECT_EQ(demo.drives().findLoggerDrives(tables), 1);
    demo.logger().unplug();
    image = demo.logger().image();
  }
  // The next run finds the same logger in the folder.
  DriveDemo again({folder}, error);
  ASSERT_EQ(error, "");
  const Bytes& kept = again.logger().image();
  ASSERT_EQ(kept.size(), image.size());
  EXPECT_TRUE(std::equal(kept.begin(), kept.end() - 4, image.begin()));  // all but the check word

  std::string scratch;
  {
    DriveDemo temporary({}, error);
    ASSERT_EQ(error, "");
    scratch = temporary.folder();
    EXPECT_TRUE(fs::exists(scratch + "/DAT.SRC"));
  }
  EXPECT_FALSE(fs::exists(scratch));

  WriteFile(dir.path() + "/plain", {1});
  DriveDemo refused({dir.path() + "/plain"}, error);
  EXPECT_NE(error, "");
}

}  // namespace
