// ParseNumber and FormatNumber against the reference model, over random texts and values.
//
// Parsing: the value's bits (and the Real the window stores from it) or the conversion error's
// message, for texts in both separators: long digit strings, blanks, signs, exponents, values at
// the ends of the Real and extended ranges, denormals, and texts that are not numbers. Formatting:
// the text of Reals drawn by bit pattern and of values placed where the output changes form or a
// rounding carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>

#include "core/extended.h"
#include "number_text/number_text.h"
#include "reference/number_text_reference.h"
#include "reference/random_cases.h"
#include "reference/x87_arithmetic.h"

namespace pitch {
namespace {

using reference::Hex;

// FNV-1a: each row draws its own cases from the one seed.
std::uint64_t NameHash(std::string_view name) {
  std::uint64_t h = 14695981039346656037ull;
  for (const char ch : name) {
    h = (h ^ static_cast<unsigned char>(ch)) * 1099511628211ull;
  }
  return h;
}

class Draw {
 public:
  explicit Draw(std::uint64_t seed) : rng_(seed) {}

  int Integer(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  std::uint64_t Bits() { return rng_(); }
  template <typename T>
  T Pick(std::initializer_list<T> items) {
    return items.begin()[Integer(0, static_cast<int>(items.size()) - 1)];
  }

  std::string Digits(int count) {
    std::string out;
    for (int k = 0; k < count; ++k) {
      out += static_cast<char>('0' + Integer(0, 9));
    }
    return out;
  }
  std::string Blanks() {
    return std::string(static_cast<std::size_t>(Chance(0.2) ? Integer(1, 3) : 0), ' ');
  }
  std::string Sign() { return Chance(0.3) ? (Chance(0.5) ? "-" : "+") : ""; }
  // "E12", "e-7", "E+" …, or nothing.
  std::string Exponent(int low, int high) {
    if (!Chance(0.6)) {
      return "";
    }
    std::string out = Chance(0.5) ? "E" : "e";
    const int x = Integer(low, high);
    if (x < 0) {
      out += '-';
    } else if (Chance(0.2)) {
      out += '+';
    }
    if (!Chance(0.03)) {
      out += (Chance(0.1) ? "0" : "") + std::to_string(std::abs(x));
    }
    return out;
  }
  // A Real's digits in the form "d,ddd…E±x" with 1 … 25 significant digits.
  std::string RealText(double v, char separator) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", Integer(0, 24), v);
    std::string out = text;
    for (char& ch : out) {
      if (ch == '.') {
        ch = separator;
      }
    }
    return out;
  }

 private:
  std::mt19937_64 rng_;
};

// ---------------------------------------------------------------------------------------------
// Parsing

struct ParseCase {
  std::string text;
  char separator;
};

struct ParseFamily {
  const char* name;
  int count;
  std::function<ParseCase(Draw&)> draw;
};

void PrintTo(const ParseFamily& family, std::ostream* os) { *os << family.name; }

// The text as a C string literal, so that blanks, tabs and other bytes show.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte >= 0x7F || ch == '"' || ch == '\\') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      out += escape;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// What a parse gave: the value and the Real the window stores from it (or the store's
// overflow), or the conversion error's message.
struct ParseOutcome {
  bool valid = false;
  long double value = 0;
  bool stored = false;
  double real = 0;
  std::string message;

  bool operator==(const ParseOutcome& o) const {
    return valid == o.valid && message == o.message &&
           (!valid || (std::memcmp(&value, &o.value, 10) == 0 && stored == o.stored &&
                       (!stored || std::bit_cast<std::uint64_t>(real) ==
                                       std::bit_cast<std::uint64_t>(o.real))));
  }
  std::string Describe() const {
    if (!valid) {
      return message;
    }
    return Hex(value) + ", stored " + (stored ? Hex(real) : std::string("EOverflow"));
  }
};

ParseOutcome ParseWithProgram(const ParseCase& c) {
  ParseOutcome out;
  try {
    out.value = ParseNumber(c.text, c.separator);
    out.valid = true;
    out.real = fp::Store(out.value);
    out.stored = true;
  } catch (const EOverflow&) {
  } catch (const EConvertError& e) {
    out.message = e.what();
  }
  return out;
}

ParseOutcome ParseWithReference(const ParseCase& c) {
  ParseOutcome out;
  const std::optional<long double> value = reference::ParseNumber(c.text, c.separator);
  if (!value) {
    out.message = reference::ConvertErrorMessage(c.text);
    return out;
  }
  out.valid = true;
  out.value = *value;
  const std::optional<double> real = reference::StoreParsed(*value);
  out.stored = real.has_value();
  out.real = real.value_or(0);
  return out;
}

// Replaces the full stop of a C-formatted number with the separator.
std::string WithSeparator(std::string text, char separator) {
  for (char& ch : text) {
    if (ch == '.') {
      ch = separator;
    }
  }
  return text;
}

// The decimal digits of a limit of the extended range, written by the C library: the largest
// finite value, the smallest normal and the smallest denormal.
std::string ExtendedLimitText(Draw& d, char separator) {
  const long double limit = d.Pick<long double>({LDBL_MAX, LDBL_MIN, LDBL_TRUE_MIN});
  char text[80];
  std::snprintf(text, sizeof text, "%.*Le", d.Integer(0, 25), limit);
  return WithSeparator(text, separator);
}

// Changes one place of a text: a byte inserted, deleted or replaced.
std::string Mutate(Draw& d, std::string text, char separator) {
  const std::string insert =
      d.Pick<std::string>({"\t", " ", separator == ',' ? "." : ",", std::string(1, separator), "+",
                           "-", "E", "e", "x", "0", "\xC2\xA0", "\xD0\x9E", "5", "'"});
  const auto at = static_cast<std::size_t>(d.Integer(0, static_cast<int>(text.size())));
  switch (d.Integer(0, 2)) {
    case 0:
      text.insert(at, insert);
      break;
    case 1:
      if (at < text.size()) {
        text.erase(at, 1);
      }
      break;
    default:
      if (at < text.size()) {
        text.replace(at, 1, insert);
      }
      break;
  }
  return text;
}

// A well-formed number text with up to this many digits before and after the separator.
std::string NumberText(Draw& d, char separator, int digits, int exponent_low, int exponent_high) {
  std::string mantissa = d.Digits(d.Integer(0, digits));
  if (mantissa.empty() || d.Chance(0.6)) {
    mantissa += separator;
    mantissa += d.Digits(d.Integer(0, digits));
  }
  return d.Blanks() + d.Sign() + mantissa + d.Exponent(exponent_low, exponent_high) + d.Blanks();
}

char AnySeparator(Draw& d) { return d.Chance(0.5) ? ',' : '.'; }

const ParseFamily kParseFamilies[] = {
    {"OrdinaryTexts", 6000,
     [](Draw& d) {
       const char s = AnySeparator(d);
       return ParseCase{NumberText(d, s, 12, -40, 40), s};
     }},
    // More digits than the accumulator's 64 bits hold, with exponents up to ±500.
    {"LongDigitStrings", 4000,
     [](Draw& d) {
       const char s = AnySeparator(d);
       return ParseCase{NumberText(d, s, 45, -520, 520), s};
     }},
    // Reals near the ends of their range and denormals, written with 1 … 25 digits.
    {"RealRangeLimits", 4000,
     [](Draw& d) {
       const char s = AnySeparator(d);
       double v = 0;
       switch (d.Integer(0, 3)) {
         case 0:  // a denormal
           v = std::bit_cast<double>(d.Bits() & 0x000FFFFFFFFFFFFFull);
           break;
         case 1:
           v = std::nextafter(DBL_MIN, d.Chance(0.5) ? 0.0 : 1.0) * d.Integer(1, 3);
           break;
         case 2:
           v = DBL_MAX;
           for (int k = d.Integer(0, 4); k > 0; --k) {
             v = std::nextafter(v, 0.0);
           }
           break;
         default:
           v = std::ldexp(1.0 + d.Integer(0, 1000) / 1000.0, d.Integer(-1080, 1023));
           break;
       }
       return ParseCase{d.Sign() + d.RealText(v, s), s};
     }},
    // Values at the ends of the extended range, reached with four-digit exponents (the exponent
    // stops at the digit that takes it to 500 or more): overflow, denormals, zero.
    {"ExtendedRangeLimits", 2000,
     [](Draw& d) {
       const char s = AnySeparator(d);
       if (d.Chance(0.4)) {
         return ParseCase{d.Sign() + ExtendedLimitText(d, s), s};
       }
       const int exponent = d.Chance(0.5) ? d.Integer(4920, 4960) : -d.Integer(4925, 4990);
       const std::string digits = d.Digits(d.Integer(1, 22));
       return ParseCase{
           d.Sign() + digits.substr(0, 1) + s + digits.substr(1) + "E" + std::to_string(exponent),
           s};
     }},
    // Thousands of digits: the accumulator overflows past about 4933 integer digits, and a long
    // fraction scales by more than 10^5120.
    {"ThousandsOfDigits", 60,
     [](Draw& d) {
       const char s = AnySeparator(d);
       if (d.Chance(0.5)) {
         return ParseCase{
             d.Digits(d.Integer(4925, 4940)) + s + d.Digits(d.Integer(0, 3)) + d.Exponent(-20, 20),
             s};
       }
       return ParseCase{std::string(static_cast<std::size_t>(d.Integer(0, 2)), '0') + s +
                            std::string(static_cast<std::size_t>(d.Integer(0, 2000)), '0') +
                            d.Digits(d.Integer(3000, 6000)) + d.Exponent(-499, 499),
                        s};
     }},
    // Texts that are mostly not numbers: one place changed, the other separator, blanks only,
    // an exponent with a digit left over.
    {"DamagedTexts", 6000,
     [](Draw& d) {
       const char s = AnySeparator(d);
       switch (d.Integer(0, 4)) {
         case 0:
           return ParseCase{std::string(static_cast<std::size_t>(d.Integer(0, 3)), ' '), s};
         case 1:
           return ParseCase{d.Digits(d.Integer(1, 3)) + "e" + d.Pick<std::string>({"", "-", "+"}) +
                                d.Digits(d.Integer(3, 6)),
                            s};
         case 2:
           return ParseCase{NumberText(d, s == ',' ? '.' : ',', 6, -9, 9), s};
         default:
           return ParseCase{Mutate(d, NumberText(d, s, 8, -30, 30), s), s};
       }
     }},
};

class ParseAgainstReference : public ::testing::TestWithParam<ParseFamily> {};

TEST_P(ParseAgainstReference, ValueBitsOrErrorMatch) {
  const ParseFamily& family = GetParam();
  const std::uint64_t seed = reference::TestSeed();
  Draw draw(seed ^ NameHash(family.name));
  const int count = family.count;
  int failures = 0;
  for (int n = 0; n < count && failures < 5; ++n) {
    const ParseCase c = family.draw(draw);
    const ParseOutcome program = ParseWithProgram(c);
    const ParseOutcome expected = ParseWithReference(c);
    if (!(program == expected)) {
      ++failures;
      ADD_FAILURE() << reference::SeedNote(seed) << ", " << family.name << " case " << n
                    << "\n  text "
                    << (c.text.size() > 200 ? Quoted(c.text.substr(0, 200)) + "…" : Quoted(c.text))
                    << " (" << c.text.size() << " bytes), separator '" << c.separator << "'"
                    << "\n  program:   " << program.Describe()
                    << "\n  reference: " << expected.Describe();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Families, ParseAgainstReference, ::testing::ValuesIn(kParseFamilies),
                         [](const ::testing::TestParamInfo<ParseFamily>& row) {
                           return std::string(row.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// Formatting

struct FormatFamily {
  const char* name;
  int count;
  std::function<double(Draw&)> draw;
};

void PrintTo(const FormatFamily& family, std::ostream* os) { *os << family.name; }

// v moved by up to this many units in the last place, either way.
double Ulps(Draw& d, double v, int most) {
  const int steps = d.Integer(-most, most);
  for (int k = 0; k < std::abs(steps); ++k) {
    v = std::nextafter(v, steps > 0 ? HUGE_VAL : -HUGE_VAL);
  }
  return v;
}

// The Real nearest to a decimal text.
double FromText(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

double WithSign(Draw& d, double v) { return d.Chance(0.5) ? -v : v; }

const FormatFamily kFormatFamilies[] = {
    {"BitPatterns", 20000, [](Draw& d) { return std::bit_cast<double>(d.Bits()); }},
    {"Denormals", 3000,
     [](Draw& d) {
       const std::uint64_t fraction = d.Bits() >> d.Integer(12, 63);
       return WithSign(d, std::bit_cast<double>(fraction));
     }},
    {"RangeEnds", 2000,
     [](Draw& d) {
       const double end = d.Pick<double>({DBL_MAX, DBL_MIN, DBL_TRUE_MIN * 64});
       return WithSign(d, Ulps(d, end, 64));
     }},
    // Near 10^k and near the largest 15-digit value below it, where the form switches between
    // plain and E notation (E = −3/−4 and 15/16) and where the digits carry into a new decade.
    {"DecadeBoundaries", 8000,
     [](Draw& d) {
       const int k = d.Chance(0.5) ? d.Integer(-7, 18) : d.Integer(-323, 308);
       const std::string mantissa = d.Pick<std::string>(
           {"1", "9.99999999999999", "9.999999999999995", "9.9999999999999949999",
            "9.99999999999999500001", "9.9999999999999999"});
       return WithSign(d, Ulps(d, FromText(mantissa + "e" + std::to_string(k)), 8));
     }},
    // Values whose 16th digit sits at 5 or next to it: a 15-digit prefix followed by 5, 4999…
    // or 5000…, where the 16th-digit rule rounds differently from a rounding on all digits.
    {"SixteenthDigit", 8000,
     [](Draw& d) {
       const std::string tail = d.Pick<std::string>({"5", "4999", "49995", "5000", "50001", "4"});
       const std::string digits =
           std::string(1, static_cast<char>('1' + d.Integer(0, 8))) + d.Digits(14);
       const std::string text = digits.substr(0, 1) + "." + digits.substr(1) + tail + "e" +
                                std::to_string(d.Integer(-30, 30));
       return WithSign(d, Ulps(d, FromText(text), 3));
     }},
    // Exact decimal ties: M·2^-k with M odd has k more digits than M, the last a 5. Chosen to
    // have exactly 16 or 19 significant digits, they sit halfway at the 16th or the 18th digit.
    {"DecimalTies", 4000,
     [](Draw& d) {
       const bool at_eighteen = d.Chance(0.5);
       const int k = at_eighteen ? d.Integer(3, 9) : 1;
       const double digits = at_eighteen ? 19 : 16;
       // M·5^k must have the wanted number of digits: 10^(digits−1) ≤ M·5^k < 10^digits.
       const double low = std::ceil(std::pow(10.0, digits - 1) / std::pow(5.0, k));
       const double high =
           std::min(std::floor(std::pow(10.0, digits) / std::pow(5.0, k)) - 1, 0x1p53 - 1);
       const auto span = static_cast<std::uint64_t>(high - low);
       std::uint64_t m = static_cast<std::uint64_t>(low) + d.Bits() % (span + 1);
       m |= 1;
       return WithSign(d, std::ldexp(static_cast<double>(m), -k));
     }},
};

class FormatAgainstReference : public ::testing::TestWithParam<FormatFamily> {};

TEST_P(FormatAgainstReference, TextMatches) {
  const FormatFamily& family = GetParam();
  const std::uint64_t seed = reference::TestSeed();
  Draw draw(seed ^ NameHash(family.name));
  const int count = family.count;
  int failures = 0;
  for (int n = 0; n < count && failures < 5; ++n) {
    const double v = family.draw(draw);
    const char s = AnySeparator(draw);
    const std::string program = FormatNumber(v, s);
    const std::string expected = reference::FormatNumber(v, s);
    if (program != expected) {
      ++failures;
      ADD_FAILURE() << reference::SeedNote(seed) << ", " << family.name << " case " << n
                    << "\n  value " << Hex(v) << ", separator '" << s << "'"
                    << "\n  program:   " << program << "\n  reference: " << expected;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Families, FormatAgainstReference, ::testing::ValuesIn(kFormatFamilies),
                         [](const ::testing::TestParamInfo<FormatFamily>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
}  // namespace pitch
