#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/console.h"
#include "core/state.h"

// The commands without a window: the tool's own poll pass, run in a loop over
// the in-memory form, with messages and progress on standard error.

// One logger as `apply` left it, for the record.
struct ProvisionedLogger {
  std::string deviceId;
  uint16_t firmwareBefore = 0;
  uint16_t firmwareAfter = 0;
  ConfigBlock sent{};      // the block delivered; length 0 when none was built
  LoggerClock clock{};     // the clock it carried
  int32_t zoneMinutes = 0; // the zone written with it, east of UTC
  bool verified = false;
  bool profileRefused = false;  // the form could not take the profile, or it did not validate
  std::string failure;          // why not, in the tool's own words
};

struct HeadlessHooks {
  // Applies form writes that other threads left for the pass's thread.
  std::function<void()> beforePass;
  // Fills the form from the profile as a person would; the message naming
  // the field when the form cannot take it.
  std::function<std::optional<std::string>(ToolState&)> loadProfile;
  // Called once per logger that `apply` finished with; false when the record
  // could not be written, which ends the run.
  std::function<bool(const ProvisionedLogger&)> recordLogger;
  // `read --json`: the form's parameters as a JSON document.
  std::function<std::string(ToolState&)> describeJson;
};

class HeadlessRun {
 public:
  HeadlessRun(ToolState& state, ConsoleMessages& console, StopSignals* stop, HeadlessHooks hooks);

  // Configures loggers from the profile: the next one, or with `each` every
  // one plugged in until stopped. Returns the exit status.
  int apply(bool each, std::optional<int> timeoutSeconds);
  // Prints the plugged logger's parameters as the form shows them.
  int read(bool json, std::optional<int> timeoutSeconds);

 private:
  using Clock = std::chrono::steady_clock;
  enum class Wait { Ready, Stopped, TimedOut };

  void pass();
  bool loggerReady() const;
  bool loggerGone() const;
  Wait waitFor(const std::function<bool()>& ready, std::optional<Clock::time_point> deadline);
  std::optional<Clock::time_point> deadline(std::optional<int> seconds) const;
  ProvisionedLogger configureOne();
  void progress(const std::string& what);

  ToolState& state_;
  ConsoleMessages& console_;
  StopSignals* stop_;
  HeadlessHooks hooks_;
  std::string lastProgress_;
};
