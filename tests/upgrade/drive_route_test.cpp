// The drive route on a real directory: "APP.BIN" in steps that end where the
// shown percentage changes, the read-back, and the three records.
#include <gtest/gtest.h>

#include <vector>

#include "core/control_ids.h"
#include "support/test_tool.h"
#include "upgrade/firmware_images.h"
#include "upgrade/firmware_upgrade.h"

namespace {

class DriveRoute : public ::testing::Test {
 protected:
  TestTool tool;
  TempDir volume;

  DriveRoute() {
    ToolState& s = tool.s();
    s.device.fwVersionHigh = 0x24;
    s.device.fwVersionLow = 0x02;
    s.device.fwVersion = 0x2402;
    s.poll.driveCount = 1;
    s.drives.loggerDriveRoots[0] = volume.path();
  }
};

TEST_F(DriveRoute, WritesTheImageInStepsThenAsksForTheRecordsToGo) {
  ToolState& s = tool.s();
  ASSERT_TRUE(StartFirmwareUpgrade(s));
  EXPECT_EQ(s.poll.upgradeState.load(), upgrade::DriveWriting);
  std::vector<std::string> captions;
  int passes = 0;
  while (s.poll.upgradeState.load() == upgrade::DriveWriting && passes < 1000) {
    FirmwareUpgradeStep(s);
    ++passes;
    captions.push_back(tool.form.text(ctl::Configure));
  }
  EXPECT_EQ(passes, 100);  // 99 percentage steps, then the read-back
  EXPECT_EQ(captions.front(), "升级中(01%)");
  EXPECT_EQ(captions[98], "升级中(99%)");
  EXPECT_EQ(captions.back(), "正在更新固件");

  const std::span<const uint8_t> image = AppImageStm32();
  EXPECT_EQ(ReadFile(volume.file("APP.BIN")), Bytes(image.begin(), image.end()));
  EXPECT_EQ(s.poll.upgradeState.load(), upgrade::DriveDone);
  EXPECT_EQ(s.poll.transferState, TransferWrite);
  EXPECT_EQ(s.upgradeJob.length.load(), 0u);
  const Bytes records(s.block.bytes.begin(), s.block.bytes.begin() + s.block.length);
  EXPECT_EQ(records, (Bytes{0x55, 11, 0x82, 0x03, 0, 0, 0, 0, 0, 0, 0xE5,
                            0x55, 13, 0x82, 0x64, 'A', 'P', 'P', '.', 'B', 'I', 'N', 0, 0x30,
                            0x55, 5, 0x82, 0xFF, 0xDB}));
  EXPECT_TRUE(tool.messages.shown.empty());
}

TEST_F(DriveRoute, AVolumeThatTakesNoFileFailsTheUpgrade) {
  ToolState& s = tool.s();
  s.drives.loggerDriveRoots[0] = volume.file("gone");
  ASSERT_TRUE(StartFirmwareUpgrade(s));
  FirmwareUpgradeStep(s);
  EXPECT_EQ(s.poll.upgradeState.load(), upgrade::Idle);
  EXPECT_EQ(tool.form.text(ctl::Configure), "升级失败!");
  EXPECT_FALSE(tool.form.enabled(ctl::Configure));
  EXPECT_EQ(tool.messages.last(), "升级失败,请重新配置!");
  EXPECT_EQ(s.upgradeJob.length.load(), 0u);
  EXPECT_EQ(s.block.length, 0);
}

}  // namespace
