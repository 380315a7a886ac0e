// A study's failures: bad rows that become rows, usage errors, outputs and inputs that fail, and
// what the summary and the progress line say.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <sstream>
#include <streambuf>

#include "study/progress.h"
#include "study_test_support.h"

namespace pitch::study {
namespace {

using testing::Batch;
using testing::Lines;
using testing::Study;
using testing::Sweep;
using testing::With;

struct BadLine {
  const char* name;
  const char* line;
  const char* kind;
  const char* message;
  // The batch's delimiter: a batch separated by ';' or tabs has decimal commas, or --separator's
  // separator when one is given.
  char delimiter = ',';
  std::optional<char> separator = std::nullopt;
};

void PrintTo(const BadLine& row, std::ostream* os) { *os << row.name; }

// A line of a comma-separated batch in another delimiter, with decimal commas when it has them.
std::string InDelimiter(std::string line, char delimiter, char separator) {
  if (delimiter != ',') {
    for (char& c : line) {
      c = c == ',' ? delimiter : c == '.' ? separator : c;
    }
  }
  return line;
}

class StudyBadRows : public ::testing::TestWithParam<BadLine> {};

// A bad line becomes a row with an input error naming its line; the rows around it are computed.
TEST_P(StudyBadRows, BecomeInputErrorRowsAndTheRunGoesOn) {
  StudyOptions o;
  o.batch = "-";
  o.separator = GetParam().separator.value_or('.');
  o.separator_given = GetParam().separator.has_value();
  const char delimiter = GetParam().delimiter;
  const std::string good = InDelimiter("a,0.88,0.404,7.028,0.987,0.251,x\n", delimiter,
                                       GetParam().separator.value_or(','));
  const auto result = Study(o, InDelimiter("id,c1,c2,c3,c4,c5,note\n", delimiter, ',') + good +
                                   GetParam().line + "\n" + good);
  ASSERT_EQ(result.code, 0);
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 4u) << result.out;
  const std::string bad = lines[2];
  EXPECT_EQ(bad.rfind("1,", 0), 0u) << bad;
  EXPECT_NE(bad.find(std::string(",") + GetParam().kind + ",input," + GetParam().message),
            std::string::npos)
      << bad;
  EXPECT_EQ(lines[1].substr(lines[1].find(',')), lines[3].substr(lines[3].find(',')));
  EXPECT_EQ(lines[1].find(",EConvertError,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[3].find(",0.09200374246524264,"), std::string::npos);
  EXPECT_NE(result.err.find("input errors: 1\n"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("completed: 2\n"), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StudyBadRows,
    ::testing::Values(
        BadLine{"NotANumber", "b,0.88,x1,7.028,0.987,0.251,y", "EConvertError",
                "line 3: 'x1' is not a valid floating point value."},
        // A decimal comma in a comma-separated batch: --separator cannot help.
        BadLine{"CommaDecimal", "b,\"0,88\",0.404,7.028,0.987,0.251,y", "EConvertError",
                "\"line 3: '0,88' is not a valid floating point value. A batch "
                "separated by ',' has numbers with '.'; decimal commas need ';' or "
                "tabs between the fields.\""},
        // A ';' batch with full stops failed every row without a word why.
        BadLine{"FullStopInSemicolonBatch", "b;0.88;0,404;7,028;0,987;0,251;y", "EConvertError",
                "\"line 3: '0.88' is not a valid floating point value. The decimal "
                "separator is ',' (a batch separated by ';'); a number written with "
                "'.' needs --separator .\"",
                ';'},
        BadLine{"FullStopInTabBatch", "b\t0.88\t0,404\t7,028\t0,987\t0,251\ty", "EConvertError",
                "\"line 3: '0.88' is not a valid floating point value. The decimal "
                "separator is ',' (a batch separated by tabs); a number written "
                "with '.' needs --separator .\"",
                '\t'},
        BadLine{"CommaUnderSeparatorFullStop", "b;0,88;0.404;7.028;0.987;0.251;y", "EConvertError",
                "\"line 3: '0,88' is not a valid floating point value. The decimal "
                "separator is '.' (--separator); a number written with ',' needs "
                "--separator ,\"",
                ';', '.'},
        BadLine{"Empty", "b,0.88,,7.028,0.987,0.251,y", "EConvertError",
                "line 3: '' is not a valid floating point value."},
        // The overflow names its column.
        BadLine{"TooLarge", "b,0.88,0.404,7.028,0.987,-1e400,y", "EOverflow",
                "line 3: c5 '-1e400': Floating point overflow."},
        BadLine{"TooFewFields", "b,0.88,0.404", "EParserError",
                "line 3: 3 fields where the header has 7."},
        BadLine{"TooManyFields", "b,0.88,0.404,7.028,0.987,0.251,y,z", "EParserError",
                "line 3: 8 fields where the header has 7."},
        BadLine{"BrokenQuote", "b,\"0.88\"x,0.404,7.028,0.987,0.251,y", "EParserError",
                "line 3: text after the closing quote of a field."}),
    [](const auto& row) { return std::string(row.param.name); });

struct UsageRow {
  const char* name;
  StudyOptions options;
  const char* input;
  const char* message;
};

void PrintTo(const UsageRow& row, std::ostream* os) { *os << row.name; }

class StudyUsage : public ::testing::TestWithParam<UsageRow> {};

TEST_P(StudyUsage, EndsWithCodeTwoAndSaysWhy) {
  const auto result = Study(GetParam().options, GetParam().input,
                            [](const MapRequest&) { return std::string("picture"); });
  EXPECT_EQ(result.code, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Options, StudyUsage,
    ::testing::Values(
        UsageRow{"NeitherBatchNorSweep", StudyOptions{}, "", "either --batch"},
        UsageRow{"BothBatchAndSweep", With(Batch(), [](auto& o) { o.sweeps = {"c1=0:1:2"}; }), "",
                 "--batch and --sweep cannot be used together"},
        UsageRow{"BadSweep", Sweep({"c9=0:1:2"}), "", "NAME must be one of"},
        UsageRow{"FourFixedCoefficients",
                 With(Sweep({"c1=0:1:2"}),
                      [](auto& o) {
                        o.coefficients = {"1", "2", "3", "4"};
                      }),
                 "", "five coefficients"},
        UsageRow{"SamplesInCsv", With(Sweep({"c1=0:1:2"}), [](auto& o) { o.samples = true; }), "",
                 "--samples needs JSON Lines"},
        UsageRow{"ShardZero", With(Sweep({"c1=0:1:2"}), [](auto& o) { o.shard = "0/3"; }), "",
                 "1 <= K <= N"},
        UsageRow{"ShardBeyond", With(Sweep({"c1=0:1:2"}), [](auto& o) { o.shard = "4/3"; }), "",
                 "1 <= K <= N"},
        UsageRow{"ShardNotAFraction", With(Sweep({"c1=0:1:2"}), [](auto& o) { o.shard = "2"; }), "",
                 "K/N"},
        UsageRow{"BothAutopilots",
                 With(Sweep({"c1=0:1:2"}),
                      [](auto& o) {
                        o.autopilot = {"1", "2", "3"};
                        o.autopilot_from = {"1", "2", "3", "4", "5"};
                      }),
                 "", "cannot be used together"},
        UsageRow{"TwoRatios",
                 With(Sweep({"c1=0:1:2"}),
                      [](auto& o) {
                        o.autopilot = {"1", "2"};
                      }),
                 "", "three gear ratios"},
        UsageRow{"AutopilotThatCannotBeSynthesised",
                 With(Sweep({"c1=0:1:2"}),
                      [](auto& o) {
                        o.autopilot_from = {"0.88", "0.2", "7.028", "0.987", "0.251"};
                      }),
                 "", "the synthesis failed: Invalid floating point operation."},
        UsageRow{"MapOfOneCoefficient", With(Sweep({"c1=0:1:2"}), [](auto& o) { o.map = "m.png"; }),
                 "", "exactly two coefficients"},
        UsageRow{"MapOfAShard",
                 With(Sweep({"c1=0:1:2", "c2=0:1:2"}),
                      [](auto& o) {
                        o.map = "m.png";
                        o.shard = "1/2";
                      }),
                 "", "not a shard"},
        UsageRow{"UnknownMapValue",
                 With(Sweep({"c1=0:1:2", "c2=0:1:2"}),
                      [](auto& o) {
                        o.map = "m.png";
                        o.map_value = "damping";
                      }),
                 "", "--map-value damping"},
        // issue 19: a 2^31 x 2^31 map took 22 GB before the kernel ended it.
        UsageRow{"MapOfMoreCellsThanPixels",
                 With(Sweep({"c1=0:1:2147483648", "c2=0:1:2147483648"}),
                      [](auto& o) { o.map = "m.png"; }),
                 "", "at most 512 values along each axis"},
        UsageRow{"MapOneAxisTooLong",
                 With(Sweep({"c1=0:1:3", "c2=0:1:513"}), [](auto& o) { o.map = "m.png"; }), "",
                 "the sweep has 3 x 513"},
        UsageRow{"TooManyJobs", With(Sweep({"c1=0:1:2"}), [](auto& o) { o.jobs = 1000; }), "",
                 "--jobs 1000: at most 256 threads"},
        UsageRow{"EmptyBatch", Batch(), "", "no header line"},
        UsageRow{"HeaderWithoutC3", Batch(), "c1,c2,c4,c5\n", "names no column c3"},
        UsageRow{"HeaderWithC1Twice", Batch(), "c1,c2,c3,c4,c5,C1\n",
                 "names the column \"c1\" more than once"},
        UsageRow{"HeaderWithRepeatedColumns", Batch(), "id;c1;c2;c3;c4;c5;note;ID;Note \n",
                 "names columns \"id\", \"note\" more than once"}),
    [](const auto& row) { return std::string(row.param.name); });

// A stream that refuses every byte, as a closed pipe or a full disk does.
class RefusingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(StudyOutput, AnUnwritableOutputEndsWithCodeOneAndNoSummary) {
  StudyOptions o = Sweep({"c1=0.5:1.5:3000"});
  o.out = "/dev/full";
  auto result = Study(o);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.err, "pitch-autopilot-cli: --out /dev/full: I/O error 112.\n");

  o.out = "/nonexistent-folder/rows.csv";
  result = Study(o);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.err,
            "pitch-autopilot-cli: --out /nonexistent-folder/rows.csv: Invalid file name - "
            "/nonexistent-folder/rows.csv.\n");

  o.out.reset();
  RefusingBuffer refusing;
  std::ostream out(&refusing);
  std::istringstream in;
  std::ostringstream err;
  EXPECT_EQ(RunStudy(o, in, out, err), 1);
  EXPECT_EQ(err.str(), "pitch-autopilot-cli: the standard output: I/O error 29.\n");
  EXPECT_EQ(err.str().find("rows:"), std::string::npos);
}

TEST(StudyInput, AnUnreadableBatchEndsWithCodeOne) {
  StudyOptions o = Batch();
  o.batch = "/nonexistent-folder/sets.csv";
  const auto result = Study(o);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.err,
            "pitch-autopilot-cli: cannot read /nonexistent-folder/sets.csv: No such file or "
            "directory\n");
}

// The fixed coefficients of a sweep come from the command line, with its separator; the rows run
// through the grid with the last sweep fastest.
TEST(StudySummary, CountsRowsOutcomesAndDivergingIterations) {
  StudyOptions o = Batch();
  const auto result = Study(o,
                            "c1,c2,c3,c4,c5\n"
                            "0.88,0.404,7.028,0.987,0.251\n"
                            "0.88,0.2,7.028,0.987,0.251\n"
                            "0.88,0.404,0,0.987,0.251\n"
                            "400,0.404,7.028,0.987,0.251\n"
                            "x,0.404,7.028,0.987,0.251\n");
  ASSERT_EQ(result.code, 0);
  EXPECT_EQ(result.err,
            "rows: 5\n"
            "completed: 1\n"
            "failed syntheses: 2\n"
            "  1  Floating point division by zero.\n"
            "  1  Invalid floating point operation.\n"
            "failed simulations: 1\n"
            "  1  Floating point overflow.\n"
            "input errors: 1\n"
            "diverging Euler iterations: 1\n");
}

TEST(StudyProgress, LineShowsRowsRateAndTimeLeft) {
  EXPECT_EQ(ProgressLine::Text(2500, 10000, 2.0),
            "2500 of 10000 rows (25 %), 1250 rows/s, 0:06 left");
  EXPECT_EQ(ProgressLine::Text(90, std::nullopt, 3.0), "90 rows, 30 rows/s");
  EXPECT_EQ(ProgressLine::Text(1, 7201, 1.0), "1 of 7201 rows (0 %), 1 rows/s, 2:00:00 left");
  // Off: nothing but the summary on err.
  const auto quiet = Study(Sweep({"c1=0.5:1.5:5"}));
  EXPECT_EQ(quiet.err.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace pitch::study
