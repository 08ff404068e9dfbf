#include "formats/record_layout.h"

#include "core/state.h"
#include "formats/image_layout.h"

static_assert(LargestBlockBytes(kLayoutA) <= kBlockCapacity);
static_assert(LargestBlockBytes(kLayoutB) <= kBlockCapacity);

RecordLayout LayoutFor(uint8_t fwVersionHigh) {
  if (fwVersionHigh < 0x30) return RecordLayout::A;
  if (fwVersionHigh >= 0x40 && fwVersionHigh <= 0x4F) return RecordLayout::B;
  return RecordLayout::HeaderOnly;
}

std::span<const RecordRow> LayoutRows(RecordLayout layout) {
  switch (layout) {
    case RecordLayout::A:
      return kLayoutA;
    case RecordLayout::B:
      return kLayoutB;
    case RecordLayout::HeaderOnly:
      break;
  }
  return {};
}

const RecordRow* FindRow(RecordLayout layout, uint8_t command) {
  for (const RecordRow& r : kHeaderRows)
    if (r.command == command) return &r;
  for (const RecordRow& r : LayoutRows(layout))
    if (r.command == command) return &r;
  return nullptr;
}

int ImageOffsetOf(RecordSource source) {
  switch (source) {
    case RecordSource::PdfLanguage:
      return img::PdfLanguage;
    case RecordSource::TempUnit:
      return img::TempUnit;
    case RecordSource::StartDelaySeconds:
      return img::StartDelaySeconds;
    case RecordSource::IntervalSeconds:
      return img::IntervalSeconds;
    case RecordSource::TempAlarmHighC:
      return img::TempAlarmHigh;
    case RecordSource::TempAlarmLowC:
      return img::TempAlarmLow;
    case RecordSource::HumidityAlarmHigh:
      return img::HumidityAlarmHigh;
    case RecordSource::HumidityAlarmLow:
      return img::HumidityAlarmLow;
    case RecordSource::Channels:
      return img::ChannelMask;
    case RecordSource::DateFormat:
      return img::DateFormat;
    case RecordSource::PowerSaveTimeout:
      return img::PowerSaveTimeout;
    case RecordSource::AlarmLedFlashSeconds:
      return img::AlarmLedSeconds;
    case RecordSource::RecordLedFlashSeconds:
      return img::RecordLedSeconds;
    case RecordSource::Trademark:
      return img::Trademark;
    case RecordSource::DeviceName:
      return img::DeviceName;
    case RecordSource::Website:
      return img::Website;
    case RecordSource::UserInfo:
      return img::UserInfo;
    case RecordSource::DeviceId:
      return img::DeviceId;
    case RecordSource::PdfPassword:
      return img::PdfPassword;
    // The time zone's two bytes lie apart in the image (397 and 401), the
    // two flags share one option byte, and the rest has no image field.
    case RecordSource::TimeZone:
    case RecordSource::AlarmEnabled:
    case RecordSource::OutputCsv:
    case RecordSource::Zero:
    case RecordSource::ToolLevelValue:
    case RecordSource::ToolLevelCheck:
    case RecordSource::ReservedWord0:
    case RecordSource::ReservedWord1:
    case RecordSource::ReservedWord2:
    case RecordSource::ReservedWord3:
    case RecordSource::StartTime:
    case RecordSource::Clock:
    case RecordSource::ClockWithTrailer:
      break;
  }
  return -1;
}
