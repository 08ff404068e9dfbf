// What the user types into the form: the number parsers, the text check and
// the whole validation, then the block it builds and the logger's answer.
//
// Holds: a number is accepted only within its bounds, as the digits typed,
// and once printed (one decimal for the alarm boxes) it is accepted again;
// an accepted text fits its field with only the bytes it may hold; a
// validation that fails says so once, one that passes says nothing and
// leaves every setting in its range; its block reads back as whole records a
// logger takes, and the logger's image shows the typed texts and numbers
// again.

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "block_checks.h"
#include "core/codepage.h"
#include "core/control_ids.h"
#include "formats/image_decoder.h"
#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "fuzz_support.h"
#include "settings/clock.h"
#include "settings/field_parsers.h"
#include "settings/validation.h"

namespace {

struct IntegerBounds {
  int32_t min;
  int32_t max;
};
// The form's bounds, and the widest.
constexpr std::array<IntegerBounds, 6> kIntegerBounds = {{
    {0, 60}, {0, 1440}, {1, 86400}, {0, 12}, {0, 59},
    {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()},
}};
constexpr std::array<std::array<double, 2>, 4> kRealBounds = {{
    {0.0, 100.0}, {-40.0, 85.0}, {-200.0, 200.0}, {-1e9, 1e9},
}};

// The text without its leading blanks and sign; whether the sign was '-'.
std::string_view Unsigned(std::string_view text, bool& negative) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  return text;
}

void Integers(std::string_view text, uint8_t selector) {
  const IntegerBounds b = kIntegerBounds[selector % kIntegerBounds.size()];
  MemoryMessages messages;
  int32_t value = 0;
  const uint8_t code = ParseInteger(&messages, text, b.min, b.max, "Label", value);
  Require(messages.texts().size() == (code == 0 ? 0u : 1u), "a refusal is told once");
  Require(code <= 3, "the integer parser's codes are 0 to 3");
  if (code != 0) {
    Require(messages.last().rfind("Label: ", 0) == 0, "the message starts with the label");
    return;
  }
  Require(value >= b.min && value <= b.max, "an accepted integer lies within its bounds");
  // The digits typed are the value: nothing wrapped or was dropped.
  bool negative = false;
  std::string_view digits = Unsigned(text, negative);
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  const int64_t magnitude = std::llabs(static_cast<int64_t>(value));
  Require(digits == std::to_string(magnitude), "an accepted integer is the digits typed");
  Require(value == 0 || negative == (value < 0), "an accepted integer keeps its sign");
  int32_t again = 0;
  Require(ParseInteger(nullptr, std::to_string(value), b.min, b.max, NoLabel, again) == 0 &&
              again == value,
          "an accepted integer, printed, is accepted again");
}

void Reals(std::string_view text, uint8_t selector) {
  const auto [min, max] = kRealBounds[selector % kRealBounds.size()];
  MemoryMessages messages;
  double value = 0;
  const uint8_t code = ParseReal(&messages, text, min, max, "Label", value);
  Require(messages.texts().size() == (code == 0 ? 0u : 1u), "a refusal is told once");
  Require(code <= 4, "the decimal parser's codes are 0 to 4");
  if (code != 0) return;
  Require(std::isfinite(value) && value >= min && value <= max,
          "an accepted decimal is a finite number within its bounds");
  // Against the C library's reading of the same digits.
  bool negative = false;
  const std::string digits(Unsigned(text, negative));
  const double expected = std::strtod(digits.c_str(), nullptr) * (negative ? -1.0 : 1.0);
  Require(std::fabs(value - expected) <= 1e-9 * std::fmax(1.0, std::fabs(expected)),
          "an accepted decimal is the number typed");
  // Shown with one decimal, as the alarm boxes show it, it reads again.
  std::array<char, 64> shown{};
  const auto [end, error] =
      std::to_chars(shown.data(), shown.data() + shown.size(), value, std::chars_format::fixed, 1);
  Require(error == std::errc(), "an accepted decimal can be shown");
  double again = 0;
  Require(ParseReal(nullptr, std::string_view(shown.data(), end), min, max, NoLabel, again) == 0 &&
              std::fabs(again - value) <= 0.05 + 1e-9 * std::fmax(1.0, std::fabs(value)),
          "an accepted decimal, shown with one decimal, is accepted again");
}

void Texts(std::string_view text, uint8_t selector) {
  const std::size_t size = 1u + selector % 100u;
  const bool restricted = (selector & 0x40) != 0;
  const bool allowEmpty = (selector & 0x80) != 0;
  const CodePageText converted = ToCodePageChecked(text);
  const uint8_t code =
      CheckText(nullptr, converted.bytes, size, restricted, allowEmpty, NoLabel,
                converted.firstUnheld);
  Require(code <= 3, "the text check's codes are 0 to 3");
  if (code != 0) return;
  Require(!converted.bytes.empty() || allowEmpty, "an empty text passes only where allowed");
  Require(converted.bytes.size() <= size, "an accepted text fits its field");
  Require(converted.firstUnheld == std::string::npos,
          "a text with a character the logger cannot hold is refused");
  if (restricted)
    for (char c : converted.bytes)
      Require(IsAllowedTextByte(static_cast<uint8_t>(c)), "a restricted text holds allowed bytes");
}

// A zone entry's text ("UTC-05:30"): refused, the offset is left alone;
// accepted, it is at most 12:59 from UTC.
void Zone(std::string_view text) {
  constexpr int32_t kUntouched = 99999;
  int32_t offset = kUntouched;
  if (!ParseZoneText(nullptr, text, NoLabel, offset)) {
    Require(offset == kUntouched, "a zone text refused leaves the offset alone");
    return;
  }
  Require(offset >= -(12 * 60 + 59) && offset <= 12 * 60 + 59, "a zone is within 12:59 of UTC");
}

// ---- The whole form ---------------------------------------------------------

constexpr std::array<int, 14> kTextBoxes = {
    ctl::RecordLedFlash, ctl::AlarmLedFlash, ctl::StartDelay,       ctl::Interval,
    ctl::LowTempAlarm,   ctl::HighTempAlarm, ctl::LowHumidityAlarm, ctl::HighHumidityAlarm,
    ctl::Trademark,      ctl::DeviceName,    ctl::UserInfo,         ctl::Website,
    ctl::DeviceId,       ctl::PdfPassword};

template <std::size_t N>
std::string_view FieldText(const std::array<uint8_t, N>& field) {
  std::size_t n = 0;
  while (n < N && field[n] != 0) ++n;
  return {reinterpret_cast<const char*>(field.data()), n};
}

void RequireSettingsInRange(const ToolState& state) {
  const LoggerSettings& s = state.settings;
  Require(s.recordLedFlashSeconds <= 60 && s.alarmLedFlashSeconds <= 60, "LED times 0..60");
  Require(s.startDelayMinutes >= 0 && s.startDelayMinutes <= 1440, "start delay 0..1440");
  Require(s.intervalSeconds >= 1 && s.intervalSeconds <= 86400, "interval 1..86400");
  Require(s.tzHours >= -12 && s.tzHours <= 12 && s.tzMinutes > -60 && s.tzMinutes < 60 &&
              (s.tzHours >= 0 || s.tzMinutes <= 0) && (s.tzHours <= 0 || s.tzMinutes >= 0),
          "the zone is at most 12 hours, its minutes of the hours' sign");
  Require(s.channels >= 1 && s.channels <= 3, "a channel mask 1..3");
  Require(s.powerSaveTimeout == 300 || s.powerSaveTimeout == -1, "power save 300 or -1");
  if (s.channels & 1) Require(s.tempAlarmLowC < s.tempAlarmHighC, "temperature alarms ordered");
  if (s.channels & 2) {
    Require(s.humidityAlarmLow < s.humidityAlarmHigh, "humidity alarms ordered");
    Require(s.humidityAlarmLow >= 0 && s.humidityAlarmHigh <= 100, "humidity 0..100");
  }
  for (uint8_t b : s.pdfPassword)
    Require(b == 0 || (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'),
            "a password of digits and letters");
  for (char c : FieldText(s.website))
    Require(IsAllowedTextByte(static_cast<uint8_t>(c)), "a website of allowed bytes");
  for (char c : FieldText(s.deviceId))
    Require(IsAllowedTextByte(static_cast<uint8_t>(c)), "a device ID of allowed bytes");
  Require(!FieldText(s.deviceName).empty() && !FieldText(s.trademark).empty() &&
              !FieldText(s.deviceId).empty(),
          "the texts that may not be empty are not");
}

// The form's texts as the logger gave them back, for those a logger keeps.
void RequireLoggerShowsForm(TestTool& typed, std::vector<uint8_t>& image) {
  auto shown = std::make_unique<TestTool>();
  ToolState& s = shown->s();
  const bool drive = typed.s().device.fwVersionHigh < 0x30;
  if (drive) SealDriveImage(image.data(), image.size());
  std::copy(image.begin(), image.end(), s.image.bytes.begin());
  s.image.length = static_cast<uint32_t>(image.size());
  ExtractHeader(s.image, s.device);
  Require(drive ? DecodeDriveImage(s, true) : DecodeHidImage(s, true),
          "the logger's image is decoded");
  // A text is shown as typed when every character reached the logger.
  for (int id : {ctl::Trademark, ctl::DeviceName, ctl::UserInfo, ctl::Website, ctl::DeviceId})
    Require(shown->form.text(id) == typed.form.text(id),
            "a text the form accepted comes back as it was typed");
  auto number = [](const std::string& text) {
    int32_t v = -1;
    ParseInteger(nullptr, text, std::numeric_limits<int32_t>::min(),
                 std::numeric_limits<int32_t>::max(), NoLabel, v);
    return v;
  };
  for (int id : {ctl::StartDelay, ctl::Interval})
    Require(number(shown->form.text(id)) == number(typed.form.text(id)),
            "a number the form accepted comes back as typed");
  if (drive)
    for (int id : {ctl::AlarmLedFlash, ctl::RecordLedFlash})
      Require(number(shown->form.text(id)) == number(typed.form.text(id)),
              "an LED time comes back as typed");
  else
    Require(shown->form.text(ctl::PdfPassword) == typed.form.text(ctl::PdfPassword),
            "the password comes back as typed");
}

void WholeForm(FuzzInput& in) {
  auto tool = std::make_unique<TestTool>();
  ToolState& s = tool->s();
  MemoryForm& form = tool->form;
  // The logger that was read: one of each family, its abilities from the input.
  const uint8_t family = in.byte();
  s.device.fwVersionHigh = (family & 1) ? 0x40 : 0x24;
  s.device.fwVersionLow = static_cast<uint8_t>(family >> 1);
  s.device.fwVersion = static_cast<uint16_t>(s.device.fwVersionHigh << 8 | s.device.fwVersionLow);
  s.device.capabilityFlags = in.byte();
  s.device.deviceFlags = in.byte();
  s.device.sensorTempMin = static_cast<int16_t>(-static_cast<int>(in.byte()) * 10);
  s.device.sensorTempMax = static_cast<int16_t>(in.byte() * 10);
  for (int id : {ctl::TimeZone, ctl::DateFormat, ctl::Channel, ctl::TempUnit, ctl::PdfLanguage}) {
    const uint8_t pick = in.byte();
    form.setSelection(id, pick == 0xFF ? -1 : pick % 49);
  }
  const uint8_t switches = in.byte();
  form.at(ctl::PowerSave).checked = switches & 1;
  form.at(ctl::EnableAlarm).checked = switches & 2;
  form.at(ctl::OutputCsv).checked = switches & 4;
  form.at(ctl::StartOnTime).checked = switches & 8;
  int bit = 0x10;
  for (int id : {ctl::LowTempAlarm, ctl::HighTempAlarm, ctl::LowHumidityAlarm,
                 ctl::HighHumidityAlarm}) {
    form.at(id).enabled = (switches & bit) != 0;
    bit <<= 1;
  }
  form.at(ctl::StartPicker).dateTime = {2026, 12, 10, 8, 30, 0};
  for (int id : kTextBoxes) form.at(id).text = std::string(in.until('\0'));

  const bool valid = ValidateSettings(s);
  Require(tool->messages.texts().size() == (valid ? 0u : 1u),
          "validation tells of its failure once, and of a success not at all");
  if (!valid) return;
  RequireSettingsInRange(s);
  Require(BuildConfigBlock(s), "a block is built when none is waiting");
  const std::vector<ReceivedRecord> records = RequireWellFormedBlock(s);
  std::vector<uint8_t> image =
      DefaultLoggerImage(s.device.fwVersionHigh, s.device.fwVersionLow);
  RequireLoggerTakes(image, records);
  RequireLoggerShowsForm(*tool, image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  FuzzInput in(data, size);
  const uint8_t selector = in.byte();
  switch (selector & 3) {
    case 0: {
      const std::string_view text = in.rest();
      Integers(text, static_cast<uint8_t>(selector >> 2));
      Reals(text, static_cast<uint8_t>(selector >> 2));
      Texts(text, selector);
      Zone(text);
      break;
    }
    default:
      WholeForm(in);
      break;
  }
  return 0;
}
