#include "app/poll_pass.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "support/test_tool.h"

namespace {

// Writes a "DAT.SRC" of `length` bytes with the given family byte and product
// byte, sealed with its check word unless `seal` is false.
void WriteImage(const std::string& path, uint32_t length, uint8_t fwHigh = 0x24,
                uint8_t productLow = 0x82, bool seal = true) {
  std::vector<uint8_t> bytes(length);
  if (length > img::ProductIdLow) {
    bytes[img::FwVersionHigh] = fwHigh;
    bytes[img::ProductIdLow] = productLow;
  }
  if (seal) SealDriveImage(bytes.data(), length & ~3u);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

class PollPass : public ::testing::Test {
 protected:
  TestTool tool;
  TempDir volume;
  TempDir volume2;

  void SetUp() override {
    InitialiseForm(tool.s());
    RunPollPass(tool.s());  // the first pass only resets the form
  }
  void Plug(const TempDir& dir, const std::string& disk = "/dev/sdb") {
    tool.drives.drives.push_back({disk, dir.path()});
  }
  void Unplug() { tool.drives.drives.clear(); }
  std::string Caption() { return tool.form.text(ctl::Configure); }
  bool ConfigureEnabled() { return tool.form.enabled(ctl::Configure); }
};

TEST(PollPassStart, FirstPassResetsTheFormAndLooksForNothing) {
  TestTool tool;
  InitialiseForm(tool.s());
  EXPECT_EQ(tool.form.text(ctl::Configure), "Plug Logger");
  EXPECT_EQ(RunPollPass(tool.s()), 50);
  EXPECT_EQ(tool.form.text(ctl::Configure), "Plug Device");
  EXPECT_FALSE(tool.form.enabled(ctl::Configure));
  EXPECT_EQ(tool.form.at(ctl::StartPicker).dateTimeFormat, "yyyy/MM/dd HH:mm");
  EXPECT_EQ(tool.drives.findCalls, 0);
  EXPECT_TRUE(tool.state->poll.firstPassDone);
}

TEST(PollPassStart, InitialFormContents) {
  TestTool tool;
  tool.clock.standardOffset = 480;  // UTC+08:00
  InitialiseForm(tool.s());
  EXPECT_EQ(tool.form.text(ctl::TimeZone), "UTC+08:00");
  EXPECT_EQ(tool.form.selection(ctl::DateFormat), 1);
  EXPECT_EQ(tool.form.selection(ctl::Channel), 0);
  EXPECT_EQ(tool.form.text(ctl::StartDelay), "30");
  EXPECT_EQ(tool.form.text(ctl::Interval), "1");
  EXPECT_EQ(tool.form.text(ctl::LowTempAlarm), "2.0");
  EXPECT_EQ(tool.form.text(ctl::HighTempAlarm), "8.0");
  EXPECT_EQ(tool.form.text(ctl::LowHumidityAlarm), "20.0");
  EXPECT_EQ(tool.form.text(ctl::HighHumidityAlarm), "80.0");
  EXPECT_EQ(tool.form.text(ctl::Trademark), "KELM");
  EXPECT_EQ(tool.form.text(ctl::RecordLedFlash), "0");
  EXPECT_FALSE(tool.form.enabled(ctl::StartOnTime));
  EXPECT_FALSE(tool.form.enabled(ctl::StartPicker));
  EXPECT_EQ(tool.state->poll.changeFlags, 0u);  // the program's own writes leave no work
  EXPECT_DOUBLE_EQ(tool.state->settings.tempAlarmLowF, 35.6);
  EXPECT_EQ(tool.state->device.sensorTempMin, -2000);

  TestTool east;
  east.clock.standardOffset = 780;  // UTC+13:00 has no entry
  InitialiseForm(east.s());
  EXPECT_EQ(east.form.selection(ctl::TimeZone), -1);
}

TEST_F(PollPass, LoggerIsFoundAndReadInOnePass) {
  WriteImage(volume.file("DAT.SRC"), 640);
  Plug(volume);
  EXPECT_EQ(RunPollPass(tool.s()), 50);
  EXPECT_EQ(Caption(), "Configure");
  EXPECT_TRUE(ConfigureEnabled());
  EXPECT_EQ(tool.state->poll.driveCount, 1);
  EXPECT_EQ(tool.state->device.fwVersionHigh, 0x24);
  EXPECT_TRUE(tool.messages.shown.empty());
  // Present on later passes: discovery runs, the image is not read again.
  WriteImage(volume.file("DAT.SRC"), 642);
  RunPollPass(tool.s());
  RunPollPass(tool.s());
  EXPECT_TRUE(tool.messages.shown.empty());
  EXPECT_EQ(tool.drives.findCalls, 3);
}

TEST_F(PollPass, ImageFaultsAreReportedOncePerAppearance) {
  struct Case {
    uint32_t length;
    bool seal;
    const char* message;
    MessageIcon icon;
  } cases[] = {
      {639, true, "DAT.SRC Length Error!", MessageIcon::Warning},
      {642, true, "DAT.SRC Length Error!", MessageIcon::Warning},
      {636, true, "DAT.SRC Length Error!", MessageIcon::Warning},
      {640, false, "DAT.SRC Checksum Error!", MessageIcon::None},
  };
  for (const Case& c : cases) {
    tool.messages.shown.clear();
    WriteImage(volume.file("DAT.SRC"), c.length, 0x24, 0x82, c.seal);
    Plug(volume);
    for (int i = 0; i < 3; ++i) RunPollPass(tool.s());
    ASSERT_EQ(tool.messages.shown.size(), 1u) << c.length;
    EXPECT_EQ(tool.messages.last(), c.message);
    EXPECT_EQ(tool.messages.shown[0].icon, c.icon);
    EXPECT_EQ(Caption(), "Plug Device");
    Unplug();
    RunPollPass(tool.s());
  }
}

TEST_F(PollPass, FamilyAndProductRules) {
  WriteImage(volume.file("DAT.SRC"), 640, 0x2F);
  Plug(volume);
  RunPollPass(tool.s());
  EXPECT_EQ(Caption(), "Configure");
  Unplug();
  RunPollPass(tool.s());

  WriteImage(volume.file("DAT.SRC"), 640, 0x30);
  Plug(volume);
  RunPollPass(tool.s());
  EXPECT_EQ(tool.messages.last(), "Device is unsupported!");
  EXPECT_EQ(tool.state->device.fwVersionHigh, 0x30);  // header kept though dropped
  EXPECT_EQ(Caption(), "Plug Device");
  Unplug();
  RunPollPass(tool.s());

  tool.messages.shown.clear();
  WriteImage(volume.file("DAT.SRC"), 640, 0x24, 0x81);
  Plug(volume);
  RunPollPass(tool.s());
  EXPECT_TRUE(tool.messages.shown.empty());
  EXPECT_EQ(Caption(), "Plug Device");
  EXPECT_FALSE(ConfigureEnabled());
}

TEST_F(PollPass, MissingImageIsNotRetriedWhileTheDriveStays) {
  Plug(volume);
  RunPollPass(tool.s());
  WriteImage(volume.file("DAT.SRC"), 640);
  RunPollPass(tool.s());
  EXPECT_EQ(Caption(), "Plug Device");
  Unplug();
  RunPollPass(tool.s());
  Plug(volume);
  RunPollPass(tool.s());
  EXPECT_EQ(Caption(), "Configure");
}

TEST_F(PollPass, ImageThatIsNotARegularFileCountsAsMissing) {
  // A FIFO would block the pass in open() or read() for ever.
  ASSERT_EQ(::mkfifo(volume.file("DAT.SRC").c_str(), 0644), 0);
  Plug(volume);
  RunPollPass(tool.s());
  EXPECT_TRUE(tool.messages.shown.empty());
  EXPECT_EQ(Caption(), "Plug Device");
}

TEST_F(PollPass, FirstOfTwoLoggersIsRead) {
  WriteImage(volume.file("DAT.SRC"), 640, 0x21);
  WriteImage(volume2.file("DAT.SRC"), 640, 0x22);
  Plug(volume, "/dev/sdb");
  Plug(volume2, "/dev/sdc");
  RunPollPass(tool.s());
  EXPECT_EQ(tool.state->poll.driveCount, 2);
  EXPECT_EQ(tool.state->device.fwVersionHigh, 0x21);
  EXPECT_EQ(tool.state->poll.currentDrivePath, "/dev/sdb");
}

TEST_F(PollPass, RemovalResetsTheFormAndReportsAnUnfinishedDelivery) {
  WriteImage(volume.file("DAT.SRC"), 640);
  Plug(volume);
  RunPollPass(tool.s());
  tool.form.setText(ctl::FwVersion, "FW Version:V2.4");
  tool.state->poll.transferState = TransferVerify;
  tool.state->block.length = 100;
  Unplug();
  RunPollPass(tool.s());
  EXPECT_EQ(tool.messages.last(), "Configuration failed ,Make sure the device is connected well");
  EXPECT_EQ(Caption(), "Plug Device");
  EXPECT_FALSE(ConfigureEnabled());
  EXPECT_EQ(tool.form.text(ctl::FwVersion), "FW Version:");
  EXPECT_EQ(tool.form.text(ctl::RecordingTime), "Longest Recording Time:");
  EXPECT_EQ(tool.state->poll.transferState, TransferIdle);
  EXPECT_EQ(tool.state->block.length, 0);
  EXPECT_EQ(tool.state->poll.driveCount, 0);
  EXPECT_TRUE(tool.state->poll.currentDrivePath.empty());
}

TEST_F(PollPass, FinishedDriveUpgradeLeadsStraightToConfigure) {
  WriteImage(volume.file("DAT.SRC"), 640);
  tool.form.setText(ctl::Configure, "正在更新固件");
  tool.state->poll.upgradeState = upgrade::DriveDone;
  Plug(volume);
  RunPollPass(tool.s());
  EXPECT_EQ(tool.state->poll.upgradeState, upgrade::Idle);
  // The Configure step ran in the same pass, without the logger first being
  // offered for configuration.
  EXPECT_EQ(tool.state->poll.changeFlags & flag::ConfigureRequested, 0u);
  EXPECT_NE(Caption(), "正在更新固件");
  EXPECT_TRUE(Caption() == "Configuring..." || !tool.messages.shown.empty()) << Caption();
}

TEST_F(PollPass, UpgradeStatesChooseThePeriod) {
  tool.state->poll.upgradeState = upgrade::HidSending;
  struct Unused : HidChannel {
    HidRead read(HidReport&, int) override { return HidRead::TimedOut; }
    HidWriteResult write(const HidReport&, int) override { return {}; }
  };
  tool.state->hid.setWriteChannel(std::make_shared<Unused>());
  tool.state->hid.deviceCount = 1;
  EXPECT_EQ(RunPollPass(tool.s()), 100);
  EXPECT_EQ(tool.drives.findCalls, 0);

  // The logger went away during the upgrade: reported, then the link is handled.
  tool.state->hid.setWriteChannel(nullptr);
  tool.state->hid.linkEvent = 2;
  tool.state->upgradeJob.length = 62464;
  EXPECT_EQ(RunPollPass(tool.s()), 50);
  EXPECT_EQ(tool.messages.last(), "Upgrade failed,Make sure the device is connected well");
  EXPECT_EQ(tool.state->upgradeJob.length, 0u);
  EXPECT_EQ(tool.state->hid.linkEvent, 0);
  EXPECT_EQ(Caption(), "Plug Device");
}

TEST_F(PollPass, HidLoggerSuspendsDrivePolling) {
  WriteImage(volume.file("DAT.SRC"), 640);
  Plug(volume);
  RunPollPass(tool.s());
  tool.state->hid.deviceCount = 1;
  Unplug();
  int calls = tool.drives.findCalls;
  RunPollPass(tool.s());
  EXPECT_EQ(tool.drives.findCalls, calls);
  EXPECT_EQ(Caption(), "Configure");  // the drive's removal is not noticed yet
  tool.state->hid.deviceCount = 0;
  RunPollPass(tool.s());
  EXPECT_EQ(Caption(), "Plug Device");
}

}  // namespace
