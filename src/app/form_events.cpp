#include "app/form_events.h"

#include "core/control_ids.h"
#include "settings/alarms.h"

namespace {

bool LoggerPresent(const ToolState& state) {
  return state.poll.driveCount != 0 || state.hid.deviceCount.load(std::memory_order_acquire) != 0;
}

// A temperature alarm box's text change: held to one decimal, then re-read on
// the next pass, unless the change came from the program's own write of the
// box. A cut rewrites the box, whose own notification does the re-read.
void TempAlarmEdited(ToolState& state, int id, bool& suppress, uint32_t bit) {
  if (LimitDecimals(state, id) && !suppress)
    state.poll.changeFlags |= bit;
  else
    suppress = false;
}

}  // namespace

void OnFormEvent(ToolState& state, int id, FormEvent event) {
  uint32_t& flags = state.poll.changeFlags;
  switch (event) {
    case FormEvent::Clicked:
      switch (id) {
        case ctl::Configure: flags |= flag::ConfigureRequested; break;
        case ctl::EnableAlarm: flags |= flag::ChannelChanged; break;
        case ctl::SetupLock: flags |= flag::SetupLockToggled; break;
        case ctl::StartOnTime:
          state.form().setEnabled(ctl::StartPicker, state.form().checked(ctl::StartOnTime));
          break;
        default: break;
      }
      break;
    case FormEvent::SelectionChanged:
      switch (id) {
        case ctl::TimeZone: flags |= flag::TimeZoneChanged; break;
        case ctl::DateFormat: flags |= flag::DateDisplayStale; break;
        case ctl::Channel: flags |= flag::ChannelChanged; break;
        case ctl::TempUnit: flags |= flag::TempUnitChanged; break;
        case ctl::PdfLanguage: flags |= flag::PdfLanguageChanged; break;
        default: break;
      }
      break;
    case FormEvent::TextChanged:
      switch (id) {
        case ctl::Interval:
          if (LoggerPresent(state)) flags |= flag::IntervalChanged;
          break;
        case ctl::LowTempAlarm:
          TempAlarmEdited(state, id, state.alarmEdit.suppressLowTempEdit,
                          flag::LowTempAlarmEdited);
          break;
        case ctl::HighTempAlarm:
          TempAlarmEdited(state, id, state.alarmEdit.suppressHighTempEdit,
                          flag::HighTempAlarmEdited);
          break;
        case ctl::LowHumidityAlarm:
        case ctl::HighHumidityAlarm: LimitDecimals(state, id); break;
        default: break;
      }
      break;
  }
}
