#include "number_text/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

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

class BySeparator : public ::testing::TestWithParam<char> {};

INSTANTIATE_TEST_SUITE_P(Separators, BySeparator, ::testing::Values(',', '.'),
                         [](const ::testing::TestParamInfo<char>& info) {
                           return info.param == ',' ? std::string("Comma")
                                                    : std::string("FullStop");
                         });

TEST_P(BySeparator, AcceptedTexts) {
  const char s = GetParam();
  struct Row {
    const char* text;
    Extended value;
  };
  const Row rows[] = {
      {"0,880", 0.88L}, {",5", 0.5L},    {"1,", 1.0L},          {",", 0.0L},
      {"+5", 5.0L},     {" 12 ", 12.0L}, {"1,5E3", 1500.0L},    {"1,5e3", 1500.0L},
      {"2E-2", 0.02L},  {"1e", 1.0L},    {"1e+", 1.0L},         {"-2,5", -2.5L},
      {"007", 7.0L},    {"1e-0", 1.0L},  {"  -0,25e+1", -2.5L},
  };
  for (const Row& row : rows) {
    const std::string text = WithSeparator(row.text, s);
    EXPECT_EQ(ParseNumber(text, s), row.value) << text;
  }
  const Extended negative_zero = ParseNumber(WithSeparator("-,", s), s);
  EXPECT_EQ(negative_zero, 0);
  EXPECT_TRUE(std::signbit(negative_zero));
}

TEST_P(BySeparator, RejectedTextsQuoteTheWholeText) {
  const char s = GetParam();
  const char* const rows[] = {
      "\t12",  "1e 5",  "1 e5",   "",       "   ",         "1 000",     "- 5", "5-",
      "1,2,3", "0x10",  "1e5000", "1e4999", "INF",         "NAN",       "+",   "-",
      "e5",    "1,5 x", "١",      "０",     "1,5\xC2\xA0", "5\xD0\x9E",
  };
  for (const char* row : rows) {
    const std::string text = WithSeparator(row, s);
    try {
      ParseNumber(text, s);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid floating point value");
    }
  }
}

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
  // Thousands of digits overflow the extended range of the accumulator.
  EXPECT_THROW(ParseNumber(std::string(5000, '9'), ','), EConvertError);
  // Thousands of fraction digits only scale the value down.
  EXPECT_EQ(fp::Store(ParseNumber("0," + std::string(6000, '0') + "1", ',')), 0.0);
  EXPECT_NEAR(fp::Store(ParseNumber("1," + std::string(4000, '0'), ',')), 1.0, 1e-12);
  // Scaled by more than 10^5120 at once, the value still comes out right.
  const Extended tiny =
      ParseNumber("0," + std::string(1200, '0') + "1" + std::string(4000, '0'), ',');
  EXPECT_NEAR(std::log10(tiny), -1201.0L, 1e-9L);
}

TEST_P(BySeparator, FormattedValues) {
  const char s = GetParam();
  struct Row {
    Extended value;
    const char* text;
  };
  const Row rows[] = {
      {0.0L, "0"},
      {-0.0L, "0"},
      {0.88, "0,88"},
      {0.1, "0,1"},
      {1.0 / 3.0, "0,333333333333333"},
      {2.0 / 3.0, "0,666666666666667"},
      {-2.5, "-2,5"},
      {100, "100"},
      {1e14, "100000000000000"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1E15"},
      {1234567890123456.0, "1,23456789012346E15"},
      {0.0001, "0,0001"},
      {0.00012345, "0,00012345"},
      {0.00001, "1E-5"},
      {1.5e-7, "1,5E-7"},
      {1e100, "1E100"},
      {DBL_MAX, "1,79769313486232E308"},
      {std::numeric_limits<double>::denorm_min(), "4,94065645841247E-324"},
      {0.9999999999999999, "1"},
      {-99999.99999999999, "-100000"},
      {0.0920037424652426, "0,0920037424652426"},
      {11.257458065968706, "11,2574580659687"},
      {std::numeric_limits<Extended>::quiet_NaN(), "NAN"},
      {std::numeric_limits<Extended>::infinity(), "INF"},
      {-std::numeric_limits<Extended>::infinity(), "-INF"},
      {std::numeric_limits<Extended>::denorm_min(), "0"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatNumber(row.value, s), WithSeparator(row.text, s)) << row.text;
  }
}

TEST(FormatNumber, LongestTextHas23Characters) {
  EXPECT_EQ(FormatNumber(-1.23456789012345e-100, ','), "-1,23456789012345E-100");
  EXPECT_EQ(FormatNumber(-1.2345678901234567e-300L, ',').size(), 22u);
  EXPECT_EQ(FormatNumber(-1.2345678901234567e-3000L, ',').size(), 23u);
}

TEST(FormatNumber, TextReadsBackToTheSameText) {
  for (const double v : {0.88, 0.404, 7.028, 1e-310, 123456.789, -9.87654321e-5, 3.0e200}) {
    const std::string text = FormatNumber(v, ',');
    EXPECT_EQ(FormatNumber(fp::Store(ParseNumber(text, ',')), ','), text) << text;
  }
}

}  // namespace
}  // namespace pitch
