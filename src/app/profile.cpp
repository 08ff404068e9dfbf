#include "app/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/form_events.h"
#include "core/codepage.h"
#include "core/control_ids.h"
#include "settings/field_parsers.h"

namespace {

using Json = nlohmann::ordered_json;

// A profile is a few hundred bytes; anything far larger is not one, and is
// refused before the parser spends time or stack on it.
constexpr std::size_t kMaxProfileBytes = 16 * 1024;

namespace key {
constexpr const char* Version = "profileVersion";
constexpr const char* TimeZone = "timeZone";
constexpr const char* DateFormat = "dateFormat";
constexpr const char* StartDelay = "startDelayMinutes";
constexpr const char* Interval = "intervalSeconds";
constexpr const char* Channel = "channel";
constexpr const char* AlarmEnabled = "alarmEnabled";
constexpr const char* TempUnit = "tempUnit";
constexpr const char* TempLow = "tempAlarmLow";
constexpr const char* TempHigh = "tempAlarmHigh";
constexpr const char* HumidityLow = "humidityAlarmLow";
constexpr const char* HumidityHigh = "humidityAlarmHigh";
constexpr const char* PdfLanguage = "pdfLanguage";
constexpr const char* PdfPassword = "pdfPassword";
constexpr const char* PowerSave = "powerSave";
constexpr const char* OutputCsv = "outputCsv";
constexpr const char* RecordLed = "recordLedFlashSeconds";
constexpr const char* AlarmLed = "alarmLedFlashSeconds";
constexpr const char* Trademark = "trademark";
constexpr const char* DeviceName = "deviceName";
constexpr const char* UserInfo = "userInfo";
constexpr const char* Website = "website";
constexpr const char* StartOnTime = "startOnTime";
constexpr const char* StartTime = "startTime";
}  // namespace key

// Every key, in the order SaveProfile writes them.
constexpr std::array<const char*, 24> kKeys{
    key::Version,     key::TimeZone,    key::DateFormat,  key::StartDelay,   key::Interval,
    key::Channel,     key::AlarmEnabled, key::TempUnit,   key::TempLow,      key::TempHigh,
    key::HumidityLow, key::HumidityHigh, key::PdfLanguage, key::PdfPassword, key::PowerSave,
    key::OutputCsv,   key::RecordLed,   key::AlarmLed,    key::Trademark,    key::DeviceName,
    key::UserInfo,    key::Website,     key::StartOnTime, key::StartTime};

// List entries by name, in the lists' order: the index is what the form
// selects and what validation reads.
using Names = std::vector<std::string_view>;
const Names kDateFormats{"day/month/year", "month/day/year", "year/month/day"};
const Names kChannels{"Temperature", "Humidity", "Temp.+ Hum."};
const Names kTempUnits{"C", "F"};
const Names kPdfLanguages{"English", "Chinese"};

Json EntryName(const Names& names, int selection) {
  if (selection < 0 || selection >= static_cast<int>(names.size())) return nullptr;
  return std::string(names[static_cast<std::size_t>(selection)]);
}

std::string Quote(std::string_view name) { return "\"" + std::string(name) + "\""; }

std::string OneOf(const Names& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) out += i + 1 == names.size() ? " or " : ", ";
    out += Quote(names[i]);
  }
  return out;
}

// Everything a profile sets, checked, before any of it reaches the form.
struct ProfileValues {
  int timeZone = -1;
  std::string timeZoneText;
  int dateFormat = 0;
  int channel = 0;
  int tempUnit = 0;
  int pdfLanguage = 0;
  bool alarmEnabled = false;
  bool powerSave = false;
  bool outputCsv = false;
  bool startOnTime = false;
  std::string startDelay, interval, recordLed, alarmLed;
  std::string tempLow, tempHigh, humidityLow, humidityHigh;
  std::string trademark, deviceName, userInfo, website, pdfPassword;
  LocalTime startTime;
};

class Reader {
 public:
  Reader(const Json& doc, const FormPort& form) : doc_(doc), form_(form) {}

  const std::string& error() const { return error_; }
  bool failed() const { return !error_.empty(); }

  const Json* Field(const char* name) {
    if (failed()) return nullptr;
    auto it = doc_.find(name);
    if (it == doc_.end()) {
      Fail(name, "is missing");
      return nullptr;
    }
    return &*it;
  }

  std::string Text(const char* name, std::string_view example) {
    const Json* v = Field(name);
    if (v == nullptr) return {};
    if (!v->is_string()) {
      Fail(name, "must be a text in quotes, e.g. " + Quote(example));
      return {};
    }
    return v->get<std::string>();
  }

  bool Bool(const char* name) {
    const Json* v = Field(name);
    if (v == nullptr) return false;
    if (!v->is_boolean()) {
      Fail(name, "must be true or false");
      return false;
    }
    return v->get<bool>();
  }

  int Choice(const char* name, const Names& names) {
    const Json* v = Field(name);
    if (v == nullptr) return 0;
    if (v->is_string()) {
      const std::string& text = v->get_ref<const std::string&>();
      for (std::size_t i = 0; i < names.size(); ++i)
        if (text == names[i]) return static_cast<int>(i);
    }
    Fail(name, "must be one of " + OneOf(names));
    return 0;
  }

  std::string Integer(const char* name, int32_t min, int32_t max) {
    std::string text = Text(name, std::to_string(min));
    int32_t value = 0;
    if (!failed() && ParseInteger(nullptr, text, min, max, NoLabel, value) != 0)
      Fail(name, "must be a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", e.g. " + Quote(std::to_string(min)));
    return text;
  }

  // Alarm texts: at most one decimal, which the form would otherwise cut off
  // as it is written, silently changing the value.
  std::string Decimal(const char* name, double min, double max, std::string_view range) {
    std::string text = Text(name, "2.0");
    if (failed()) return text;
    double value = 0;
    const std::size_t point = text.find('.');
    if (ParseReal(nullptr, text, min, max, NoLabel, value) != 0 ||
        (point != std::string::npos && text.size() - point > 2))
      Fail(name, "must be a number with at most one decimal" + std::string(range));
    return text;
  }

  // Texts as the logger keeps them: in its code page, within the field.
  std::string LoggerText(const char* name, std::size_t size, bool restricted, bool allowEmpty) {
    std::string text = Text(name, "KELM");
    if (failed()) return text;
    const CodePageText converted = ToCodePageChecked(text);
    switch (CheckText(nullptr, converted.bytes, size, restricted, allowEmpty, NoLabel,
                      converted.firstUnheld)) {
      case 0: break;
      case 1: Fail(name, "must not be empty"); break;
      case 2:
        Fail(name, "must be at most " + std::to_string(size) +
                       " bytes in the logger's code page (GBK: a Chinese character takes 2)");
        break;
      default:
        Fail(name, restricted ? "may hold only ASCII letters, digits and the usual punctuation"
                              : "holds a character the logger's code page (GBK) cannot keep");
        break;
    }
    return text;
  }

  std::string Password(const char* name) {
    std::string text = Text(name, "ab12");
    if (failed()) return text;
    bool ok = text.size() <= 8;
    for (char c : text)
      ok = ok && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
    if (!ok) Fail(name, "must be at most 8 ASCII letters and digits");
    return text;
  }

  // "UTC+08:00": one of the form's entries, found as the form finds it.
  int Zone(const char* name, std::string& text) {
    text = Text(name, "UTC+08:00");
    if (failed()) return -1;
    const bool shaped = text.size() == 9 && text.compare(0, 3, "UTC") == 0 &&
                        (text[3] == '+' || text[3] == '-') && text[6] == ':';
    const int entry = shaped ? form_.findEntry(ctl::TimeZone, text) : -1;
    if (entry < 0)
      Fail(name, "must be an entry of the time-zone list, from \"UTC+12:00\" to \"UTC-12:00\" "
                 "in steps of 30 minutes");
    return entry;
  }

  LocalTime Moment(const char* name) {
    const std::string text = Text(name, "2025-01-31 08:00");
    LocalTime t;
    if (failed()) return t;
    bool ok = text.size() == 16 && text[4] == '-' && text[7] == '-' && text[10] == ' ' &&
              text[13] == ':';
    auto number = [&](std::size_t pos, std::size_t count) {
      int value = 0;
      for (std::size_t i = pos; i < pos + count && ok; ++i) {
        ok = text[i] >= '0' && text[i] <= '9';
        value = value * 10 + (text[i] - '0');
      }
      return value;
    };
    if (ok) {
      t.year = number(0, 4);
      t.month = number(5, 2);
      t.day = number(8, 2);
      t.hour = number(11, 2);
      t.minute = number(14, 2);
    }
    static constexpr std::array<int, 12> kDays{31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = t.year % 4 == 0 && (t.year % 100 != 0 || t.year % 400 == 0);
    // The logger keeps the year as year - 2000 in one byte.
    ok = ok && t.year >= 2000 && t.year <= 2255 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= kDays[static_cast<std::size_t>(t.month - 1)] &&
         (t.month != 2 || t.day <= 28 || leap) && t.hour <= 23 && t.minute <= 59;
    if (!ok) Fail(name, "must be a date and time \"YYYY-MM-DD HH:MM\" in the years 2000 to 2255");
    return t;
  }

  void Fail(std::string_view name, const std::string& why) {
    if (!failed()) error_ = "Profile: " + Quote(name) + " " + why;
  }

 private:
  const Json& doc_;
  const FormPort& form_;
  std::string error_;
};

// The bounds the pass after loading re-reads the temperature alarms with:
// the sensor's range, in the unit the profile chooses. A value outside them
// would not be taken by that re-read, and the unit's display would then put
// the earlier value back into the box, so it is refused here instead.
std::string TemperatureRange(const DeviceInfo& device, int unit, double& low, double& high) {
  low = device.sensorTempMin / 10.0;
  high = device.sensorTempMax / 10.0;
  if (unit == 1) {
    low = low * 1.8 + 32;
    high = high * 1.8 + 32;
  }
  char text[96];
  std::snprintf(text, sizeof text, " from %.1f to %.1f %s (the sensor's range)", low, high,
                unit == 1 ? "℉" : "℃");
  return text;
}

std::string Read(Reader& r, const DeviceInfo& device, ProfileValues& v) {
  v.timeZone = r.Zone(key::TimeZone, v.timeZoneText);
  v.dateFormat = r.Choice(key::DateFormat, kDateFormats);
  v.startDelay = r.Integer(key::StartDelay, 0, 1440);
  v.interval = r.Integer(key::Interval, 1, 86400);
  v.channel = r.Choice(key::Channel, kChannels);
  v.alarmEnabled = r.Bool(key::AlarmEnabled);
  v.tempUnit = r.Choice(key::TempUnit, kTempUnits);
  double low = 0;
  double high = 0;
  const std::string range = TemperatureRange(device, v.tempUnit, low, high);
  v.tempLow = r.Decimal(key::TempLow, low, high, range);
  v.tempHigh = r.Decimal(key::TempHigh, low, high, range);
  v.humidityLow = r.Decimal(key::HumidityLow, 0.0, 100.0, " from 0 to 100");
  v.humidityHigh = r.Decimal(key::HumidityHigh, 0.0, 100.0, " from 0 to 100");
  v.pdfLanguage = r.Choice(key::PdfLanguage, kPdfLanguages);
  v.pdfPassword = r.Password(key::PdfPassword);
  v.powerSave = r.Bool(key::PowerSave);
  v.outputCsv = r.Bool(key::OutputCsv);
  v.recordLed = r.Integer(key::RecordLed, 0, 60);
  v.alarmLed = r.Integer(key::AlarmLed, 0, 60);
  v.trademark = r.LoggerText(key::Trademark, 20, false, false);
  v.deviceName = r.LoggerText(key::DeviceName, 20, false, false);
  v.userInfo = r.LoggerText(key::UserInfo, 100, false, true);
  v.website = r.LoggerText(key::Website, 50, true, true);
  v.startOnTime = r.Bool(key::StartOnTime);
  v.startTime = r.Moment(key::StartTime);
  return r.error();
}

// Parses the document and checks its shape: an object, known keys, each
// once, and the version this tool reads.
std::string ParseDocument(std::string_view text, Json& doc) {
  if (text.size() > kMaxProfileBytes) return "Profile: too large to be a profile";
  std::string duplicate;
  std::vector<std::set<std::string>> seen;  // keys of each open object
  const Json::parser_callback_t watch = [&](int, nlohmann::json::parse_event_t event,
                                            Json& parsed) {
    using E = nlohmann::json::parse_event_t;
    if (event == E::object_start) {
      seen.emplace_back();
    } else if (event == E::object_end) {
      if (!seen.empty()) seen.pop_back();
    } else if (event == E::key && !seen.empty() && parsed.is_string()) {
      if (!seen.back().insert(parsed.get<std::string>()).second && duplicate.empty())
        duplicate = parsed.get<std::string>();
    }
    return true;
  };
  // The parser reports by exception; it stops here.
  try {
    doc = Json::parse(text.begin(), text.end(), watch);
  } catch (const nlohmann::json::exception& e) {
    std::string what = e.what();
    const std::size_t at = what.find("] ");
    return "Profile: not valid JSON (" + (at == std::string::npos ? what : what.substr(at + 2)) +
           ")";
  }
  if (!doc.is_object()) return "Profile: must be a JSON object { ... }";
  if (!duplicate.empty()) return "Profile: " + Quote(duplicate) + " is given more than once";
  for (const auto& item : doc.items()) {
    bool known = false;
    for (const char* k : kKeys) known = known || item.key() == k;
    if (!known) return "Profile: unknown field " + Quote(item.key());
  }
  auto version = doc.find(key::Version);
  if (version == doc.end()) return "Profile: \"profileVersion\" is missing";
  if (!version->is_number_integer() || *version != kProfileVersion)
    return "Profile: \"profileVersion\" " + version->dump() + " is not one this tool reads (" +
           std::to_string(kProfileVersion) + ")";
  return {};
}

void Select(ToolState& state, int id, int index) {
  state.form().setSelection(id, index);
  OnFormEvent(state, id, FormEvent::SelectionChanged);
}

void Check(ToolState& state, int id, bool on) {
  if (state.form().checked(id) == on) return;
  state.form().setChecked(id, on);
  OnFormEvent(state, id, FormEvent::Clicked);
}

// In the order a person would go, so the unit and alarm rules see what they
// expect: the unit is chosen before the temperature alarms are typed, so the
// pass reads them in that unit before it shows them again; the channel and
// "Enable Alarm" before the alarm values. Each program write of an edit box
// raises the box's own text notification.
void Apply(ToolState& state, const ProfileValues& v) {
  FormPort& form = state.form();
  Select(state, ctl::TimeZone, v.timeZone);
  // The language's notification serves only one rule: for old loggers (and
  // before any logger is read) it moves the date format to the language's.
  // A person would pick the date format afterwards; the profile says which,
  // so the notification is not raised.
  form.setSelection(ctl::PdfLanguage, v.pdfLanguage);
  Select(state, ctl::DateFormat, v.dateFormat);
  form.setText(ctl::RecordLedFlash, v.recordLed);
  form.setText(ctl::AlarmLedFlash, v.alarmLed);
  form.setText(ctl::StartDelay, v.startDelay);
  form.setText(ctl::Interval, v.interval);
  Select(state, ctl::Channel, v.channel);
  Check(state, ctl::EnableAlarm, v.alarmEnabled);
  Select(state, ctl::TempUnit, v.tempUnit);
  form.setText(ctl::LowTempAlarm, v.tempLow);
  form.setText(ctl::HighTempAlarm, v.tempHigh);
  form.setText(ctl::LowHumidityAlarm, v.humidityLow);
  form.setText(ctl::HighHumidityAlarm, v.humidityHigh);
  Check(state, ctl::PowerSave, v.powerSave);
  Check(state, ctl::OutputCsv, v.outputCsv);
  form.setText(ctl::Trademark, v.trademark);
  form.setText(ctl::DeviceName, v.deviceName);
  form.setText(ctl::UserInfo, v.userInfo);
  form.setText(ctl::Website, v.website);
  form.setText(ctl::PdfPassword, v.pdfPassword);
  Check(state, ctl::StartOnTime, v.startOnTime);
}

std::string StartTimeText(const LocalTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute);
  return text;
}

}  // namespace

std::string SaveProfile(const FormPort& form) {
  const std::string zone = form.text(ctl::TimeZone);
  Json doc;
  doc[key::Version] = kProfileVersion;
  doc[key::TimeZone] = zone.empty() ? Json(nullptr) : Json(zone);
  doc[key::DateFormat] = EntryName(kDateFormats, form.selection(ctl::DateFormat));
  doc[key::StartDelay] = form.text(ctl::StartDelay);
  doc[key::Interval] = form.text(ctl::Interval);
  doc[key::Channel] = EntryName(kChannels, form.selection(ctl::Channel));
  doc[key::AlarmEnabled] = form.checked(ctl::EnableAlarm);
  doc[key::TempUnit] = EntryName(kTempUnits, form.selection(ctl::TempUnit));
  doc[key::TempLow] = form.text(ctl::LowTempAlarm);
  doc[key::TempHigh] = form.text(ctl::HighTempAlarm);
  doc[key::HumidityLow] = form.text(ctl::LowHumidityAlarm);
  doc[key::HumidityHigh] = form.text(ctl::HighHumidityAlarm);
  doc[key::PdfLanguage] = EntryName(kPdfLanguages, form.selection(ctl::PdfLanguage));
  doc[key::PdfPassword] = form.text(ctl::PdfPassword);
  doc[key::PowerSave] = form.checked(ctl::PowerSave);
  doc[key::OutputCsv] = form.checked(ctl::OutputCsv);
  doc[key::RecordLed] = form.text(ctl::RecordLedFlash);
  doc[key::AlarmLed] = form.text(ctl::AlarmLedFlash);
  doc[key::Trademark] = form.text(ctl::Trademark);
  doc[key::DeviceName] = form.text(ctl::DeviceName);
  doc[key::UserInfo] = form.text(ctl::UserInfo);
  doc[key::Website] = form.text(ctl::Website);
  doc[key::StartOnTime] = form.checked(ctl::StartOnTime);
  doc[key::StartTime] = StartTimeText(form.dateTime(ctl::StartPicker));
  // A text that is not UTF-8 is written with U+FFFD rather than refused.
  return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

ProfileLoad LoadProfile(ToolState& state, std::string_view json) {
  ProfileLoad result;
  Json doc;
  result.message = ParseDocument(json, doc);
  if (!result.message.empty()) return result;
  ProfileValues values;
  Reader reader(doc, state.form());
  result.message = Read(reader, state.device, values);
  if (!result.message.empty()) return result;
  Apply(state, values);
  result.ok = true;
  result.startTime = values.startTime;
  return result;
}

namespace {

constexpr std::size_t kLongestProfileFile = 64 * 1024;

}  // namespace

std::optional<std::string> ReadProfileFile(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::size_t>(info.st_size) > kLongestProfileFile) {
    const bool opened = fd >= 0;
    error = "Profile: cannot read " + path + ": " +
            (!opened ? std::strerror(errno) : "not a profile file");
    if (opened) ::close(fd);
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  text.resize(done);
  return text;
}

bool WriteProfileFile(const std::string& path, std::string_view text, std::string& error) {
  const std::string scratch = path + ".part";
  const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "Profile: cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  int failure = 0;
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && ::rename(scratch.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    ::unlink(scratch.c_str());
    error = "Profile: cannot write " + path + ": " + std::strerror(failure);
    return false;
  }
  return true;
}
