#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// What each configuration record carries, as tables: the encoder walks them
// to build a block, and a logger (or the virtual one) looks a received record
// up in them to know where its data belongs.

// What goes into a record's data.
enum class RecordSource : uint8_t {
  Zero,                   // zero bytes
  ToolLevelValue,         // this tool's protocol level, u16
  ToolLevelCheck,         // ToolLevel + 1 (u16), a free byte, and the sum of the three
  PdfLanguage,            // u8
  AlarmEnabled,           // u8, 0 or 1
  OutputCsv,              // u8, 0 or 1
  TempUnit,               // u8
  StartDelaySeconds,      // u32, from minutes
  IntervalSeconds,        // u32
  TempAlarmHighC,         // s16, 0.05 degC
  TempAlarmLowC,          // s16, 0.05 degC
  HumidityAlarmHigh,      // u16, 0.1 %RH
  HumidityAlarmLow,       // u16, 0.1 %RH
  ReservedWord0,          // u32 each, always 0
  ReservedWord1,
  ReservedWord2,
  ReservedWord3,
  Channels,               // u8 mask: bit 0 temperature, bit 1 humidity
  TimeZone,               // s8 hours, s8 minutes
  DateFormat,             // u8
  PowerSaveTimeout,       // s32: 300 on, -1 off
  AlarmLedFlashSeconds,   // u16
  RecordLedFlashSeconds,  // u16
  Trademark,              // texts, full field width
  DeviceName,
  Website,
  UserInfo,
  DeviceId,
  PdfPassword,
  StartTime,              // "NAR", year - 2000, month, day, hour, minute; only with Start On Time
  Clock,                  // the logger clock, six bytes
  ClockWithTrailer,       // the logger clock, then 0x55 0xAA
};

struct RecordRow {
  uint8_t command;
  uint8_t width;  // data bytes
  RecordSource source;
};

// The drive family (fwVersionHigh below 0x30) takes layout A, the HID family
// (0x40 to 0x4F) layout B; any other firmware gets only the header records.
enum class RecordLayout : uint8_t { HeaderOnly, A, B };

inline constexpr uint8_t kEndCommand = 0xFF;

inline constexpr std::array<RecordRow, 2> kHeaderRows{{
    {0x49, 2, RecordSource::ToolLevelValue},
    {0x27, 1, RecordSource::Zero},
}};

inline constexpr std::array<RecordRow, 23> kLayoutA{{
    {0x0D, 1, RecordSource::PdfLanguage},
    {0x0F, 1, RecordSource::TempUnit},
    {0x06, 4, RecordSource::StartDelaySeconds},
    {0x08, 4, RecordSource::IntervalSeconds},
    {0x09, 2, RecordSource::TempAlarmHighC},
    {0x0B, 2, RecordSource::TempAlarmLowC},
    {0x2F, 4, RecordSource::ReservedWord0},
    {0x31, 4, RecordSource::ReservedWord1},
    {0x33, 2, RecordSource::HumidityAlarmHigh},
    {0x35, 2, RecordSource::HumidityAlarmLow},
    {0x37, 4, RecordSource::ReservedWord2},
    {0x39, 4, RecordSource::ReservedWord3},
    {0x3D, 1, RecordSource::Channels},
    {0x43, 2, RecordSource::TimeZone},
    {0x44, 1, RecordSource::DateFormat},
    {0x3C, 2, RecordSource::AlarmLedFlashSeconds},
    {0x42, 2, RecordSource::RecordLedFlashSeconds},
    {0x2D, 20, RecordSource::Trademark},
    {0x15, 20, RecordSource::DeviceName},
    {0x17, 50, RecordSource::Website},
    {0x19, 100, RecordSource::UserInfo},
    {0x11, 20, RecordSource::DeviceId},
    {0x03, 6, RecordSource::Clock},
}};

inline constexpr std::array<RecordRow, 31> kLayoutB{{
    {0x83, 4, RecordSource::ToolLevelCheck},
    {0x4A, 1, RecordSource::Zero},
    {0x0D, 1, RecordSource::PdfLanguage},
    {0x4F, 1, RecordSource::AlarmEnabled},
    {0x4D, 1, RecordSource::OutputCsv},
    {0x0F, 1, RecordSource::TempUnit},
    {0x06, 4, RecordSource::StartDelaySeconds},
    {0x08, 4, RecordSource::IntervalSeconds},
    {0x09, 2, RecordSource::TempAlarmHighC},
    {0x0B, 2, RecordSource::TempAlarmLowC},
    {0x2F, 4, RecordSource::ReservedWord0},
    {0x31, 4, RecordSource::ReservedWord1},
    {0x33, 2, RecordSource::HumidityAlarmHigh},
    {0x35, 2, RecordSource::HumidityAlarmLow},
    {0x37, 4, RecordSource::ReservedWord2},
    {0x39, 4, RecordSource::ReservedWord3},
    {0x3D, 1, RecordSource::Channels},
    {0x43, 2, RecordSource::TimeZone},
    {0x44, 1, RecordSource::DateFormat},
    {0x40, 4, RecordSource::PowerSaveTimeout},
    {0x3C, 2, RecordSource::AlarmLedFlashSeconds},
    {0x42, 2, RecordSource::RecordLedFlashSeconds},
    {0x2D, 20, RecordSource::Trademark},
    {0x15, 20, RecordSource::DeviceName},
    {0x17, 50, RecordSource::Website},
    {0x19, 100, RecordSource::UserInfo},
    {0x11, 20, RecordSource::DeviceId},
    {0x51, 8, RecordSource::PdfPassword},
    {0x25, 2, RecordSource::Zero},
    {0x4B, 8, RecordSource::StartTime},
    {0x03, 8, RecordSource::ClockWithTrailer},
}};

RecordLayout LayoutFor(uint8_t fwVersionHigh);

// The rows of a layout after the header records, in sending order.
std::span<const RecordRow> LayoutRows(RecordLayout layout);

// The row of `command` among the header records and the layout's rows;
// nullptr when the layout has no such record (the end record included).
const RecordRow* FindRow(RecordLayout layout, uint8_t command);

// Image offset where a logger keeps the parameter, stored there as the
// record's data byte for byte; -1 when it is not a plain copy.
int ImageOffsetOf(RecordSource source);

// Largest block BuildConfigBlock makes for a layout: every row (the start
// time included), the header records and the end record.
constexpr std::size_t LargestBlockBytes(std::span<const RecordRow> rows) {
  std::size_t total = 5;  // end record
  for (const RecordRow& r : kHeaderRows) total += r.width + 5u;
  for (const RecordRow& r : rows) total += r.width + 5u;
  return total;
}
