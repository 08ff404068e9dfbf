#include "core/codepage.h"

#include <iconv.h>

#include <cerrno>

namespace {

// Length of the UTF-8 sequence that starts with `lead`, 1 for a stray byte.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

// Converts with iconv, replacing whatever cannot be converted by '?'.
// `skip` tells how many input bytes a refused character occupies.
// `firstRefused` receives the position in the result of the first '?' put
// in for a refused character, npos when there was none.
template <typename Skip>
std::string Convert(const char* to, const char* from, const char* in, std::size_t inLeft,
                    Skip skip, std::size_t& firstRefused) {
  std::string out;
  firstRefused = std::string::npos;
  auto refuse = [&out, &firstRefused] {
    if (firstRefused == std::string::npos) firstRefused = out.size();
    out.push_back('?');
  };
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter: keep ASCII, mark the rest.
    for (std::size_t i = 0; i < inLeft; ++i) {
      if (static_cast<unsigned char>(in[i]) < 0x80)
        out.push_back(in[i]);
      else
        refuse();
    }
    return out;
  }
  char buffer[512];
  char* src = const_cast<char*>(in);
  while (inLeft > 0) {
    char* dst = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t rc = iconv(cd, &src, &inLeft, &dst, &outLeft);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: one character that cannot be converted.
    refuse();
    std::size_t n = skip(static_cast<unsigned char>(*src));
    if (n > inLeft) n = inLeft;
    src += n;
    inLeft -= n;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

}  // namespace

CodePageText ToCodePageChecked(std::string_view utf8) {
  CodePageText result;
  result.bytes = Convert("GBK", "UTF-8", utf8.data(), utf8.size(), SequenceLength,
                         result.firstUnheld);
  return result;
}

std::string ToCodePage(std::string_view utf8) { return ToCodePageChecked(utf8).bytes; }

std::string FromCodePage(const uint8_t* bytes, std::size_t count) {
  std::size_t firstRefused = 0;
  return Convert("UTF-8", "GBK", reinterpret_cast<const char*>(bytes), count,
                 [](unsigned char) { return std::size_t{1}; }, firstRefused);
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
  for (std::size_t i = 0; i < utf8.size(); ++n) {
    std::size_t len = SequenceLength(static_cast<unsigned char>(utf8[i]));
    i += len;
  }
  return n;
}

std::string Utf8Prefix(std::string_view utf8, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < utf8.size(); ++n)
    i += SequenceLength(static_cast<unsigned char>(utf8[i]));
  return std::string(utf8.substr(0, i < utf8.size() ? i : utf8.size()));
}
