// pitch-autopilot-cli --robust in-process: the answer as text and JSON, and every bad input a
// one-line usage error.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run.h"
#include "core/model.h"
#include "picture/request.h"

namespace pitch {
namespace {

const NumberSettings kSettings{'.', "UTF-8"};

struct Result {
  int code = 0;
  std::string out;
  std::string err;
};

Result Call(const std::vector<std::string>& args, const NumberSettings& settings = kSettings) {
  std::ostringstream out;
  std::ostringstream err;
  Result r;
  r.code = cli::Run(args, settings, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

const std::vector<std::string> kTwentyPercent = {
    "--robust", "c1=0.704:1.056",   "--robust", "c2=0.3232:0.4848", "--robust", "c3=5.6224:8.4336",
    "--robust", "c4=0.7896:1.1844", "--robust", "c5=0.2008:0.3012"};

TEST(RobustCommand, JsonHoldsEveryFigure) {
  std::vector<std::string> args = kTwentyPercent;
  args.push_back("--json");
  const Result r = Call(args);
  ASSERT_EQ(r.code, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["box"]["c3"]["lo"], 5.6224);
  EXPECT_EQ(j["ratios"]["source"], "synthesised at the nominal set");
  for (const char* loop : {"continuous", "euler"}) {
    EXPECT_EQ(j[loop]["verdict"], "stable") << loop;
    EXPECT_EQ(j[loop]["stable"], true);
    EXPECT_TRUE(j[loop]["destabilising_set"].is_null());
    const double lo = j[loop]["rho"]["lo"];
    const double hi = j[loop]["rho"]["hi"];
    EXPECT_LE(hi / lo - 1, 1e-9);
    EXPECT_EQ(j[loop]["rho"]["set"].size(), 5u);
  }
  EXPECT_TRUE(j["least_gain_margin"]["up"]["unbounded"]);
  EXPECT_FALSE(j["interrupted"]);
}

TEST(RobustCommand, TextWithTheLocalesSeparatorAndATolerance) {
  const Result r = Call({"--robust", "c2=-3:0,5", "--tolerance", "1e-3", "--no-margins"},
                        NumberSettings{',', "UTF-8"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("c2 in [-3, 0,5]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("not stable for every set: c1 = 0,88, c2 = -3,"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Euler iteration (step 0,01 s)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("destabilising set at hi: c1 = 0,88"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("least gain margin"), std::string::npos);
}

TEST(RobustCommand, UnstableNominalSetSaysTheMarginIsZero) {
  const Result r = Call({"--robust", "c1=0.5:1", "--autopilot", "0", "0", "0"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("the nominal set is not stable: the robust stability margin is 0"),
            std::string::npos)
      << r.out;
}

// The region map's request travels to the renderer and back whole.
TEST(RobustCommand, RegionMapRequestRoundTrip) {
  picture::RobustMapPicture p;
  p.x_name = "c1";
  p.y_name = "c3";
  p.x_edges = {0, 0.5, 1};
  p.y_edges = {2, 3};
  p.cells = {1, 3};
  p.points = {0.25, 2.5, 1, 3};
  p.point_names = {"nominal", "worst"};
  picture::Request request;
  request.content = p;
  const picture::Request back = picture::DecodeRequest(picture::EncodeRequest(request));
  const auto& q = std::get<picture::RobustMapPicture>(back.content);
  EXPECT_EQ(q.x_edges, p.x_edges);
  EXPECT_EQ(q.cells, p.cells);
  EXPECT_EQ(q.points, p.points);
  EXPECT_EQ(q.point_names, p.point_names);
  EXPECT_EQ(picture::SubjectOf(back), "The region map");
  p.cells.push_back(0);  // three cells on a 2 x 1 grid
  request.content = p;
  EXPECT_THROW(picture::DecodeRequest(picture::EncodeRequest(request)), EPlotError);
}

struct BadInput {
  const char* name;
  std::vector<std::string> args;
  const char* message;
};

void PrintTo(const BadInput& row, std::ostream* os) { *os << row.name; }

class RobustBadInput : public testing::TestWithParam<BadInput> {};

TEST_P(RobustBadInput, IsAOneLineUsageError) {
  const Result r = Call(GetParam().args);
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.err, std::string("pitch-autopilot-cli: ") + GetParam().message +
                       "\nTry 'pitch-autopilot-cli --help' for more information.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Robust, RobustBadInput,
    testing::Values(
        BadInput{"inverted",
                 {"--robust", "c1=1:0.5"},
                 "--robust c1=1:0.5: the interval is empty (LO is above HI)"},
        BadInput{"no_high_end",
                 {"--robust", "c1=0.5:"},
                 "--robust c1=0.5:: expected NAME=LO:HI with NAME one of c1 ... c5"},
        BadInput{"unknown_name",
                 {"--robust", "c6=0:1"},
                 "--robust c6=0:1: expected NAME=LO:HI with NAME one of c1 ... c5"},
        BadInput{"given_twice",
                 {"--robust", "c1=0:1", "--robust", "c1=0:2"},
                 "--robust c1=0:2: c1 is given twice"},
        BadInput{"not_a_number",
                 {"--robust", "c1=0:x"},
                 "--robust c1=0:x: 'x' is not a valid floating point value."},
        BadInput{"nominal_outside",
                 {"--robust", "c1=1:2"},
                 "--robust c1=1:2: the nominal c1 = 0.88 lies outside the interval; give the "
                 "nominal set C1 ... C5 inside the box"},
        BadInput{"huge",
                 {"--robust", "c3=-1e300:1e300"},
                 "--robust c3=-1e300:1e300: the interval reaches beyond +/-1e+30, where the "
                 "loop's polynomials are no longer decided reliably"},
        BadInput{"loop_undefined_at_nominal",
                 {"--robust", "c2=0.1:0.5", "0.88", "0.2", "7.028", "0.987", "0.251"},
                 "the nominal set: the synthesis failed: Invalid floating point operation."},
        BadInput{"tolerance",
                 {"--robust", "c1=0.5:1", "--tolerance", "0"},
                 "--tolerance 0: takes a number from 1e-15 to below 1"},
        BadInput{"no_interval", {"--robust"}, "--robust needs a value (NAME=LO:HI)"},
        BadInput{"map_over_one_coefficient",
                 {"--robust", "c1=0.5:1", "--robust-map", "m.png"},
                 "--robust-map needs two coefficients with intervals of some width"},
        BadInput{"report_not_pdf",
                 {"--robust", "c1=0.5:1", "--report", "r.png"},
                 "--report: writes .pdf files"}),
    [](const testing::TestParamInfo<BadInput>& row) { return row.param.name; });

}  // namespace
}  // namespace pitch
