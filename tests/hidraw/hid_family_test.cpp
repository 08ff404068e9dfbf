// The HID family end to end on the real Linux port: hidapi lists a fake
// hidraw node, and the receive thread, transactions, poll pass and transfer
// talk to the virtual HID logger behind it. Runs under umockdev-wrapper.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "app/poll_pass.h"
#include "core/control_ids.h"
#include "hid/hidraw_port.h"
#include "hid/receive_thread.h"
#include "sim/virtual_hid_logger.h"
#include "support/fake_hidraw_logger.h"
#include "support/poll_passes.h"
#include "support/test_tool.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class HidFamilyOnHidraw : public ::testing::Test {
 protected:
  std::mutex loggerMutex;  // the fake's thread answers through the model
  VirtualHidLogger logger;
  std::unique_ptr<FakeHidrawLogger> node;
  TestTool tool;
  HidrawPort port;
  HidReceiveThread receiver{tool.s(), port};

  void Plug() {
    node = std::make_unique<FakeHidrawLogger>([this](const HidReport& request) {
      std::lock_guard<std::mutex> lock(loggerMutex);
      return logger.handle(request);
    });
    ASSERT_TRUE(node->ok()) << node->error();
  }
  void SetUp() override {
    Plug();
    tool.s().ports.hid = &port;
    InitialiseForm(tool.s());
    RunPollPass(tool.s());
    receiver.start();
  }
  void TearDown() override { receiver.stop(); }

  std::string Caption() { return tool.form.text(ctl::Configure); }
  bool PassUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s) {
    return ::PassUntil(tool.s(), done, limit);
  }
  int Transfers() {
    std::lock_guard<std::mutex> lock(loggerMutex);
    return logger.receivedTransfers();
  }
};

TEST_F(HidFamilyOnHidraw, ArrivalReadConfigureAndRemoval) {
  // Only the exact logger identity is taken: the 0401 neighbour is not.
  ASSERT_TRUE(PassUntil([&] { return Caption() == "Configure"; }));
  EXPECT_EQ(tool.s().hid.deviceCount.load(), 1);
  EXPECT_EQ(tool.s().image.length, 9u * 58u);
  EXPECT_EQ(tool.form.text(ctl::DeviceName), "Virtual HID Logger");

  // The logger takes no report for a while: the write is tried again after
  // its limit and the delivery still completes.
  tool.form.at(ctl::DeviceName).text = "Freezer 4";
  tool.form.at(ctl::Interval).text = "120";
  node->holdWrites(700ms);
  tool.s().poll.changeFlags |= flag::ConfigureRequested;
  RunPollPass(tool.s());
  EXPECT_TRUE(tool.messages.texts().empty()) << tool.messages.last();
  // The fake logger takes the closing TransferEnd on its own thread, which
  // awaits no answer: give it the moment it needs.
  const auto end = Clock::now() + 2s;
  while (Transfers() != 1 && Clock::now() < end) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(Transfers(), 1);
  EXPECT_EQ(logger.lastOutcome(), VirtualHidLogger::Outcome::Applied);
  // The user information went as 58 bytes at offset 0 and 42 at offset 58.
  std::vector<std::pair<uint8_t, uint32_t>> userInfo;
  for (const HidReport& r : node->received())
    if (r[1] == 0x19) userInfo.push_back({r[2], r[3] | r[4] << 8 | r[5] << 16});
  EXPECT_EQ(userInfo, (std::vector<std::pair<uint8_t, uint32_t>>{{64, 0}, {48, 58}}));

  // Pulled out: the form lets it go; plugged in again, it shows what it holds.
  node->unplug();
  ASSERT_TRUE(PassUntil([&] { return Caption() == "Plug Device"; }, 1500ms));
  node.reset();
  Plug();
  ASSERT_TRUE(PassUntil([&] { return Caption() == "Configure"; }));
  EXPECT_EQ(tool.form.text(ctl::DeviceName), "Freezer 4");
  EXPECT_EQ(tool.form.text(ctl::Interval), "120");
  EXPECT_TRUE(tool.messages.texts().empty()) << tool.messages.last();
}

}  // namespace
