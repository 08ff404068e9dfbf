#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>

#include <filesystem>

#include "core/control_ids.h"
#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"
#include "support/test_tool.h"
#include "window_fixture.h"

namespace {

// The real window, with a virtual drive logger behind the drive port.
class DriveLoggerFlow : public WindowTest {
 protected:
  TempDir dir;
  VirtualDriveLogger logger{dir.path() + "/volume"};
  VirtualDrives drives;

  DriveLoggerFlow() {
    drives.add(logger);
    state->ports.drives = &drives;
  }

  QString Caption() { return widget<QAbstractButton>(ctl::Configure)->text(); }
  QString Text(int id) { return widget<QLineEdit>(id)->text(); }
  bool WaitForCaption(const QString& caption, int ms = 3000) {
    RunEventsFor(ms, [&] { return Caption() == caption; });
    return Caption() == caption;
  }
  void PlugAndRead() {
    ASSERT_TRUE(WaitForCaption("Plug Device"));
    ASSERT_TRUE(logger.plugIn());
    ASSERT_TRUE(WaitForCaption("Configure"));
    RunEventsFor(150);  // the passes that serve the decode's flags
  }
  void Configure() {
    window->form().setText(ctl::DeviceName, "Cold Room 2");
    window->form().setText(ctl::Interval, "120");
    widget<QAbstractButton>(ctl::Configure)->click();
  }
};

TEST_F(DriveLoggerFlow, ConfiguresTheLoggerAndShowsItAgain) {
  PlugAndRead();
  EXPECT_EQ(Text(ctl::DeviceName), "Virtual Logger");
  EXPECT_EQ(Text(ctl::DeviceId), "VL000001");
  EXPECT_EQ(Text(ctl::Interval), "300");
  EXPECT_EQ(Text(ctl::HighTempAlarm), "8.0");
  EXPECT_EQ(widget<QComboBox>(ctl::Channel)->currentText(), "Temp.+ Hum.");
  EXPECT_EQ(widget<QComboBox>(ctl::TimeZone)->currentText(), "UTC+08:00");
  EXPECT_TRUE(window->form().text(ctl::RecordingTime).find("days") != std::string::npos)
      << window->form().text(ctl::RecordingTime);
  // Kept with the build's artifacts: the form as a user sees a logger.
  const QString artifacts = QApplication::applicationDirPath() + "/../artifacts";
  QDir().mkpath(artifacts);
  EXPECT_TRUE(window->grab().toImage().save(artifacts + "/main_window_logger.png"));

  Configure();
  ASSERT_TRUE(WaitForCaption("Configuring..."));
  EXPECT_FALSE(widget(ctl::Configure)->isEnabled());
  std::vector<uint8_t> sent;
  RunEventsFor(3000, [&] {
    if (state->block.length != 0)
      sent.assign(state->block.bytes.begin(), state->block.bytes.begin() + state->block.length);
    return logger.receivedBlocks() == 1;
  });
  ASSERT_EQ(logger.receivedBlocks(), 1);
  EXPECT_EQ(logger.lastOutcome(), VirtualDriveLogger::Outcome::Applied);
  EXPECT_EQ(logger.lastBlock(), sent);
  EXPECT_EQ(logger.lastClock().year, 24);
  EXPECT_EQ(logger.lastClock().hour, 9);

  // The logger re-enumerates and is read again with what was written.
  ASSERT_TRUE(WaitForCaption("Plug Device"));
  ASSERT_TRUE(WaitForCaption("Configure"));
  EXPECT_EQ(Text(ctl::DeviceName), "Cold Room 2");
  EXPECT_EQ(Text(ctl::Interval), "120");
  EXPECT_TRUE(widget(ctl::Configure)->isEnabled());
  EXPECT_TRUE(messages.shown.empty()) << messages.last();
}

TEST_F(DriveLoggerFlow, RemovalMidTransferFailsAndChangesNothing) {
  PlugAndRead();
  const std::vector<uint8_t> before = logger.image();
  logger.faults.removeAfterWrite = true;
  Configure();
  ASSERT_TRUE(WaitForCaption("Plug Device"));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.last(), "Configuration failed ,Make sure the device is connected well");
  EXPECT_EQ(logger.image(), before);
  EXPECT_EQ(logger.receivedBlocks(), 0);
  EXPECT_EQ(state->poll.transferState, TransferIdle);
}

TEST_F(DriveLoggerFlow, AVolumeThatWillNotTakeTheFileEndsInFailed) {
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    messages.shown.clear();
    if (fault == 0) {
      PlugAndRead();
    } else {
      logger.unplug();
      ASSERT_TRUE(WaitForCaption("Plug Device"));
      ASSERT_TRUE(logger.plugIn());
      ASSERT_TRUE(WaitForCaption("Configure"));
    }
    logger.faults = {};
    logger.faults.readOnly = fault == 0;
    logger.faults.shortWrites = fault == 1;
    logger.faults.differingReadBack = fault == 2;
    Configure();
    ASSERT_TRUE(WaitForCaption("Failed "));
    EXPECT_FALSE(widget(ctl::Configure)->isEnabled());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.last(), "Make sure the device is connected well ");
    EXPECT_EQ(state->block.length, 0);
    EXPECT_EQ(logger.receivedBlocks(), 0);
    logger.faults = {};
    std::error_code ec;
    std::filesystem::remove_all(logger.volume() + "/CONFIG.CFG", ec);
    std::filesystem::remove_all(logger.volume() + "/OK.DAT", ec);
  }
}

}  // namespace
