// The HID family through the real receive thread, transactions, poll pass
// and transfer, with the virtual HID logger behind the in-memory port.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "app/poll_pass.h"
#include "core/control_ids.h"
#include "formats/image_layout.h"
#include "hid/hid_transactions.h"
#include "hid/receive_thread.h"
#include "sim/memory_hid.h"
#include "sim/virtual_hid_logger.h"
#include "support/poll_passes.h"
#include "support/test_tool.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class HidFamily : public ::testing::Test {
 protected:
  TestTool tool;
  VirtualHidLogger logger;
  MemoryHidPort port;
  std::size_t index = port.add(logger);
  HidReceiveThread receiver{tool.s(), port};  // last: stopped before the rest goes

  HidFamily() {
    tool.s().ports.hid = &port;
    InitialiseForm(tool.s());
    RunPollPass(tool.s());  // the first pass only resets the form
    receiver.start();
  }

  std::string Caption() { return tool.form.text(ctl::Configure); }
  bool PassUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s) {
    return ::PassUntil(tool.s(), done, limit);
  }
  bool Connected() {
    return PassUntil([&] { return Caption() == "Configure"; });
  }
  // The arrival, taken without reading the image, for the exchanges below.
  bool Arrived() {
    const auto end = Clock::now() + 3s;
    while (tool.s().hid.linkEvent.load() != 1)
      if (Clock::now() > end) return false;
    tool.s().hid.storeLinkEvent(0);
    return true;
  }
  void RequestConfigure() {
    tool.s().poll.changeFlags |= flag::ConfigureRequested;
    RunPollPass(tool.s());
  }
};

TEST_F(HidFamily, ArrivalReadConfigureAndRemoval) {
  ASSERT_TRUE(Connected());
  EXPECT_EQ(tool.s().image.length, 9u * 58u);  // stops at the first answer past 516 bytes
  EXPECT_EQ(tool.form.text(ctl::DeviceName), "Virtual HID Logger");
  EXPECT_EQ(tool.s().hid.deviceCount.load(), 1);

  tool.form.at(ctl::DeviceName).text = "Freezer 4";
  tool.form.at(ctl::Interval).text = "120";
  tool.form.at(ctl::UserInfo).text = std::string(99, 'u');
  RequestConfigure();  // built and sent over HID within the one pass
  EXPECT_TRUE(tool.messages.texts().empty()) << tool.messages.last();
  ASSERT_EQ(logger.receivedTransfers(), 1);
  EXPECT_EQ(logger.lastOutcome(), VirtualHidLogger::Outcome::Applied);
  EXPECT_EQ(tool.s().poll.transferState, TransferIdle);
  EXPECT_EQ(tool.s().block.length, 0);

  // Read again, the logger shows what it was given.
  port.unplug(index);
  ASSERT_TRUE(PassUntil([&] { return Caption() == "Plug Device"; }, 1500ms));
  EXPECT_FALSE(tool.form.enabled(ctl::Configure));
  port.plug(index);
  ASSERT_TRUE(Connected());
  EXPECT_EQ(tool.form.text(ctl::DeviceName), "Freezer 4");
  EXPECT_EQ(tool.form.text(ctl::Interval), "120");
  EXPECT_EQ(tool.form.text(ctl::UserInfo), std::string(99, 'u'));
  EXPECT_TRUE(tool.messages.texts().empty()) << tool.messages.last();
}

TEST_F(HidFamily, ImageReadToleratesTenWrongAnswers) {
  ASSERT_TRUE(Arrived());
  port.edit(index, [](VirtualHidLogger& l) { l.faults.answerCommand = 0x90; });
  EXPECT_FALSE(ReadImageOverHid(tool.s()));
  port.edit(index, [](VirtualHidLogger& l) { EXPECT_EQ(l.reportsReceived(), 11u); });

  // An empty answer at once is a whole (empty) image.
  port.edit(index, [](VirtualHidLogger& l) {
    l.faults.answerCommand.reset();
    l.pieceSize = 0;
  });
  EXPECT_TRUE(ReadImageOverHid(tool.s()));
  EXPECT_EQ(tool.s().image.length, 0u);
  EXPECT_TRUE(tool.messages.texts().empty());
}

TEST_F(HidFamily, LoggerAnswersEndTheDeliveryAsTheyShould) {
  ASSERT_TRUE(Connected());
  // A refused record stops the delivery at once.
  port.edit(index, [](VirtualHidLogger& l) { l.faults.statusCode = 3; });
  const uint32_t before = logger.reportsReceived();
  RequestConfigure();
  EXPECT_EQ(tool.messages.last(), "Command Error!");
  EXPECT_EQ(logger.reportsReceived(), before + 1);
  EXPECT_EQ(tool.s().poll.transferState, TransferIdle);

  // A failed end record is reported, and the transfer is still closed.
  port.edit(index, [](VirtualHidLogger& l) {
    l.faults.statusCode = 1;
    l.faults.statusOnlyFor = 0xFF;
  });
  RequestConfigure();
  EXPECT_EQ(tool.messages.last(), "Configuration failed ");
  EXPECT_EQ(logger.receivedTransfers(), 1);

  // Pulled out halfway: the delivery fails and the form lets the logger go.
  port.edit(index, [](VirtualHidLogger& l) {
    l.faults = {};
    l.faults.unplugAtReport = l.reportsReceived() + 10;
  });
  const std::size_t shown = tool.messages.texts().size();
  RequestConfigure();
  EXPECT_EQ(tool.messages.texts().size(), shown + 1);
  EXPECT_EQ(tool.messages.last(), "Configuration failed ");
  ASSERT_TRUE(PassUntil([&] { return Caption() == "Plug Device"; }, 1500ms));
  EXPECT_EQ(logger.receivedTransfers(), 1);
}

TEST_F(HidFamily, MalformedAnswersAreDroppedAndSilenceEndsInNoAnswer) {
  ASSERT_TRUE(Arrived());
  port.edit(index, [](VirtualHidLogger& l) { l.faults.answerLength = 65; });
  const auto start = Clock::now();
  EXPECT_EQ(SendHidCommand(tool.s(), 0x15, 6, 0, nullptr), HidNoAnswer);
  EXPECT_GE(Clock::now() - start, 3000ms);
  const auto shown = tool.messages.texts();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), "HID接收到非法帧!");
  // The link stays usable.
  port.edit(index, [](VirtualHidLogger& l) { l.faults.answerLength.reset(); });
  EXPECT_EQ(SendHidCommand(tool.s(), 0x15, 6, 0, nullptr), HidSent);
  EXPECT_EQ(tool.s().hid.inputReport[1], VirtualHidLogger::kStatus);
}

TEST_F(HidFamily, AHeldWriteIsRetriedUntilTheLoggerGoes) {
  ASSERT_TRUE(Arrived());
  port.setLinkFaults(index, {.holdWrites = true});
  std::thread unplug([&] {
    std::this_thread::sleep_for(700ms);  // past one 500 ms write limit
    port.unplug(index);
  });
  EXPECT_EQ(SendHidCommand(tool.s(), 0x15, 6, 0, nullptr), HidDeviceGone);
  unplug.join();
  // Commands that await no answer count as sent even with no logger.
  EXPECT_EQ(SendHidCommand(tool.s(), 0x94, 6, 0, nullptr), HidSent);
  EXPECT_EQ(SendHidCommand(tool.s(), 0x0D, 7, 0, reinterpret_cast<const uint8_t*>("\1")),
            HidDeviceGone);
}

// Unplugging while the window's thread writes as fast as it can: the channel
// is let go of by whichever side holds it last, never written after close.
TEST_F(HidFamily, UnplugDuringARunOfWrites) {
  for (int round = 0; round < 5; ++round) {
    ASSERT_TRUE(Arrived()) << round;
    std::atomic<bool> writing{true};
    std::thread unplug([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(3 + 7 * round));
      port.unplug(index);
      writing.store(false);
    });
    const uint8_t data[58] = {};
    int32_t result = HidSent;
    while (result == HidSent) result = SendHidCommand(tool.s(), 0x19, 64, 0, data);
    EXPECT_EQ(result, HidDeviceGone);
    unplug.join();
    const auto end = Clock::now() + 3s;
    while (tool.s().hid.linkEvent.load() != 2 && Clock::now() < end) {
    }
    ASSERT_EQ(tool.s().hid.linkEvent.load(), 2);
    EXPECT_FALSE(tool.s().hid.writeChannel.open());
    tool.s().hid.storeLinkEvent(0);
    port.plug(index);
  }
}

// A logger the user may not open is reported once, naming the udev rule.
TEST(HidPermission, ALoggerThatCannotBeOpenedIsReportedOnce) {
  struct Refusing : HidPort {
    std::atomic<int> opens{0};
    std::vector<HidInterface> enumerate() override {
      return {{0x2017, 0x0003, 0x0401, "/dev/hidraw0"}, {0x2017, 0x0003, 0x0400, "/dev/hidraw1"}};
    }
    std::shared_ptr<HidChannel> open(const std::string&, HidAccess, HidOpen& result) override {
      ++opens;
      result = HidOpen::NoPermission;
      return nullptr;
    }
    bool present(const std::string&) override { return true; }
  } port;
  TestTool tool;
  {
    HidReceiveThread receiver(tool.s(), port);
    receiver.start();
    const auto end = Clock::now() + 3s;
    while (port.opens.load() < 4 && Clock::now() < end) std::this_thread::sleep_for(5ms);
  }
  const auto shown = tool.messages.texts();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("/dev/hidraw1"), std::string::npos);
  EXPECT_NE(shown[0].find("70-thlogger-config.rules"), std::string::npos);
  EXPECT_EQ(tool.s().hid.deviceCount.load(), 1);
  EXPECT_EQ(tool.s().hid.linkEvent.load(), 0);
}

}  // namespace
