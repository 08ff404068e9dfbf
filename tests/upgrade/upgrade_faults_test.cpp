// Upgrades that go wrong, through the real poll pass, receive thread and
// volume writes, with the virtual loggers: each ends with its message,
// caption and state, and nothing hangs.
#include <gtest/gtest.h>

#include <chrono>

#include "app/hid_link.h"
#include "app/poll_pass.h"
#include "core/control_ids.h"
#include "formats/image_layout.h"
#include "hid/receive_thread.h"
#include "sim/memory_hid.h"
#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"
#include "sim/virtual_hid_logger.h"
#include "support/poll_passes.h"
#include "support/test_tool.h"
#include "upgrade/firmware_upgrade.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kGone = "Upgrade failed,Make sure the device is connected well";

class HidUpgrade : public ::testing::Test {
 protected:
  TestTool tool;
  VirtualHidLogger logger;
  MemoryHidPort port;
  std::size_t index = 0;
  std::unique_ptr<HidReceiveThread> receiver;  // last: stopped before the rest goes

  HidUpgrade() {
    logger.setU8(img::FwVersionLow, 0x93);  // 0x4093
    logger.latency = 0ms;
    index = port.add(logger);
    tool.s().ports.hid = &port;
    InitialiseForm(tool.s());
    RunPollPass(tool.s());
    receiver = StartHidReceiveThread(tool.s(), port);
  }

  std::string Caption() { return tool.form.text(ctl::Configure); }
  uint8_t State() { return tool.s().poll.upgradeState.load(); }
  template <typename Edit>
  void Logger(Edit&& edit) {
    port.edit(index, std::forward<Edit>(edit));
  }
  void Connect() { ASSERT_TRUE(PassUntil(tool.s(), [&] { return Caption() == "Configure"; })); }
  void ConnectAndConfigure() {
    Connect();
    Configure();
  }
  void Configure() {
    tool.s().poll.changeFlags |= flag::ConfigureRequested;
    RunPollPass(tool.s());
    ASSERT_FALSE(tool.form.enabled(ctl::Configure));  // the upgrade has begun
  }
};

TEST_F(HidUpgrade, ARejectedUpgradeEndsAtOnce) {
  Logger([](VirtualHidLogger& l) { l.faults.rejectUpgrade = true; });
  ConnectAndConfigure();
  ASSERT_TRUE(PassUntil(tool.s(), [&] { return State() == upgrade::Idle; }));
  EXPECT_EQ(tool.messages.last(), "Upgrade was Rejected");
  EXPECT_EQ(tool.s().upgradeJob.length.load(), 0u);
  EXPECT_FALSE(tool.form.enabled(ctl::Configure));
}

TEST_F(HidUpgrade, AWrongChecksumSendsNoUpgradeEndAndFailsWhenTheLoggerGoes) {
  Logger([](VirtualHidLogger& l) { l.faults.wrongChecksum = true; });
  ConnectAndConfigure();
  ASSERT_TRUE(PassUntil(tool.s(), [&] { return !tool.messages.texts().empty(); }));
  EXPECT_EQ(tool.messages.last(), "Failed to upgrade: Checksum Error!");
  EXPECT_EQ(State(), upgrade::HidSending);  // until the logger goes away
  port.unplug(index);
  ASSERT_TRUE(PassUntil(tool.s(), [&] { return Caption() == "Plug Device"; }));
  EXPECT_EQ(tool.messages.last(), kGone);
  EXPECT_EQ(State(), upgrade::Idle);
  Logger([](VirtualHidLogger& l) { EXPECT_EQ(l.upgradeEnds(), 0u); });
}

TEST_F(HidUpgrade, AnUnansweredFrameIsSentAgainAfterASecond) {
  Connect();
  Logger([](VirtualHidLogger& l) { l.faults.unansweredReports = 1; });
  Configure();
  ASSERT_TRUE(PassUntil(tool.s(), [&] { return State() == upgrade::HidDone; }, 10s));
  Logger([](VirtualHidLogger& l) {
    EXPECT_EQ(l.upgradeDataFrames(), 1117u);  // one of them twice
    EXPECT_EQ(l.upgrades(), 1);
  });
  EXPECT_TRUE(tool.messages.texts().empty()) << tool.messages.last();
}

TEST_F(HidUpgrade, PulledOutMidUpgradeFailsAndResets) {
  Logger([](VirtualHidLogger& l) { l.faults.unplugAtReport = l.reportsReceived() + 300; });
  ConnectAndConfigure();
  ASSERT_TRUE(PassUntil(tool.s(), [&] { return Caption() == "Plug Device"; }));
  EXPECT_EQ(tool.messages.texts(), std::vector<std::string>{kGone});
  EXPECT_EQ(State(), upgrade::Idle);
  EXPECT_EQ(tool.s().upgradeJob.length.load(), 0u);
}

// The logger comes back still older than the firmware sent: configuring it
// would start the same upgrade again, for ever.
TEST_F(HidUpgrade, AnUpgradeThatDoesNotTakeFailsInsteadOfLooping) {
  Logger([](VirtualHidLogger& l) { l.faults.oldVersionAfterUpgrade = true; });
  ConnectAndConfigure();
  ASSERT_TRUE(PassUntil(tool.s(), [&] { return Caption() == "升级失败!"; }, 10s));
  EXPECT_EQ(State(), upgrade::Idle);
  EXPECT_FALSE(tool.form.enabled(ctl::Configure));
  EXPECT_EQ(tool.messages.texts(), std::vector<std::string>{kUpgradeFailedMessage});
  EXPECT_EQ(tool.s().poll.changeFlags & flag::ConfigureRequested, 0u);
  RunPollPass(tool.s());
  Logger([](VirtualHidLogger& l) {
    EXPECT_EQ(l.upgrades(), 1);
    EXPECT_EQ(l.receivedTransfers(), 0);
  });
}

class DriveUpgrade : public ::testing::Test {
 protected:
  TempDir dir;
  VirtualDriveLogger logger{dir.path() + "/volume"};
  VirtualDrives drives;
  TestTool tool;

  DriveUpgrade() {
    logger.setU8(img::FwVersionLow, 0x02);  // 0x2402
    drives.add(logger);
    tool.s().ports.drives = &drives;
    InitialiseForm(tool.s());
    RunPollPass(tool.s());
  }
  std::string Caption() { return tool.form.text(ctl::Configure); }
  void Upgrade(const VirtualDriveLogger::Faults& faults) {
    ASSERT_TRUE(logger.plugIn());
    for (int pass = 0; pass < 10 && Caption() != "Configure"; ++pass) RunPollPass(tool.s());
    ASSERT_EQ(Caption(), "Configure");
    logger.faults = faults;
    tool.s().poll.changeFlags |= flag::ConfigureRequested;
    for (int pass = 0; pass < 400 && tool.messages.texts().empty(); ++pass) {
      RunPollPass(tool.s());
      // A device acts while it is written to; the passes of an upgrade look
      // for no drives, so the logger is given its turn here.
      if (tool.s().poll.upgradeState.load() == upgrade::DriveWriting) logger.poll();
    }
  }
};

TEST_F(DriveUpgrade, AFirmwareFileThatDoesNotReadBackFailsTheUpgrade) {
  for (int fault = 0; fault < 2; ++fault) {
    SCOPED_TRACE(fault);
    tool.messages.shown.clear();
    logger.unplug();
    RunPollPass(tool.s());
    Upgrade({.firmwareShortWrite = fault == 0, .firmwareDifferingReadBack = fault == 1});
    EXPECT_EQ(tool.messages.last(), kUpgradeFailedMessage);
    EXPECT_EQ(Caption(), "升级失败!");
    EXPECT_FALSE(tool.form.enabled(ctl::Configure));
    EXPECT_EQ(tool.s().poll.upgradeState.load(), upgrade::Idle);
    EXPECT_EQ(tool.s().poll.transferState, TransferIdle);
    EXPECT_EQ(logger.upgrades(), 0);
  }
}

TEST_F(DriveUpgrade, AnUpgradeThatDoesNotTakeFailsInsteadOfLooping) {
  Upgrade({.oldVersionAfterUpgrade = true});
  EXPECT_EQ(logger.upgrades(), 1);
  EXPECT_EQ(tool.messages.texts(), std::vector<std::string>{kUpgradeFailedMessage});
  EXPECT_EQ(Caption(), "升级失败!");
  EXPECT_EQ(tool.s().poll.upgradeState.load(), upgrade::Idle);
  for (int pass = 0; pass < 20; ++pass) RunPollPass(tool.s());
  EXPECT_EQ(logger.upgrades(), 1);
  EXPECT_EQ(logger.lastOutcome(), VirtualDriveLogger::Outcome::Upgraded);
}

}  // namespace
