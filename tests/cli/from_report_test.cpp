// The command line's --from (coefficients from a results file) and --report (the PDF report,
// here through a recording renderer: the page itself is tested with the window's code).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run.h"
#include "cli_fixture.h"
#include "number_text/number_settings.h"

namespace pitch::cli {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

class CliFromAndReport : public CliFixture {
 protected:
  // The report goes to a recording renderer.
  Result Call(const std::vector<std::string>& args, const NumberSettings& settings = kSettings) {
    return CliFixture::Call(args, settings, [this](const ReportSource& source) {
      reports_.push_back(MakeReportData(source));
      return std::string("%PDF-1.4 report");
    });
  }

  std::vector<ReportData> reports_;
};

// A results file written by the program under one locale is read under another: the same
// ratios as with the coefficients typed.
TEST_F(CliFromAndReport, FromReadsAResultsFileOfAnyLocale) {
  const std::string file = Path("Result_1");
  ASSERT_EQ(Call({"--results", file, "--", "0,9", "0,45", "6,5", "1,1", "0,3"},
                 NumberSettings{',', "CP1251"})
                .code,
            0);
  const Result typed = Call({"0.9", "0.45", "6.5", "1.1", "0.3"});
  const Result from = Call({"--from", file});
  EXPECT_EQ(from.code, 0) << from.err;
  EXPECT_EQ(from.out, typed.out);
  EXPECT_EQ(from.err, "");
}

// Every file the command line writes, it reopens: in the code page of any locale (the reader
// tries the locale's own), and with a coefficient whose 15 digits would round up past the largest
// Real. The reopened run ends as the first one did (here an overflow of the simulation for the
// largest Real); it repeats the calculation from the file's 15-digit texts.
TEST_F(CliFromAndReport, FromReopensEveryFileWritten) {
  struct Row {
    const char* name;
    NumberSettings settings;
    std::vector<std::string> coefficients;
  };
  const std::vector<Row> rows = {
      {"EUC-JP", {'.', "EUC-JP"}, {"0.9", "0.45", "6.5", "1.1", "0.3"}},
      {"GB18030", {',', "GB18030"}, {"0,9", "0,45", "6,5", "1,1", "0,3"}},
      {"EUC-KR", {'.', "EUC-KR"}, {"0.9", "0.45", "6.5", "1.1", "0.3"}},
      {"MAC-CYRILLIC", {',', "MAC-CYRILLIC"}, {"0,9", "0,45", "6,5", "1,1", "0,3"}},
      {"largest Real",
       {'.', "UTF-8"},
       {"0.88", "1.7976931348623157e308", "7.028", "0.987", "0.251"}},
  };
  const auto stage = [](const Json& j) {
    return j["error"].is_null() ? std::string("none") : j["error"]["stage"].get<std::string>();
  };
  for (const Row& row : rows) {
    const std::string file = Path(std::string("Result_") + row.name);
    std::vector<std::string> args = {"--results", file, "--json", "--"};
    args.insert(args.end(), row.coefficients.begin(), row.coefficients.end());
    const Result written = Call(args, row.settings);
    ASSERT_TRUE(fs::exists(file)) << row.name << ": " << written.err;
    const Result from = Call({"--from", file, "--json"}, row.settings);
    EXPECT_EQ(from.code, written.code) << row.name << ": " << from.err;
    const Json first = Json::parse(written.out);
    const Json again = Json::parse(from.out);
    EXPECT_EQ(stage(again), stage(first)) << row.name << ": " << from.err;
    if (stage(first) == "none") {
      EXPECT_EQ(again["ratios"], first["ratios"]) << row.name;
    }
  }
}

TEST_F(CliFromAndReport, FromErrorsNameTheLine) {
  const std::string file = Path("notes.txt");
  std::ofstream(file, std::ios::binary) << "Коэффициенты линейной модели ЛА:\nc1 = 1\nc2 = x\n";
  const Result r =
      Call({"--from", file, "--results", Path("out.txt"), "--report", Path("r.pdf"), "--json"});
  EXPECT_EQ(r.code, 1);
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["error"]["kind"], "EResultsFileError");
  EXPECT_EQ(j["error"]["stage"], "input");
  EXPECT_EQ(j["error"]["message"], file + ", line 3: 'x' is not a valid floating point value.");
  EXPECT_EQ(j["errors"][0]["file"], file);
  EXPECT_FALSE(fs::exists(Path("out.txt")));
  EXPECT_FALSE(fs::exists(Path("r.pdf")));
  EXPECT_TRUE(reports_.empty());
  EXPECT_NE(r.err.find("--report " + Path("r.pdf") +
                       " was not written: the results file could not be read."),
            std::string::npos)
      << r.err;

  // A number's text is shown whole: a NUL byte in it, escaped, does not cut the message.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "Коэффициенты линейной модели ЛА:\r\n"
                                                          << std::string("c1 = 0.88\0\r\n", 12);
  const std::string nul = file + ", line 2: '0.88\\x00' is not a valid floating point value.";
  const Result cut = Call({"--from", file});
  EXPECT_EQ(cut.code, 1);
  EXPECT_EQ(cut.err, "pitch-autopilot-cli: " + nul + "\n");
  EXPECT_EQ(Json::parse(Call({"--from", file, "--json"}).out)["error"]["message"], nul);

  const Result missing = Call({"--from", Path("none")});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "pitch-autopilot-cli: The results file " + Path("none") +
                             " cannot be read: No such file or directory.\n");
}

// Usage: --from replaces the coefficients; --report writes PDF; neither in a study.
TEST_F(CliFromAndReport, Usage) {
  struct Row {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Row> rows = {
      {{"--from", "f", "1", "2", "3", "4", "5"}, "--from cannot be used with coefficients"},
      {{"--report", "r.png"}, "writes .pdf files"},
      {{"--report", ""}, "needs a file name"},
      {{"--from", ""}, "needs a file name"},
      {{"--sweep", "c1=1:2:3", "--report", "r.pdf"}, "--report cannot be used with a study"},
      {{"--sweep", "c1=1:2:3", "--from", "f"}, "--from cannot be used with a study"},
  };
  for (const Row& row : rows) {
    const Result r = Call(row.args);
    EXPECT_EQ(r.code, 2) << row.message;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
  }
}

// What the report is given: the texts as typed, what the calculation reached, the error.
TEST_F(CliFromAndReport, ReportHoldsWhatTheCalculationReached) {
  struct Row {
    std::vector<std::string> coefficients;
    bool ratios;
    bool curve;
    const char* error;
  };
  const std::vector<Row> rows = {
      {{"0.880", "0.404", "7.028", "0.987", "0.251"}, true, true, ""},
      {{"400", "0.404", "7.028", "0.987", "0.251"}, true, false, "Floating point overflow."},
      {{"0.880", "0.2", "7.028", "0.987", "0.251"},
       false,
       false,
       "Invalid floating point operation."},
      {{"0.880", "abc", "7.028", "0.987", "0.251"},
       false,
       false,
       "'abc' is not a valid floating point value."},
  };
  for (const Row& row : rows) {
    reports_.clear();
    std::vector<std::string> args = {"--report", Path("r.pdf")};
    args.insert(args.end(), row.coefficients.begin(), row.coefficients.end());
    const Result r = Call(args);
    EXPECT_EQ(r.code, *row.error == '\0' ? 0 : 1);
    ASSERT_EQ(reports_.size(), 1U) << row.error;
    const ReportData& d = reports_.front();
    EXPECT_EQ(Read(Path("r.pdf")), "%PDF-1.4 report");
    EXPECT_EQ(d.separator, '.');
    EXPECT_EQ(d.coefficient_texts[0], row.coefficients[0]);
    EXPECT_EQ(d.coefficient_texts[1], row.coefficients[1]);
    EXPECT_EQ(d.ratios.has_value(), row.ratios) << row.error;
    EXPECT_EQ(d.stability.has_value(), row.ratios);
    EXPECT_EQ(d.bode.has_value(), row.ratios);
    EXPECT_EQ(d.t.size(), row.curve ? 1000U : 0U);
    EXPECT_EQ(d.characteristics.has_value(), row.curve);
    EXPECT_EQ(d.error, row.error);
    EXPECT_EQ(d.version, "pitch-autopilot " PITCH_VERSION);
    EXPECT_FALSE(d.date.empty());
  }
  // The first row's ratios as the default output prints them.
  const Result plain = Call({"0.880", "0.404", "7.028", "0.987", "0.251"});
  EXPECT_EQ(plain.out.substr(0, 25), "muv = 0.0920037424652426\n");
}

// Without a renderer the report is an error of its file; an existing file is kept.
TEST_F(CliFromAndReport, ReportWithoutRendererKeepsTheOldFile) {
  std::ofstream(Path("r.pdf")) << "old";
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(cli::Run({"--report", Path("r.pdf")}, kSettings, out, err), 1);
  EXPECT_EQ(err.str(), "pitch-autopilot-cli: --report " + Path("r.pdf") +
                           ": Report export is not available.\n");
  EXPECT_EQ(Read(Path("r.pdf")), "old");
}

}  // namespace
}  // namespace pitch::cli
