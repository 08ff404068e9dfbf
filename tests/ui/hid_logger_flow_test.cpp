#include <QAbstractButton>
#include <QLineEdit>

#include "core/control_ids.h"
#include "sim/memory_hid.h"
#include "sim/virtual_hid_logger.h"
#include "window_fixture.h"

namespace {

// The real window with its receive thread, a virtual HID logger behind the
// HID port.
class HidLoggerFlow : public WindowTest {
 protected:
  VirtualHidLogger logger;
  MemoryHidPort port;
  std::size_t index = port.add(logger);

  HidLoggerFlow() {
    window.reset();
    state->ports.hid = &port;
    window = std::make_unique<CUSBDlg>(*state);
  }
  ~HidLoggerFlow() override { window.reset(); }  // its thread uses the port

  QString Caption() { return widget<QAbstractButton>(ctl::Configure)->text(); }
  QString Text(int id) { return widget<QLineEdit>(id)->text(); }
  bool WaitForCaption(const QString& caption, int ms = 3000) {
    RunEventsFor(ms, [&] { return Caption() == caption; });
    return Caption() == caption;
  }
  void Configure() {
    window->form().setText(ctl::DeviceName, "Cold Room 2");
    window->form().setText(ctl::Interval, "120");
    widget<QAbstractButton>(ctl::Configure)->click();
  }
};

TEST_F(HidLoggerFlow, ConfiguresTheLoggerAndShowsItWhenReadAgain) {
  ASSERT_TRUE(WaitForCaption("Configure"));
  RunEventsFor(150);  // the passes that serve the decode's flags
  EXPECT_EQ(Text(ctl::DeviceName), "Virtual HID Logger");

  Configure();
  RunEventsFor(3000, [&] { return logger.receivedTransfers() == 1; });
  ASSERT_EQ(logger.receivedTransfers(), 1);
  EXPECT_EQ(logger.lastOutcome(), VirtualHidLogger::Outcome::Applied);
  EXPECT_EQ(logger.lastClock().year, 24);
  EXPECT_EQ(logger.lastClock().hour, 9);
  EXPECT_EQ(state->poll.transferState, TransferIdle);

  // Removal resets the form within about a second of silence.
  port.unplug(index);
  ASSERT_TRUE(WaitForCaption("Plug Device", 1500));
  EXPECT_FALSE(widget(ctl::Configure)->isEnabled());
  port.plug(index);
  ASSERT_TRUE(WaitForCaption("Configure"));
  EXPECT_EQ(Text(ctl::DeviceName), "Cold Room 2");
  EXPECT_EQ(Text(ctl::Interval), "120");
  EXPECT_TRUE(messages.texts().empty()) << messages.last();
}

TEST_F(HidLoggerFlow, PulledOutMidTransferFailsOnceAndResets) {
  ASSERT_TRUE(WaitForCaption("Configure"));
  RunEventsFor(150);
  port.edit(index, [](VirtualHidLogger& l) { l.faults.unplugAtReport = l.reportsReceived() + 5; });
  Configure();
  ASSERT_TRUE(WaitForCaption("Plug Device"));
  ASSERT_EQ(messages.texts().size(), 1u);
  EXPECT_EQ(messages.last(), "Configuration failed ");
  EXPECT_EQ(logger.receivedTransfers(), 0);
  EXPECT_EQ(state->block.length, 0);
}

}  // namespace
