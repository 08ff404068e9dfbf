#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The logger keeps its texts in the 8-bit code page GBK (CP936); the core
// works in UTF-8. A character that GBK cannot hold becomes '?', both ways;
// ToCodePageChecked also says where, so a form can refuse such a text instead
// of sending the '?'.

struct CodePageText {
  std::string bytes;
  // Position in `bytes` of the '?' that stands for the first character GBK
  // cannot hold (or invalid UTF-8); npos when every character was held.
  std::size_t firstUnheld = std::string::npos;
};
CodePageText ToCodePageChecked(std::string_view utf8, const char* codePage = "GBK");

std::string ToCodePage(std::string_view utf8);
std::string FromCodePage(const uint8_t* bytes, std::size_t count);
inline std::string FromCodePage(std::string_view bytes) {
  return FromCodePage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
// A fixed-width field's text, already cut at its first NUL or the field's end:
// a lead byte whose second byte the cut took away is dropped, not shown as '?'.
std::string FromCodePageField(const uint8_t* bytes, std::size_t count);

// Whether the system can convert to the code page at all. Without its iconv
// module every character beyond ASCII becomes '?': NoCodePageMessage says so.
bool CodePageAvailable(const char* codePage = "GBK");
std::string NoCodePageMessage();

// Number of characters in a UTF-8 text (code points; each malformed stretch,
// as long as a sequence that could still have been valid, counts one).
std::size_t Utf8Length(std::string_view utf8);
// The first `count` characters of a UTF-8 text.
std::string Utf8Prefix(std::string_view utf8, std::size_t count);
