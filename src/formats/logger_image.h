#pragma once

#include <cstddef>
#include <cstdint>

#include "core/state.h"

enum class ImageCheck { Accepted, LengthError, ChecksumError };

// Sum modulo 2^32 of `words` little-endian 32-bit words starting at `bytes`.
uint32_t SumWords(const uint8_t* bytes, std::size_t words);

// Writes the check word into the last four bytes of an image of `length`
// bytes (a multiple of 4, at least 4), as a logger does for "DAT.SRC".
void SealDriveImage(uint8_t* bytes, std::size_t length);

// Length and checksum rules for an image read from "DAT.SRC".
ImageCheck CheckDriveImage(const LoggerImage& image);

// The message the poll pass shows for a refused image, empty for Accepted.
const char* ImageCheckMessage(ImageCheck check);

// Stores fwVersionHigh, fwVersionLow, fwVersion and productIdLow of the image.
void ExtractHeader(const LoggerImage& image, DeviceInfo& device);

// Little-endian accessors with bounds checks: a read past the buffer gives 0.
uint8_t ImageU8(const LoggerImage& image, int offset);
uint16_t ImageU16(const LoggerImage& image, int offset);
uint32_t ImageU32(const LoggerImage& image, int offset);
