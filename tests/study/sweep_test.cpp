#include "study/sweep.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <string>

namespace pitch::study {
namespace {

std::string Hex(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

TEST(SweepAxis, ValuesFollowTheStatedFormula) {
  const SweepAxis axis = ParseSweep("c2=0.1:0.7:13", '.');
  EXPECT_EQ(axis.coefficient, 1);
  ASSERT_EQ(axis.count, 13);
  EXPECT_EQ(axis.Value(0), 0.1);
  EXPECT_EQ(axis.Value(12), 0.7);
  for (std::int64_t i = 1; i < 12; ++i) {
    // FROM + i·(TO − FROM)/(COUNT − 1) in extended precision, rounded once.
    const long double from = 0.1;
    const long double to = 0.7;
    const auto expected =
        static_cast<double>(from + static_cast<long double>(i) * (to - from) / 12.0L);
    EXPECT_EQ(Hex(axis.Value(i)), Hex(expected)) << "i = " << i;
  }
  // Tenths come out as the doubles nearest to them.
  const SweepAxis tenths = ParseSweep("c4=0:1:11", '.');
  EXPECT_EQ(tenths.Value(3), 0.3);
  EXPECT_EQ(tenths.Value(7), 0.7);
  // Falling sweeps and single values.
  const SweepAxis down = ParseSweep("C5=1:-1:5", '.');
  EXPECT_EQ(down.coefficient, 4);
  EXPECT_EQ(down.Value(1), 0.5);
  EXPECT_EQ(down.Value(2), 0.0);
  EXPECT_EQ(down.Value(4), -1.0);
  EXPECT_EQ(ParseSweep("c1=3:9:1", '.').Value(0), 3.0);
  // The command line's separator.
  EXPECT_EQ(ParseSweep("c3=0,5:1,5:3", ',').Value(1), 1.0);
}

// The first value is FROM and the last TO, exactly, also where the formula's rounding would miss
// TO: for c1=-3.7:1e-5:11 it gives 1.0000000000000026e-05.
TEST(SweepAxis, EndPointsAreFromAndToExactly) {
  const long double from = -3.7;
  const long double to = 1e-5;
  EXPECT_NE(Hex(static_cast<double>(from + 10.0L * (to - from) / 10.0L)), Hex(1e-5));
  for (const char* text : {"c1=-3.7:1e-5:11", "c2=0.1:0.7:7", "c3=1e-300:-7.028:3",
                           "c4=0.987:0.9870000000000001:1000", "c5=-0.251:12.3456789:99991"}) {
    const SweepAxis axis = ParseSweep(text, '.');
    const std::string s(text);
    const std::size_t colon = s.find(':');
    const auto number = [](const std::string& t) {
      double v = 0;
      std::from_chars(t.data(), t.data() + t.size(), v);
      return v;
    };
    const double first = number(s.substr(3, colon - 3));
    const double last = number(s.substr(colon + 1, s.rfind(':') - colon - 1));
    EXPECT_EQ(Hex(axis.Value(0)), Hex(first)) << text;
    EXPECT_EQ(Hex(axis.Value(axis.count - 1)), Hex(last)) << text;
  }
}

struct BadSweepRow {
  const char* name;
  const char* text;
};

void PrintTo(const BadSweepRow& row, std::ostream* os) { *os << row.text; }

class BadSweep : public ::testing::TestWithParam<BadSweepRow> {};

TEST_P(BadSweep, IsAUsageError) { EXPECT_THROW(ParseSweep(GetParam().text, '.'), EUsageError); }

INSTANTIATE_TEST_SUITE_P(
    Texts, BadSweep,
    ::testing::Values(
        BadSweepRow{"NoRange", "c1"}, BadSweepRow{"NoSuchCoefficient", "c6=0:1:2"},
        BadSweepRow{"NotACoefficient", "x1=0:1:2"}, BadSweepRow{"NoCount", "c1=0:1"},
        BadSweepRow{"FourParts", "c1=0:1:2:3"}, BadSweepRow{"FirstNotANumber", "c1=a:1:2"},
        BadSweepRow{"ZeroPoints", "c1=0:1:0"}, BadSweepRow{"NegativeCount", "c1=0:1:-2"},
        BadSweepRow{"FractionalCount", "c1=0:1:2.5"}, BadSweepRow{"OtherSeparator", "c1=0,5:1:2"},
        BadSweepRow{"BeyondDouble", "c1=1e5000:1:2"}, BadSweepRow{"TwoDigitIndex", "c12=0:1:2"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SweepGrid, LastAxisVariesFastestOthersFixed) {
  const std::array<Real, 5> fixed = {10, 20, 30, 40, 50};
  const SweepGrid grid({ParseSweep("c3=0:1:3", '.'), ParseSweep("c1=5:6:2", '.')}, fixed);
  ASSERT_EQ(grid.size(), 6);
  const std::array<std::array<Real, 5>, 6> expected = {{{5, 20, 0, 40, 50},
                                                        {6, 20, 0, 40, 50},
                                                        {5, 20, 0.5, 40, 50},
                                                        {6, 20, 0.5, 40, 50},
                                                        {5, 20, 1, 40, 50},
                                                        {6, 20, 1, 40, 50}}};
  for (std::int64_t row = 0; row < grid.size(); ++row) {
    EXPECT_EQ(grid.Coefficients(row), expected[static_cast<std::size_t>(row)]) << row;
  }
  EXPECT_EQ(grid.Indices(3), (std::vector<std::int64_t>{1, 1}));
}

TEST(SweepGrid, RefusesARepeatedCoefficientAndAnOversizedGrid) {
  const std::array<Real, 5> fixed{};
  EXPECT_THROW(SweepGrid({ParseSweep("c1=0:1:2", '.'), ParseSweep("c1=0:1:3", '.')}, fixed),
               EUsageError);
  EXPECT_THROW(
      SweepGrid({ParseSweep("c1=0:1:4000000000", '.'), ParseSweep("c2=0:1:4000000000", '.')},
                fixed),
      EUsageError);
}

}  // namespace
}  // namespace pitch::study
