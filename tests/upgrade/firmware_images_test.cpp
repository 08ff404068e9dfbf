// The embedded firmware images: what the upgrade sends must have the lengths
// and header the loggers check, and must not change between calls.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "upgrade/firmware_images.h"

namespace {

TEST(FirmwareImages, HaveTheirLengthsAndTheKl26HeaderAndStayPut) {
  const std::span<const uint8_t> stm32 = AppImageStm32();
  const std::span<const uint8_t> kl26 = AppImageKl26();
  ASSERT_EQ(stm32.size(), kAppImageStm32Length);
  ASSERT_EQ(kl26.size(), kAppImageKl26Length);

  ASSERT_EQ(sizeof kAppImageKl26Header, 18u);
  EXPECT_EQ(std::memcmp(kl26.data(), kAppImageKl26Header, sizeof kAppImageKl26Header), 0);

  // The same bytes on every call: an upgrade re-reads the image as it goes.
  EXPECT_TRUE(std::ranges::equal(AppImageStm32(), stm32));
  EXPECT_TRUE(std::ranges::equal(AppImageKl26(), kl26));
}

// A stand-in whose bytes are all alike, or equal to the other image's, would
// let a test pass that sent the wrong image or the wrong stretch of one.
TEST(FirmwareImages, StandInsAreVariedAndTellTheImagesApart) {
  if (!FirmwareImagesAreStandIns()) GTEST_SKIP() << "built with real images";
  const std::span<const uint8_t> stm32 = AppImageStm32();
  const std::span<const uint8_t> kl26 = AppImageKl26();
  for (std::span<const uint8_t> image : {stm32, kl26}) {
    // Varied up to the last block, not just at the start.
    const auto tail = image.last(256);
    EXPECT_FALSE(std::all_of(tail.begin(), tail.end(), [&](uint8_t b) { return b == tail[0]; }));
  }
  const std::size_t common = kl26.size() - sizeof kAppImageKl26Header;
  EXPECT_FALSE(std::equal(kl26.begin() + sizeof kAppImageKl26Header, kl26.end(), stm32.begin(),
                          stm32.begin() + static_cast<std::ptrdiff_t>(common)));
}

}  // namespace
