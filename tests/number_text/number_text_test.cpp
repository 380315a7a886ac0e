#include "number_text/number_text.h"

#include <gtest/gtest.h>
#include <langinfo.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <tuple>

#include "common/generated_locale.h"

namespace pitch {
namespace {

// Texts of the tables are written with a comma; for the full stop they are translated.
std::string WithSeparator(std::string text, char separator) {
  if (separator == '.') {
    for (char& ch : text) {
      if (ch == ',') {
        ch = '.';
      }
    }
  }
  return text;
}

// "%La": a long double that can be pasted back into a test.
std::string Hex(Extended v) {
  char text[48];
  std::snprintf(text, sizeof text, "%La", v);
  return text;
}

std::string SeparatorName(char separator) { return separator == ',' ? "Comma" : "FullStop"; }

// Each table runs with both separators: a row's name, then the separator's.
template <typename Row>
class BySeparator : public ::testing::TestWithParam<std::tuple<Row, char>> {
 protected:
  const Row& row() const { return std::get<0>(this->GetParam()); }
  char separator() const { return std::get<1>(this->GetParam()); }
};

template <typename Row>
std::string RowAndSeparator(const ::testing::TestParamInfo<std::tuple<Row, char>>& info) {
  return std::string(std::get<0>(info.param).name) + "_" + SeparatorName(std::get<1>(info.param));
}

template <typename Row, std::size_t N>
auto EachRowWithBothSeparators(const Row (&rows)[N]) {
  return ::testing::Combine(::testing::ValuesIn(rows), ::testing::Values(',', '.'));
}

struct AcceptedRow {
  const char* name;
  const char* text;
  Extended value;
};

void PrintTo(const AcceptedRow& row, std::ostream* os) { *os << row.name; }

const AcceptedRow kAcceptedRows[] = {
    {"TrailingZero", "0,880", 0.88L},
    {"SeparatorFirst", ",5", 0.5L},
    {"SeparatorLast", "1,", 1.0L},
    {"SeparatorAlone", ",", 0.0L},
    {"MinusSeparatorIsNegativeZero", "-,", -0.0L},
    {"PlusSign", "+5", 5.0L},
    {"BlanksAround", " 12 ", 12.0L},
    {"UpperCaseExponent", "1,5E3", 1500.0L},
    {"LowerCaseExponent", "1,5e3", 1500.0L},
    {"NegativeExponent", "2E-2", 0.02L},
    {"ExponentWithoutDigits", "1e", 1.0L},
    {"ExponentSignWithoutDigits", "1e+", 1.0L},
    {"NegativeNumber", "-2,5", -2.5L},
    {"LeadingZeros", "007", 7.0L},
    {"ExponentMinusZero", "1e-0", 1.0L},
    {"BlanksSignAndExponent", "  -0,25e+1", -2.5L},
};

class AcceptedTexts : public BySeparator<AcceptedRow> {};

TEST_P(AcceptedTexts, GiveTheirValue) {
  const std::string text = WithSeparator(row().text, separator());
  const Extended value = ParseNumber(text, separator());
  EXPECT_EQ(value, row().value) << text << " gives " << Hex(value);
  EXPECT_EQ(std::signbit(value), std::signbit(row().value)) << text << " gives " << Hex(value);
}

INSTANTIATE_TEST_SUITE_P(Table, AcceptedTexts, EachRowWithBothSeparators(kAcceptedRows),
                         RowAndSeparator<AcceptedRow>);

struct RejectedRow {
  const char* name;
  const char* text;
};

void PrintTo(const RejectedRow& row, std::ostream* os) { *os << row.name; }

const RejectedRow kRejectedRows[] = {
    {"TabBefore", "\t12"},
    {"BlankBeforeExponentDigits", "1e 5"},
    {"BlankBeforeExponent", "1 e5"},
    {"Empty", ""},
    {"BlanksOnly", "   "},
    {"GroupSeparator", "1 000"},
    {"BlankAfterSign", "- 5"},
    {"TrailingSign", "5-"},
    {"SecondSeparator", "1,2,3"},
    {"Hexadecimal", "0x10"},
    {"ExponentDigitLeftOver", "1e5000"},
    {"BeyondTheExtendedRange", "1e4999"},
    {"Infinity", "INF"},
    {"NotANumber", "NAN"},
    {"PlusAlone", "+"},
    {"MinusAlone", "-"},
    {"ExponentWithoutMantissa", "e5"},
    {"TrailingLetter", "1,5 x"},
    {"ArabicIndicDigit", "١"},
    {"FullWidthDigit", "０"},
    {"NoBreakSpaceAfter", "1,5\xC2\xA0"},
    {"CyrillicLetterAfter", "5\xD0\x9E"},
};

class RejectedTexts : public BySeparator<RejectedRow> {};

TEST_P(RejectedTexts, QuoteTheWholeText) {
  const std::string text = WithSeparator(row().text, separator());
  try {
    const Extended value = ParseNumber(text, separator());
    ADD_FAILURE() << "accepted '" << text << "' as " << Hex(value);
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid floating point value");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, RejectedTexts, EachRowWithBothSeparators(kRejectedRows),
                         RowAndSeparator<RejectedRow>);

TEST(ParseNumber, TheOtherSeparatorIsNotAccepted) {
  EXPECT_THROW(ParseNumber("1.5", ','), EConvertError);
  EXPECT_EQ(ParseNumber("1.5", '.'), 1.5L);
  EXPECT_THROW(ParseNumber("1,5", '.'), EConvertError);
}

TEST(ParseNumber, ExtendedRangeIsAcceptedAndTheStoreDecides) {
  EXPECT_THROW(fp::Store(ParseNumber("1e500", ',')), EOverflow);
  EXPECT_THROW(fp::Store(ParseNumber("1e0500", ',')), EOverflow);
  EXPECT_THROW(fp::Store(ParseNumber("-1e309", ',')), EOverflow);
  EXPECT_EQ(fp::Store(ParseNumber("1e-400", ',')), 0.0);
  EXPECT_EQ(fp::Store(ParseNumber("1,7976931348623157e308", ',')), DBL_MAX);
  EXPECT_EQ(fp::Store(ParseNumber("4,9406564584124654e-324", ',')),
            std::numeric_limits<double>::denorm_min());
}

TEST(ParseNumber, DigitsAccumulateInExtendedPrecision) {
  // Coefficients as typed reach the Reals nearest to their decimal values.
  EXPECT_EQ(fp::Store(ParseNumber("0,1", ',')), 0.1);
  EXPECT_EQ(fp::Store(ParseNumber("7,028", ',')), 7.028);
  EXPECT_EQ(fp::Store(ParseNumber("-0,251", ',')), -0.251);
  // Twenty digits: the accumulator rounds once the 64-bit significand is full.
  EXPECT_EQ(ParseNumber("12345678901234567890", ','), 12345678901234567890.0L);
  // Below 2^64 the digits add up exactly; from there on each step m·10 + d rounds, whole or
  // fraction digits alike.
  for (const std::string digits : {"18446744073709551615", "18446744073709551616999",
                                   "99999999999999999999999", "98765432109876543210987654321"}) {
    Extended m = 0;
    for (const char c : digits) {
      m = m * 10;
      m = m + (c - '0');
    }
    EXPECT_EQ(ParseNumber(digits, ','), m) << digits;
    EXPECT_EQ(ParseNumber(digits.substr(0, 3) + "," + digits.substr(3) + "e" +
                              std::to_string(digits.size() - 3),
                          ','),
              m)
        << digits;
  }
  // Thousands of digits overflow the extended range of the accumulator.
  EXPECT_THROW(ParseNumber(std::string(5000, '9'), ','), EConvertError);
  // Thousands of fraction digits only scale the value down.
  EXPECT_EQ(fp::Store(ParseNumber("0," + std::string(6000, '0') + "1", ',')), 0.0);
  EXPECT_NEAR(fp::Store(ParseNumber("1," + std::string(4000, '0'), ',')), 1.0, 1e-12);
  // Scaled by more than 10^5120 at once, the value still comes out right.
  const Extended tiny =
      ParseNumber("0," + std::string(1200, '0') + "1" + std::string(4000, '0'), ',');
  EXPECT_LT(std::fabs(std::log10(tiny) + 1201.0L), 1e-9L);
}

struct FormattedRow {
  const char* name;
  Extended value;
  const char* text;
};

void PrintTo(const FormattedRow& row, std::ostream* os) { *os << row.name; }

const FormattedRow kFormattedRows[] = {
    {"Zero", 0.0L, "0"},
    {"NegativeZero", -0.0L, "0"},
    {"TrailingZerosDropped", 0.88, "0,88"},
    {"OneTenth", 0.1, "0,1"},
    {"OneThird", 1.0 / 3.0, "0,333333333333333"},
    {"TwoThirdsRoundsUp", 2.0 / 3.0, "0,666666666666667"},
    {"Negative", -2.5, "-2,5"},
    {"Hundred", 100, "100"},
    {"TenToThe14", 1e14, "100000000000000"},
    {"FifteenNines", 999999999999999.0, "999999999999999"},
    {"TenToThe15", 1e15, "1E15"},
    {"SixteenDigits", 1234567890123456.0, "1,23456789012346E15"},
    {"TenToTheMinus4", 0.0001, "0,0001"},
    {"ZerosThenDigits", 0.00012345, "0,00012345"},
    {"TenToTheMinus5", 0.00001, "1E-5"},
    {"SmallWithSeparator", 1.5e-7, "1,5E-7"},
    {"TenToThe100", 1e100, "1E100"},
    // Rounded up, the largest Reals' 15 digits would read back beyond the largest Real: cut.
    {"LargestReal", DBL_MAX, "1,79769313486231E308"},
    {"NegativeLargestReal", -DBL_MAX, "-1,79769313486231E308"},
    {"LeastRealCut", 0x1.ffffffffffffcp+1023, "1,79769313486231E308"},  // 1,797693134862315…
    {"RoundedUpBelowTheCut", 0x1.fffffffffffe1p+1023, "1,79769313486231E308"},  // …230972…
    // An extended value that a Real cannot hold keeps its rounded text.
    {"ExtendedPastTheLargestReal", 0x1.fffffffffffff8p+1023L, "1,79769313486232E308"},
    {"SmallestDenormalReal", std::numeric_limits<double>::denorm_min(), "4,94065645841247E-324"},
    {"CarryToOne", 0.9999999999999999, "1"},
    {"CarryToANewDecade", -99999.99999999999, "-100000"},
    {"StartUpMuv", 0.0920037424652426, "0,0920037424652426"},
    {"StartUpTnu", 11.257458065968706, "11,2574580659687"},
    {"NotANumber", std::numeric_limits<Extended>::quiet_NaN(), "NAN"},
    {"Infinity", std::numeric_limits<Extended>::infinity(), "INF"},
    {"NegativeInfinity", -std::numeric_limits<Extended>::infinity(), "-INF"},
    {"ExtendedDenormal", std::numeric_limits<Extended>::denorm_min(), "0"},
};

class FormattedValues : public BySeparator<FormattedRow> {};

TEST_P(FormattedValues, GiveTheirText) {
  EXPECT_EQ(FormatNumber(row().value, separator()), WithSeparator(row().text, separator()))
      << Hex(row().value);
}

INSTANTIATE_TEST_SUITE_P(Table, FormattedValues, EachRowWithBothSeparators(kFormattedRows),
                         RowAndSeparator<FormattedRow>);

// The rounded numbers of the charts, the margins and the report (issue 27: one value once read
// "1,5E-7" in one place and "1,5e-07" in another, "1,02626e+293" beside "1,026E293").
struct SignificantRow {
  const char* name;
  double value;
  int digits;
  const char* text;
};

void PrintTo(const SignificantRow& row, std::ostream* os) { *os << row.name; }

const SignificantRow kSignificantRows[] = {
    {"Zero", 0.0, 4, "0"},
    {"NegativeZero", -0.0, 6, "0"},
    {"RoundedToFour", 6.020599913279624, 4, "6,021"},
    {"RoundedToSix", 6.020599913279624, 6, "6,0206"},
    {"TrailingZerosDropped", 2.0000001, 6, "2"},
    {"Negative", -180.25, 4, "-180,2"},  // a tie rounds to even
    {"CarryToANewDecade", 9.99996, 5, "10"},
    {"PlainUpToTheDigits", 9999, 4, "9999"},
    {"ExponentFromTheDigits", 10000, 4, "1E4"},
    {"RoundedUpIntoTheExponent", 99995, 4, "1E5"},
    {"SixDigitsStayPlain", 123456.4, 6, "123456"},
    {"TenToTheMinus4", 0.0001, 4, "0,0001"},
    {"ZerosThenDigits", 0.00012345, 3, "0,000123"},
    {"TenToTheMinus5", 0.00001, 4, "1E-5"},
    {"SmallWithSeparator", 1.5e-7, 6, "1,5E-7"},
    {"Huge", 1.0262583e293, 4, "1,026E293"},
    {"HugeToSix", 1.0262583e293, 6, "1,02626E293"},
    {"OneDigit", 0.45, 1, "0,5"},
    {"DigitsBelowOneTakeOne", 0.45, 0, "0,5"},
    {"LargestDouble", DBL_MAX, 17, "1,7976931348623157E308"},
    {"SmallestDenormal", std::numeric_limits<double>::denorm_min(), 4, "4,941E-324"},
    {"NotANumber", std::numeric_limits<double>::quiet_NaN(), 4, "NAN"},
    {"Infinity", std::numeric_limits<double>::infinity(), 4, "INF"},
    {"NegativeInfinity", -std::numeric_limits<double>::infinity(), 4, "-INF"},
};

class SignificantValues : public BySeparator<SignificantRow> {};

TEST_P(SignificantValues, GiveTheirText) {
  EXPECT_EQ(FormatSignificant(row().value, row().digits, separator()),
            WithSeparator(row().text, separator()))
      << Hex(row().value);
}

INSTANTIATE_TEST_SUITE_P(Table, SignificantValues, EachRowWithBothSeparators(kSignificantRows),
                         RowAndSeparator<SignificantRow>);

// With fifteen digits the rounded text is the result boxes' text for every double the boxes show.
TEST(FormatSignificant, FifteenDigitsWriteAsTheResultBoxes) {
  for (const double v : {0.88, 1.0 / 3.0, 1e14, 1e15, 1.5e-7, 0.0920037424652426,
                         -99999.99999999999, 11.257458065968706, 1234567890123456.0}) {
    EXPECT_EQ(FormatSignificant(v, 15, ','), FormatNumber(v, ',')) << Hex(v);
  }
}

TEST(FormatNumber, LongestTextHas23Characters) {
  EXPECT_EQ(FormatNumber(-1.23456789012345e-100, ','), "-1,23456789012345E-100");
  EXPECT_EQ(FormatNumber(-1.2345678901234567e-300L, ',').size(), 22u);
  EXPECT_EQ(FormatNumber(-1.2345678901234567e-3000L, ',').size(), 23u);
}

TEST(FormatNumber, TextReadsBackToTheSameText) {
  for (const double v :
       {0.88, 0.404, 7.028, 1e-310, 123456.789, -9.87654321e-5, 3.0e200, DBL_MAX, -DBL_MAX}) {
    const std::string text = FormatNumber(v, ',');
    EXPECT_EQ(FormatNumber(fp::Store(ParseNumber(text, ',')), ','), text) << text;
  }
}

// The window and the renderer run under the user's locale (Qt sets the C library's to it): the
// number text is the same under ps_AF.UTF-8, whose decimal point is a two-byte character (U+066B).
TEST(NumberText, IgnoresTheCLibrarysLocale) {
  testing::GeneratedLocales locales;
  const std::string problem = locales.Build("ps_AF", "UTF-8", "ps_AF.UTF-8");
  if (!problem.empty()) {
    GTEST_SKIP() << problem;
  }
  const std::string before = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, "ps_AF.UTF-8"), nullptr);
  const std::string radix = nl_langinfo(RADIXCHAR);
  for (const char separator : {',', '.'}) {
    for (const FormattedRow& row : kFormattedRows) {
      EXPECT_EQ(FormatNumber(row.value, separator), WithSeparator(row.text, separator)) << row.name;
    }
    for (const SignificantRow& row : kSignificantRows) {
      EXPECT_EQ(FormatSignificant(row.value, row.digits, separator),
                WithSeparator(row.text, separator))
          << row.name;
    }
    for (const AcceptedRow& row : kAcceptedRows) {
      const std::string text = WithSeparator(row.text, separator);
      EXPECT_EQ(Hex(ParseNumber(text, separator)), Hex(row.value)) << text;
    }
  }
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_EQ(radix, "\u066B") << "the locale's decimal point, under which the cases above ran";
}

}  // namespace
}  // namespace pitch
