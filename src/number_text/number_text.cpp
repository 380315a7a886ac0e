#include "number_text/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace pitch {

namespace {

// Powers of ten as the extended values nearest to them: 10^k for k < 32, 10^(32k) for k < 16
// and 10^(512k) for k < 10. A scaling by 10^n applies at most one factor of each table.
struct PowerTables {
  std::array<Extended, 32> units;
  std::array<Extended, 16> thirty_twos;
  std::array<Extended, 10> five_twelves;

  PowerTables() {
    for (std::size_t k = 0; k < units.size(); ++k) {
      units[k] = PowerOfTen(k);
    }
    for (std::size_t k = 0; k < thirty_twos.size(); ++k) {
      thirty_twos[k] = PowerOfTen(32 * k);
    }
    for (std::size_t k = 0; k < five_twelves.size(); ++k) {
      five_twelves[k] = PowerOfTen(512 * k);
    }
  }

  // 10^k correctly rounded, read from "1e<k>" by from_chars, which (unlike strtold) does not
  // depend on the C library's locale.
  static Extended PowerOfTen(std::size_t k) {
    const std::string text = "1e" + std::to_string(k);
    Extended value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
  }
};

const PowerTables& Powers() {
  static const PowerTables tables;
  return tables;
}

// m·10^n (or m / 10^−n), each multiplication or division rounded to extended precision.
Extended ScaleByPowerOfTen(Extended m, long long n) {
  const PowerTables& t = Powers();
  const bool divide = n < 0;
  unsigned long long k =
      divide ? static_cast<unsigned long long>(-n) : static_cast<unsigned long long>(n);
  auto apply = [&](Extended factor) { m = divide ? m / factor : m * factor; };
  // Only a text with thousands of fraction digits gets here; such a value just gets smaller.
  while (k >= 5120) {
    apply(t.five_twelves[9]);
    k -= 9 * 512;
  }
  if (k % 32 != 0) {
    apply(t.units[k % 32]);
  }
  if ((k / 32) % 16 != 0) {
    apply(t.thirty_twos[(k / 32) % 16]);
  }
  if (k / 512 != 0) {
    apply(t.five_twelves[k / 512]);
  }
  return m;
}

// The least extended value that is stored as an infinite Real: the largest Real and half its
// last unit, where rounding to nearest (to even: the largest Real's last bit is 1) goes up.
constexpr Extended kRealOverflow =
    static_cast<Extended>(std::numeric_limits<Real>::max()) + 0x1p970L;
// The first 15 significant digits of the largest Real, 1.7976931348623157E308; the 16th is 5.
constexpr std::string_view kLargestRealDigits = "179769313486231";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void Invalid(std::string_view text) {
  std::string message;
  message.reserve(text.size() + 40);
  message += '\'';
  message += text;
  message += "' is not a valid floating point value";
  throw EConvertError(message);
}

// The text of ±d1.d2d3… × 10^exponent (the digits without trailing zeros): plain for exponents
// −4 … plain_limit − 1 ("0,000d1d2", "d1d2d3,d4"), "d1Sd2…E<exponent>" outside.
std::string LayOutDigits(bool negative, std::string_view digits, int exponent, int plain_limit,
                         char separator) {
  const int count = static_cast<int>(digits.size());
  std::string out;
  out.reserve(24);
  if (negative) {
    out += '-';
  }
  if (exponent >= -4 && exponent < 0) {
    out += '0';
    out += separator;
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(digits);
  } else if (exponent >= 0 && exponent < plain_limit) {
    for (int k = 0; k <= exponent; ++k) {
      out += k < count ? digits[static_cast<std::size_t>(k)] : '0';
    }
    if (count > exponent + 1) {
      out += separator;
      out.append(digits.substr(static_cast<std::size_t>(exponent + 1)));
    }
  } else {
    out += digits[0];
    if (count > 1) {
      out += separator;
      out.append(digits.substr(1));
    }
    out += 'E';
    out += std::to_string(exponent);
  }
  return out;
}

}  // namespace

Extended ParseNumber(std::string_view text, char separator) {
  const std::size_t n = text.size();
  std::size_t p = 0;
  auto skip_blanks = [&] {
    while (p < n && text[p] == ' ') {
      ++p;
    }
  };

  skip_blanks();
  bool negative = false;
  if (p < n && (text[p] == '+' || text[p] == '-')) {
    negative = text[p] == '-';
    ++p;
  }

  // While m·10 + d stays below 2^64, each of the two extended operations is exact, so the digits
  // accumulate in an integer with the same value; past that, in extended precision.
  constexpr std::uint64_t kExactLimit = (std::numeric_limits<std::uint64_t>::max() - 9) / 10;
  std::uint64_t whole = 0;
  bool in_whole = true;
  Extended m = 0;
  const auto accumulate = [&](char c) {
    const auto d = static_cast<unsigned>(c - '0');
    if (in_whole && whole <= kExactLimit) {
      whole = whole * 10 + d;
      return;
    }
    if (in_whole) {
      m = static_cast<Extended>(whole);
      in_whole = false;
    }
    m = m * 10;
    m = m + static_cast<int>(d);
  };
  long long fraction_digits = 0;
  bool consumed = false;
  while (p < n && IsDigit(text[p])) {
    accumulate(text[p]);
    ++p;
    consumed = true;
  }
  if (p < n && text[p] == separator) {
    ++p;
    consumed = true;
    while (p < n && IsDigit(text[p])) {
      accumulate(text[p]);
      ++p;
      ++fraction_digits;
    }
  }
  if (in_whole) {
    m = static_cast<Extended>(whole);
  }
  if (!consumed) {
    Invalid(text);
  }

  long long exponent = 0;
  if (p < n && (text[p] == 'E' || text[p] == 'e')) {
    ++p;
    bool exponent_negative = false;
    if (p < n && (text[p] == '+' || text[p] == '-')) {
      exponent_negative = text[p] == '-';
      ++p;
    }
    // The exponent stops at the digit that takes it to 500 or more; digits after it are left
    // over and make the text invalid.
    while (p < n && IsDigit(text[p]) && exponent < 500) {
      exponent = 10 * exponent + (text[p] - '0');
      ++p;
    }
    if (exponent_negative) {
      exponent = -exponent;
    }
  }

  skip_blanks();
  if (p != n || !std::isfinite(m)) {
    Invalid(text);
  }
  const Extended value = ScaleByPowerOfTen(m, exponent - fraction_digits);
  if (!std::isfinite(value)) {
    Invalid(text);
  }
  return negative ? -value : value;
}

std::string FormatNumber(Extended value, char separator) {
  if (std::isnan(value)) {
    return "NAN";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-INF" : "INF";
  }
  // Zero, and any value whose exponent field is zero, is written as 0.
  if (value == 0 || std::fpclassify(value) == FP_SUBNORMAL) {
    return "0";
  }

  // 18 significant digits, correctly rounded (ties to even): d.ddddddddddddddddde±x, always
  // with a full stop. to_chars, unlike printf, ignores the C library's locale, which the window
  // and the renderer set to the user's (whose decimal point may be more than one byte).
  char scientific[48];
  const char* const end = std::to_chars(scientific, scientific + sizeof scientific,
                                        std::fabs(value), std::chars_format::scientific, 17)
                              .ptr;
  char digits[18];
  digits[0] = scientific[0];
  for (int k = 1; k < 18; ++k) {
    digits[k] = scientific[k + 1];
  }
  const char* exponent_text = scientific + 20;  // after "e"
  if (*exponent_text == '+') {
    ++exponent_text;  // from_chars takes a minus sign only
  }
  int exponent = 0;
  std::from_chars(exponent_text, end, exponent);
  ++exponent;  // |v| ≈ 0.d1d2… × 10^exponent

  // To 15 digits by the 16th alone, except where that would carry a value that is stored as a
  // finite Real past the largest Real: the digits are cut there instead, so that the text reads
  // back (1.79769313486231E308 for the largest Real, not 1.79769313486232E308).
  if (digits[15] >= '5' && !(exponent == 309 && std::fabs(value) < kRealOverflow &&
                             std::string_view(digits, 15) == kLargestRealDigits)) {
    int k = 14;
    while (k >= 0 && digits[k] == '9') {
      digits[k] = '0';
      --k;
    }
    if (k >= 0) {
      ++digits[k];
    } else {
      digits[0] = '1';
      ++exponent;
    }
  }
  int count = 15;
  while (count > 1 && digits[count - 1] == '0') {
    --count;
  }

  return LayOutDigits(value < 0, std::string_view(digits, static_cast<std::size_t>(count)),
                      exponent - 1, 15, separator);
}

std::string FormatSignificant(double value, int digits, char separator) {
  if (std::isnan(value)) {
    return "NAN";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-INF" : "INF";
  }
  if (value == 0) {
    return "0";
  }
  digits = std::clamp(digits, 1, 17);
  // d.ddd…e±x correctly rounded to the digits (to_chars ignores the C library's locale).
  char scientific[48];
  const char* const end = std::to_chars(scientific, scientific + sizeof scientific,
                                        std::fabs(value), std::chars_format::scientific, digits - 1)
                              .ptr;
  std::string mantissa;
  const char* p = scientific;
  for (; p != end && *p != 'e'; ++p) {
    if (*p != '.') {
      mantissa += *p;
    }
  }
  const char* exponent_text = p + 1;
  if (exponent_text < end && *exponent_text == '+') {
    ++exponent_text;
  }
  int exponent = 0;
  std::from_chars(exponent_text, end, exponent);
  while (mantissa.size() > 1 && mantissa.back() == '0') {
    mantissa.pop_back();
  }
  return LayOutDigits(value < 0, mantissa, exponent, digits, separator);
}

std::string ShortestDecimal(double value) {
  std::string text;
  AppendShortestDecimal(text, value);
  return text;
}

void AppendShortestDecimal(std::string& out, double value) {
  char buffer[kShortestDecimalRoom];
  out.append(buffer, WriteShortestDecimal(buffer, value));
}

char* WriteShortestDecimal(char* first, double value) {
  char* const last = first + kShortestDecimalRoom;
  // From 1e17 on, the plain form may write a whole number's exact digits, far more than the 17
  // that read back (-3635895055073183531008 for -3.6358950550731835e+21); the exponent form has
  // only the digits that do.
  if (std::fabs(value) >= 1e17) {
    return std::to_chars(first, last, value, std::chars_format::scientific).ptr;
  }
  return std::to_chars(first, last, value).ptr;
}

}  // namespace pitch
