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
template <typename Skip>
std::string Convert(const char* to, const char* from, const char* in, std::size_t inLeft,
                    Skip skip) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter: keep ASCII, mark the rest.
    for (std::size_t i = 0; i < inLeft; ++i)
      out.push_back(static_cast<unsigned char>(in[i]) < 0x80 ? in[i] : '?');
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
    out.push_back('?');
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

std::string ToCodePage(std::string_view utf8) {
  return Convert("GBK", "UTF-8", utf8.data(), utf8.size(), SequenceLength);
}

std::string FromCodePage(const uint8_t* bytes, std::size_t count) {
  return Convert("UTF-8", "GBK", reinterpret_cast<const char*>(bytes), count,
                 [](unsigned char) { return std::size_t{1}; });
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
