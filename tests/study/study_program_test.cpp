// A study run by the built program as a child process, under what a failing machine and an
// impatient user do to it: signals, the file size limit, a second writer, a thread limit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "../cli/child_process.h"

namespace pitch::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::string kProgram = PITCH_CLI_PATH;

class StudyProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    dir_ = fs::temp_directory_path() /
           ("pitch-study-program-" + std::to_string(::getpid()) + "-" + std::to_string(++count));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  ChildRun Child(std::vector<std::string> args) const {
    ChildRun run;
    run.args = std::move(args);
    run.env = {"LC_ALL=C", "QT_QPA_PLATFORM=offscreen", "HOME=" + dir_.string()};
    run.dir = dir_.string();
    return run;
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// Every line a whole row: the text ends with a line end, and each line has the header's fields
// (CSV) or is a JSON object with the next row index (JSON Lines).
void ExpectWholeRows(const std::string& text, bool json) {
  ASSERT_FALSE(text.empty());
  ASSERT_EQ(text.back(), '\n') << "a torn last row";
  const std::vector<std::string> lines = LinesOf(text);
  const auto commas = [](const std::string& line) {
    return std::count(line.begin(), line.end(), ',');
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (json) {
      const Json row = Json::parse(lines[i]);
      EXPECT_EQ(row["row"], i);
    } else {
      EXPECT_EQ(commas(lines[i]), commas(lines[0])) << "line " << i + 1;
    }
  }
}

struct SignalRow {
  const char* name;
  int signal;
  int code;
  const char* said;
};
void PrintTo(const SignalRow& row, std::ostream* os) { *os << row.name; }

class StudySignals : public StudyProgram, public ::testing::WithParamInterface<SignalRow> {};

// ^C or a batch system's end of job: the rows computed are written whole, the program says how
// many, and the exit code is 128 plus the signal (issue 19: partial last lines after SIGINT).
TEST_P(StudySignals, FinishTheRowsInHandAndSayHowMany) {
  // Ten million sets take minutes: the run is far from done when the signal comes.
  ChildRun run = Child({"--sweep", "c1=0.5:1.5:10000000", "--out", "rows.jsonl", "--margins",
                        "--jobs", "2", "--no-progress"});
  run.send_signal = GetParam().signal;
  run.signal_after_ms = 1500;
  const ChildResult r = RunChild(kProgram, run);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, GetParam().code);
  std::smatch said;
  ASSERT_TRUE(std::regex_match(r.err, said,
                               std::regex(std::string("pitch-autopilot-cli: stopped by ") +
                                          GetParam().said + ": ([0-9]+) rows written\n")))
      << r.err;
  const std::string rows = Read("rows.jsonl");
  ExpectWholeRows(rows, true);
  EXPECT_EQ(std::to_string(LinesOf(rows).size()), said[1].str());
}

INSTANTIATE_TEST_SUITE_P(Signals, StudySignals,
                         ::testing::Values(SignalRow{"Interrupt", SIGINT, 130, "SIGINT"},
                                           SignalRow{"Terminate", SIGTERM, 143, "SIGTERM"}),
                         [](const auto& row) { return std::string(row.param.name); });

struct LimitRow {
  const char* name;
  std::vector<std::string> args;
  const char* file;  // the rows' file
  bool to_stdout;
  bool json;
  const char* message;
  rlim_t limit = 1000000;
  std::size_t at_least = 100000;  // bytes of whole rows kept; 0: none fit
  bool old = false;               // the file holds "OLD\n" before the run
};
void PrintTo(const LimitRow& row, std::ostream* os) { *os << row.name; }

class StudyFileSizeLimit : public StudyProgram, public ::testing::WithParamInterface<LimitRow> {};

// The file size limit (as a full disk) ends the run with the results file's "I/O error 112." and
// leaves a file that ends at a row boundary (issue 19: --out and standard output ended mid-row):
// every whole row that fits, also those of a large write that did not fit whole (issue 25); an
// old --out file stays when no row fits, and neither a new file nor a temporary one is left.
TEST_P(StudyFileSizeLimit, LeavesWholeRowsAndOneMessage) {
  const LimitRow& row = GetParam();
  if (row.old) {
    std::ofstream(Path(row.file), std::ios::binary) << "OLD\n";
  }
  ChildRun run = Child(row.args);
  run.limits = {{RLIMIT_FSIZE, row.limit}};
  if (row.to_stdout) {
    run.output = StandardOutput::kFile;
    run.output_file = Path(row.file);
  }
  const ChildResult r = RunChild(kProgram, run);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, std::string("pitch-autopilot-cli: ") + row.message + "\n");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, (row.at_least > 0 || row.old ? std::vector<std::string>{row.file}
                                               : std::vector<std::string>{}));
  const std::string rows = Read(row.file);
  if (row.at_least == 0) {
    EXPECT_EQ(rows, row.old ? "OLD\n" : "");
    return;
  }
  EXPECT_LE(rows.size(), row.limit);
  EXPECT_GT(rows.size(), row.at_least);
  ExpectWholeRows(rows, row.json);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, StudyFileSizeLimit,
    ::testing::Values(
        LimitRow{"OutCsv",
                 {"--sweep", "c1=0.5:1.5:20000", "--out", "rows.csv", "--no-progress"},
                 "rows.csv",
                 false,
                 false,
                 "--out rows.csv: I/O error 112."},
        LimitRow{"OutJsonLinesWithSamples",
                 {"--sweep", "c1=0.5:1.5:200", "--out", "rows.jsonl", "--samples", "--no-progress"},
                 "rows.jsonl",
                 false,
                 true,
                 "--out rows.jsonl: I/O error 112."},
        LimitRow{"OutCsvSmallOverOld",
                 {"--sweep", "c1=0.5:1.5:200", "--out", "rows.csv", "--no-progress"},
                 "rows.csv",
                 false,
                 false,
                 "--out rows.csv: I/O error 112.",
                 5000,
                 4000,
                 true},
        LimitRow{"OutJsonLinesSmall",
                 {"--sweep", "c1=0.5:1.5:2000", "--out", "rows.jsonl", "--no-progress"},
                 "rows.jsonl",
                 false,
                 true,
                 "--out rows.jsonl: I/O error 112.",
                 100000,
                 95000},
        LimitRow{"OutCsvNoRowFitsKeepsTheOldFile",
                 {"--sweep", "c1=0.5:1.5:200", "--out", "rows.csv", "--no-progress"},
                 "rows.csv",
                 false,
                 false,
                 "--out rows.csv: I/O error 112.",
                 100,
                 0,
                 true},
        LimitRow{"OutJsonLinesNoRowFitsLeavesNoFile",
                 {"--sweep", "c1=0.5:1.5:200", "--out", "rows.jsonl", "--no-progress"},
                 "rows.jsonl",
                 false,
                 true,
                 "--out rows.jsonl: I/O error 112.",
                 100,
                 0},
        LimitRow{"StandardOutput",
                 {"--sweep", "c1=0.5:1.5:20000", "--no-progress"},
                 "stdout.csv",
                 true,
                 false,
                 "the standard output: I/O error 112."}),
    [](const auto& row) { return std::string(row.param.name); });

// Two runs with one --out or one --map: the second is refused at once with "I/O error 32." and
// the first writes its rows alone (issue 19: the rows of both runs were mixed).
TEST_F(StudyProgram, ASecondWriterIsRefused) {
  // The run must outlast the 3 s after which the signal ends it, and a map allows at most 512
  // values along an axis. Sets with lags near 1e-305 are slow ones: each is simulated on its own
  // (its invariants too small for the grouped step) and its margins take longer paths. 262,144
  // of them on one thread take about 12 s, where as many ordinary sets take 3 s.
  ChildRun first =
      Child({"--sweep", "c4=1e-305:2e-305:512", "--sweep", "c5=1e-305:2e-305:512", "--out",
             "rows.csv", "--map", "m.png", "--margins", "--jobs", "1", "--no-progress"});
  first.send_signal = SIGTERM;
  first.signal_after_ms = 3000;
  ChildResult first_result;
  std::thread running([&] { first_result = RunChild(kProgram, first); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const ChildResult same_out =
      RunChild(kProgram, Child({"--sweep", "c1=0:1:3", "--out", "rows.csv", "--no-progress"}));
  const ChildResult same_map =
      RunChild(kProgram, Child({"--sweep", "c1=0:1:3", "--sweep", "c2=0:1:3", "--map", "m.png",
                                "--out", "other.csv", "--no-progress"}));
  running.join();
  EXPECT_EQ(same_out.code, 1);
  EXPECT_EQ(same_out.err, "pitch-autopilot-cli: --out rows.csv: I/O error 32.\n");
  EXPECT_EQ(same_map.code, 1);
  EXPECT_EQ(same_map.err, "pitch-autopilot-cli: --map m.png: I/O error 32.\n");
  EXPECT_FALSE(fs::exists(Path("other.csv")));
  EXPECT_EQ(first_result.code, 143) << first_result.err;
  ExpectWholeRows(Read("rows.csv"), false);
}

// More threads than the process may start: fewer threads and a note, never an abort (issue 19:
// "pthread_create has failed" and SIGABRT). The limit on processes binds users other than root,
// so the program runs as nobody.
TEST_F(StudyProgram, AThreadLimitGivesFewerThreads) {
  if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "needs root and setpriv to run the program as nobody, where RLIMIT_NPROC "
                    "binds";
  }
  ChildRun run = Child({"--reuid=nobody", "--regid=nogroup", "--clear-groups", kProgram, "--sweep",
                        "c1=0:1:3000", "--jobs", "200", "--no-progress"});
  run.dir = "/";
  run.limits = {{RLIMIT_NPROC, 12}};
  const ChildResult r = RunChild("/usr/bin/setpriv", run);
  if (r.code == 127 || r.err.find("setpriv:") != std::string::npos) {
    GTEST_SKIP() << "setpriv cannot run the program as nobody here: " << r.err;
  }
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("threads asked for could be started; the study runs on"), std::string::npos)
      << r.err;
  EXPECT_EQ(LinesOf(r.out).size(), 3001u);
}

}  // namespace
}  // namespace pitch::testing
