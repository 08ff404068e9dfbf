#pragma once

// Identifiers of the main window's controls. Every layer addresses a control
// by these numbers, so the window, the core and the tests agree on them.
namespace ctl {

inline constexpr int Configure = 1001;

inline constexpr int LowTempUnitSign = 1046;
inline constexpr int HighTempUnitSign = 1047;
inline constexpr int RecordLedFlash = 1050;
inline constexpr int AlarmLedFlash = 1051;
inline constexpr int StartOnTime = 1052;
inline constexpr int StartPicker = 1054;
inline constexpr int AutoConfigure = 1056;   // hidden, never shown
inline constexpr int EnableAlarm = 1057;
inline constexpr int PdfPassword = 1058;
inline constexpr int SupplyVoltage = 1059;   // hidden, never shown
inline constexpr int FwVersion = 1060;
inline constexpr int PreciseSync = 1061;     // hidden, never shown
inline constexpr int OutputCsv = 1062;

inline constexpr int TimeZone = 1101;
inline constexpr int DateFormat = 1102;
inline constexpr int Channel = 1103;
inline constexpr int PdfLanguage = 1104;
inline constexpr int TempUnit = 1106;

inline constexpr int PowerSave = 1201;
inline constexpr int KeyDelete = 1202;       // hidden, never shown
inline constexpr int SetupLock = 1205;

inline constexpr int DateText = 1301;
inline constexpr int TimeText = 1302;
inline constexpr int RecordingTime = 1303;

inline constexpr int LowTempAlarm = 2401;
inline constexpr int HighTempAlarm = 2402;
inline constexpr int LowHumidityAlarm = 2403;
inline constexpr int HighHumidityAlarm = 2404;
inline constexpr int Trademark = 2405;
inline constexpr int DeviceName = 2406;
inline constexpr int UserInfo = 2408;
inline constexpr int Website = 2409;
inline constexpr int DeviceId = 2410;
inline constexpr int StartDelay = 2411;
inline constexpr int Interval = 2412;

}  // namespace ctl
