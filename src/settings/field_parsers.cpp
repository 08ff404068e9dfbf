#include "settings/field_parsers.h"

#include <cstdarg>
#include <cstdio>
#include <limits>
#include <string>

namespace {

constexpr uint8_t kOk = 0;

// Formats into a buffer measured first, so a long label is never cut short.
[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(needed));
  }
  va_end(args);
  return text;
}

void Tell(MessagePort* messages, const std::string& text) {
  if (messages != nullptr) messages->show(text, MessageIcon::Warning);
}

// Position after the leading blanks and an optional sign.
std::size_t SkipBlanksAndSign(std::string_view text, bool& negative) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  return i;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

uint8_t ParseInteger(MessagePort* messages, std::string_view text, int32_t min, int32_t max,
                     Label label, int32_t& value) {
  constexpr int kMaxDigits = 19;  // the most that fit the unsigned 64-bit accumulator
  bool negative = false;
  std::size_t i = SkipBlanksAndSign(text, negative);

  uint64_t magnitude = 0;
  int digits = 0;
  uint8_t code = kOk;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (digits == kMaxDigits) {
      code = 1;
      break;
    }
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    ++digits;
  }
  if (code == kOk) {
    if (i < text.size())
      code = 3;
    else if (digits == 0)
      code = 2;
  }

  // The signed value, held in 64 bits so that -2^31 and everything beyond
  // int32 compare correctly; the callers' bounds are int32.
  constexpr uint64_t kMaxMagnitude = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  int64_t wide = static_cast<int64_t>(magnitude > kMaxMagnitude ? kMaxMagnitude : magnitude);
  if (negative) wide = -wide;
  if (code == kOk && (wide < min || wide > max)) code = 1;

  // Written also on failure; a value beyond int32 is held at the nearest end.
  constexpr int64_t kLow = std::numeric_limits<int32_t>::min();
  constexpr int64_t kHigh = std::numeric_limits<int32_t>::max();
  value = static_cast<int32_t>(wide < kLow ? kLow : (wide > kHigh ? kHigh : wide));

  if (code != kOk && label) {
    std::string name(*label);
    if (code == 1)
      Tell(messages, Format("%s: 数值必须在%d至%d之内!", name.c_str(), min, max));
    else if (code == 2)
      Tell(messages, Format("%s: 内容为空", name.c_str()));
    else
      Tell(messages, Format("%s: 存在非法字符!", name.c_str()));
  }
  return code;
}

uint8_t ParseReal(MessagePort* messages, std::string_view text, double min, double max,
                  Label label, double& value) {
  constexpr int kMaxIntegerDigits = 10;
  // Fraction digits are summed exactly in 64 bits. Beyond 19 significant ones
  // they cannot change the double any more, and summing on would drive both
  // fraction and divisor to infinity (inf / inf) on a long enough text.
  constexpr uint64_t kFractionLimit = 1'000'000'000'000'000'000ULL;  // 10^18

  bool negative = false;
  std::size_t i = SkipBlanksAndSign(text, negative);

  double integerPart = 0.0;
  int integerDigits = 0;
  uint64_t fraction = 0;
  double divisor = 1.0;
  std::size_t fractionDigits = 0;
  bool pointSeen = false;
  uint8_t code = kOk;
  for (;; ++i) {
    if (i == text.size()) {
      code = integerDigits == 0 && fractionDigits == 0 ? 2 : kOk;
      break;
    }
    char c = text[i];
    if (IsDigit(c)) {
      int digit = c - '0';
      if (!pointSeen) {
        if (integerDigits == kMaxIntegerDigits) {
          code = 1;
          break;
        }
        integerPart = integerPart * 10.0 + digit;
        ++integerDigits;
      } else {
        if (fraction < kFractionLimit) {
          fraction = fraction * 10 + static_cast<uint64_t>(digit);
          divisor *= 10.0;
        }
        ++fractionDigits;
      }
    } else if (c == '.') {
      if (pointSeen) {
        code = 4;
        break;
      }
      pointSeen = true;
    } else {
      code = 3;
      break;
    }
  }

  // After hundreds of leading zeros in the fraction the divisor may be
  // infinite; the quotient is then 0, never NaN, since fraction stays finite.
  double magnitude = integerPart + static_cast<double>(fraction) / divisor;
  double signedValue = negative ? -magnitude : magnitude;
  if (code == kOk && (signedValue < min || signedValue > max)) code = 1;

  if (code != kOk && label) {
    std::string name(*label);
    if (code == 1)
      Tell(messages, Format("%s: 数值必须在%0.1f至%0.1f之内!", name.c_str(), min, max));
    else if (code == 2)
      Tell(messages, Format("%s: 内容为空", name.c_str()));
    else if (code == 3)
      Tell(messages, Format("%s: 存在非法字符!", name.c_str()));
    else
      Tell(messages, Format("%s: 数值格式错误!", name.c_str()));
  }
  value = signedValue;
  return code;
}

bool IsAllowedTextByte(uint8_t byte) {
  if (byte >= 0x20 && byte <= 0x7E) return true;
  switch (byte) {
    case 0x09:
    case 0x0A:
    case 0x0D:
    case 0xA1:
    case 0xA8:
    case 0xAE:
    case 0xB0:
    case 0xBA:
      return true;
    default:
      return false;
  }
}

uint8_t CheckText(MessagePort* messages, std::string_view bytes, std::size_t size,
                  bool restricted, bool allowEmpty, Label label, std::size_t firstUnheld) {
  uint8_t code = kOk;
  if (bytes.empty()) {
    if (!allowEmpty) code = 1;
  } else {
    // Length and content are checked in one walk: whichever fault comes
    // first decides.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (i >= size) {
        code = 2;
        break;
      }
      // The logger would get a '?' the user never typed.
      if (i == firstUnheld ||
          (restricted && !IsAllowedTextByte(static_cast<uint8_t>(bytes[i])))) {
        code = 3;
        break;
      }
    }
  }

  if (code != kOk && label) {
    std::string name(*label);
    if (code == 1)
      Tell(messages, Format("%s: Empty!", name.c_str()));
    else if (code == 2)
      Tell(messages, Format("%s: too long!", name.c_str()));
    else
      Tell(messages, Format("%s: illegal characters!", name.c_str()));
  }
  return code;
}

uint8_t ReadIntegerField(ToolState& state, int id, int32_t min, int32_t max, Label label,
                         int32_t& value) {
  uint8_t code = ParseInteger(state.ports.messages, state.form().text(id), min, max, label, value);
  if (code != kOk) state.form().focusAtEnd(id);
  return code;
}

uint8_t ReadRealField(ToolState& state, int id, Label label, double min, double max,
                      double& value) {
  uint8_t code = ParseReal(state.ports.messages, state.form().text(id), min, max, label, value);
  if (code != kOk) state.form().focusAtEnd(id);
  return code;
}
