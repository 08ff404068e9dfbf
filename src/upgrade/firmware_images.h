#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The two firmware images the tool carries, built into the executable and
// delivered byte for byte, never interpreted.

// Drive family (fwVersionHigh below 0x30): written as "APP.BIN".
inline constexpr std::size_t kAppImageStm32Length = 118788;
inline constexpr uint16_t kAppImageStm32Version = 0x2403;
// HID family (fwVersionHigh 0x40): sent in UpgradeData frames. Begins with
// "MKL26Z128_APP.BIN" and a NUL.
inline constexpr std::size_t kAppImageKl26Length = 62464;
inline constexpr uint16_t kAppImageKl26Version = 0x4094;
inline constexpr char kAppImageKl26Header[] = "MKL26Z128_APP.BIN";  // with its NUL: 18 bytes

std::span<const uint8_t> AppImageStm32();
std::span<const uint8_t> AppImageKl26();

// True when the build embedded generated stand-ins rather than real images.
bool FirmwareImagesAreStandIns();
