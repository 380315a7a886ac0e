#include "reference/number_text_reference.h"

#include <mpfr.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <map>

#include "reference/x87_arithmetic.h"

namespace pitch::reference {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// 10^e as the extended value nearest to it (MPFR rounds the power correctly).
const Ext& PowerOfTen(unsigned long e) {
  static std::map<unsigned long, Ext> cache;
  auto [it, added] = cache.try_emplace(e);
  if (added) {
    mpfr_ui_pow_ui(it->second.get(), 10, e, MPFR_RNDN);
  }
  return it->second;
}

// m·10^n, or m / 10^−n for negative n.
//
// The decimal text defines the value as m scaled by 10^n, each multiplication or division by a
// power of ten rounded to extended precision, but leaves open how 10^n is split into powers. The
// split below is the program's own choice, and the reference states it so that its results can be
// compared bit for bit: 10^n = 10^(n mod 32) · 10^(32·((n div 32) mod 16)) · 10^(512·(n div 512)),
// applied in that order, each factor the extended value nearest to that power of ten and each
// step rounded once; factors of 1 are skipped. A scaling by 10^5120 or more (only a text with
// thousands of fraction digits needs one) first applies 10^4608 as often as it takes to bring the
// rest below 10^5120.
Ext Scale(Ext m, long long n) {
  const bool divide = n < 0;
  unsigned long k = static_cast<unsigned long>(divide ? -n : n);
  auto apply = [&](unsigned long power) {
    if (power != 0) {
      m = divide ? Div(m, PowerOfTen(power)) : Mul(m, PowerOfTen(power));
    }
  };
  while (k >= 5120) {
    apply(4608);
    k -= 4608;
  }
  apply(k % 32);
  apply(32 * ((k / 32) % 16));
  apply(512 * (k / 512));
  return m;
}

// Adds one unit at the last of the digits; a carry past the first digit leaves the single digit
// 1 followed by zeros and raises the decimal exponent.
void RoundUp(std::string& digits, long& exponent) {
  for (std::size_t k = digits.size(); k-- > 0;) {
    if (digits[k] != '9') {
      ++digits[k];
      return;
    }
    digits[k] = '0';
  }
  digits[0] = '1';
  ++exponent;
}

}  // namespace

std::optional<long double> ParseNumber(std::string_view text, char separator) {
  const ExtendedRange range;
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

  try {
    // Mantissa: every digit, before and after the separator, does m ← m·10, then m ← m + d.
    const Ext ten(10.0);
    Ext m;
    long long fraction_digits = 0;
    bool consumed = false;
    auto take_digit = [&] {
      m = Mul(m, ten);
      m = Add(m, Ext(static_cast<double>(text[p] - '0')));
      ++p;
    };
    while (p < n && IsDigit(text[p])) {
      take_digit();
      consumed = true;
    }
    if (p < n && text[p] == separator) {
      ++p;
      consumed = true;
      while (p < n && IsDigit(text[p])) {
        take_digit();
        ++fraction_digits;
      }
    }
    if (!consumed) {
      return std::nullopt;
    }

    // Exponent: digits up to the one that takes it to 500 or more.
    long long exponent = 0;
    if (p < n && (text[p] == 'E' || text[p] == 'e')) {
      ++p;
      bool exponent_negative = false;
      if (p < n && (text[p] == '+' || text[p] == '-')) {
        exponent_negative = text[p] == '-';
        ++p;
      }
      while (p < n && IsDigit(text[p])) {
        exponent = 10 * exponent + (text[p] - '0');
        ++p;
        if (exponent >= 500) {
          break;
        }
      }
      if (exponent_negative) {
        exponent = -exponent;
      }
    }

    skip_blanks();
    if (p != n) {
      return std::nullopt;
    }
    Ext value = Scale(m, exponent - fraction_digits);
    if (negative) {
      value = Neg(value);
    }
    return value.ToLongDouble();
  } catch (const FaultRaised&) {
    return std::nullopt;  // the accumulator or the scaling left the extended range
  }
}

std::string ConvertErrorMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid floating point value";
}

std::optional<double> StoreParsed(long double value) {
  const ExtendedRange range;
  try {
    return Store(Ext::FromLongDouble(value));
  } catch (const FaultRaised&) {
    return std::nullopt;
  }
}

namespace {

// The exact decimal expansion of a positive Real: its significant digits and the exponent of the
// 0.d1d2… form. A Real is an integer times 2^-1074 at the finest, and such a number has at most
// 767 significant decimal digits, so 800 digits hold every one of them without rounding.
std::string ExactDigits(double value, long& exponent) {
  constexpr std::size_t kExactDigits = 800;
  mpfr_t exact;
  mpfr_init2(exact, 53);
  mpfr_set_d(exact, value, MPFR_RNDN);
  mpfr_exp_t decimal_exponent = 0;
  char* expansion = mpfr_get_str(nullptr, &decimal_exponent, 10, kExactDigits, exact, MPFR_RNDN);
  const std::string all(expansion);
  mpfr_free_str(expansion);
  mpfr_clear(exact);
  exponent = static_cast<long>(decimal_exponent);
  return all;
}

// Whether 0.digits × 10^exponent is above the largest Real.
bool AboveLargestReal(const std::string& digits, long exponent) {
  long max_exponent = 0;
  const std::string max_digits = ExactDigits(DBL_MAX, max_exponent);
  if (exponent != max_exponent) {
    return exponent > max_exponent;
  }
  return digits > max_digits.substr(0, digits.size());
}

}  // namespace

std::string FormatNumber(double value, char separator) {
  if (std::isnan(value)) {
    return "NAN";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-INF" : "INF";
  }
  if (value == 0) {
    return "0";
  }

  // The exact decimal expansion of |value| = 0.d1d2… × 10^exponent.
  long exponent = 0;
  const std::string all = ExactDigits(std::fabs(value), exponent);

  // 18 significant digits, ties to even: the digits after the 18th decide, all of them.
  std::string digits = all.substr(0, 18);
  const std::string rest = all.substr(18);
  const std::size_t nonzero_after_first = rest.find_first_not_of('0', 1);
  const bool above_half =
      rest[0] > '5' || (rest[0] == '5' && nonzero_after_first != std::string::npos);
  const bool exactly_half = rest[0] == '5' && nonzero_after_first == std::string::npos;
  if (above_half || (exactly_half && (digits[17] - '0') % 2 == 1)) {
    RoundUp(digits, exponent);
  }

  // 15 digits by the 16th alone: up when it is 5 or more, unless the text would then be above
  // the largest Real (and so not read back as one).
  const char sixteenth = digits[15];
  digits.resize(15);
  if (sixteenth >= '5') {
    std::string up = digits;
    long up_exponent = exponent;
    RoundUp(up, up_exponent);
    if (!AboveLargestReal(up, up_exponent)) {
      digits = up;
      exponent = up_exponent;
    }
  }
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }
  const long count = static_cast<long>(digits.size());

  std::string out = value < 0 ? "-" : "";
  if (exponent >= -3 && exponent <= 0) {
    out += '0';
    out += separator;
    out.append(static_cast<std::size_t>(-exponent), '0');
    out += digits;
  } else if (exponent >= 1 && exponent <= 15) {
    for (long k = 0; k < exponent; ++k) {
      out += k < count ? digits[static_cast<std::size_t>(k)] : '0';
    }
    if (count > exponent) {
      out += separator;
      out += digits.substr(static_cast<std::size_t>(exponent));
    }
  } else {
    out += digits[0];
    if (count > 1) {
      out += separator;
      out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(exponent - 1);
  }
  return out;
}

}  // namespace pitch::reference
