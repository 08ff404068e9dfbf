#include "formats/config_block.h"

#include <cmath>
#include <cstring>

#include "formats/record_layout.h"

namespace {

constexpr uint8_t kStartByte = 0x55;
constexpr std::size_t kRecordOverhead = 5;  // start, length, address, command, check
constexpr std::size_t kMaxRecordData = 250;

// The low 16 bits of x truncated toward zero, in two's complement. fmod is
// exact, so this holds for any finite double without an out-of-range
// conversion; NaN and infinities, which validation never lets through, give 0.
uint16_t TruncLow16(double x) {
  if (!std::isfinite(x)) return 0;
  const double low = std::fmod(std::trunc(x), 65536.0);  // -65535 .. 65535
  return static_cast<uint16_t>(static_cast<int32_t>(low));
}

void PutU16(uint8_t* out, uint16_t v) {
  out[0] = static_cast<uint8_t>(v);
  out[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutClock(uint8_t* out, const LoggerClock& c) {
  out[0] = c.year;
  out[1] = c.month;
  out[2] = c.day;
  out[3] = c.hour;
  out[4] = c.minute;
  out[5] = c.second;
}

// Texts go in the full field width; the row's width never exceeds the field.
template <std::size_t N>
void PutText(uint8_t* out, const std::array<uint8_t, N>& text, uint8_t width) {
  std::memcpy(out, text.data(), width < N ? width : N);
}

// Fills the row's data bytes (already zeroed) from the settings and the clock.
void EncodeRow(const ToolState& state, const RecordRow& row, uint8_t* out) {
  const LoggerSettings& s = state.settings;
  switch (row.source) {
    case RecordSource::Zero:
      break;
    case RecordSource::ToolLevelValue:
      PutU16(out, ToolLevel);
      break;
    case RecordSource::ToolLevelCheck:
      PutU16(out, static_cast<uint16_t>(ToolLevel + 1));
      out[2] = 0;
      out[3] = Sum8(out, 3);
      break;
    case RecordSource::PdfLanguage:
      out[0] = s.pdfLanguage;
      break;
    case RecordSource::AlarmEnabled:
      out[0] = s.alarmEnabled;
      break;
    case RecordSource::OutputCsv:
      out[0] = s.outputCsv;
      break;
    case RecordSource::TempUnit:
      out[0] = s.tempUnit;
      break;
    case RecordSource::StartDelaySeconds:
      // In 64 bits so that an unvalidated count cannot overflow.
      PutU32(out, static_cast<uint32_t>(static_cast<int64_t>(s.startDelayMinutes) * 60));
      break;
    case RecordSource::IntervalSeconds:
      PutU32(out, static_cast<uint32_t>(s.intervalSeconds));
      break;
    case RecordSource::TempAlarmHighC:
      PutU16(out, TruncLow16(s.tempAlarmHighC * 20));
      break;
    case RecordSource::TempAlarmLowC:
      PutU16(out, TruncLow16(s.tempAlarmLowC * 20));
      break;
    case RecordSource::HumidityAlarmHigh:
      PutU16(out, TruncLow16(s.humidityAlarmHigh * 10));
      break;
    case RecordSource::HumidityAlarmLow:
      PutU16(out, TruncLow16(s.humidityAlarmLow * 10));
      break;
    case RecordSource::ReservedWord0:
      PutU32(out, s.reservedWords[0]);
      break;
    case RecordSource::ReservedWord1:
      PutU32(out, s.reservedWords[1]);
      break;
    case RecordSource::ReservedWord2:
      PutU32(out, s.reservedWords[2]);
      break;
    case RecordSource::ReservedWord3:
      PutU32(out, s.reservedWords[3]);
      break;
    case RecordSource::Channels:
      out[0] = s.channels;
      break;
    case RecordSource::TimeZone:
      out[0] = static_cast<uint8_t>(s.tzHours);
      out[1] = static_cast<uint8_t>(s.tzMinutes);
      break;
    case RecordSource::DateFormat:
      out[0] = s.dateFormat;
      break;
    case RecordSource::PowerSaveTimeout:
      PutU32(out, static_cast<uint32_t>(s.powerSaveTimeout));
      break;
    case RecordSource::AlarmLedFlashSeconds:
      PutU16(out, s.alarmLedFlashSeconds);
      break;
    case RecordSource::RecordLedFlashSeconds:
      PutU16(out, s.recordLedFlashSeconds);
      break;
    case RecordSource::Trademark:
      PutText(out, s.trademark, row.width);
      break;
    case RecordSource::DeviceName:
      PutText(out, s.deviceName, row.width);
      break;
    case RecordSource::Website:
      PutText(out, s.website, row.width);
      break;
    case RecordSource::UserInfo:
      PutText(out, s.userInfo, row.width);
      break;
    case RecordSource::DeviceId:
      PutText(out, s.deviceId, row.width);
      break;
    case RecordSource::PdfPassword:
      PutText(out, s.pdfPassword, row.width);
      break;
    case RecordSource::StartTime:
      out[0] = 'N';
      out[1] = 'A';
      out[2] = 'R';
      out[3] = s.startYear;
      out[4] = s.startMonth;
      out[5] = s.startDay;
      out[6] = s.startHour;
      out[7] = s.startMinute;
      break;
    case RecordSource::Clock:
      PutClock(out, state.clock.loggerClock);
      break;
    case RecordSource::ClockWithTrailer:
      PutClock(out, state.clock.loggerClock);
      out[6] = 0x55;
      out[7] = 0xAA;
      break;
  }
}

void AppendRow(ToolState& state, const RecordRow& row) {
  std::array<uint8_t, kMaxRecordData> data{};
  EncodeRow(state, row, data.data());
  AppendRecord(state, row.command, data.data(), row.width);
}

}  // namespace

uint8_t Sum8(const uint8_t* bytes, std::size_t count) {
  uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

uint8_t RecordAddressByte(uint8_t fwVersionHigh) { return fwVersionHigh < 0x24 ? 0xFF : 0x82; }

uint8_t AppendRecord(ToolState& state, uint8_t command, const uint8_t* data, std::size_t n) {
  ConfigBlock& block = state.block;
  // A record that does not fit would run past the block (or wrap its length
  // byte); refusing keeps every byte already there intact.
  if (n > kMaxRecordData || (n > 0 && data == nullptr)) return 0;
  const std::size_t p = block.length;
  if (p > kBlockCapacity || n + kRecordOverhead > kBlockCapacity - p) return 0;

  uint8_t* rec = block.bytes.data() + p;
  const auto length = static_cast<uint8_t>(n + kRecordOverhead);
  rec[0] = kStartByte;
  rec[1] = length;
  rec[2] = RecordAddressByte(state.device.fwVersionHigh);
  rec[3] = command;
  if (n > 0) std::memcpy(rec + 4, data, n);
  rec[4 + n] = Sum8(rec, n + 4);
  block.length = static_cast<uint16_t>(p + length);
  return length;
}

bool BuildConfigBlock(ToolState& state) {
  if (state.block.length != 0) return false;
  state.block.bytes.fill(0);

  // Every append below fits: the largest block of each layout is checked
  // against the capacity at compile time (record_layout.cpp).
  for (const RecordRow& row : kHeaderRows) AppendRow(state, row);
  for (const RecordRow& row : LayoutRows(LayoutFor(state.device.fwVersionHigh))) {
    if (row.source == RecordSource::StartTime && state.settings.startOnTime == 0) continue;
    AppendRow(state, row);
  }
  AppendRecord(state, kEndCommand, nullptr, 0);

  state.poll.transferState = TransferWrite;
  state.sentBlock = state.block;
  return true;
}

RecordView ReadRecord(std::span<const uint8_t> bytes, std::size_t offset) {
  RecordView r;
  r.offset = offset;
  if (offset >= bytes.size()) return r;  // Exhausted
  const std::size_t left = bytes.size() - offset;
  const uint8_t* rec = bytes.data() + offset;
  if (rec[0] != kStartByte) {
    r.status = RecordStatus::BadStart;
    return r;
  }
  if (left < 2) {
    r.status = RecordStatus::Truncated;
    return r;
  }
  r.length = rec[1];
  if (r.length < kRecordOverhead) {
    r.status = RecordStatus::BadLength;
    return r;
  }
  if (r.length > left) {
    r.status = RecordStatus::Truncated;
    return r;
  }
  const std::size_t n = r.length - kRecordOverhead;
  r.address = rec[2];
  r.command = rec[3];
  r.data = bytes.subspan(offset + 4, n);
  r.status = Sum8(rec, n + 4) == rec[4 + n] ? RecordStatus::Ok : RecordStatus::BadCheck;
  return r;
}
