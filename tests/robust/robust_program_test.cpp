// pitch-autopilot-cli --robust as a shell starts it, stopped by a signal while its worst-case
// margins are still being bounded: the bounds reached are printed and the exit code says which
// signal stopped it.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/child_process.h"

namespace pitch {
namespace {

struct SignalCase {
  const char* name;
  int signal;
  int code;
  const char* message;
};

void PrintTo(const SignalCase& row, std::ostream* os) { *os << row.name; }

class RobustSignals : public ::testing::TestWithParam<SignalCase> {};

TEST_P(RobustSignals, PrintTheBoundsReached) {
  testing::ChildRun run;
  // ±90 % around the default set: the delay margin's worst set lies inside the box and takes
  // seconds; the loops' decisions and rho take milliseconds.
  run.args = {"--jobs",   "1",
              "--robust", "c1=0.088:1.672",
              "--robust", "c2=0.0404:0.7676",
              "--robust", "c3=0.7028:13.3532",
              "--robust", "c4=0.0987:1.8753",
              "--robust", "c5=0.0251:0.4769"};
  run.env = {"LC_ALL=C"};
  run.send_signal = GetParam().signal;
  run.signal_after_ms = 1500;
  const testing::ChildResult r = testing::RunChild(PITCH_CLI_PATH, run);
  EXPECT_EQ(r.code, GetParam().code) << r.err;
  EXPECT_NE(r.out.find("closed loop:\n  stable for every set in the box"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("(the bounds reached when stopped)"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, std::string("pitch-autopilot-cli: stopped by ") + GetParam().message +
                       ": the bounds reached so far are shown\n");
}

INSTANTIATE_TEST_SUITE_P(Robust, RobustSignals,
                         ::testing::Values(SignalCase{"sigint", SIGINT, 130, "SIGINT"},
                                           SignalCase{"sigterm", SIGTERM, 143, "SIGTERM"}),
                         [](const ::testing::TestParamInfo<SignalCase>& row) {
                           return row.param.name;
                         });

// --robust with --report: the nominal set's calculation on the first page, the flight envelope on
// the second, read back through the PDF's text layer (pdftotext). Every figure the command line
// prints is on the page; the region map is drawn when two coefficients have intervals.
struct ReportCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> on_page;  // besides every printed figure
  std::vector<std::string> not_on_page;
};

void PrintTo(const ReportCase& row, std::ostream* os) { *os << row.name; }

class RobustReport : public ::testing::TestWithParam<ReportCase> {};

// The text without any blank: the page wraps long lines where the terminal does not.
std::string Unspaced(const std::string& text) {
  std::string s;
  for (const char c : text) {
    if (c != ' ' && c != '\n' && c != '\f' && c != '\t') {
      s += c;
    }
  }
  return s;
}

TEST_P(RobustReport, HasTheEnvelopeOnItsOwnPage) {
  const std::string folder = ::testing::TempDir() + "robust-report-" + GetParam().name;
  std::filesystem::create_directories(folder);
  const std::string pdf = folder + "/r.pdf";
  testing::ChildRun run;
  run.args = GetParam().args;
  run.args.insert(run.args.end(), {"--report", pdf});
  run.env = {"LC_ALL=C", "QT_QPA_PLATFORM=offscreen"};
  const testing::ChildResult r = testing::RunChild(PITCH_CLI_PATH, run);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");

  const auto page = [&](const char* number) {
    testing::ChildRun tool;
    tool.args = {"-f", number, "-l", number, "-enc", "UTF-8", pdf, "-"};
    tool.env = {"LC_ALL=C"};
    const testing::ChildResult text = testing::RunChild("/usr/bin/pdftotext", tool);
    EXPECT_EQ(text.code, 0) << text.err;
    return text.out;
  };
  const std::string first = page("1");
  EXPECT_NE(first.find("Отчёт: система ЛА-АП тангажа ЖОС"), std::string::npos) << first;
  EXPECT_EQ(first.find("Робастная устойчивость"), std::string::npos);
  const std::string second = page("2");
  EXPECT_EQ(second.rfind("Робастная устойчивость: область коэффициентов", 0), 0u) << second;
  EXPECT_NE(Unspaced(second).find(Unspaced(r.out)), std::string::npos) << "printed:\n"
                                                                       << r.out << "\npage:\n"
                                                                       << second;
  for (const std::string& text : GetParam().on_page) {
    EXPECT_NE(second.find(text), std::string::npos) << text << "\n" << second;
  }
  for (const std::string& text : GetParam().not_on_page) {
    EXPECT_EQ(second.find(text), std::string::npos) << text;
  }
  std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Robust, RobustReport,
    ::testing::Values(
        // The map, also without --robust-map, with its legend's counts and marks.
        ReportCase{"proven_with_map",
                   {"--no-margins", "--robust", "c1=0.7:1.05", "--robust", "c2=0.32:0.48"},
                   {"stable for every set in the box (proven:", "stability margin rho",
                    "certified stability region: c1 × c2", "proven stable: 4096", "nominal"},
                   {}},
        ReportCase{"margins_without_map",
                   {"--robust", "c1=0.8:0.96"},
                   {"least gain margin over the box", "phase margin", "delay margin"},
                   {"certified stability region"}},
        ReportCase{"refuted_with_map",
                   {"--no-margins", "--robust", "c1=-1:3", "--robust", "c3=-2:12"},
                   {"proven unstable everywhere: 776", "destabilising (at rho)"},
                   {}}),
    [](const ::testing::TestParamInfo<ReportCase>& row) { return row.param.name; });

}  // namespace
}  // namespace pitch
