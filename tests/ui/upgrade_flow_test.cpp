// Older loggers on the real window: the Configure click upgrades them first,
// the button walks through the progress, and once the logger is back with
// the new firmware its settings follow without a second click.
#include <QAbstractButton>
#include <QLineEdit>

#include <mutex>
#include <string>
#include <vector>

#include "core/control_ids.h"
#include "formats/image_layout.h"
#include "sim/memory_hid.h"
#include "sim/virtual_drive_logger.h"
#include "sim/virtual_drives.h"
#include "sim/virtual_hid_logger.h"
#include "support/test_tool.h"
#include "upgrade/firmware_images.h"
#include "window_fixture.h"

namespace {

// Passes every call on to the window and keeps each caption the Configure
// button is given, from either thread, in order.
class CaptionRecorder : public FormPort {
 public:
  explicit CaptionRecorder(FormPort& form) : form_(form) {}
  std::vector<std::string> captions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return captions_;
  }

  std::string text(int id) const override { return form_.text(id); }
  void setText(int id, std::string_view text) override {
    if (id == ctl::Configure) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (captions_.empty() || captions_.back() != text) captions_.emplace_back(text);
    }
    form_.setText(id, text);
  }
  int selection(int id) const override { return form_.selection(id); }
  void setSelection(int id, int index) override { form_.setSelection(id, index); }
  int findEntry(int id, std::string_view prefix) const override {
    return form_.findEntry(id, prefix);
  }
  bool checked(int id) const override { return form_.checked(id); }
  void setChecked(int id, bool on) override { form_.setChecked(id, on); }
  bool enabled(int id) const override { return form_.enabled(id); }
  void setEnabled(int id, bool on) override { form_.setEnabled(id, on); }
  void focusAtEnd(int id) override { form_.focusAtEnd(id); }
  void focus(int id) override { form_.focus(id); }
  void refresh(int id) override { form_.refresh(id); }
  LocalTime dateTime(int id) const override { return form_.dateTime(id); }
  void setDateTimeFormat(int id, std::string_view format) override {
    form_.setDateTimeFormat(id, format);
  }

 private:
  FormPort& form_;
  mutable std::mutex mutex_;
  std::vector<std::string> captions_;
};

class UpgradeFlow : public WindowTest {
 protected:
  TempDir dir;
  VirtualDriveLogger driveLogger{dir.path() + "/volume"};
  VirtualDrives drives;
  VirtualHidLogger hidLogger;
  MemoryHidPort port;
  std::unique_ptr<CaptionRecorder> recorder;

  ~UpgradeFlow() override {
    // The window and its receive thread go first: they use all of the above.
    state->ports.form = &window->form();
    window.reset();
  }

  void Record() {
    recorder = std::make_unique<CaptionRecorder>(window->form());
    state->ports.form = recorder.get();
  }
  QString Caption() { return widget<QAbstractButton>(ctl::Configure)->text(); }
  bool WaitForCaption(const QString& caption, int ms = 5000) {
    RunEventsFor(ms, [&] { return Caption() == caption; });
    return Caption() == caption;
  }
  void ClickConfigure() {
    RunEventsFor(150);  // the passes that serve the decode's flags
    window->form().setText(ctl::DeviceName, "Cold Room 2");
    widget<QAbstractButton>(ctl::Configure)->click();
  }
  // The progress the button showed, in order, from the first percentage to
  // the delivered caption.
  void ExpectProgress(const std::vector<std::string>& seen) {
    auto first = std::find(seen.begin(), seen.end(), "升级中(01%)");
    ASSERT_NE(first, seen.end());
    int last = 0;
    auto it = first;
    for (; it != seen.end() && it->rfind("升级中(", 0) == 0; ++it) {
      const int percent = std::stoi(it->substr(std::string("升级中(").size()));
      EXPECT_GT(percent, last) << *it;
      last = percent;
    }
    EXPECT_EQ(last, 99);
    ASSERT_NE(it, seen.end());
    EXPECT_EQ(*it, "正在更新固件");
  }
};

TEST_F(UpgradeFlow, AnOlderDriveLoggerIsUpgradedThenConfigured) {
  VirtualDriveLogger& logger = driveLogger;
  logger.setU8(img::FwVersionLow, 0x02);  // 0x2402
  drives.add(logger);
  state->ports.drives = &drives;
  Record();
  ASSERT_TRUE(logger.plugIn());
  ASSERT_TRUE(WaitForCaption("Configure"));
  ClickConfigure();

  RunEventsFor(8000, [&] { return logger.lastOutcome() == VirtualDriveLogger::Outcome::Applied; });
  ASSERT_EQ(logger.upgrades(), 1);
  const std::span<const uint8_t> firmware = AppImageStm32();
  EXPECT_EQ(logger.firmwareReceived(), std::vector<uint8_t>(firmware.begin(), firmware.end()));
  ASSERT_EQ(logger.lastOutcome(), VirtualDriveLogger::Outcome::Applied);
  ASSERT_TRUE(WaitForCaption("Configure"));
  EXPECT_EQ(logger.image()[img::FwVersionHigh], 0x24);
  EXPECT_EQ(logger.image()[img::FwVersionLow], 0x03);
  EXPECT_EQ(window->form().text(ctl::DeviceName), "Cold Room 2");

  const std::vector<std::string> seen = recorder->captions();
  ExpectProgress(seen);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "Configuring..."), seen.end());
  EXPECT_TRUE(messages.texts().empty()) << messages.last();
}

TEST_F(UpgradeFlow, AnOlderHidLoggerIsUpgradedThenConfigured) {
  hidLogger.setU8(img::FwVersionLow, 0x93);  // 0x4093
  const std::size_t index = port.add(hidLogger);
  window.reset();
  state->ports.hid = &port;
  window = std::make_unique<CUSBDlg>(*state);
  Record();
  ASSERT_TRUE(WaitForCaption("Configure"));
  ClickConfigure();

  int transfers = 0;
  RunEventsFor(10000, [&] {
    port.edit(index, [&](VirtualHidLogger& l) { transfers = l.receivedTransfers(); });
    return transfers == 1;
  });
  ASSERT_EQ(transfers, 1);
  port.edit(index, [](VirtualHidLogger& l) {
    EXPECT_EQ(l.upgrades(), 1);
    EXPECT_EQ(l.upgradeDataFrames(), 1116u);
    EXPECT_EQ(l.upgradeFinalFrames(), 1u);
    EXPECT_EQ(l.upgradeEnds(), 1u);
    const std::span<const uint8_t> firmware = AppImageKl26();
    EXPECT_EQ(l.firmwareReceived(), std::vector<uint8_t>(firmware.begin(), firmware.end()));
    EXPECT_EQ(l.lastOutcome(), VirtualHidLogger::Outcome::Applied);
    EXPECT_EQ(l.image()[img::FwVersionLow], 0x94);
    // The settings the click was for, not the ones the logger came back with.
    EXPECT_STREQ(reinterpret_cast<const char*>(&l.image()[img::DeviceName]), "Cold Room 2");
  });
  EXPECT_EQ(window->form().text(ctl::DeviceName), "Cold Room 2");
  const std::vector<std::string> seen = recorder->captions();
  ExpectProgress(seen);
  EXPECT_EQ(seen.back(), "Configuring...");
  EXPECT_TRUE(messages.texts().empty()) << messages.last();
}

}  // namespace
