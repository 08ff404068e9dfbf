// Writes the stand-in firmware images a build embeds when it is given no real
// ones: the lengths and the Kl26 header the upgrade expects, then filler from
// a small generator seeded per image, so the bytes are the same on every build
// and a byte-for-byte comparison in a test can tell one image from the other.
//
//   make_standin_images STM32-OUT KL26-OUT

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <span>
#include <string_view>
#include <vector>

#include "upgrade/firmware_images.h"

namespace {

// Readable to anyone who finds a copy on a logger's drive.
constexpr std::string_view kMarker = "thlogger-config stand-in image, not firmware";

std::vector<uint8_t> StandIn(std::size_t length, std::span<const uint8_t> header, uint32_t seed) {
  std::vector<uint8_t> image(header.begin(), header.end());
  image.insert(image.end(), kMarker.begin(), kMarker.end());
  uint32_t x = seed;
  while (image.size() < length) {
    // xorshift32: never zero for a non-zero seed, so the filler never settles.
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    image.push_back(static_cast<uint8_t>(x >> 24));
  }
  image.resize(length);
  return image;
}

bool Write(const char* path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (out) return true;
  std::fprintf(stderr, "make_standin_images: cannot write %s\n", path);
  std::remove(path);  // no half-written image for the next build to trust
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_standin_images STM32-OUT KL26-OUT\n");
    return 2;
  }
  // The header's NUL belongs to it.
  const auto* kl26Header = reinterpret_cast<const uint8_t*>(kAppImageKl26Header);
  const std::span<const uint8_t> kl26(kl26Header, sizeof kAppImageKl26Header);
  const bool ok = Write(argv[1], StandIn(kAppImageStm32Length, {}, 0x53544D32u)) &&
                  Write(argv[2], StandIn(kAppImageKl26Length, kl26, 0x4B4C3236u));
  return ok ? 0 : 1;
}
