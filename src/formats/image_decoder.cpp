#include "formats/image_decoder.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/control_ids.h"
#include "core/codepage.h"
#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "settings/clock.h"

namespace {

enum class Family { Drive, Hid };

// Entries of the channel combo.
constexpr int kEntryTemperature = 0;
constexpr int kEntryHumidity = 1;
constexpr int kEntryBoth = 2;

constexpr uint16_t kNoToolRequirement = 0xFFFF;
constexpr uint32_t kPowerSaveOff = 0xFFFFFFFF;

// Reads the image up to `limit` bytes. An HID logger may end its image early;
// past that point the buffer still holds an earlier logger's bytes, which must
// not show up as this logger's settings, so they read as zero.
struct ImageReader {
  const LoggerImage& image;
  uint32_t limit;

  uint8_t u8(int offset) const {
    return offset >= 0 && static_cast<uint32_t>(offset) < limit ? ImageU8(image, offset) : 0;
  }
  uint16_t u16(int offset) const {
    return static_cast<uint16_t>(u8(offset) | u8(offset + 1) << 8);
  }
  uint32_t u32(int offset) const {
    return static_cast<uint32_t>(u16(offset)) | static_cast<uint32_t>(u16(offset + 2)) << 16;
  }
  int8_t s8(int offset) const { return static_cast<int8_t>(u8(offset)); }
  int16_t s16(int offset) const { return static_cast<int16_t>(u16(offset)); }

  // A text field ends at its first NUL or at the end of the field; all of it
  // is shown, so a text that filled its field comes back as it was typed.
  std::string text(int offset, int width) const {
    std::vector<uint8_t> raw;
    for (int i = 0; i < width; ++i) {
      uint8_t b = u8(offset + i);
      if (b == 0) break;
      raw.push_back(b);
    }
    return FromCodePageField(raw.data(), raw.size());
  }
};

void CopyDeviceInfo(const ImageReader& in, DeviceInfo& device, Family family) {
  device.productIdHigh = in.u8(img::ProductIdHigh);
  device.productIdLow = in.u8(img::ProductIdLow);
  device.capabilityFlags = in.u8(img::CapabilityFlags);
  device.sensorKind = in.u8(img::SensorKind);
  device.tempSampleBits = in.u8(img::TempSampleBits);
  device.recordMemoryBytes = static_cast<uint32_t>(in.u8(img::MemoryBytesLow)) |
                             static_cast<uint32_t>(in.u8(img::MemoryBytesMid)) << 8 |
                             static_cast<uint32_t>(in.u8(img::MemoryBytesHigh)) << 16;
  device.sensorTempMax = in.s16(img::SensorTempMax);
  device.sensorTempMin = in.s16(img::SensorTempMin);
  if (family == Family::Hid) {
    device.deviceFlags = in.u8(img::DeviceFlags);
    device.requiredToolLevel = in.u16(img::RequiredToolLevel);
  }
}

// Drive loggers with a small record memory say so only by their memory type.
void CapRecordCapacity(uint8_t memoryType, DeviceInfo& device) {
  uint32_t cap = 0;
  switch (memoryType) {
    case 19: cap = 10000; break;
    case 20: cap = 20000; break;
    case 21: cap = 40000; break;
    case 22: cap = 80000; break;
    default: return;
  }
  if (device.recordCapacity > cap) device.recordCapacity = cap;
}

void SetNumber(FormPort& form, int id, uint32_t value) {
  form.setText(id, std::to_string(value));
}

void ShowVersion(ToolState& state, Family family) {
  const DeviceInfo& device = state.device;
  char text[48];
  if (family == Family::Drive) {
    std::snprintf(text, sizeof text, "FW Version:V%X.%X", unsigned{device.fwVersionHigh} >> 4,
                  unsigned{device.fwVersionHigh} & 0xFu);
  } else {
    std::snprintf(text, sizeof text, "Fw Version:V%X.%03X", unsigned{device.fwVersion} >> 12,
                  unsigned{device.fwVersion} & 0xFFFu);
  }
  state.form().setText(ctl::FwVersion, text);
  state.form().refresh(ctl::FwVersion);
}

// Without the extended parameter set the image says nothing about the
// settings: the form keeps them, only what the sensor can do is enforced.
void ApplyBasicChannelRule(ToolState& state) {
  FormPort& form = state.form();
  const DeviceInfo& device = state.device;
  bool fahrenheit = (device.capabilityFlags & img::CapFahrenheit) != 0;
  uint8_t channels = SupportedChannels(device, device.sensorKind);
  if (channels == ChannelHumidity) {
    form.setSelection(ctl::Channel, kEntryHumidity);
    form.setEnabled(ctl::Channel, false);
    form.setEnabled(ctl::TempUnit, false);
    form.setEnabled(ctl::LowTempAlarm, false);
    form.setEnabled(ctl::HighTempAlarm, false);
    form.setEnabled(ctl::LowHumidityAlarm, true);
    form.setEnabled(ctl::HighHumidityAlarm, true);
  } else if (channels == (ChannelTemperature | ChannelHumidity)) {
    form.setEnabled(ctl::Channel, true);
    if (!fahrenheit) form.setSelection(ctl::TempUnit, 0);
    form.setEnabled(ctl::TempUnit, fahrenheit);
    form.setEnabled(ctl::LowTempAlarm, true);
    form.setEnabled(ctl::HighTempAlarm, true);
    form.setEnabled(ctl::LowHumidityAlarm, true);
    form.setEnabled(ctl::HighHumidityAlarm, true);
  } else {
    form.setSelection(ctl::Channel, kEntryTemperature);
    form.setEnabled(ctl::Channel, false);
    form.setEnabled(ctl::TempUnit, fahrenheit);
    form.setEnabled(ctl::LowTempAlarm, true);
    form.setEnabled(ctl::HighTempAlarm, true);
    form.setEnabled(ctl::LowHumidityAlarm, false);
    form.setEnabled(ctl::HighHumidityAlarm, false);
  }
}

void DecodeParameters(ToolState& state, const ImageReader& in, Family family) {
  FormPort& form = state.form();
  const DeviceInfo& device = state.device;
  uint8_t caps = device.capabilityFlags;

  int zoneMinutes = in.s8(img::TzHours) * 60 + in.s8(img::TzMinutes);
  SelectTimeZone(state, static_cast<int16_t>(zoneMinutes));

  uint8_t language = in.u8(img::PdfLanguage);
  if (language > 1) language = 0;
  form.setSelection(ctl::PdfLanguage, language);

  // An unknown date format falls back to the one usual for the report language.
  uint8_t dateFormat = in.u8(img::DateFormat);
  if (dateFormat > 2) dateFormat = language == 1 ? 2 : 0;
  form.setSelection(ctl::DateFormat, dateFormat);

  int channel = kEntryTemperature;
  constexpr uint8_t kBothSensors = img::CapTemperature | img::CapHumidity;
  if ((caps & kBothSensors) == kBothSensors) {
    uint8_t mask = in.u8(img::ChannelMask);
    channel = mask == 3 ? kEntryBoth : mask == 2 ? kEntryHumidity : kEntryTemperature;
    form.setSelection(ctl::Channel, channel);
    form.setEnabled(ctl::Channel, true);
  } else {
    channel = (caps & img::CapTemperature) ? kEntryTemperature : kEntryHumidity;
    form.setSelection(ctl::Channel, channel);
    form.setEnabled(ctl::Channel, false);
  }

  if (caps & img::CapFahrenheit) {
    uint8_t unit = in.u8(img::TempUnit);
    form.setSelection(ctl::TempUnit, unit <= 1 ? unit : 0);
    form.setEnabled(ctl::TempUnit, true);
  } else {
    form.setSelection(ctl::TempUnit, 0);
    form.setEnabled(ctl::TempUnit, false);
  }

  SetNumber(form, ctl::StartDelay, in.u32(img::StartDelaySeconds) / 60);
  SetNumber(form, ctl::Interval, in.u32(img::IntervalSeconds));
  if (family == Family::Drive) {
    SetNumber(form, ctl::AlarmLedFlash, in.u16(img::AlarmLedSeconds));
    SetNumber(form, ctl::RecordLedFlash, in.u16(img::RecordLedSeconds));
  }

  // The alarm edits show these in the selected unit once the unit change is served.
  LoggerSettings& settings = state.settings;
  settings.tempAlarmHighC = in.s16(img::TempAlarmHigh) / 20.0;
  settings.tempAlarmLowC = in.s16(img::TempAlarmLow) / 20.0;
  settings.tempAlarmHighF = settings.tempAlarmHighC * 1.8 + 32;
  settings.tempAlarmLowF = settings.tempAlarmLowC * 1.8 + 32;
  state.poll.changeFlags |= flag::TempUnitChanged;

  bool humidity = (SupportedChannels(device, device.sensorKind) & ChannelHumidity) != 0 &&
                  channel != kEntryTemperature;
  if (humidity) {
    char text[32];
    std::snprintf(text, sizeof text, "%1.1f", in.u16(img::HumidityAlarmHigh) / 10.0);
    form.setText(ctl::HighHumidityAlarm, text);
    std::snprintf(text, sizeof text, "%1.1f", in.u16(img::HumidityAlarmLow) / 10.0);
    form.setText(ctl::LowHumidityAlarm, text);
  }
  form.setEnabled(ctl::HighHumidityAlarm, humidity);
  form.setEnabled(ctl::LowHumidityAlarm, humidity);

  form.setText(ctl::DeviceName, in.text(img::DeviceName, img::DeviceNameSize));
  form.setText(ctl::DeviceId, in.text(img::DeviceId, img::DeviceIdSize));
  form.refresh(ctl::DeviceId);
  form.setText(ctl::Website, in.text(img::Website, img::WebsiteSize));
  form.setText(ctl::UserInfo, in.text(img::UserInfo, img::UserInfoSize));
  form.setText(ctl::Trademark, in.text(img::Trademark, img::TrademarkSize));
}

bool PasswordByteAllowed(uint8_t b) {
  return b == 0 || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

// A password the logger could not have been given is dropped, in the image
// too, so nothing downstream takes it up.
std::string CheckedPassword(ToolState& state, const ImageReader& in) {
  for (int i = 0; i < img::PdfPasswordSize; ++i) {
    if (PasswordByteAllowed(in.u8(img::PdfPassword + i))) continue;
    for (int k = 0; k < img::PdfPasswordSize; ++k)
      state.image.bytes[static_cast<std::size_t>(img::PdfPassword + k)] = 0;
    return {};
  }
  return in.text(img::PdfPassword, img::PdfPasswordSize);
}

void SetOptionControls(ToolState& state, const ImageReader& in, Family family) {
  FormPort& form = state.form();
  if (family == Family::Drive) {
    // Drive loggers have none of these options; alarms are always on.
    form.setText(ctl::PdfPassword, "");
    form.setEnabled(ctl::PdfPassword, false);
    form.setChecked(ctl::StartOnTime, false);
    form.setEnabled(ctl::StartOnTime, false);
    form.setEnabled(ctl::StartPicker, false);
    form.setChecked(ctl::PowerSave, false);
    form.setEnabled(ctl::PowerSave, false);
    form.setChecked(ctl::OutputCsv, false);
    form.setEnabled(ctl::OutputCsv, false);
    form.setChecked(ctl::EnableAlarm, true);
    form.setEnabled(ctl::EnableAlarm, false);
    return;
  }
  form.setText(ctl::PdfPassword, CheckedPassword(state, in));
  form.setChecked(ctl::PowerSave, in.u32(img::PowerSaveTimeout) != kPowerSaveOff);
  form.setEnabled(ctl::PowerSave, true);
  uint8_t options = in.u8(img::OptionBits);
  form.setChecked(ctl::OutputCsv, (options & img::OptionCsv) != 0);
  form.setEnabled(ctl::OutputCsv, true);
  form.setChecked(ctl::EnableAlarm, (options & img::OptionAlarm) != 0);
  form.setEnabled(ctl::EnableAlarm, true);
}

bool Decode(ToolState& state, bool setupUnlocked, Family family) {
  uint32_t limit = family == Family::Hid ? state.image.length : kImageCapacity;
  const ImageReader in{state.image, limit};
  DeviceInfo& device = state.device;
  FormPort& form = state.form();

  CopyDeviceInfo(in, device, family);
  if (family == Family::Drive) CapRecordCapacity(in.u8(img::MemoryTypeCode), device);
  if (setupUnlocked) state.poll.changeFlags |= flag::ChannelChanged;

  if (device.requiredToolLevel > ToolLevel && device.requiredToolLevel != kNoToolRequirement) {
    state.messages().show(
        family == Family::Drive
            ? "This configuration tool is too old! Please use the latest version of the "
              "Configuration tool"
            : "This configuration tool is too old！\r\nPlease use the lateset configuration tool ",
        MessageIcon::Warning);
    return false;
  }

  ShowVersion(state, family);

  if (!setupUnlocked) {
    // Setup Lock: the user's settings go to logger after logger, each keeping its ID.
    form.setText(ctl::DeviceId, in.text(img::DeviceId, img::DeviceIdSize));
    form.refresh(ctl::DeviceId);
    state.poll.changeFlags |= flag::ChannelChanged;
    return true;
  }

  form.setEnabled(ctl::TimeZone, true);
  form.setEnabled(ctl::DateFormat, true);
  if (family == Family::Hid) {
    form.setEnabled(ctl::StartOnTime, true);
    form.setChecked(ctl::OutputCsv, false);
  }

  if ((device.capabilityFlags & img::CapExtended) == 0) {
    ApplyBasicChannelRule(state);
    return true;
  }
  DecodeParameters(state, in, family);
  SetOptionControls(state, in, family);
  return true;
}

}  // namespace

uint8_t SupportedChannels(const DeviceInfo& device, uint8_t kind) {
  uint8_t k = kind & 0x7F;
  if (k == 1 || k == 6 || k == 9 || k == 10)
    return static_cast<uint8_t>((device.capabilityFlags >> 5) & 0x03);
  if (k <= 10) return ChannelTemperature;
  // Newer kinds carry their channels in bits 5 and 6 of the kind itself.
  uint8_t bits = static_cast<uint8_t>((kind >> 5) & 0x03);
  return bits == 0 ? ChannelTemperature : bits;
}

bool DecodeDriveImage(ToolState& state, bool setupUnlocked) {
  return Decode(state, setupUnlocked, Family::Drive);
}

bool DecodeHidImage(ToolState& state, bool setupUnlocked) {
  return Decode(state, setupUnlocked, Family::Hid);
}
