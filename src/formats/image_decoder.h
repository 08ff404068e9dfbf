#pragma once

#include <cstdint>

#include "core/state.h"

// Turn an accepted image into DeviceInfo and the form. False only when the
// logger needs a newer tool (the message has been shown).
// `setupUnlocked` is false while Setup Lock is ticked: the form then keeps the
// user's settings and only the device ID is taken from the logger.
bool DecodeDriveImage(ToolState& state, bool setupUnlocked);
// The HID image may be shorter than the fields read; whatever lies at or
// beyond LoggerImage::length reads as zero.
bool DecodeHidImage(ToolState& state, bool setupUnlocked);

// Channels a sensor kind can measure: bit 0 temperature, bit 1 humidity.
// Some kinds leave the answer to the capability flags, so 0 is possible.
uint8_t SupportedChannels(const DeviceInfo& device, uint8_t kind);

inline constexpr uint8_t ChannelTemperature = 0x01;
inline constexpr uint8_t ChannelHumidity = 0x02;
