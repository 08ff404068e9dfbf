#pragma once

#include <cstdint>

// Offsets into the image a logger gives of itself ("DAT.SRC", or its head over
// HID). All numbers are little-endian. The decoders and the virtual logger
// both read and write the image through these names.
namespace img {

inline constexpr int MemoryTypeCode = 2;      // u8
inline constexpr int TempSampleBits = 4;      // u8
inline constexpr int CapabilityFlags = 5;     // u8
inline constexpr int MemoryBytesLow = 6;      // u8, bits 0-7
inline constexpr int MemoryBytesMid = 7;      // u8, bits 8-15
inline constexpr int SensorTempMax = 8;       // s16, 0.1 degC
inline constexpr int SensorTempMin = 10;      // s16, 0.1 degC
inline constexpr int FwVersionHigh = 16;      // u8
inline constexpr int SensorKind = 17;         // u8
inline constexpr int FwVersionLow = 20;       // u8
inline constexpr int MemoryBytesHigh = 21;    // u8, bits 16-23
inline constexpr int ProductIdHigh = 22;      // u8
inline constexpr int ProductIdLow = 23;       // u8, 0x82 for every logger
inline constexpr int DeviceFlags = 26;        // u8
inline constexpr int RequiredToolLevel = 27;  // u16
inline constexpr int BatteryMillivolts = 114; // u16
inline constexpr int SupplyMillivolts = 116;  // u16

// The extended parameter set (capability bit 0).
inline constexpr int PdfLanguage = 128;       // u8
inline constexpr int TempUnit = 129;          // u8
inline constexpr int StartDelaySeconds = 130; // u32
inline constexpr int IntervalSeconds = 134;   // u32
inline constexpr int TempAlarmHigh = 138;     // s16, 0.05 degC
inline constexpr int TempAlarmLow = 140;      // s16, 0.05 degC
inline constexpr int HumidityAlarmHigh = 150; // u16, 0.1 %RH
inline constexpr int HumidityAlarmLow = 152;  // u16, 0.1 %RH
inline constexpr int DeviceName = 166;        // 20 bytes text
inline constexpr int DeviceId = 186;          // 20 bytes text
inline constexpr int Website = 206;           // 50 bytes text
inline constexpr int UserInfo = 256;          // 100 bytes text
inline constexpr int AlarmLedSeconds = 356;   // u16
inline constexpr int Trademark = 358;         // 20 bytes text
inline constexpr int PowerSaveTimeout = 390;  // u32, 0xFFFFFFFF = off
inline constexpr int ChannelMask = 395;       // u8
inline constexpr int DateFormat = 396;        // u8
inline constexpr int TzHours = 397;           // s8
inline constexpr int RecordLedSeconds = 399;  // u16
inline constexpr int TzMinutes = 401;         // s8
inline constexpr int OptionBits = 402;        // u8: bit 1 CSV, bit 2 alarm
inline constexpr int PdfPassword = 428;       // 8 bytes text

inline constexpr int DeviceNameSize = 20;
inline constexpr int DeviceIdSize = 20;
inline constexpr int WebsiteSize = 50;
inline constexpr int UserInfoSize = 100;
inline constexpr int TrademarkSize = 20;
inline constexpr int PdfPasswordSize = 8;

// Capability flag bits.
inline constexpr uint8_t CapExtended = 0x01;
inline constexpr uint8_t CapUpgradeA = 0x04;
inline constexpr uint8_t CapUpgradeB = 0x08;
inline constexpr uint8_t CapSingleUse = 0x10;
inline constexpr uint8_t CapTemperature = 0x20;
inline constexpr uint8_t CapHumidity = 0x40;
inline constexpr uint8_t CapFahrenheit = 0x80;

inline constexpr uint8_t OptionCsv = 0x02;
inline constexpr uint8_t OptionAlarm = 0x04;

inline constexpr uint8_t LoggerProductIdLow = 0x82;
inline constexpr uint32_t MinDriveImageLength = 640;
inline constexpr uint32_t HidImageHead = 516;  // everything the decoders read lies below

}  // namespace img
