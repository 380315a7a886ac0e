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
// the second in Russian, read back through the PDF's text layer (pdftotext): the lines in the
// program's number style with the run's decimal separator, the region map's legend and counts,
// none of the printed English lines.
struct ReportCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> on_page;  // blanks aside: the page wraps long lines
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
  for (const std::string& text : GetParam().on_page) {
    EXPECT_NE(Unspaced(second).find(Unspaced(text)), std::string::npos) << text << "\n" << second;
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
                   {"область коэффициентов: с1 ∈ [0.7; 1.05]; с2 ∈ [0.32; 0.48]; с3 = 7.028",
                    "замкнутый контур:", "устойчив при каждом наборе области (доказано: a0, a1",
                    "определитель Гурвица положительны", "итерация Эйлера (шаг 0.01 с):",
                    "запас устойчивости ρ (область, масштабированная", "доказанно устойчивы: 4096",
                    "доказанная область устойчивости: с1 × с2", "доказанно устойчива: 4096",
                    "номинальный"},
                   {"box:", "closed loop", "stable for every set", "rho", "certified",
                    "proven stable", "nominal"}},
        // The decimal comma: the program's number style (15 digits, E for the exponent), lists
        // parted by semicolons.
        ReportCase{
            "margins_without_map_decimal_comma",
            {"--separator", ",", "--robust", "c1=0,8:0,96"},
            {"с1 ∈ [0,8; 0,96]; с2 = 0,404",
             "передаточные числа (синтезированы в номинальном наборе): mu = "
             "0,0920037424652426; iv = 0,271877699504714; nu = 0,0241508960470038",
             "(hi/lo − 1 = 9,9268637754335E-10)",
             "дестабилизирующий набор на верхней границе: с1 = -1,68; с2 = 0,404",
             "наименьший запас по усилению в области",
             "увеличение усиления: бесконечен (доказано: устойчив при любом усилении k ≥ 1)",
             "уменьшение усиления: бесконечен", "наименьшие запасы в области на всех частотах:",
             "запас по фазе: 62,8397957820199 ≤ наименьший ≤ 62,8398132084009 град",
             "худший набор: с1 = 0,8; с2 = 0,404", "рад/с", "запас по запаздыванию:"},
            {"доказанная область устойчивости", "least", "0.404", "-1,6799999999999986", "<="}},
        ReportCase{"refuted_with_map",
                   {"--no-margins", "--robust", "c1=-1:3", "--robust", "c3=-2:12"},
                   {"устойчив не при каждом наборе: с1 = 3; с2 = 0.404; с3 = -2",
                    "(не выполнено: определитель Гурвица > 0; подтверждено проверкой",
                    "не выполнено: e2 > 0", "карта области по с1 и с3 (64 × 64 ячеек",
                    "доказанно неустойчивы всюду: 776", "доказанно неустойчива всюду: 776",
                    "с подтверждённым неустойчивым набором: 105", "не решено: 0",
                    "дестабилизирующий (при ρ)"},
                   {"not stable", "destabilising", "undecided"}}),
    [](const ::testing::TestParamInfo<ReportCase>& row) { return row.param.name; });

}  // namespace
}  // namespace pitch
