#pragma once

#include "core/ports.h"

// The PC clock through the C library's local time, in the zone TZ names
// (else /etc/localtime).
class SystemClock : public ClockPort {
 public:
  ClockReading now() const override;
  int32_t standardOffsetMinutes() const override;
};
