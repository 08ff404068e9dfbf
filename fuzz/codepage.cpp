// GBK (the logger's texts) to UTF-8 (the form's) and back.
//
// Holds: whatever bytes a logger holds decode to valid UTF-8; a valid UTF-8
// text comes back from GBK character for character, each character either
// itself or '?', and exactly the characters GBK holds come back as themselves
// (none vanishes); firstUnheld marks the first '?' put in; in a text that is
// not valid UTF-8 only the bad bytes are lost, never an ASCII character.

#include <string>
#include <string_view>

#include "core/codepage.h"
#include "fuzz_support.h"

namespace {

// The ASCII characters of a text other than '?', in order.
std::string AsciiOf(std::string_view text) {
  std::string out;
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x80 && c != '?') out.push_back(c);
  return out;
}

void FromLogger(const uint8_t* data, std::size_t size) {
  Require(IsValidUtf8(FromCodePage(data, size)), "any GBK bytes decode to valid UTF-8");
  const std::string field = FromCodePageField(data, size);
  Require(IsValidUtf8(field), "a text field decodes to valid UTF-8");
  // A field whose last byte is no cut lead byte reads as the plain conversion.
  if (size == 0 || data[size - 1] < 0x81 || data[size - 1] == 0xFF)
    Require(field == FromCodePage(data, size), "an uncut field reads as its bytes");
}

void ToLogger(std::string_view text) {
  const CodePageText gbk = ToCodePageChecked(text);
  Require(gbk.bytes == ToCodePage(text), "both conversions agree");
  if (gbk.firstUnheld != std::string::npos)
    Require(gbk.firstUnheld < gbk.bytes.size() && gbk.bytes[gbk.firstUnheld] == '?',
            "firstUnheld points at a '?'");
  const std::string back = FromCodePage(gbk.bytes);
  Require(IsValidUtf8(back), "converted text reads back as valid UTF-8");

  if (!IsValidUtf8(text)) {
    Require(AsciiOf(back) == AsciiOf(text), "a malformed byte costs no ASCII character");
    return;
  }
  const std::vector<std::string_view> in = Utf8Characters(text);
  const std::vector<std::string_view> out = Utf8Characters(back);
  Require(in.size() == out.size(), "every character comes back, as itself or '?'");
  std::size_t firstReplaced = in.size();
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (out[i] == in[i]) continue;
    Require(out[i] == "?", "a character GBK cannot hold becomes '?'");
    if (firstReplaced == in.size()) firstReplaced = i;
  }
  if (firstReplaced == in.size()) {
    Require(gbk.firstUnheld == std::string::npos, "a text GBK holds is not marked");
    Require(ToCodePage(back) == gbk.bytes, "a text GBK holds converts back to the same bytes");
    return;
  }
  Require(gbk.firstUnheld != std::string::npos, "a text GBK cannot hold is marked");
  std::string before;
  for (std::size_t i = 0; i < firstReplaced; ++i) before.append(in[i]);
  Require(FromCodePage(std::string_view(gbk.bytes).substr(0, gbk.firstUnheld)) == before,
          "firstUnheld stands for the first character GBK cannot hold");
}

void Characters(std::string_view text) {
  const std::size_t n = Utf8Length(text);
  Require(n <= text.size(), "no more characters than bytes");
  Require(Utf8Prefix(text, n) == text, "all characters are the whole text");
  const std::string half = Utf8Prefix(text, n / 2);
  Require(text.substr(0, half.size()) == half, "a prefix is a prefix");
  if (IsValidUtf8(text)) {
    Require(n == Utf8Characters(text).size(), "characters are counted");
    Require(Utf8Length(half) == n / 2, "a prefix has the characters asked for");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FromLogger(data, size);
  ToLogger(text);
  Characters(text);
  return 0;
}
