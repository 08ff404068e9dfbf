#include "settings/capacity.h"

#include <cstdint>
#include <cstdio>

#include "core/control_ids.h"
#include "settings/field_parsers.h"

namespace {

constexpr uint32_t kHumidityBits = 10;
constexpr uint64_t kSecondsPerDay = 86400;

// Bits one record takes for the channels chosen in the form.
uint32_t BitsPerRecord(const ToolState& state) {
  const uint32_t tempBits = state.device.tempSampleBits;
  switch (state.form().selection(ctl::Channel)) {
    case 1:
      return kHumidityBits;
    case 2:
      return tempBits + kHumidityBits;
    default:
      return tempBits;
  }
}

}  // namespace

void RecomputeRecordCapacity(ToolState& state) {
  const uint32_t bits = BitsPerRecord(state);
  // A logger that reports no temperature sample size gives no estimate.
  state.device.recordCapacity = bits == 0 ? 0 : state.device.recordMemoryBytes * 8u / bits;
}

void ShowRecordingTime(ToolState& state) {
  int32_t interval = 0;
  if (ReadIntegerField(state, ctl::Interval, 1, 86400, NoLabel, interval) != 0) return;

  const uint32_t capacity = state.device.recordCapacity;
  char text[80];
  if (capacity == 0 && BitsPerRecord(state) == 0) {
    // No sample size, no figure: only the caption, as when no logger is present.
    std::snprintf(text, sizeof text, "Longest Recording Time:");
  } else {
    // 64 bits: a day's interval times a large memory exceeds 32.
    const uint64_t seconds = static_cast<uint64_t>(interval) * capacity;
    if (seconds > kSecondsPerDay)
      std::snprintf(text, sizeof text, "Longest recording time:%0.1f days",
                    static_cast<double>(seconds) / 86400.0);
    else
      std::snprintf(text, sizeof text, "Longest Recording Time:%0.1f Hours",
                    static_cast<double>(seconds) / 3600.0);
  }
  state.form().setText(ctl::RecordingTime, text);
  state.form().refresh(ctl::RecordingTime);
}
