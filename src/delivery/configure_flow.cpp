#include "delivery/configure_flow.h"

#include <array>

#include "core/control_ids.h"
#include "formats/config_block.h"
#include "settings/alarms.h"
#include "settings/capacity.h"
#include "settings/clock.h"
#include "settings/validation.h"
#include "upgrade/firmware_upgrade.h"

namespace {

// Clears a served flag before its work, so that a flag raised again by the
// work itself is served on the next pass.
bool Take(ToolState& state, uint32_t bit) {
  if ((state.poll.changeFlags & bit) == 0) return false;
  state.poll.changeFlags &= ~bit;
  return true;
}

void SetButton(FormPort& form, const char* caption, bool enabled) {
  form.setText(ctl::Configure, caption);
  form.refresh(ctl::Configure);
  form.setEnabled(ctl::Configure, enabled);
}

// Older loggers print their report with a date order tied to its language.
void ApplyPdfLanguage(ToolState& state) {
  if (state.device.fwVersionHigh >= 0x20) return;
  FormPort& form = state.form();
  form.setSelection(ctl::DateFormat, form.selection(ctl::PdfLanguage) != 0 ? 2 : 0);
  form.refresh(ctl::DateFormat);
}

// Controls the lock freezes so one set of settings can go to many loggers.
constexpr std::array<int, 19> kLockedControls = {
    ctl::TimeZone,     ctl::DateFormat,  ctl::StartDelay,     ctl::Interval,
    ctl::Channel,      ctl::TempUnit,    ctl::PdfLanguage,    ctl::PowerSave,
    ctl::Trademark,    ctl::DeviceName,  ctl::UserInfo,       ctl::Website,
    ctl::StartOnTime,  ctl::StartPicker, ctl::EnableAlarm,    ctl::PdfPassword,
    ctl::RecordLedFlash, ctl::AlarmLedFlash, ctl::OutputCsv,
};

void ApplySetupLock(ToolState& state) {
  FormPort& form = state.form();
  const bool enabled = !form.checked(ctl::SetupLock);
  for (int id : kLockedControls) form.setEnabled(id, enabled);
  ApplySetupLockToAlarms(state);
}

void Configure(ToolState& state) {
  if (StartFirmwareUpgrade(state)) return;
  if (ValidateSettings(state)) {
    BuildConfigBlock(state);  // refuses while an earlier block is in flight; that one goes
    SetButton(state.form(), "Configuring...", false);
  } else {
    SetButton(state.form(), "Configure", true);
  }
}

}  // namespace

void ConfigureFlow(ToolState& state) {
  if (state.poll.changeFlags == 0) return;
  if (Take(state, flag::TimeZoneChanged)) ApplyTimeZoneSelection(state);
  if (Take(state, flag::DateDisplayStale)) RenderDate(state);
  if (Take(state, flag::IntervalChanged)) ShowRecordingTime(state);
  if (Take(state, flag::LowTempAlarmEdited)) ReadTemperatureAlarmLow(state, NoLabel);
  if (Take(state, flag::HighTempAlarmEdited)) ReadTemperatureAlarmHigh(state, NoLabel);
  if (Take(state, flag::TempUnitChanged)) ShowTemperatureAlarms(state);
  if (Take(state, flag::PdfLanguageChanged)) ApplyPdfLanguage(state);
  if (Take(state, flag::ChannelChanged)) UpdateAlarmBoxes(state);
  if (Take(state, flag::SetupLockToggled)) ApplySetupLock(state);
  if (Take(state, flag::ConfigureRequested)) Configure(state);
}
