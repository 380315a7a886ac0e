#include "cli/run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "number_text/number_settings.h"
#include "core/controller.h"

namespace pitch::cli {
namespace {

namespace fs = std::filesystem;

// The full stop and UTF-8, whatever the machine's locale.
const NumberSettings kSettings{'.', "UTF-8"};

struct Result {
  int code;
  std::string out;
  std::string err;
};

class CliRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pitch-cli-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Result Call(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = cli::Run(args, kSettings, out, err);
    return {code, out.str(), err.str()};
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

TEST_F(CliRun, DefaultsPrintTheFourRatios) {
  const Result r = Call({"--separator", ","});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "muv = 0,0920037424652426\niv = 0,271877699504714\nnuv = 0,0241508960470038\n"
            "Tnu = 11,2574580659687\n");
  EXPECT_EQ(r.err, "");
  // The defaults are numbers, whatever the separator.
  EXPECT_EQ(Call({"--separator", "."}).out.substr(0, 25), "muv = 0.0920037424652426\n");
}

TEST_F(CliRun, CoefficientsUseTheSeparator) {
  const Result r = Call({"--separator", ",", "0,88", "0,404", "-7,028", "0,987", "0,251"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "muv = 0,13298268384259");
  const Result stop = Call({"0.88", "0.404", "-7.028", "0.987", "0.251"});
  EXPECT_EQ(stop.out.substr(0, stop.out.find('\n')), "muv = 0.13298268384259");
}

TEST_F(CliRun, JsonOfTheDefaults) {
  const Result r = Call({"--json"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("{\"coefficients\":[0.88,0.404,7.028,0.987,0.251],", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\"ratios\":{\"muv\":0.09200374246524264,\"iv\":0.27187769950471413,"
                       "\"nuv\":0.024150896047003753,\"Tnu\":11.257458065968706}"),
            std::string::npos);
  EXPECT_NE(r.out.find("\"response\":[0.017453292519943295,0,"), std::string::npos);
  EXPECT_NE(r.out.find(",\"error\":null}\n"), std::string::npos);
  // The analysis of the loop comes with it.
  EXPECT_NE(r.out.find("\"poles\":{\"stable\":true,\"values\":[{\"re\":-0.9112"),
            std::string::npos);
  EXPECT_NE(r.out.find("\"peak\":1.1295893362172837,\"peak_time\":3.05,"), std::string::npos);
  EXPECT_NE(r.out.find("\"settled\":false,\"settling_time\":null,"), std::string::npos);
  EXPECT_NE(r.out.find("\"exact_settling_time\":18.0"), std::string::npos);
  EXPECT_NE(r.out.find("\"exact_error\":{\"max_abs\":0.00412"), std::string::npos);
  EXPECT_NE(r.out.find(",\"time\":2}"), std::string::npos);
}

TEST_F(CliRun, MetricsOfTheDefaults) {
  const Result r = Call({"--separator", ",", "--metrics"});
  EXPECT_EQ(r.code, 0);
  for (const char* line : {
           "poles:\n  -0,911245296807213 +/- 1,09146212630551j  damping ratio 0,64",
           "\n  -0,843920393177513  time constant 1,18",
           "\n  -0,0981913152537886  time constant 10,18",
           "\nstable: yes\n",
           "\n  peak: 1,12958933621728 at 3,05 s\n",
           "\n  settling time 2 %: not settled within 9,99 s\n",
           "\n  deviation at 9,99 s: 0,0440453627640014\n",
           "\n  largest |Euler - exact|: 0,00412",
           " at 2 s\n",
           "exact continuous response:\n  largest",
           "\n  settling time 2 %: 18,0",
       }) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin\n" << r.out;
  }
}

TEST_F(CliRun, AnalysisFollowsWhatTheCalculationReached) {
  // The simulation overflowed: poles, but no characteristics.
  const Result diverging = Call({"--json", "400", "0.404", "7.028", "0.987", "0.251"});
  EXPECT_NE(diverging.out.find("\"poles\":{\"stable\":true,"), std::string::npos);
  EXPECT_NE(diverging.out.find("\"metrics\":null,\"exact_error\":null,"), std::string::npos);
  const Result metrics = Call({"--metrics", "400", "0.404", "7.028", "0.987", "0.251"});
  EXPECT_NE(metrics.out.find("stable: yes\n"), std::string::npos);
  EXPECT_EQ(metrics.out.find("peak:"), std::string::npos);
  // The synthesis failed: nothing to analyse.
  const Result failed = Call({"--json", "0.88", "0.2", "7.028", "0.987", "0.251"});
  EXPECT_NE(failed.out.find("\"poles\":null,\"metrics\":null,\"exact_error\":null,"),
            std::string::npos);
}

TEST_F(CliRun, CsvWithTheExactColumn) {
  const std::string path = Path("exact.csv");
  ASSERT_EQ(Call({"--csv", path, "--exact"}).code, 0);
  const std::string csv = Read(path);
  EXPECT_EQ(csv.rfind("t,h,exact\n0,0.017453292519943295,0\n0.01,0,", 0), 0u) << csv.substr(0, 80);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1001);
}

TEST_F(CliRun, PlotGoesThroughTheRenderer) {
  PlotRequest seen{};
  std::size_t points = 0;
  const auto renderer = [&](const PlotRequest& request) {
    seen = request;
    points = request.t.size();
    return std::string("picture");
  };
  std::ostringstream out;
  std::ostringstream err;
  const std::string path = Path("chart.SVG");
  EXPECT_EQ(cli::Run({"--separator", ",", "--plot", path, "--size", "640x480"}, kSettings, out, err, renderer),
            0);
  EXPECT_EQ(Read(path), "picture");
  EXPECT_EQ(points, 1000u);
  EXPECT_TRUE(seen.svg);
  EXPECT_EQ(seen.width, 640);
  EXPECT_EQ(seen.height, 480);
  EXPECT_EQ(seen.separator, ',');
  // Without a completed simulation there is no picture.
  EXPECT_EQ(cli::Run({"--plot", Path("none.png"), "400", "0.404", "7.028", "0.987", "0.251"}, kSettings, out,
                     err, renderer),
            1);
  EXPECT_FALSE(fs::exists(Path("none.png")));
}

TEST_F(CliRun, FailuresByStage) {
  struct Row {
    std::vector<std::string> args;
    std::string message;
    std::string json_error;
    std::string json_part;  // what the controller still holds
  };
  const Row rows[] = {
      {{"0.88", "0.404", "abc", "0.987", "0.251"},
       "'abc' is not a valid floating point value.",
       R"({"kind":"EConvertError","message":"'abc' is not a valid floating point value.","stage":"input"})",
       R"("coefficients":[0,0,0,0,0])"},
      {{"0.88", "1e400", "7.028", "0.987", "0.251"},
       "Floating point overflow.",
       R"({"kind":"EOverflow","message":"Floating point overflow.","stage":"input"})",
       R"("ratios":{"muv":0,"iv":0,"nuv":0,"Tnu":0})"},
      {{"0.5", "0", "-1", "1", "0"},
       "Floating point division by zero.",
       R"({"kind":"EZeroDivide","message":"Floating point division by zero.","stage":"ratios"})",
       R"("coefficients":[0.5,0,-1,1,0],"ratios":{"muv":0.5,"iv":0,"nuv":0,"Tnu":0})"},
      {{"400", "0.404", "7.028", "0.987", "0.251"},
       "Floating point overflow.",
       R"({"kind":"EOverflow","message":"Floating point overflow.","stage":"response"})",
       R"(,-1.098522555161258e+305,0,0,)"},
  };
  for (const Row& row : rows) {
    const Result plain = Call(row.args);
    EXPECT_EQ(plain.code, 1);
    EXPECT_EQ(plain.err, row.message + "\n");

    std::vector<std::string> json_args = {"--json", "--csv", Path("never.csv")};
    json_args.insert(json_args.end(), row.args.begin(), row.args.end());
    const Result json = Call(json_args);
    EXPECT_EQ(json.code, 1);
    EXPECT_NE(json.out.find("\"error\":" + row.json_error + "}"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find(row.json_part), std::string::npos) << json.out;
    EXPECT_FALSE(fs::exists(Path("never.csv")));
  }
}

TEST_F(CliRun, AfterASimulationOverflowTheRatiosAreStillPrinted) {
  const Result r = Call({"400", "0.404", "7.028", "0.987", "0.251"});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "muv = 56.6979791829774");
}

TEST_F(CliRun, CsvHoldsTheSampleTimesAndTheResponse) {
  const std::string path = Path("response.csv");
  const Result r = Call({"--csv", path});
  EXPECT_EQ(r.code, 0);
  const std::string csv = Read(path);
  std::istringstream lines(csv);
  std::string line;
  std::vector<std::string> rows;
  while (std::getline(lines, line)) {
    rows.push_back(line);
  }
  ASSERT_EQ(rows.size(), 1001u);
  EXPECT_EQ(rows[0], "t,h");
  EXPECT_EQ(rows[1], "0,0.017453292519943295");
  EXPECT_EQ(rows[2], "0.01,0");
  EXPECT_EQ(rows[1000].rfind("9.99,", 0), 0u);
  // Each time reads back to the Real nearest to (i − 1)/100.
  for (int i = 1; i <= kSampleCount; ++i) {
    EXPECT_EQ(std::stod(rows[i].substr(0, rows[i].find(','))), (i - 1) / 100.0) << rows[i];
  }
}

TEST_F(CliRun, CsvThatCannotBeWrittenIsAnError) {
  const Result r = Call({"--csv", Path("missing/response.csv")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("missing/response.csv"), std::string::npos);
}

TEST_F(CliRun, ResultsFileAsSaveWouldWriteIt) {
  struct Row {
    std::vector<std::string> args;
    int code;
    std::string ratio_lines;  // empty: no file at all
  };
  const Row rows[] = {
      {{"--separator", ","},
       0,
       "muv = 0,0920037424652426\r\niv = 0,271877699504714\r\nnuv = 0,0241508960470038\r\n"
       "Tnu = 11,2574580659687\r\n"},
      // The synthesis failed after storing muv: the file pairs it with the other zeros.
      {{"0.5", "0", "-1", "1", "0"}, 1, "muv = 0.5\r\niv = 0\r\nnuv = 0\r\nTnu = 0\r\n"},
      {{"0.5", "x", "-1", "1", "0"}, 1, ""},
  };
  for (const Row& row : rows) {
    const std::string path = Path("Result_1.txt");
    fs::remove(path);
    std::vector<std::string> args = {"--results", path};
    args.insert(args.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(Call(args).code, row.code);
    if (row.ratio_lines.empty()) {
      EXPECT_FALSE(fs::exists(path));
      continue;
    }
    const std::string file = Read(path);
    ASSERT_GT(file.size(), row.ratio_lines.size());
    EXPECT_EQ(file.substr(file.size() - row.ratio_lines.size()), row.ratio_lines);
  }
}

TEST_F(CliRun, ResultsFileErrorIsReported) {
  const std::string path = Path("missing/Result_1.txt");
  const Result r = Call({"--json", "--results", path});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Invalid file name - " + path + ".\n");
  EXPECT_NE(r.out.find(R"("error":{"kind":"EInOutError","message":"Invalid file name - )"),
            std::string::npos);
  EXPECT_NE(r.out.find(R"(","stage":"files"})"), std::string::npos);
}

TEST_F(CliRun, UsageErrors) {
  const std::vector<std::vector<std::string>> rows = {
      {"1", "2", "3", "4"},
      {"1", "2", "3", "4", "5", "6"},
      {"--separator", ";"},
      {"--separator"},
      {"--csv"},
      {"--results", ""},
      {"--exact"},
      {"--size", "100x100"},
      {"--plot", "chart.jpg"},
      {"--plot", "chart.png", "--size", "0x100"},
      {"--plot", "chart.png", "--size", "wide"},
      {"--metrics=yes"},
      {"--frobnicate"},
      {"--json=yes"},
  };
  for (const auto& args : rows) {
    const Result r = Call(args);
    EXPECT_EQ(r.code, 2) << args[0];
    EXPECT_NE(r.err.find("Usage: pitch-autopilot-cli"), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
  const Result help = Call({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("Usage: pitch-autopilot-cli", 0), 0u);
}

TEST_F(CliRun, DoubleDashLetsACoefficientLookLikeAnOption) {
  const Result r = Call({"--", "0.88", "0.404", "7.028", "0.987", "0.251"});
  EXPECT_EQ(r.code, 0);
}

}  // namespace
}  // namespace pitch::cli
