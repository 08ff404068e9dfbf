#include "core/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hash(const std::string& text) {
  Sha256 sha;
  sha.update(text);
  return ToHex(sha.finish());
}

// The standard test vectors: padding that fits in the last block, padding
// that needs a block of its own (448 bits), two blocks (896 bits), and a
// long message.
TEST(Sha256, StandardVectors) {
  EXPECT_EQ(Hash(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hash("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
                 "klmnopqrlmnopqrsmnopqrstnopqrstu"),
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(Hash(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Fed in pieces that straddle block boundaries, the digest is the same.
TEST(Sha256, PiecesGiveTheSameDigest) {
  const std::string text(1000, 'x');
  for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 127u}) {
    Sha256 sha;
    for (std::size_t pos = 0; pos < text.size(); pos += piece)
      sha.update(std::string_view(text).substr(pos, piece));
    EXPECT_EQ(ToHex(sha.finish()), Hash(text)) << "piece " << piece;
  }
}

}  // namespace
