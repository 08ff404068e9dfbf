#include "core/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr const char* kCodePage = "GBK";

// Length of the UTF-8 character at the start of `s`: the whole sequence when
// it is well formed, else the longest start of one that could still have been
// (at least 1), so a bad byte never takes the good bytes after it along.
std::size_t SequenceLength(std::string_view s) {
  const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 1;
  unsigned char low = 0x80;  // the second byte's range; E0, ED, F0, F4 narrow it
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= s.size()) return i;
    const unsigned char b = byte(i);
    if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return i;
  }
  return length;
}

// Unicode's tag characters U+E0000..U+E007F (F3 A0 80 80 .. F3 A0 81 BF):
// iconv drops them without a word, so they are refused before it sees them.
bool IsTagCharacter(std::string_view s) {
  return s.size() >= 4 && static_cast<unsigned char>(s[0]) == 0xF3 &&
         static_cast<unsigned char>(s[1]) == 0xA0 &&
         (static_cast<unsigned char>(s[2]) == 0x80 || static_cast<unsigned char>(s[2]) == 0x81) &&
         static_cast<unsigned char>(s[3]) >= 0x80 && static_cast<unsigned char>(s[3]) <= 0xBF;
}

// A GBK character's length: a lead byte 0x81..0xFE takes a second byte
// 0x40..0xFE (not 0x7F) along; anything else stands alone.
std::size_t CodePageCharLength(std::string_view s) {
  const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const bool lead = byte(0) >= 0x81 && byte(0) <= 0xFE;
  return lead && s.size() >= 2 && byte(1) >= 0x40 && byte(1) <= 0xFE && byte(1) != 0x7F ? 2 : 1;
}

// Converts with iconv, replacing whatever cannot be converted by one '?' per
// character. `charLength` tells how many input bytes a refused character
// occupies; `refusedBefore` may refuse a character iconv would drop.
// `firstRefused` receives the position in the result of the first '?' put
// in for a refused character, npos when there was none.
template <typename CharLength, typename Refused>
std::string Convert(const char* to, const char* from, std::string_view in,
                    CharLength charLength, Refused refusedBefore, std::size_t& firstRefused) {
  std::string out;
  firstRefused = std::string::npos;
  auto refuse = [&out, &firstRefused] {
    if (firstRefused == std::string::npos) firstRefused = out.size();
    out.push_back('?');
  };
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter (CodePageAvailable says so to the user): keep ASCII,
    // one '?' for each other character.
    while (!in.empty()) {
      if (static_cast<unsigned char>(in[0]) < 0x80) {
        out.push_back(in[0]);
        in.remove_prefix(1);
      } else {
        refuse();
        in.remove_prefix(charLength(in));
      }
    }
    return out;
  }
  char buffer[512];
  while (!in.empty()) {
    // The stretch iconv may take whole: up to the next character it would drop.
    std::size_t stretch = 0;
    while (stretch < in.size() && !refusedBefore(in.substr(stretch))) ++stretch;
    char* src = const_cast<char*>(in.data());
    std::size_t inLeft = stretch;
    while (inLeft > 0) {
      char* dst = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t rc = iconv(cd, &src, &inLeft, &dst, &outLeft);
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: one character that cannot be converted.
      refuse();
      const std::size_t n = std::min(charLength(std::string_view(src, inLeft)), inLeft);
      src += n;
      inLeft -= n;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    in.remove_prefix(stretch);
    if (!in.empty()) {  // a character iconv would have dropped
      refuse();
      in.remove_prefix(std::min(charLength(in), in.size()));
    }
  }
  iconv_close(cd);
  return out;
}

bool NeverDropped(std::string_view) { return false; }

}  // namespace

CodePageText ToCodePageChecked(std::string_view utf8, const char* codePage) {
  CodePageText result;
  result.bytes = Convert(codePage, "UTF-8", utf8, SequenceLength, IsTagCharacter,
                         result.firstUnheld);
  return result;
}

std::string ToCodePage(std::string_view utf8) { return ToCodePageChecked(utf8).bytes; }

std::string FromCodePage(const uint8_t* bytes, std::size_t count) {
  std::size_t firstRefused = 0;
  return Convert("UTF-8", kCodePage,
                 std::string_view(reinterpret_cast<const char*>(bytes), count),
                 CodePageCharLength, NeverDropped, firstRefused);
}

bool CodePageAvailable(const char* codePage) {
  iconv_t cd = iconv_open(codePage, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

std::string NoCodePageMessage() {
  return "This system has no GBK converter (the C library's iconv modules are missing), "
         "so texts other than plain ASCII cannot be read from or written to the logger: "
         "each such character shows and is sent as \"?\".\n\n"
         "Install the converters (on Debian and Ubuntu they come with the libc6 package) "
         "and start the tool again.";
}

std::string FromCodePageField(const uint8_t* bytes, std::size_t count) {
  // GBK lead bytes are 0x81 to 0xFE; each takes the byte after it along.
  std::size_t whole = 0;
  while (whole < count) {
    const bool lead = bytes[whole] >= 0x81 && bytes[whole] <= 0xFE;
    if (!lead) {
      ++whole;
    } else if (whole + 1 < count) {
      whole += 2;
    } else {
      break;  // its second byte lay beyond the field's end
    }
  }
  return FromCodePage(bytes, whole);
}

std::size_t Utf8Length(std::string_view utf8) {
  std::size_t n = 0;
  for (; !utf8.empty(); ++n) utf8.remove_prefix(SequenceLength(utf8));
  return n;
}

std::string Utf8Prefix(std::string_view utf8, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < utf8.size(); ++n) i += SequenceLength(utf8.substr(i));
  return std::string(utf8.substr(0, i));
}
