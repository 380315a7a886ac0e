#include "study/json_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>

namespace pitch::study {
namespace {

struct NumberRow {
  const char* name;
  double value;
  const char* text;
};
void PrintTo(const NumberRow& row, std::ostream* os) { *os << row.name; }

class JsonNumberText : public ::testing::TestWithParam<NumberRow> {};

// Numbers are the shortest text that reads back to the same double, as the CSV writes them;
// nothing JSON cannot hold.
TEST_P(JsonNumberText, IsTheShortestRoundTrip) {
  EXPECT_EQ(JsonText(Json(GetParam().value)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonNumberText,
    ::testing::Values(NumberRow{"zero", 0.0, "0"}, NumberRow{"negative_zero", -0.0, "-0"},
                      NumberRow{"integral", 400.0, "400"}, NumberRow{"tenth", 0.1, "0.1"},
                      NumberRow{"pi_over_180", 0.017453292519943295, "0.017453292519943295"},
                      NumberRow{"large", 1e300, "1e+300"},
                      // Whole numbers from 1e17 on: the digits that read back, not all of them.
                      NumberRow{"large_whole", -3.6358950550731835e21, "-3.6358950550731835e+21"},
                      NumberRow{"whole_from_1e17", 123456789012345680.0, "1.2345678901234568e+17"},
                      NumberRow{"whole_below_1e17", 12345678901234568.0, "12345678901234568"},
                      NumberRow{"round_whole", 2e17, "2e+17"},
                      NumberRow{"small", -1.098522555161258e-305, "-1.098522555161258e-305"},
                      NumberRow{"infinity", std::numeric_limits<double>::infinity(), "null"},
                      NumberRow{"nan", std::numeric_limits<double>::quiet_NaN(), "null"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(JsonText, KeepsTheOrderOfMembersAndWritesCompactly) {
  const Json value = {{"z", {1.5, nullptr, true}}, {"a", {{"k", "v"}}}, {"m", Json::array()}};
  EXPECT_EQ(JsonText(value), R"({"z":[1.5,null,true],"a":{"k":"v"},"m":[]})");
}

TEST(JsonText, EscapesStrings) {
  EXPECT_EQ(JsonText(Json("'\"q\\' \n\t\x01")), R"("'\"q\\' \n\t\u0001")");
  EXPECT_EQ(JsonText(Json("Коэффициенты")), "\"Коэффициенты\"");
}

}  // namespace
}  // namespace pitch::study
