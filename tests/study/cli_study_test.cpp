// The study's options on the front end's command line, run in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/session.h"
#include "cli/calculate.h"
#include "cli/report.h"
#include "cli/run.h"
#include "common/failure_kinds.h"
#include "study_test_support.h"

namespace pitch::testing {
void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }
}  // namespace pitch::testing

namespace pitch::cli {
namespace {

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome Call(const std::vector<std::string>& args, const std::string& input = "",
             bool terminal = false, char locale_separator = '.') {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  StudyContext context;
  context.in = &in;
  context.err_is_terminal = terminal;
  context.map_renderer = [](const study::MapRequest& r) {
    return r.x_name + " by " + r.y_name + (r.svg ? " as SVG" : " as PNG");
  };
  const int code = Run(args, NumberSettings{locale_separator, "UTF-8"}, out, err, {}, {}, context);
  return {code, out.str(), err.str()};
}

struct UsageRow {
  const char* name;
  std::vector<std::string> args;
  const char* message;
  std::string input = "";
  const char* not_said = nullptr;  // a text the message must not hold
};

void PrintTo(const UsageRow& row, std::ostream* os) { *os << row.name; }

class CliStudyUsage : public ::testing::TestWithParam<UsageRow> {};

// Every usage error is one line, then the pointer to --help; nothing on standard output.
TEST_P(CliStudyUsage, IsRefusedWithCodeTwo) {
  const Outcome r = Call(GetParam().args, GetParam().input);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("pitch-autopilot-cli: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
  const std::string pointer = "\nTry 'pitch-autopilot-cli --help' for more information.\n";
  ASSERT_GE(r.err.size(), pointer.size());
  EXPECT_EQ(r.err.substr(r.err.size() - pointer.size()), pointer);
  if (GetParam().not_said != nullptr) {
    EXPECT_EQ(r.err.find(GetParam().not_said), std::string::npos) << r.err;
  }
}

constexpr const char* kForm = "(expected NAME=FROM:TO:COUNT)";

INSTANTIATE_TEST_SUITE_P(
    Lines, CliStudyUsage,
    ::testing::Values(
        UsageRow{"StudyOptionWithoutStudy", {"--out", "rows.csv"}, "--out needs a study"},
        UsageRow{"AutopilotWithoutStudy", {"--autopilot", "1", "2", "3"}, "need a study"},
        UsageRow{"JsonWithStudy", {"--sweep", "c1=0:1:2", "--json"}, "--json cannot be used"},
        UsageRow{"PlotWithStudy", {"--batch", "-", "--plot", "p.png"}, "--plot cannot be used"},
        UsageRow{"TooFewAutopilotValues",
                 {"--sweep", "c1=0:1:2", "--autopilot-from", "1", "2"},
                 "--autopilot-from needs five coefficients"},
        UsageRow{"NoThreads", {"--sweep", "c1=0:1:2", "--jobs", "0"}, "whole number of threads"},
        UsageRow{"MapNotAPicture", {"--sweep", "c1=0:1:2", "--map", "m.gif"}, ".png or .svg"},
        UsageRow{"MapValueWithoutMap",
                 {"--sweep", "c1=0:1:2", "--map-value", "peak"},
                 "--map-value needs --map"},
        UsageRow{"UnknownMapValue",
                 {"--sweep", "c1=0:1:2", "--sweep", "c2=0:1:2", "--map", "m.png", "--map-value",
                  "damping"},
                 "--map-value"},
        UsageRow{"MarginMapWithoutMargins",
                 {"--sweep", "c1=0:1:2", "--sweep", "c2=0:1:2", "--map", "m.png", "--map-value",
                  "gain-margin", "--no-margins"},
                 "--map-value gain-margin needs the loop margins (drop --no-margins)"},
        UsageRow{"MarginsAndNoMargins",
                 {"--sweep", "c1=0:1:2", "--margins", "--no-margins"},
                 "--margins and --no-margins exclude each other"},
        UsageRow{"BodeWithStudy",
                 {"--sweep", "c1=0.5:1:3", "--bode", "b.png"},
                 "--bode cannot be used with a study"},
        UsageRow{"SizeWithStudy", {"--batch", "-", "--size", "100x100"}, "--size cannot be used"},
        UsageRow{"ResultsWithStudy", {"--batch", "-", "--results", "r.txt"}, "--results cannot"},
        UsageRow{"CsvWithStudy", {"--batch", "-", "--csv", "r.csv"}, "--csv cannot be used"},
        UsageRow{"OutNamedJson",
                 {"--sweep", "c1=0.5:1:3", "--out", "rows.JSON"},
                 "--out rows.JSON: the rows are written as JSON Lines, one object a line: name "
                 "the file .jsonl"},
        UsageRow{"BadSweep", {"--sweep", "c1=0:1"}, kForm},
        UsageRow{"SweepOfC6", {"--sweep", "c6=1:2:3"}, kForm},
        UsageRow{"ShardZero", {"--sweep", "c1=1:2:3", "--shard", "0/3"}, "--shard 0/3"},
        UsageRow{"SamplesInCsv", {"--sweep", "c1=1:2:3", "--samples"}, "--samples needs JSON"},
        UsageRow{"HeaderWithoutC3", {"--batch", "-"}, "names no column c3", "c1,c2,c4,c5\n"},
        UsageRow{"EmptyBatch", {"--batch", "-"}, "no header line"},
        UsageRow{"RepeatedColumn",
                 {"--batch", "-"},
                 "\"note\" more than once",
                 "c1,c2,c3,c4,c5,note,note\n"},
        // Letters after a single minus make an option, and an unknown one.
        UsageRow{"LowerV", {"-v"}, "unknown option -v"},
        UsageRow{"UpperVWithStudy", {"--sweep", "c1=0:1:2", "-V"}, "unknown option -V"},
        UsageRow{"LettersAndDigits", {"-x5", "1", "2", "3", "4"}, "unknown option -x5"},
        // A number with the other separator gets the single calculation's hint, not the form.
        UsageRow{"SweepWithDecimalComma",
                 {"--sweep", "c1=0,5:1:3"},
                 "--sweep c1=0,5:1:3: '0,5' is not a valid floating point value. The decimal "
                 "separator is '.' (the locale's); a number written with ',' needs --separator ,",
                 "",
                 kForm},
        UsageRow{"SweepWithFullStopAfterSeparatorOption",
                 {"--separator", ",", "--sweep", "c1=0:1.5:3"},
                 "'1.5' is not a valid floating point value. The decimal separator is ',' "
                 "(--separator); a number written with '.' needs --separator .",
                 "",
                 kForm},
        UsageRow{"AutopilotWithDecimalComma",
                 {"--sweep", "c1=0:1:3", "--autopilot", "0,1", "0.2", "0.3"},
                 "--autopilot: '0,1' is not a valid floating point value. The decimal separator "
                 "is '.'"},
        UsageRow{"AutopilotFromWithDecimalComma",
                 {"--sweep", "c1=0:1:3", "--autopilot-from", "0.88", "0,404", "7", "1", "0.2"},
                 "--autopilot-from: '0,404' is not a valid floating point value. The decimal"},
        UsageRow{"FixedCoefficientWithDecimalComma",
                 {"--sweep", "c1=0:1:3", "0.88", "0,404", "7", "1", "0.2"},
                 "c2: '0,404' is not a valid floating point value. The decimal separator"},
        // issue 19: one path for two files lost one of them without a word.
        UsageRow{"OutTwice",
                 {"--sweep", "c1=0:1:2", "--out", "d1.csv", "--out", "d2.csv"},
                 "--out is given twice"},
        UsageRow{"OutAndMapOnOneFile",
                 {"--sweep", "c1=0:1:2", "--sweep", "c2=0:1:2", "--out", "same.png", "--map",
                  "same.png"},
                 "--out same.png and --map same.png name the same file"},
        UsageRow{"SingleRunFilesOnOneFile",
                 {"--csv", "same.svg", "--plot", "same.svg", "--results", "r.txt"},
                 "--csv same.svg and --plot same.svg name the same file"},
        // issue 25: a file that does not exist yet, spelled two ways.
        UsageRow{"NewFileSpelledTwoWays",
                 {"--results", "n-25.txt", "--csv", "./n-25.txt"},
                 "--results n-25.txt and --csv ./n-25.txt name the same file"},
        UsageRow{"NewFileThroughAFolderThatIsNot",
                 {"--plot", "x-25.svg", "--bode", "no-such-folder/../x-25.svg"},
                 "--plot x-25.svg and --bode no-such-folder/../x-25.svg name the same file"},
        UsageRow{"ControlCharactersInAnArgument",
                 {"--sweep", "c1=0:1:2", "--shard", "1/\x1b[2J"},
                 "--shard 1/\\x1b[2J"}),
    [](const auto& row) { return std::string(row.param.name); });

// Repeated sweeps, the fixed coefficients after them, and autopilot values that look like
// options: each reaches the study in its place.
TEST(CliStudy, SweepsCoefficientsAndAutopilotReachTheStudy) {
  const Outcome r = Call({"--sweep", "c3=-1:1:2", "--sweep", "c5=0,1:0,2:2", "--autopilot", "-,5",
                          "0,25", "0,02", "--separator", ",", "0,9", "0,5", "7", "0,98", "0,25"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> lines = study::testing::Lines(r.out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1].rfind("0,,0.9,0.5,-1,0.98,0.1,-0.5,0.25,0.02,12.5,", 0), 0u) << lines[1];
  EXPECT_EQ(lines[4].rfind("3,,0.9,0.5,1,0.98,0.2,-0.5,0.25,0.02,12.5,", 0), 0u) << lines[4];
  // The locale's separator is the command line's when --separator is not given.
  const Outcome locale = Call({"--sweep", "c1=0,5:1:2"}, "", false, ',');
  EXPECT_EQ(locale.code, 0) << locale.err;
}

TEST(CliStudy, BatchFromStandardInputAndTheMap) {
  const Outcome batch = Call({"--batch", "-"}, "c1,c2,c3,c4,c5\n0.88,0.404,7.028,0.987,0.251\n");
  ASSERT_EQ(batch.code, 0) << batch.err;
  EXPECT_EQ(study::testing::Lines(batch.out).size(), 2u);
  EXPECT_NE(batch.out.find(",0.09200374246524264,"), std::string::npos);

  study::testing::TempFolder folder;
  const std::string map = folder / "map.svg";
  const Outcome r = Call({"--sweep", "c2=0.3:0.5:3", "--sweep", "c4=0.5:1:2", "--map", map,
                          "--map-value", "rise", "--out", folder / "rows.csv"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(study::testing::ReadFile(map), "c2 by c4 as SVG");
}

// The loop margins are in the rows unless --no-margins leaves them out; --margins says so.
TEST(CliStudy, MarginsUnlessLeftOut) {
  const std::string input = "c1,c2,c3,c4,c5\n0.88,0.404,7.028,0.987,0.251\n";
  for (const auto& [args, with] : std::vector<std::pair<std::vector<std::string>, bool>>{
           {{"--batch", "-"}, true},
           {{"--batch", "-", "--margins"}, true},
           {{"--batch", "-", "--no-margins"}, false}}) {
    const Outcome r = Call(args, input);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> lines = study::testing::Lines(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].find(",gain_margin,") != std::string::npos, with) << lines[0];
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','),
              std::count(lines[1].begin(), lines[1].end(), ','));
  }
}

// The progress line: on a terminal unless --no-progress, elsewhere only with --progress. A run
// this short may end before the first refresh, so only its absence is certain.
TEST(CliStudy, ProgressIsOffWhereAsked) {
  EXPECT_EQ(Call({"--sweep", "c1=0:1:3", "--no-progress"}, "", true).err.find('\r'),
            std::string::npos);
  EXPECT_EQ(Call({"--sweep", "c1=0:1:3"}, "", false).err.find('\r'), std::string::npos);
}

// One failure of each kind in every view of the same set: the command line's text (--metrics,
// with a stopped calculation's message on standard error), its --json, and a study row in JSON
// Lines and in CSV. Same kind, stage and words everywhere. The window reads the same rows.
using ::pitch::testing::FailureRow;

class FailureKinds : public ::testing::TestWithParam<FailureRow> {};

// The command line's text and JSON of the set; with a fixed autopilot, of a session on the
// controller the study uses.
std::pair<std::string, nlohmann::json> CommandLineViews(const FailureRow& row) {
  if (row.autopilot.empty()) {
    std::vector<std::string> args(row.texts.begin(), row.texts.end());
    args.insert(args.begin(), "--");
    args.insert(args.begin(), "--metrics");
    const Outcome text = Call(args);
    args.front() = "--json";
    return {text.out + text.err, nlohmann::json::parse(Call(args).out)};
  }
  const ::pitch::cli::Outcome outcome = OutcomeOf(
      std::make_shared<const analysis::TSession>(::pitch::testing::FixedAutopilotSession(row)),
      true);
  std::ostringstream text;
  PrintText(text, outcome, true, '.');
  std::vector<RunError> errors;
  if (outcome.error) {
    errors.push_back(*outcome.error);
  }
  return {text.str(), nlohmann::json::parse(JsonText(JsonReport(outcome, errors, {})))};
}

TEST_P(FailureKinds, ReadAlikeInEveryView) {
  const FailureRow& row = GetParam();
  std::optional<::pitch::testing::LoopFault> fault;
  if (row.loop_fault) {
    fault.emplace();
  }
  const auto [text, json] = CommandLineViews(row);

  study::testing::TempFolder folder;
  std::string batch = "c1,c2,c3,c4,c5\n" + row.texts[0];
  for (std::size_t k = 1; k < 5; ++k) {
    batch += ";" + row.texts[k];
  }
  std::replace(batch.begin(), batch.end(), ';', ',');
  batch += "\n";
  std::vector<std::string> args = {"--batch", "-", "--out", folder / "rows.jsonl"};
  if (!row.autopilot.empty()) {
    args.insert(args.end(), {"--autopilot", row.autopilot[0], row.autopilot[1], row.autopilot[2]});
  }
  ASSERT_EQ(Call(args, batch).code, 0);
  args[3] = folder / "rows.csv";
  ASSERT_EQ(Call(args, batch).code, 0);
  const nlohmann::json line =
      study::testing::JsonLines(study::testing::ReadFile(folder / "rows.jsonl")).at(0);
  const std::string csv =
      study::testing::Lines(study::testing::ReadFile(folder / "rows.csv")).at(1);

  EXPECT_NE(text.find(row.words), std::string::npos) << text;
  EXPECT_NE(csv.find(row.words), std::string::npos) << csv;
  if (std::string(row.stage) != "margins") {
    EXPECT_EQ(json["error"]["stage"], row.stage);
    EXPECT_EQ(json["error"]["message"], row.words);
    EXPECT_EQ(line["error"]["kind"], json["error"]["kind"]);
    EXPECT_EQ(line["error"]["stage"], row.stage);
    // An input error of a row names the batch's line first.
    const std::string where = std::string(row.stage) == "input" ? "line 2: " : "";
    EXPECT_EQ(line["error"]["message"], where + row.words);
    EXPECT_TRUE(line["margins_error"].is_null());
    return;
  }
  EXPECT_TRUE(json["error"].is_null());
  EXPECT_TRUE(line["error"].is_null());
  EXPECT_EQ(line["margins_error"], json["margins_error"]);
  if (json["margins_error"].is_null()) {
    // Not computable: the row's margins are the headline members of --json's.
    nlohmann::json headline = json["margins"];
    for (const char* key : {"closed_loop_stable", "phase_crossings", "gain_crossovers"}) {
      headline.erase(key);
    }
    EXPECT_EQ(line["margins"], headline);
    EXPECT_EQ(
        "not computable in the double range: " + headline["not_computable"].get<std::string>(),
        row.words);
  } else {
    EXPECT_TRUE(line["margins"].is_null());
    EXPECT_EQ("not computed: " + json["margins_error"]["message"].get<std::string>(), row.words);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FailureKinds, ::testing::ValuesIn(::pitch::testing::FailureRows()),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch::cli
