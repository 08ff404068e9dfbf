#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// SHA-256 (FIPS 180-4). Feed bytes in any number of pieces, then finish once.
class Sha256 {
 public:
  using Digest = std::array<uint8_t, 32>;

  Sha256();
  void update(std::span<const uint8_t> bytes);
  void update(std::string_view text) {
    update({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  }
  // The digest of everything fed so far. The object is spent afterwards.
  Digest finish();

 private:
  void compress(const uint8_t* block);

  std::array<uint32_t, 8> h_;
  std::array<uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  uint64_t totalBytes_ = 0;
};

// Lower-case hexadecimal, two digits a byte.
std::string ToHex(std::span<const uint8_t> bytes);
