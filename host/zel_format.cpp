#include "host/zel_format.h"
#include "host/zel_numeric.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kPlainDigits = 7;

std::string ShortestRoundTrip(double value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string();
}

// Length of the UTF-8 sequence that starts at `i`, or 0 when the bytes there are not one.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  std::size_t length = 0;
  unsigned lowest_second = 0x80, highest_second = 0xBF;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) length = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) lowest_second = 0xA0;  // overlong
    if (c == 0xED) highest_second = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) lowest_second = 0x90;
    if (c == 0xF4) highest_second = 0x8F;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto t = static_cast<unsigned char>(s[i + k]);
    const unsigned lo = k == 1 ? lowest_second : 0x80, hi = k == 1 ? highest_second : 0xBF;
    if (t < lo || t > hi) return 0;
  }
  return length;
}

constexpr std::uint64_t kPowersOfTen[] = {1ull,          10ull,          100ull,
                                          1000ull,       10000ull,       100000ull,
                                          1000000ull,    10000000ull,    100000000ull,
                                          1000000000ull, 10000000000ull, 100000000000ull,
                                          1000000000000ull, 10000000000000ull};
constexpr int kMostPlainDigits = 9;
// 128 bits hold a mantissa times 10^13, the most the plain numbers need.
__extension__ using WideUnsigned = unsigned __int128;

// "%.*g" for zero and for a value that it writes without an exponent (1e-4 <= |value| <
// 10^precision once rounded), from the double's exact binary value: its digits are the
// integer part of |value| x 10^n, rounded half to even on the exact remainder, as printf
// rounds. Nothing for any other value.
char* PutPlainGeneral(char* out, double value, int precision) {
  if (precision < 1 || precision > kMostPlainDigits) return nullptr;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  // Subnormals, infinities and NaN go the general way.
  if (biased == 0x7FF || (biased == 0 && (bits << 1) != 0)) return nullptr;
  const bool negative = (bits >> 63) != 0;
  if (biased == 0) {
    if (negative) *out++ = '-';
    *out++ = '0';
    return out;
  }
  // |value| = mantissa / 2^shift exactly.
  const std::uint64_t mantissa = (bits & ((1ull << 52) - 1)) | (1ull << 52);
  const int shift = 1075 - biased;
  // The decimal exponent e (10^e <= |value| < 10^(e+1)) is floor(log10(2) x the binary
  // one) or the next.
  int e = ((biased - 1023) * 78913) >> 18;
  if (e < -5 || e >= precision || shift <= 0 || shift >= 127) return nullptr;
  WideUnsigned scaled = static_cast<WideUnsigned>(mantissa) * kPowersOfTen[precision - 1 - e];
  std::uint64_t digits = static_cast<std::uint64_t>(scaled >> shift);
  if (digits >= kPowersOfTen[precision]) {
    if (++e >= precision) return nullptr;
    scaled = static_cast<WideUnsigned>(mantissa) * kPowersOfTen[precision - 1 - e];
    digits = static_cast<std::uint64_t>(scaled >> shift);
  }
  if (e < -4) return nullptr;
  const WideUnsigned half = static_cast<WideUnsigned>(1) << (shift - 1);
  const WideUnsigned rest = scaled & ((half << 1) - 1);
  if ((rest > half || (rest == half && (digits & 1) != 0)) &&
      ++digits == kPowersOfTen[precision]) {
    if (++e >= precision) return nullptr;
    digits = kPowersOfTen[precision - 1];
  }
  // The digits that %g keeps: none of the fraction's trailing zeros.
  const int whole = e >= 0 ? e + 1 : 0;
  int kept = precision;
  while (kept > whole && digits % 10 == 0) {
    digits /= 10;
    --kept;
  }
  if (negative) *out++ = '-';
  if (e < 0) {
    *out++ = '0';
    *out++ = '.';
    for (int i = 1; i < -e; ++i) *out++ = '0';
  }
  // Written from the last digit back, the point after the whole part.
  const bool point = e >= 0 && kept > whole;
  char* end = out + kept + (point ? 1 : 0);
  char* at = end;
  for (int i = kept - 1; i >= 0; --i) {
    *--at = static_cast<char>('0' + digits % 10);
    digits /= 10;
    if (point && i == whole) *--at = '.';
  }
  return end;
}

}  // namespace

char* ZelPutGeneral(char* first, char* last, double value, int precision) {
  if (char* end = PutPlainGeneral(first, value, precision)) return end;
  return std::to_chars(first, last, value, std::chars_format::general, precision).ptr;
}

std::string ZelFormatValue(double value, double step) {
  if (!std::isfinite(value)) return ShortestRoundTrip(value);
  // Without a known step, 15 digits: they hide the binary noise of a conversion
  // ("0.9999999999999999 rot") and nothing a drive can hold.
  const bool known = step > 0.0 && std::isfinite(step);
  const double tolerance = known ? step / 2.0 : std::abs(value) * 1e-15;
  for (int digits = 1; digits <= 17; ++digits) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    const double shown = std::strtod(text, nullptr);
    if (std::abs(shown - value) > tolerance) continue;
    // Whole numbers up to seven digits are written out ("10", not "1e+01").
    const int exponent = shown == 0.0 ? 0 : ZelSaturatingCast<int>(std::floor(std::log10(std::abs(shown))));
    if (exponent >= digits && exponent < kPlainDigits)
      std::snprintf(text, sizeof text, "%.*g", exponent + 1, shown);
    return text;
  }
  return ShortestRoundTrip(value);
}

double ZelFigureStep(double value) {
  if (value == 0.0 || !std::isfinite(value)) return 0.0;
  return std::pow(10.0, std::floor(std::log10(std::abs(value))) - 3.0);
}

std::string ZelEscapeMarkup(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

// The bidirectional control at `i` (a sequence of `length` bytes), or 0: U+061C, U+200E,
// U+200F, U+202A..U+202E and U+2066..U+2069.
char32_t BidiControlAt(std::string_view text, std::size_t i, std::size_t length) {
  char32_t code = 0;
  if (length == 2) {
    code = (static_cast<unsigned char>(text[i]) & 0x1Fu) << 6 |
           (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
  } else if (length == 3) {
    code = (static_cast<unsigned char>(text[i]) & 0x0Fu) << 12 |
           (static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6 |
           (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
  }
  const bool bidi = code == 0x061C || code == 0x200E || code == 0x200F ||
                    (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
  return bidi ? code : 0;
}

}  // namespace

bool ZelIsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string ZelEscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8SequenceLength(text, i);
    const bool control = c < 0x20 && c != '\t' && c != '\n';
    if (const char32_t reorders = BidiControlAt(text, i, length)) {
      char escaped[16];
      std::snprintf(escaped, sizeof escaped, "\\u{%04X}", static_cast<unsigned>(reorders));
      out += escaped;
      i += length;
    } else if (length == 0 || control || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string ZelCsvHeader(std::string_view name, std::string_view unit) {
  std::string head(name);
  if (!unit.empty()) head += " [" + std::string(unit) + "]";
  if (head.find_first_of(",\"") == std::string::npos) return head;
  std::string quoted = "\"";
  for (char c : head) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}
