#include "app/form_template.h"

#include "core/control_ids.h"
#include "settings/clock.h"

namespace {

using K = ControlKind;
constexpr unsigned kNeverShown = tmpl::Hidden | tmpl::Disabled;

// The numeric boxes are wide enough for the longest value their fields accept
// ("86400", "1440", "100.0", "60"), their unit texts moved to the right to match.
// clang-format off
constexpr ControlTemplate kMainForm[] = {
    {1, 0, K::Text, "Time Zone:", 293, 42, 53, 10, 0},
    {2, 0, K::Text, "Date Format:", 192, 42, 51, 8, 0},
    {3, 0, K::Text, "Start Delay:", 11, 25, 49, 8, 0},
    {4, ctl::RecordingTime, K::Text, "Longest Recording TIme:", 11, 59, 166, 8, 0},
    {5, 0, K::Text, "Channel Selection:", 11, 76, 73, 8, 0},
    {6, 0, K::Text, "Low Temp. Alarm:", 11, 127, 66, 8, 0},
    {7, 0, K::Text, "High Temp. Alarm:", 11, 144, 69, 8, 0},
    {8, 0, K::Text, "PDF Language:", 193, 161, 55, 8, 0},
    {9, 0, K::Text, "Recording Interval:", 11, 42, 79, 8, 0},
    {10, 0, K::Text, "Min.", 85, 25, 17, 8, 0},
    {11, 0, K::Text, "Sec.", 117, 42, 16, 8, 0},
    {12, ctl::LowTempUnitSign, K::Text, "℃", 119, 127, 12, 8, 0},
    {13, ctl::HighTempUnitSign, K::Text, "℃", 118, 144, 14, 8, 0},
    {14, 0, K::Text, "Temperature Unit:", 11, 93, 70, 8, 0},
    {15, 0, K::Text, "Low Humidity Alarm:", 11, 161, 77, 8, 0},
    {16, 0, K::Text, "High Humidity Alarm:", 11, 178, 82, 8, 0},
    {17, 0, K::Text, "允许按键删除记录", 94, 7, 70, 8, kNeverShown},
    {18, 0, K::Text, "%RH", 124, 161, 14, 8, 0},
    {19, 0, K::Text, "%RH", 124, 178, 14, 8, 0},
    {20, ctl::DateText, K::Text, "2018/12/12", 241, 25, 43, 8, 0},
    {21, ctl::TimeText, K::Text, "22:00:00", 291, 25, 37, 8, 0},
    {22, 0, K::Text, "Trademark:", 204, 59, 39, 8, 0},
    {23, 0, K::Text, "Device Name:", 196, 76, 48, 8, 0},
    {24, 0, K::Text, "User-Define Info:", 177, 93, 69, 8, 0},
    {25, 0, K::Text, "Website:", 213, 110, 34, 9, 0},
    {26, 0, K::Text, "Device ID:", 205, 127, 41, 8, 0},
    {27, 0, K::Text, "Setup Lock", 320, 144, 46, 8, 0},
    {28, ctl::Configure, K::Button, "Plug Logger", 312, 199, 61, 23, tmpl::Disabled},
    {29, ctl::PowerSave, K::Check, "", 196, 193, 65, 13, 0},
    {30, ctl::KeyDelete, K::Check, "", 91, 5, 63, 12, kNeverShown},
    {31, ctl::SetupLock, K::Check, "", 307, 144, 36, 8, 0},
    {32, ctl::TimeZone, K::List, "", 335, 41, 50, 12, 0},
    {33, ctl::DateFormat, K::List, "", 242, 41, 44, 12, 0},
    {34, ctl::PdfLanguage, K::List, "", 248, 160, 44, 13, 0},
    {35, ctl::TempUnit, K::List, "", 90, 92, 20, 12, 0},
    {36, ctl::Channel, K::List, "", 90, 75, 59, 12, 0},
    {37, ctl::StartDelay, K::CentredEdit, "", 59, 25, 24, 9, 0},
    {38, ctl::Interval, K::CentredEdit, "", 84, 42, 28, 9, 0},
    {39, ctl::LowTempAlarm, K::CentredEdit, "", 87, 127, 30, 9, 0},
    {40, ctl::HighTempAlarm, K::CentredEdit, "", 87, 144, 30, 9, 0},
    {41, ctl::LowHumidityAlarm, K::CentredEdit, "", 93, 161, 27, 9, 0},
    {42, ctl::HighHumidityAlarm, K::CentredEdit, "", 95, 178, 25, 9, 0},
    {43, ctl::Trademark, K::Edit, "", 247, 59, 69, 9, 0},
    {44, ctl::DeviceName, K::Edit, "", 247, 76, 139, 9, 0},
    {45, ctl::UserInfo, K::Edit, "", 247, 93, 139, 9, 0},
    {46, ctl::Website, K::Edit, "", 247, 110, 139, 9, 0},
    {47, ctl::DeviceId, K::Edit, "", 247, 127, 99, 9, tmpl::Disabled},
    {48, 0, K::Text, "Date Time:", 195, 25, 46, 11, 0},
    {49, 0, K::Text, "Alarm LED Flash Time:", 11, 212, 86, 11, 0},
    {50, 0, K::Text, "Record LED Flash Time:", 11, 195, 91, 11, 0},
    {51, ctl::RecordLedFlash, K::CentredEdit, "", 102, 195, 14, 9, 0},
    {52, ctl::AlarmLedFlash, K::CentredEdit, "", 102, 212, 14, 9, 0},
    {53, 0, K::Text, "Sec.", 119, 212, 13, 10, 0},
    {54, 0, K::Text, "Sec.", 119, 195, 12, 9, 0},
    {55, ctl::StartOnTime, K::Check, "Start On Time:", 196, 178, 65, 9, 0},
    {56, ctl::StartPicker, K::Picker, "", 264, 178, 85, 11, 0},
    {57, ctl::AutoConfigure, K::Check, "自动执行配置", 299, 6, 58, 11, kNeverShown},
    {58, ctl::EnableAlarm, K::Check, "", 15, 110, 50, 12, 0},
    {59, 0, K::Text, "Enable Alarm", 25, 112, 53, 10, 0},
    {60, 0, K::Text, "VDD/BAT:", 17, 8, 34, 11, kNeverShown},
    {61, ctl::SupplyVoltage, K::Text, "", 53, 8, 65, 11, kNeverShown},
    {62, ctl::FwVersion, K::Text, "Fw Version:", 307, 161, 68, 11, 0},
    {63, ctl::PreciseSync, K::Text, "精准同步", 312, 14, 58, 10, kNeverShown},
    {64, 0, K::Text, "PDF Password:", 193, 144, 54, 10, 0},
    {65, ctl::PdfPassword, K::Edit, "", 247, 144, 37, 9, 0},
    {66, 0, K::Text, "Power Save Mode", 205, 195, 63, 8, 0},
    {67, ctl::OutputCsv, K::Check, "", 196, 210, 42, 10, 0},
    {68, 0, K::Text, "Output CSV", 205, 210, 45, 10, 0},
};
// clang-format on

}  // namespace

std::span<const ControlTemplate> MainFormTemplate() { return kMainForm; }

std::vector<std::string> ListEntries(int id) {
  switch (id) {
    case ctl::TimeZone: {
      std::vector<std::string> zones;
      zones.reserve(kTimeZoneEntries);
      for (int k = 0; k < kTimeZoneEntries; ++k) zones.push_back(TimeZoneEntryText(k));
      return zones;
    }
    case ctl::DateFormat: return {"日/月/年", "月/日/年", "年/月/日"};
    case ctl::PdfLanguage: return {"English", "Chinese"};
    case ctl::TempUnit: return {"℃", "℉"};
    case ctl::Channel: return {"Temperature", "Humidity", "Temp.+ Hum."};
    default: return {};
  }
}
