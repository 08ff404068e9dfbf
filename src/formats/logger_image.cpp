#include "formats/logger_image.h"

#include <bit>
#include <cstring>

#include "formats/image_layout.h"

static_assert(std::endian::native == std::endian::little,
              "the word sum reads the image in host order");

uint32_t SumWords(const uint8_t* bytes, std::size_t words) {
  // Four independent sums keep the loop free of a carried dependency so the
  // compiler can vectorise it; the image is summed on the window's thread.
  uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  std::size_t i = 0;
  for (; i + 4 <= words; i += 4) {
    uint32_t w[4];
    std::memcpy(w, bytes + 4 * i, sizeof w);
    s0 += w[0];
    s1 += w[1];
    s2 += w[2];
    s3 += w[3];
  }
  for (; i < words; ++i) {
    uint32_t w;
    std::memcpy(&w, bytes + 4 * i, sizeof w);
    s0 += w;
  }
  return s0 + s1 + s2 + s3;
}

void SealDriveImage(uint8_t* bytes, std::size_t length) {
  if (length < 4 || length % 4 != 0) return;
  uint32_t sum = SumWords(bytes, length / 4 - 1);
  std::memcpy(bytes + length - 4, &sum, sizeof sum);
}

ImageCheck CheckDriveImage(const LoggerImage& image) {
  uint32_t length = image.length;
  if (length > kImageCapacity) length = kImageCapacity;
  if (length % 4 != 0 || length < img::MinDriveImageLength) return ImageCheck::LengthError;
  std::size_t words = length / 4;
  uint32_t sum = SumWords(image.bytes.data(), words - 1);
  uint32_t check;
  std::memcpy(&check, image.bytes.data() + 4 * (words - 1), sizeof check);
  return sum == check ? ImageCheck::Accepted : ImageCheck::ChecksumError;
}

const char* ImageCheckMessage(ImageCheck check) {
  switch (check) {
    case ImageCheck::LengthError: return "DAT.SRC Length Error!";
    case ImageCheck::ChecksumError: return "DAT.SRC Checksum Error!";
    case ImageCheck::Accepted: break;
  }
  return "";
}

uint8_t ImageU8(const LoggerImage& image, int offset) {
  if (offset < 0 || static_cast<uint32_t>(offset) >= kImageCapacity) return 0;
  return image.bytes[static_cast<std::size_t>(offset)];
}

uint16_t ImageU16(const LoggerImage& image, int offset) {
  return static_cast<uint16_t>(ImageU8(image, offset) | ImageU8(image, offset + 1) << 8);
}

uint32_t ImageU32(const LoggerImage& image, int offset) {
  return static_cast<uint32_t>(ImageU16(image, offset)) |
         static_cast<uint32_t>(ImageU16(image, offset + 2)) << 16;
}

void ExtractHeader(const LoggerImage& image, DeviceInfo& device) {
  device.fwVersionHigh = ImageU8(image, img::FwVersionHigh);
  device.fwVersionLow = ImageU8(image, img::FwVersionLow);
  device.fwVersion = static_cast<uint16_t>(device.fwVersionHigh << 8 | device.fwVersionLow);
  device.productIdLow = ImageU8(image, img::ProductIdLow);
}
