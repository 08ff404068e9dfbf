#include "app/headless.h"

#include <thread>

#include "app/command_line.h"
#include "app/form_events.h"
#include "app/poll_pass.h"
#include "app/provision_record.h"
#include "core/control_ids.h"
#include "formats/config_block.h"
#include "settings/clock.h"
#include "settings/validation.h"

namespace {

// How long a configured or upgraded logger may stay away before it counts as
// lost: a drive logger re-enumerates within seconds.
constexpr std::chrono::seconds kComeBackLimit{120};
uint16_t Firmware(const DeviceInfo& device) {
  return static_cast<uint16_t>(device.fwVersionHigh << 8 | device.fwVersionLow);
}

// The form's fields in the window's order, by the labels beside them.
struct Field {
  const char* label;
  int id;
};
constexpr Field kReadFields[] = {
    {"Device ID", ctl::DeviceId},
    {"Device Name", ctl::DeviceName},
    {"Trademark", ctl::Trademark},
    {"User-Define Info", ctl::UserInfo},
    {"Website", ctl::Website},
    {"PDF Password", ctl::PdfPassword},
    {"Start Delay (Min.)", ctl::StartDelay},
    {"Recording Interval (Sec.)", ctl::Interval},
    {"Channel Selection", ctl::Channel},
    {"Temperature Unit", ctl::TempUnit},
    {"Enable Alarm", ctl::EnableAlarm},
    {"Low Temp. Alarm", ctl::LowTempAlarm},
    {"High Temp. Alarm", ctl::HighTempAlarm},
    {"Low Humidity Alarm (%RH)", ctl::LowHumidityAlarm},
    {"High Humidity Alarm (%RH)", ctl::HighHumidityAlarm},
    {"Time Zone", ctl::TimeZone},
    {"Date Format", ctl::DateFormat},
    {"PDF Language", ctl::PdfLanguage},
    {"Power Save Mode", ctl::PowerSave},
    {"Output CSV", ctl::OutputCsv},
    {"Start On Time", ctl::StartOnTime},
    {"Record LED Flash Time (Sec.)", ctl::RecordLedFlash},
    {"Alarm LED Flash Time (Sec.)", ctl::AlarmLedFlash},
};

}  // namespace

HeadlessRun::HeadlessRun(ToolState& state, ConsoleMessages& console, StopSignals* stop,
                         HeadlessHooks hooks)
    : state_(state), console_(console), stop_(stop), hooks_(std::move(hooks)) {}

void HeadlessRun::pass() {
  if (hooks_.beforePass) hooks_.beforePass();
  const int period = RunPollPass(state_);
  RefreshClock(state_);
  std::this_thread::sleep_for(std::chrono::milliseconds(period));
}

// A logger has been read into the form and may be configured.
bool HeadlessRun::loggerReady() const {
  const FormPort& form = state_.form();
  return form.enabled(ctl::Configure) && form.text(ctl::Configure) == "Configure" &&
         state_.poll.upgradeState.load(std::memory_order_acquire) == upgrade::Idle;
}

bool HeadlessRun::loggerGone() const {
  return state_.poll.driveCount == 0 &&
         state_.hid.deviceCount.load(std::memory_order_acquire) == 0 &&
         !state_.hid.writeChannel.open();
}

std::optional<HeadlessRun::Clock::time_point> HeadlessRun::deadline(
    std::optional<int> seconds) const {
  if (!seconds) return std::nullopt;
  return Clock::now() + std::chrono::seconds(*seconds);
}

HeadlessRun::Wait HeadlessRun::waitFor(const std::function<bool()>& ready,
                                       std::optional<Clock::time_point> until) {
  for (;;) {
    if (ready()) return Wait::Ready;
    if (stop_ && stop_->requested()) return Wait::Stopped;
    if (until && Clock::now() >= *until) return Wait::TimedOut;
    pass();
  }
}

void HeadlessRun::progress(const std::string& what) {
  if (what == lastProgress_) return;
  lastProgress_ = what;
  console_.line(what);
}

ProvisionedLogger HeadlessRun::configureOne() {
  ProvisionedLogger r;
  FormPort& form = state_.form();
  r.deviceId = form.text(ctl::DeviceId);
  r.firmwareBefore = Firmware(state_.device);
  if (const std::optional<std::string> refused = hooks_.loadProfile(state_)) {
    r.failure = *refused;
    r.profileRefused = true;
    return r;
  }
  pass();  // the change flags the profile raised, as after typing
  // Checked before the click as the click will check it, so that a profile
  // this logger cannot take is told apart from a logger that fails.
  const std::size_t beforeValidation = console_.shown();
  if (!ValidateSettings(state_)) {
    r.failure = console_.shown() != beforeValidation ? console_.last() : "the profile does not validate";
    r.profileRefused = true;
    return r;
  }

  state_.sentBlock.length = 0;
  const std::size_t messagesBefore = console_.shown();
  OnFormEvent(state_, ctl::Configure, FormEvent::Clicked);
  progress("configuring " + (r.deviceId.empty() ? std::string("the logger") : r.deviceId));
  const auto failed = [&] { return console_.shown() != messagesBefore; };
  const auto busy = [&] {
    const uint8_t upgrade = state_.poll.upgradeState.load(std::memory_order_acquire);
    return upgrade != upgrade::Idle || state_.poll.transferState != TransferIdle ||
           state_.block.length != 0 || (state_.poll.changeFlags & flag::ConfigureRequested);
  };
  // Until the block has gone out (an upgrade first, if one is due), or a
  // message says why not.
  Clock::time_point awaySince{};  // while the logger is away; the epoch while it is here
  for (;;) {
    pass();
    const uint8_t upgrade = state_.poll.upgradeState.load(std::memory_order_acquire);
    if (upgrade == upgrade::DriveWriting || upgrade == upgrade::HidSending) {
      const uint32_t length = state_.upgradeJob.length.load(std::memory_order_acquire);
      const uint32_t sent = state_.upgradeJob.sent.load(std::memory_order_acquire);
      if (length != 0) progress("upgrading firmware " + std::to_string(sent * 100 / length) + "%");
    } else if (upgrade != upgrade::Idle) {
      progress("waiting for the upgraded logger");
    }
    if (failed()) {
      r.failure = console_.last();
      // Let the tool come to rest, so the next logger starts from the same place.
      waitFor([&] { return !busy(); }, Clock::now() + kComeBackLimit);
      return r;
    }
    if (stop_ && stop_->requested()) {
      r.failure = "stopped";
      return r;
    }
    if (state_.sentBlock.length != 0 && !busy()) break;
    // A logger away for good after an upgrade never raises the request again.
    if (!loggerGone())
      awaySince = {};
    else if (awaySince == Clock::time_point{})
      awaySince = Clock::now();
    if (awaySince != Clock::time_point{} && Clock::now() - awaySince > kComeBackLimit) {
      r.failure = "the logger did not come back";
      return r;
    }
  }
  r.sent = state_.sentBlock;
  r.clock = state_.clock.loggerClock;
  r.zoneMinutes = state_.settings.tzHours * 60 + state_.settings.tzMinutes;

  // Read it again: a drive logger goes away and comes back with what it took;
  // an HID logger stays and is read where it is.
  progress("verifying " + (r.deviceId.empty() ? std::string("the logger") : r.deviceId));
  if (state_.poll.driveCount != 0 || !state_.poll.currentDrivePath.empty()) {
    if (waitFor([&] { return loggerGone(); }, Clock::now() + kComeBackLimit) != Wait::Ready ||
        waitFor([&] { return loggerReady(); }, Clock::now() + kComeBackLimit) != Wait::Ready) {
      r.failure = "the logger did not come back after its configuration";
      return r;
    }
  } else {
    ReadHidLogger(state_);
    if (!loggerReady()) {
      r.failure = failed() ? console_.last() : "the logger could not be read again";
      return r;
    }
  }
  r.firmwareAfter = Firmware(state_.device);

  // What the logger now holds, encoded as a Configure would send it.
  const std::size_t beforeCheck = console_.shown();
  if (!ValidateSettings(state_) || !BuildConfigBlock(state_)) {
    r.failure = console_.shown() != beforeCheck ? console_.last()
                                                : "the logger's settings could not be read back";
    return r;
  }
  const ConfigBlock held = state_.block;
  state_.block.length = 0;  // a check, not a delivery
  state_.poll.transferState = TransferIdle;
  state_.sentBlock = r.sent;
  if (SettingsDigest(BlockBytes(held)) != SettingsDigest(BlockBytes(r.sent))) {
    r.failure = "the logger holds other settings than were sent";
    return r;
  }
  r.verified = true;
  return r;
}

int HeadlessRun::apply(bool each, std::optional<int> timeoutSeconds) {
  int configured = 0;
  int failedCount = 0;
  bool profileRefused = false;
  for (;;) {
    progress("waiting for a logger");
    const Wait wait = waitFor([&] { return loggerReady(); }, deadline(timeoutSeconds));
    if (wait == Wait::TimedOut && configured + failedCount == 0) {
      console_.line("no logger came within " + std::to_string(*timeoutSeconds) + " s");
      return exit_status::NoLogger;
    }
    if (wait != Wait::Ready) break;  // stopped, or no further logger in time
    const ProvisionedLogger logger = configureOne();
    if (logger.failure == "stopped") break;
    if (hooks_.recordLogger && !hooks_.recordLogger(logger)) return exit_status::LoggerFailed;
    if (logger.verified) {
      ++configured;
      console_.line("configured and verified " + logger.deviceId);
    } else {
      ++failedCount;
      profileRefused = profileRefused || logger.profileRefused;
      console_.line("failed " + logger.deviceId + ": " + logger.failure);
    }
    if (!each) break;
    // The next one, once this one has been pulled out.
    lastProgress_.clear();
    progress("unplug the logger and plug in the next one");
    if (waitFor([&] { return loggerGone(); }, std::nullopt) != Wait::Ready) break;
  }
  if (each)
    console_.line(std::to_string(configured) + " configured and verified, " +
                  std::to_string(failedCount) + " failed");
  if (profileRefused) return exit_status::ProfileInvalid;
  return failedCount != 0 ? exit_status::LoggerFailed : exit_status::Ok;
}

int HeadlessRun::read(bool json, std::optional<int> timeoutSeconds) {
  progress("waiting for a logger");
  const Wait wait = waitFor([&] { return loggerReady(); }, deadline(timeoutSeconds));
  if (wait == Wait::TimedOut) {
    console_.line("no logger came within " + std::to_string(*timeoutSeconds) + " s");
    return exit_status::NoLogger;
  }
  if (wait == Wait::Stopped) return exit_status::NoLogger;  // stopped before one came
  const FormPort& form = state_.form();
  if (json && hooks_.describeJson) {
    std::fputs(hooks_.describeJson(state_).c_str(), stdout);
    return exit_status::Ok;
  }
  std::string out = form.text(ctl::FwVersion) + "\n";
  for (const Field& f : kReadFields) {
    std::string value = form.text(f.id);
    if (f.id == ctl::EnableAlarm || f.id == ctl::PowerSave || f.id == ctl::OutputCsv)
      value = form.checked(f.id) ? "yes" : "no";
    if (f.id == ctl::StartOnTime) value = form.checked(f.id) ? form.text(ctl::StartPicker) : "no";
    out += std::string(f.label) + ": " + value + "\n";
  }
  out += form.text(ctl::RecordingTime) + "\n";
  std::fputs(out.c_str(), stdout);
  return exit_status::Ok;
}
