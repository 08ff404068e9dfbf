// The HID route's frames as they leave the tool, written to a channel that
// keeps them: offsets, length bytes, the final frame and UpgradeEnd.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "core/control_ids.h"
#include "hid/hid_transactions.h"
#include "support/test_tool.h"
#include "upgrade/firmware_images.h"
#include "upgrade/firmware_upgrade.h"

namespace {

struct KeepingChannel : HidChannel {
  std::vector<HidReport> written;
  HidRead read(HidReport&, int) override { return HidRead::TimedOut; }
  HidWriteResult write(const HidReport& report, int) override {
    written.push_back(report);
    return {HidWrite::Written, report.size()};
  }
};

uint32_t Offset(const HidReport& r) { return r[3] | r[4] << 8 | r[5] << 16; }

// A HID logger of the family and kind that takes the carried firmware.
void OlderHidLogger(ToolState& s, uint16_t version) {
  s.device.fwVersionHigh = static_cast<uint8_t>(version >> 8);
  s.device.fwVersionLow = static_cast<uint8_t>(version);
  s.device.fwVersion = version;
  s.device.sensorKind = 1;
  s.device.capabilityFlags = 0x0C;
  s.device.productIdHigh = 0;
  s.device.productIdLow = 0x82;
  s.hid.deviceCount.store(1);
}

TEST(UpgradeFrames, TheWholeImageThenTheFinalFrameThenUpgradeEnd) {
  TestTool tool;
  ToolState& s = tool.s();
  auto channel = std::make_shared<KeepingChannel>();
  s.hid.setWriteChannel(channel);
  OlderHidLogger(s, 0x4093);
  std::vector<std::string> captions;

  ASSERT_TRUE(StartFirmwareUpgrade(s));  // the first frame goes out at once
  EXPECT_EQ(s.poll.upgradeState.load(), upgrade::HidSending);
  EXPECT_FALSE(tool.form.enabled(ctl::Configure));
  for (int answers = 0; answers < 1117 && s.poll.upgradeState.load() == upgrade::HidSending;
       ++answers) {
    const std::string shown = tool.form.text(ctl::Configure);
    if (captions.empty() || captions.back() != shown) captions.push_back(shown);
    SendUpgradeFrame(s, false);  // as the receive thread does after each answer
  }

  const std::vector<HidReport>& w = channel->written;
  ASSERT_EQ(w.size(), 1118u);  // 1116 data frames, the final frame, UpgradeEnd
  const std::span<const uint8_t> image = AppImageKl26();
  EXPECT_EQ(w[0][1], 0x93);
  EXPECT_EQ(w[0][2], 62);
  EXPECT_EQ(Offset(w[0]), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&w[0][6])), "MKL26Z128_APP.BIN");
  EXPECT_EQ(w[1115][2], 30);
  EXPECT_EQ(Offset(w[1115]), 62464u - 24u);
  EXPECT_TRUE(std::equal(image.end() - 24, image.end(), w[1115].begin() + 6));
  EXPECT_EQ(w[1116][1], 0x93);
  EXPECT_EQ(w[1116][2], 6);
  EXPECT_EQ(w[1116][3], 0x00);
  EXPECT_EQ(w[1116][4], 0xF4);
  EXPECT_EQ(w[1116][5], 0x00);
  EXPECT_EQ(w[1117][1], 0x7F);
  EXPECT_EQ(w[1117][2], 6);
  // Every data byte went once, in order.
  std::vector<uint8_t> joined;
  for (std::size_t k = 0; k < 1116; ++k) {
    EXPECT_EQ(Offset(w[k]), joined.size());
    joined.insert(joined.end(), w[k].begin() + 6, w[k].begin() + w[k][2]);
  }
  EXPECT_TRUE(std::equal(image.begin(), image.end(), joined.begin(), joined.end()));

  EXPECT_EQ(s.poll.upgradeState.load(), upgrade::HidDone);
  EXPECT_EQ(s.upgradeJob.length.load(), 0u);
  EXPECT_EQ(tool.form.text(ctl::Configure), "正在更新固件");
  ASSERT_GE(captions.size(), 3u);
  EXPECT_EQ(captions[1], "升级中(01%)");
  EXPECT_EQ(captions[captions.size() - 1], "升级中(99%)");
  // A Configure while the logger is away after the upgrade does nothing.
  EXPECT_TRUE(StartFirmwareUpgrade(s));
  EXPECT_EQ(channel->written.size(), 1118u);
}

TEST(UpgradeFrames, WhoIsUpgradedAndWhoIsNot) {
  struct Case {
    uint8_t high, low, sensorKind, caps, pidHigh, hidCount, driveCount;
    bool started;
    const char* message;
  };
  const Case cases[] = {
      {0x24, 0x02, 0, 0, 0, 0, 1, true, ""},
      {0x24, 0x03, 0, 0, 0, 0, 1, false, ""},
      {0x20, 0xFF, 0, 0, 0, 0, 1, true, ""},
      {0x24, 0x02, 0, 0, 0, 0, 2, false, "Make sure there is only one device inserted in USB!"},
      {0x30, 0x00, 1, 0x0C, 0, 1, 0, false, ""},
      {0x41, 0x00, 1, 0x0C, 0, 1, 0, false, ""},
      {0x40, 0x93, 1, 0x04, 0, 1, 0, false, ""},
      {0x40, 0x94, 1, 0x0C, 0, 1, 0, false, ""},
      {0x40, 0x93, 1, 0x0C, 1, 1, 0, false, "FW PID/VID Don't match!"},
      {0x40, 0x93, 1, 0x0C, 0, 2, 0, true,
       "Failed,make sure there is only one device inserted in USB!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.high) << int(c.low));
    TestTool tool;
    ToolState& s = tool.s();
    s.device.fwVersionHigh = c.high;
    s.device.fwVersionLow = c.low;
    s.device.fwVersion = static_cast<uint16_t>(c.high << 8 | c.low);
    s.device.sensorKind = c.sensorKind;
    s.device.capabilityFlags = c.caps;
    s.device.productIdHigh = c.pidHigh;
    s.device.productIdLow = 0x82;
    s.hid.deviceCount.store(c.hidCount);
    s.poll.driveCount = c.driveCount;
    EXPECT_EQ(StartFirmwareUpgrade(s), c.started);
    EXPECT_EQ(tool.messages.last(), c.message);
    // Several HID loggers end the request without starting anything.
    if (c.hidCount > 1) {
      EXPECT_EQ(s.poll.upgradeState.load(), upgrade::Idle);
    }
  }
}

// Stand-in images are no firmware: a real logger never gets one, and is
// configured with the firmware it has.
TEST(UpgradeFrames, StandInsAreNeverSentToARealLogger) {
  if (!FirmwareImagesAreStandIns()) GTEST_SKIP() << "this build carries real images";
  TestTool tool;
  ToolState& s = tool.s();
  s.virtualLoggersOnly = false;
  auto channel = std::make_shared<KeepingChannel>();
  s.hid.setWriteChannel(channel);
  OlderHidLogger(s, 0x4093);
  EXPECT_FALSE(StartFirmwareUpgrade(s));
  EXPECT_FALSE(StartFirmwareUpgrade(s));
  EXPECT_TRUE(channel->written.empty());
  EXPECT_EQ(s.poll.upgradeState.load(), upgrade::Idle);
  EXPECT_EQ(tool.messages.texts(), std::vector<std::string>{kStandInRefusalMessage});
}

}  // namespace
