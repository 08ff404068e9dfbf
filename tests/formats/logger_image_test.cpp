#include "formats/logger_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "formats/image_layout.h"

namespace {

void PutWord(LoggerImage& image, std::size_t word, uint32_t value) {
  std::memcpy(image.bytes.data() + 4 * word, &value, 4);
}

// An image of `length` bytes whose last word is the sum of the others.
std::unique_ptr<LoggerImage> SealedImage(uint32_t length) {
  auto image = std::make_unique<LoggerImage>();
  image->length = length;
  for (uint32_t i = 0; i + 4 < length; ++i)
    image->bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  PutWord(*image, length / 4 - 1, SumWords(image->bytes.data(), length / 4 - 1));
  return image;
}

TEST(CheckDriveImage, LengthRulesComeBeforeTheChecksum) {
  EXPECT_EQ(CheckDriveImage(*SealedImage(640)), ImageCheck::Accepted);
  auto image = SealedImage(640);
  for (uint32_t length : {0u, 4u, 636u, 639u, 642u, 641u}) {
    image->length = length;
    EXPECT_EQ(CheckDriveImage(*image), ImageCheck::LengthError) << length;
  }
  EXPECT_STREQ(ImageCheckMessage(ImageCheck::LengthError), "DAT.SRC Length Error!");
  EXPECT_STREQ(ImageCheckMessage(ImageCheck::ChecksumError), "DAT.SRC Checksum Error!");
}

TEST(CheckDriveImage, ChecksumWrapsModulo2To32) {
  auto image = std::make_unique<LoggerImage>();
  image->length = 640;
  PutWord(*image, 0, 0xFFFFFFFFu);
  PutWord(*image, 1, 2);
  PutWord(*image, 159, 1);
  EXPECT_EQ(CheckDriveImage(*image), ImageCheck::Accepted);
  PutWord(*image, 159, 2);
  EXPECT_EQ(CheckDriveImage(*image), ImageCheck::ChecksumError);
}

TEST(CheckDriveImage, AllZeroImagePassesAndHasNoLoggerProduct) {
  auto image = std::make_unique<LoggerImage>();
  image->length = 640;
  EXPECT_EQ(CheckDriveImage(*image), ImageCheck::Accepted);
  DeviceInfo device;
  ExtractHeader(*image, device);
  EXPECT_NE(device.productIdLow, img::LoggerProductIdLow);
}

TEST(CheckDriveImage, FullBufferIsJudgedOnItsLastWord) {
  auto image = SealedImage(kImageCapacity);
  EXPECT_EQ(CheckDriveImage(*image), ImageCheck::Accepted);
  image->bytes[kImageCapacity - 1] ^= 1;
  EXPECT_EQ(CheckDriveImage(*image), ImageCheck::ChecksumError);
}

TEST(CheckDriveImage, SumMatchesAWordByWordReference) {
  // Odd word counts exercise the tail of the unrolled sum.
  for (uint32_t length : {640u, 644u, 648u, 652u, 1000u}) {
    auto image = SealedImage(length);
    uint32_t reference = 0;
    for (uint32_t w = 0; w + 1 < length / 4; ++w) {
      uint32_t v;
      std::memcpy(&v, image->bytes.data() + 4 * w, 4);
      reference += v;
    }
    EXPECT_EQ(SumWords(image->bytes.data(), length / 4 - 1), reference);
    EXPECT_EQ(CheckDriveImage(*image), ImageCheck::Accepted) << length;
  }
}

TEST(ExtractHeader, TakesVersionAndProductBytes) {
  auto image = std::make_unique<LoggerImage>();
  image->bytes[img::FwVersionHigh] = 0x24;
  image->bytes[img::FwVersionLow] = 0x03;
  image->bytes[img::ProductIdLow] = 0x82;
  image->bytes[img::ProductIdHigh] = 0x11;  // not a header field
  DeviceInfo device;
  ExtractHeader(*image, device);
  EXPECT_EQ(device.fwVersionHigh, 0x24);
  EXPECT_EQ(device.fwVersionLow, 0x03);
  EXPECT_EQ(device.fwVersion, 0x2403);
  EXPECT_EQ(device.productIdLow, 0x82);
  EXPECT_EQ(device.productIdHigh, 0);
}

}  // namespace
