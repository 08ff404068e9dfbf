#include "settings/validation.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/control_ids.h"
#include "core/codepage.h"

namespace {

constexpr uint8_t kTemperatureSupported = 0x20;
constexpr uint8_t kHumiditySupported = 0x40;
constexpr uint8_t kFahrenheitSupported = 0x80;
constexpr uint8_t kRejectsConfiguration = 0x04;   // deviceFlags bit 2
constexpr uint16_t kLastAcceptingFirmware = 0x4060;

constexpr uint8_t kChannelTemperature = 1;
constexpr uint8_t kChannelHumidity = 2;
constexpr uint8_t kChannelBoth = 3;

void Tell(ToolState& state, std::string_view text) {
  state.messages().show(text, MessageIcon::Warning);
}

// Part of a text that may be shorter than expected; empty beyond its end.
std::string_view Slice(std::string_view text, std::size_t pos,
                       std::size_t count = std::string_view::npos) {
  return pos < text.size() ? text.substr(pos, count) : std::string_view();
}

// "UTC+hh:mm" into signed hours and minutes; both carry the offset's sign.
bool ReadTimeZone(ToolState& state) {
  constexpr std::string_view kLabel = "Time Zone Error";
  const std::string text = state.form().text(ctl::TimeZone);
  MessagePort* messages = state.ports.messages;
  int32_t hours = 0;
  int32_t minutes = 0;
  if (ParseInteger(messages, Slice(text, 4, 2), 0, 12, kLabel, hours) != 0) return false;
  if (ParseInteger(messages, Slice(text, 7), 0, 59, kLabel, minutes) != 0) return false;
  int32_t total = hours * 60 + minutes;
  if (text.size() > 3 && text[3] == '-') total = -total;
  const int32_t wholeHours = total / 60;  // truncates toward zero, keeping the sign
  state.settings.tzHours = static_cast<int8_t>(wholeHours);
  state.settings.tzMinutes = static_cast<int8_t>(total - 60 * wholeHours);
  return true;
}

bool ReadChannels(ToolState& state) {
  const uint8_t caps = state.device.capabilityFlags;
  switch (state.form().selection(ctl::Channel)) {
    case 1:
      if ((caps & kHumiditySupported) == 0) {
        Tell(state,
             "This Device don't support humidity measurement\r\n"
             "Please modify the channel parameter!");
        return false;
      }
      state.settings.channels = kChannelHumidity;
      return true;
    case 2:
      if ((caps & (kTemperatureSupported | kHumiditySupported)) !=
          (kTemperatureSupported | kHumiditySupported)) {
        Tell(state,
             "This Device don't support temperature & humidity measurement simultaneously\r\n"
             "Please modify the channel parameter!");
        return false;
      }
      state.settings.channels = kChannelBoth;
      return true;
    default:
      // No selection counts as temperature, the form's first entry.
      if ((caps & kTemperatureSupported) == 0) {
        Tell(state,
             "This Device don't support temperature measurement\r\n"
             "Please modify the channel parameter!");
        return false;
      }
      state.settings.channels = kChannelTemperature;
      return true;
  }
}

// A skipped alarm keeps its earlier value; the logger still receives it.
bool AlarmWanted(const ToolState& state, int box, uint8_t channelBit) {
  return state.form().enabled(box) || (state.settings.channels & channelBit) != 0;
}

bool ReadAlarms(ToolState& state) {
  LoggerSettings& s = state.settings;
  if (AlarmWanted(state, ctl::LowTempAlarm, kChannelTemperature) &&
      !ReadTemperatureAlarmLow(state, "Temperature Low Alarm Error"))
    return false;
  // The order check only runs when the high alarm was read: an unread pair may
  // be stale, and humidity alarms start as 0 and 0.
  if (AlarmWanted(state, ctl::HighTempAlarm, kChannelTemperature)) {
    if (!ReadTemperatureAlarmHigh(state, "Temperature High Alarm Error")) return false;
    if (s.tempAlarmLowC >= s.tempAlarmHighC) {
      Tell(state, "Temperature High Alarm must be larger than Low Alarm");
      state.form().focus(ctl::LowTempAlarm);
      return false;
    }
  }
  double v = 0;
  if (AlarmWanted(state, ctl::LowHumidityAlarm, kChannelHumidity)) {
    if (ReadRealField(state, ctl::LowHumidityAlarm, "Humidity Low Alarm Error", 0.0, 100.0, v) !=
        0)
      return false;
    s.humidityAlarmLow = v;
  }
  if (AlarmWanted(state, ctl::HighHumidityAlarm, kChannelHumidity)) {
    if (ReadRealField(state, ctl::HighHumidityAlarm, "Humidity High Alarm Error", 0.0, 100.0,
                      v) != 0)
      return false;
    s.humidityAlarmHigh = v;
    if (s.humidityAlarmLow >= s.humidityAlarmHigh) {
      Tell(state, "Humidity High Alarm must be larger than Low Alarm");
      state.form().focus(ctl::LowHumidityAlarm);
      return false;
    }
  }
  return true;
}

// Converts a box's text into its fixed-width field: the converted bytes, then
// one zero byte if there is room. Bytes beyond that zero are left alone.
template <std::size_t N>
CodePageText StoreText(std::array<uint8_t, N>& field, std::string_view utf8) {
  CodePageText text = ToCodePageChecked(utf8);
  const std::size_t n = std::min(text.bytes.size(), N);
  std::copy_n(text.bytes.begin(), n, field.begin());
  if (n < N) field[n] = 0;
  return text;
}

template <std::size_t N>
bool ReadTextField(ToolState& state, int box, std::array<uint8_t, N>& field, bool restricted,
                   bool allowEmpty, std::string_view label) {
  const CodePageText text = StoreText(field, state.form().text(box));
  if (CheckText(state.ports.messages, text.bytes, N, restricted, allowEmpty, label,
                text.firstUnheld) == 0)
    return true;
  field[0] = 0;
  // The device ID box is not editable; a bad ID must not be sent again as is.
  if (box == ctl::DeviceId) state.form().setText(box, "");
  state.form().focusAtEnd(box);
  return false;
}

bool ReadTextFields(ToolState& state) {
  LoggerSettings& s = state.settings;
  return ReadTextField(state, ctl::Trademark, s.trademark, false, false, "Trademark Error") &&
         ReadTextField(state, ctl::DeviceName, s.deviceName, false, false, "Device Name Error") &&
         ReadTextField(state, ctl::UserInfo, s.userInfo, false, true, "User Information Error") &&
         ReadTextField(state, ctl::Website, s.website, true, true, "Website Error") &&
         ReadTextField(state, ctl::DeviceId, s.deviceId, true, false, "Device ID Error");
}

void ReadStartMoment(ToolState& state) {
  LoggerSettings& s = state.settings;
  s.startOnTime = state.form().checked(ctl::StartOnTime) ? 1 : 0;
  // Taken whether or not "Start On Time" is checked; seconds are dropped.
  const LocalTime t = state.form().dateTime(ctl::StartPicker);
  s.startYear = static_cast<uint8_t>((t.year - 2000) & 0xFF);
  s.startMonth = static_cast<uint8_t>(t.month);
  s.startDay = static_cast<uint8_t>(t.day);
  s.startHour = static_cast<uint8_t>(t.hour);
  s.startMinute = static_cast<uint8_t>(t.minute);
}

bool IsPasswordByte(uint8_t b) {
  return b == 0 || (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}

bool ReadPassword(ToolState& state) {
  auto& password = state.settings.pdfPassword;
  const std::string text = state.form().text(ctl::PdfPassword);
  const std::string bytes = ToCodePage(text);
  password.fill(0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), password.size()), password.begin());
  // Only the bytes that fit are looked at; anything longer is the length
  // check's business below.
  if (!std::all_of(password.begin(), password.end(), IsPasswordByte)) {
    password.fill(0);
    state.form().setText(ctl::PdfPassword, "");
    state.form().focusAtEnd(ctl::PdfPassword);
    Tell(state, "Pdf Password can only be composed of numbers and letters!");
    return false;
  }
  if (Utf8Length(text) > password.size()) {
    Tell(state, "Pdf Password should not exceed 8 characters in length");
    return false;
  }
  return true;
}

}  // namespace

bool ValidateSettings(ToolState& state) {
  LoggerSettings& s = state.settings;
  FormPort& form = state.form();
  int32_t v = 0;

  s.reservedWords.fill(0);

  if (ReadIntegerField(state, ctl::RecordLedFlash, 0, 60, "Record LED Flash Time Error", v) != 0)
    return false;
  s.recordLedFlashSeconds = static_cast<uint16_t>(v);
  if (ReadIntegerField(state, ctl::AlarmLedFlash, 0, 60, "Alarm LED Flash Time Error", v) != 0)
    return false;
  s.alarmLedFlashSeconds = static_cast<uint16_t>(v);

  if (!ReadTimeZone(state)) return false;
  s.dateFormat = static_cast<uint8_t>(form.selection(ctl::DateFormat));

  if (ReadIntegerField(state, ctl::StartDelay, 0, 1440, "Start Delay Error", v) != 0) return false;
  s.startDelayMinutes = v;
  if (ReadIntegerField(state, ctl::Interval, 1, 86400, "Sampling Interval Error", v) != 0)
    return false;
  s.intervalSeconds = v;

  if (!ReadChannels(state)) return false;

  s.tempUnit = static_cast<uint8_t>(form.selection(ctl::TempUnit));
  if (s.tempUnit == 1 && (state.device.capabilityFlags & kFahrenheitSupported) == 0) {
    Tell(state,
         "This Device don't support ℉\r\n"
         "Please modify the temperature unit parameter!");
    return false;
  }

  if (!ReadAlarms(state)) return false;

  s.pdfLanguage = static_cast<uint8_t>(form.selection(ctl::PdfLanguage));
  s.powerSaveTimeout = form.checked(ctl::PowerSave) ? 300 : -1;
  s.alarmEnabled = form.checked(ctl::EnableAlarm) ? 1 : 0;
  s.outputCsv = form.checked(ctl::OutputCsv) ? 1 : 0;

  if (!ReadTextFields(state)) return false;
  ReadStartMoment(state);
  if (!ReadPassword(state)) return false;

  if (state.device.fwVersion > kLastAcceptingFirmware &&
      (state.device.deviceFlags & kRejectsConfiguration) != 0) {
    Tell(state, "Device Rejected Configuration");
    return false;
  }
  return true;
}
