#include "app/headless.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/form_model.h"
#include "app/hid_link.h"
#include "app/poll_pass.h"
#include "app/profile.h"
#include "core/control_ids.h"
#include "formats/image_layout.h"
#include "sim/memory_hid.h"
#include "sim/virtual_drives.h"
#include "sim/virtual_hid_logger.h"
#include "support/test_tool.h"
#include "upgrade/firmware_images.h"

namespace {

// The profile the tests apply: the start form with a name and an interval typed in.
std::string TestProfile() {
  auto owned = std::make_unique<ToolState>();
  ToolState& state = *owned;
  FormModel form(state);
  MemoryClock clock;
  state.ports.form = &form;
  state.ports.clock = &clock;
  InitialiseForm(state);
  form.setDateTime(ctl::StartPicker, {2025, 3, 1, 8, 0, 0});
  form.setText(ctl::DeviceName, "Cold Room");
  form.setText(ctl::Interval, "120");
  return SaveProfile(form);
}

std::string DeviceIdOf(const std::vector<uint8_t>& image) {
  const auto* start = reinterpret_cast<const char*>(image.data() + img::DeviceId);
  return std::string(start, strnlen(start, img::DeviceIdSize));
}

// A packing station without a window: the tool's state over the in-memory
// form, a console that keeps its lines to itself, and virtual loggers. The
// script runs before every pass, as a person at the station would act.
struct Station {
  TempDir dir;
  std::unique_ptr<ToolState> state = std::make_unique<ToolState>();
  MemoryClock clock;
  ConsoleMessages console{nullptr};
  FormModel form{*state};
  std::string profile = TestProfile();
  std::vector<ProvisionedLogger> recorded;
  std::function<void()> script;

  Station() {
    state->ports.form = &form;
    state->ports.messages = &console;
    state->ports.clock = &clock;
    state->virtualLoggersOnly = true;
    InitialiseForm(*state);
  }

  HeadlessRun Run(StopSignals* stop) {
    HeadlessHooks hooks;
    hooks.beforePass = [this] {
      form.applyCarried();
      if (script) script();
    };
    hooks.loadProfile = [this](ToolState& s) -> std::optional<std::string> {
      const ProfileLoad loaded = LoadProfile(s, profile);
      if (!loaded.ok) return loaded.message;
      form.setDateTime(ctl::StartPicker, loaded.startTime);
      return std::nullopt;
    };
    hooks.recordLogger = [this](const ProvisionedLogger& logger) {
      recorded.push_back(logger);
      return true;
    };
    return HeadlessRun(*state, console, stop, std::move(hooks));
  }
};

// Three drive loggers, one after another, each keeping its device ID; Ctrl+C
// after the third ends the run with its summary.
TEST(Headless, EachLoggerPluggedInGetsTheProfileUntilStopped) {
  Station station;
  std::vector<std::unique_ptr<VirtualDriveLogger>> loggers;
  VirtualDrives drives;
  for (int k = 0; k < 3; ++k) {
    loggers.push_back(std::make_unique<VirtualDriveLogger>(station.dir.file("volume" + std::to_string(k))));
    loggers.back()->setText(img::DeviceId, img::DeviceIdSize, "LOGGER-" + std::to_string(k + 1));
    drives.add(*loggers.back());
  }
  station.state->ports.drives = &drives;
  // A recorded logger is taken away; then the next one goes in; after the
  // third, Ctrl+C.
  std::size_t next = 0;
  bool stopped = false;
  station.script = [&] {
    const std::size_t done = station.recorded.size();
    if (done == loggers.size()) {
      if (!stopped) std::raise(SIGINT);
      stopped = true;
    } else if (done > 0 && loggers[done - 1]->plugged()) {
      loggers[done - 1]->unplug();
    } else if (next == done && station.state->poll.driveCount == 0) {
      ASSERT_TRUE(loggers[next++]->plugIn());
    }
  };
  StopSignals stop;
  EXPECT_EQ(station.Run(&stop).apply(true, std::nullopt), exit_status::Ok);
  ASSERT_EQ(station.recorded.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    const ProvisionedLogger& r = station.recorded[static_cast<std::size_t>(k)];
    EXPECT_TRUE(r.verified) << r.failure;
    EXPECT_EQ(r.deviceId, "LOGGER-" + std::to_string(k + 1));
    EXPECT_EQ(DeviceIdOf(loggers[static_cast<std::size_t>(k)]->image()), r.deviceId);
    EXPECT_EQ(loggers[static_cast<std::size_t>(k)]->lastOutcome(), VirtualDriveLogger::Outcome::Applied);
  }
}

// A logger that takes the block but keeps one parameter as it was is caught
// by reading it again; a profile the form cannot take stops before any block.
TEST(Headless, FailuresHaveTheirOwnExitStatus) {
  {
    Station station;
    VirtualDriveLogger logger(station.dir.file("volume"));
    logger.faults.ignoredRecord = 0x15;  // the device name
    VirtualDrives drives;
    drives.add(logger);
    station.state->ports.drives = &drives;
    ASSERT_TRUE(logger.plugIn());
    EXPECT_EQ(station.Run(nullptr).apply(false, 30), exit_status::LoggerFailed);
    ASSERT_EQ(station.recorded.size(), 1u);
    EXPECT_FALSE(station.recorded[0].verified);
    EXPECT_EQ(station.recorded[0].failure, "the logger holds other settings than were sent");
    EXPECT_NE(station.recorded[0].sent.length, 0);
  }
  {
    Station station;
    station.profile.replace(station.profile.find("\"120\""), 5, "\"12x\"");
    VirtualDriveLogger logger(station.dir.file("volume"));
    VirtualDrives drives;
    drives.add(logger);
    station.state->ports.drives = &drives;
    ASSERT_TRUE(logger.plugIn());
    EXPECT_EQ(station.Run(nullptr).apply(false, 30), exit_status::ProfileInvalid);
    ASSERT_EQ(station.recorded.size(), 1u);
    EXPECT_NE(station.recorded[0].failure.find("intervalSeconds"), std::string::npos);
    EXPECT_EQ(logger.receivedBlocks(), 0);
  }
  {
    Station station;  // nobody plugs a logger in
    EXPECT_EQ(station.Run(nullptr).apply(false, 1), exit_status::NoLogger);
  }
}

// An HID logger one version below the tool's firmware is upgraded first,
// then configured, then read again where it stays connected.
TEST(Headless, AnOlderHidLoggerIsUpgradedThenConfigured) {
  Station station;
  VirtualHidLogger logger;
  const uint16_t old = static_cast<uint16_t>(kAppImageKl26Version - 1);
  logger.setU8(img::FwVersionHigh, static_cast<uint8_t>(old >> 8));
  logger.setU8(img::FwVersionLow, static_cast<uint8_t>(old));
  logger.setText(img::DeviceId, img::DeviceIdSize, "HID-7");
  MemoryHidPort port;
  port.add(logger);
  station.state->ports.hid = &port;
  std::unique_ptr<HidReceiveThread> receiver = StartHidReceiveThread(*station.state, port);
  const int status = station.Run(nullptr).apply(false, 30);
  receiver->stop();
  EXPECT_EQ(status, exit_status::Ok);
  ASSERT_EQ(station.recorded.size(), 1u);
  const ProvisionedLogger& r = station.recorded[0];
  EXPECT_TRUE(r.verified) << r.failure;
  EXPECT_EQ(r.deviceId, "HID-7");
  EXPECT_EQ(r.firmwareBefore, old);
  EXPECT_EQ(r.firmwareAfter, kAppImageKl26Version);
}

}  // namespace
