#include "storage/exports.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace pitch {
namespace {

// One CSV export: the columns as handed in and the text expected. The columns are vectors of
// their own length, so that a read past the end of one is a read past its allocation.
struct CsvRow {
  const char* name;
  std::vector<double> t;
  std::vector<double> h;
  std::vector<double> exact;
  const char* csv;
};

void PrintTo(const CsvRow& row, std::ostream* os) { *os << row.name; }

class ResponseCsvTable : public ::testing::TestWithParam<CsvRow> {};

TEST_P(ResponseCsvTable, WritesOneRowPerSample) {
  const CsvRow& row = GetParam();
  EXPECT_EQ(ResponseCsv(row.t, row.h, row.exact), row.csv);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResponseCsvTable,
    ::testing::Values(
        CsvRow{"TimeAndResponse",
               {0, 0.01, 0.02},
               {0.017453292519943295, 0, 0.00019080315776825012},
               {},
               "t,h\n0,0.017453292519943295\n0.01,0\n0.02,0.00019080315776825012\n"},
        CsvRow{"ShortestDecimalsAndSigns", {9.99}, {-1.0985e305}, {}, "t,h\n9.99,-1.0985e+305\n"},
        CsvRow{"WithTheExactColumn",
               {0, 0.01},
               {0.017453292519943295, 0},
               {0, 0.0125},
               "t,h,exact\n0,0.017453292519943295,0\n0.01,0,0.0125\n"},
        // The exact response ends early (it overflowed): the rows past its end keep their time
        // and response, with an empty exact cell.
        CsvRow{"ExactColumnShorterThanTime",
               {0, 0.01, 0.02},
               {0.017453292519943295, 0, 0.5},
               {-0.0},
               "t,h,exact\n0,0.017453292519943295,-0\n0.01,0,\n0.02,0.5,\n"},
        CsvRow{"ResponseShorterThanTime", {0, 0.01, 0.02}, {1, 2}, {}, "t,h\n0,1\n0.01,2\n"}),
    [](const ::testing::TestParamInfo<CsvRow>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch
