#include "settings/alarms.h"

#include <array>
#include <charconv>
#include <string>
#include <string_view>

#include "core/control_ids.h"
#include "settings/capacity.h"

namespace {

constexpr std::string_view kCelsiusSign = "℃";
constexpr std::string_view kFahrenheitSign = "℉";

constexpr std::array<int, 4> kAlarmBoxes = {ctl::LowTempAlarm, ctl::HighTempAlarm,
                                            ctl::LowHumidityAlarm, ctl::HighHumidityAlarm};

bool LoggerPresent(const ToolState& state) {
  return state.poll.driveCount != 0 || state.hid.deviceCount.load(std::memory_order_acquire) != 0;
}

// UTF-8 continuation bytes belong to the character before them.
bool StartsCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

// One decimal, rounded as printf's "%1.1f" rounds, but always with a '.':
// under Qt the process runs in the user's locale, and a decimal comma would
// fail the alarm parser on the next re-read.
std::string OneDecimal(double value) {
  std::array<char, 330> text{};  // room for the widest double written out in full
  auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value,
                                    std::chars_format::fixed, 1);
  if (error != std::errc()) return {};
  return std::string(text.data(), end);
}

void EnableAlarmBoxes(FormPort& form, bool temperature, bool humidity) {
  form.setEnabled(ctl::LowTempAlarm, temperature);
  form.setEnabled(ctl::HighTempAlarm, temperature);
  form.setEnabled(ctl::LowHumidityAlarm, humidity);
  form.setEnabled(ctl::HighHumidityAlarm, humidity);
}

}  // namespace

bool LimitDecimals(ToolState& state, int id) {
  FormPort& form = state.form();
  const std::string text = form.text(id);

  // Characters, not bytes, are counted after the point, so a cut never lands
  // inside a multi-byte character.
  std::size_t cut = text.size();
  bool pointSeen = false;
  int afterPoint = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!StartsCharacter(text[i])) continue;
    if (!pointSeen) {
      pointSeen = text[i] == '.';
    } else if (text[i] == '.' || ++afterPoint == 2) {
      cut = i;
      break;
    }
  }
  if (cut == text.size()) return true;

  // The write notifies like typing; the shortened text then passes this check.
  form.setText(id, std::string_view(text).substr(0, cut));
  form.refresh(id);
  form.focusAtEnd(id);
  return false;
}

void ShowTemperatureAlarms(ToolState& state) {
  FormPort& form = state.form();
  const LoggerSettings& s = state.settings;
  // Both box writes below notify; these flags keep them from being re-read
  // as user edits.
  state.alarmEdit.suppressLowTempEdit = true;
  state.alarmEdit.suppressHighTempEdit = true;

  std::array<int, 4> written{};
  if (form.selection(ctl::TempUnit) != 0) {
    form.setText(ctl::HighTempAlarm, OneDecimal(s.tempAlarmHighF));
    form.setText(ctl::HighTempUnitSign, kFahrenheitSign);
    form.setText(ctl::LowTempAlarm, OneDecimal(s.tempAlarmLowF));
    form.setText(ctl::LowTempUnitSign, kFahrenheitSign);
    written = {ctl::HighTempAlarm, ctl::HighTempUnitSign, ctl::LowTempAlarm, ctl::LowTempUnitSign};
  } else {
    form.setText(ctl::HighTempAlarm, OneDecimal(s.tempAlarmHighC));
    form.setText(ctl::LowTempAlarm, OneDecimal(s.tempAlarmLowC));
    form.setText(ctl::HighTempUnitSign, kCelsiusSign);
    form.setText(ctl::LowTempUnitSign, kCelsiusSign);
    written = {ctl::HighTempAlarm, ctl::LowTempAlarm, ctl::HighTempUnitSign, ctl::LowTempUnitSign};
  }
  for (int id : written) form.refresh(id);
}

void UpdateAlarmBoxes(ToolState& state) {
  // Without a logger there is no firmware or capacity to judge by; the boxes
  // wait for the next channel change after one is plugged in.
  if (!LoggerPresent(state)) return;

  RecomputeRecordCapacity(state);
  FormPort& form = state.form();
  const bool locked = AlarmsSwitchedOff(state) || form.checked(ctl::SetupLock);
  const int channel = form.selection(ctl::Channel);
  EnableAlarmBoxes(form, !locked && channel != 1, !locked && (channel == 1 || channel == 2));
  for (int id : kAlarmBoxes) form.refresh(id);

  // The new capacity changes the longest recording time.
  state.poll.changeFlags |= flag::IntervalChanged;
}

bool AlarmsSwitchedOff(const ToolState& state) {
  return state.device.fwVersionHigh >= 0x40 && state.device.fwVersionLow >= 0x10 &&
         !state.form().checked(ctl::EnableAlarm);
}

void ApplySetupLockToAlarms(ToolState& state) {
  FormPort& form = state.form();
  // Unlike UpdateAlarmBoxes, an unchecked "Enable Alarm" closes the boxes
  // whatever the firmware, and no selection opens no temperature boxes.
  const bool open = !form.checked(ctl::SetupLock) && form.checked(ctl::EnableAlarm);
  const int channel = form.selection(ctl::Channel);
  EnableAlarmBoxes(form, open && (channel == 0 || channel == 2),
                   open && (channel == 1 || channel == 2));
}
