// The built program as a script or a shell runs it: signals, resource limits, the display
// environment and the standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"

namespace pitch::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::string kProgram = PITCH_CLI_PROGRAM;
const char* const kRatioLines =
    "muv = 0.0920037424652426\niv = 0.271877699504714\nnuv = 0.0241508960470038\n"
    "Tnu = 11.2574580659687\n";

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    dir_ = fs::temp_directory_path() /
           ("pitch-cli-program-" + std::to_string(::getpid()) + "-" + std::to_string(++count));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The program in the test's folder, under the C locale and off screen unless env says else.
  ChildResult Run(std::vector<std::string> args, std::vector<std::pair<int, rlim_t>> limits = {},
                  StandardOutput output = StandardOutput::kCapture,
                  std::vector<std::string> env = {"LC_ALL=C", "QT_QPA_PLATFORM=offscreen"}) {
    ChildRun run;
    run.args = std::move(args);
    run.env = std::move(env);
    run.env.push_back("HOME=" + dir_.string());
    run.dir = dir_.string();
    run.limits = std::move(limits);
    run.output = output;
    return RunChild(kProgram, run);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

// The file size limit (SIGXFSZ) and a full disk end the same way: "I/O error 112.", one line a
// file naming it. The results file keeps only the whole 128-byte blocks written before the
// failure; an export, written to a temporary file, leaves the old file as it was, and a new one
// is not left behind, nor is any temporary file.
struct FileLimitRow {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> files;  // in the test's folder
  bool old;                        // the files exist before the run (300 bytes)
  const char* err;
};
void PrintTo(const FileLimitRow& row, std::ostream* os) { *os << row.name; }

class FileSizeLimit : public Program, public ::testing::WithParamInterface<FileLimitRow> {};

TEST_P(FileSizeLimit, IsAnIoErrorNamingTheFileAndKeepsTheOldFile) {
  const FileLimitRow& row = GetParam();
  const std::string old(300, 'x');
  for (const std::string& file : row.files) {
    if (row.old) {
      Put(file, old);
    }
  }
  const ChildResult r = Run(row.args, {{RLIMIT_FSIZE, 200}});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, row.err);
  EXPECT_EQ(r.out, kRatioLines);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected = row.old ? row.files : std::vector<std::string>();
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  for (const std::string& file : row.files) {
    if (!row.old) {
      continue;
    }
    if (file == "f.txt") {
      // The results file's first block, in place.
      const std::string kept = Read(file);
      EXPECT_EQ(kept.size(), 128u);
      EXPECT_NE(kept, old.substr(0, 128));
    } else {
      EXPECT_EQ(Read(file), old) << file;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileSizeLimit,
    ::testing::Values(FileLimitRow{"results",
                                   {"--results", "f.txt"},
                                   {"f.txt"},
                                   true,
                                   "pitch-autopilot-cli: --results f.txt: I/O error 112.\n"},
                      FileLimitRow{"csv",
                                   {"--csv", "f.csv"},
                                   {"f.csv"},
                                   true,
                                   "pitch-autopilot-cli: --csv f.csv: I/O error 112.\n"},
                      FileLimitRow{"plot",
                                   {"--plot", "f.png"},
                                   {"f.png"},
                                   true,
                                   "pitch-autopilot-cli: --plot f.png: I/O error 112.\n"},
                      FileLimitRow{"bode",
                                   {"--bode", "f.svg"},
                                   {"f.svg"},
                                   true,
                                   "pitch-autopilot-cli: --bode f.svg: I/O error 112.\n"},
                      FileLimitRow{"report",
                                   {"--report", "f.pdf"},
                                   {"f.pdf"},
                                   true,
                                   "pitch-autopilot-cli: --report f.pdf: I/O error 112.\n"},
                      FileLimitRow{"new_csv",
                                   {"--csv", "f.csv"},
                                   {"f.csv"},
                                   false,
                                   "pitch-autopilot-cli: --csv f.csv: I/O error 112.\n"},
                      FileLimitRow{"new_report",
                                   {"--report", "f.pdf"},
                                   {"f.pdf"},
                                   false,
                                   "pitch-autopilot-cli: --report f.pdf: I/O error 112.\n"},
                      FileLimitRow{"three_files",
                                   {"--csv", "f.csv", "--plot", "f.png", "--bode", "f.svg"},
                                   {"f.csv", "f.png", "f.svg"},
                                   true,
                                   "pitch-autopilot-cli: --csv f.csv: I/O error "
                                   "112.\npitch-autopilot-cli: --plot f.png: I/O error 112.\n"
                                   "pitch-autopilot-cli: --bode f.svg: I/O error 112.\n"}),
    [](const auto& row) { return std::string(row.param.name); });

// A FIFO as the file: without a reader the open fails at once; a reader that goes away while the
// program writes makes the write fail. Neither blocks nor kills the program.
TEST_F(Program, FifoWithoutAReaderFailsAtOnce) {
  ASSERT_EQ(::mkfifo(Path("ff").c_str(), 0600), 0);
  for (const char* option : {"--results", "--csv"}) {
    SCOPED_TRACE(option);
    const ChildResult r = Run({option, "ff"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "pitch-autopilot-cli: " + std::string(option) + " ff: I/O error 233.\n");
    EXPECT_EQ(r.out, kRatioLines);
  }
}

TEST_F(Program, FifoReaderThatGoesAwayMidWrite) {
  ASSERT_EQ(::mkfifo(Path("ff").c_str(), 0600), 0);
  const int reader = ::open(Path("ff").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  // A one-page buffer: the CSV (about 25 kB) cannot fit, so the program is still writing when
  // the reader leaves after its first bytes.
  ASSERT_GT(::fcntl(reader, F_SETPIPE_SZ, 4096), 0);
  std::thread quitter([reader] {
    char buffer[16];
    for (int tries = 0; tries < 10000 && ::read(reader, buffer, sizeof buffer) <= 0; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::close(reader);
  });
  const ChildResult r = Run({"--csv", "ff"});
  quitter.join();
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "pitch-autopilot-cli: --csv ff: I/O error 109.\n");
  EXPECT_EQ(r.out, kRatioLines);
}

// Output that does not arrive is an error: exit code 1 and the reason on stderr, never a silent
// success or a death by SIGPIPE.
struct OutputRow {
  const char* name;
  std::vector<std::string> args;
  StandardOutput output;
  const char* reason;
};
void PrintTo(const OutputRow& row, std::ostream* os) { *os << row.name; }

class LostOutput : public Program, public ::testing::WithParamInterface<OutputRow> {};

TEST_P(LostOutput, IsAnError) {
  const OutputRow& row = GetParam();
  const ChildResult r = Run(row.args, {}, row.output);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, std::string("pitch-autopilot-cli: the standard output: ") + row.reason + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, LostOutput,
    ::testing::Values(
        OutputRow{"ratios_to_full_disk", {}, StandardOutput::kDevFull, "I/O error 112."},
        OutputRow{"help_to_full_disk", {"--help"}, StandardOutput::kDevFull, "I/O error 112."},
        OutputRow{"json_to_closed", {"--json"}, StandardOutput::kClosed, "I/O error 9."},
        OutputRow{"version_to_closed", {"--version"}, StandardOutput::kClosed, "I/O error 9."},
        // Qt keeps descriptors open while drawing: none of them may take the closed one's place.
        OutputRow{"json_with_plot_to_closed",
                  {"--json", "--plot", "p.png"},
                  StandardOutput::kClosed,
                  "I/O error 9."},
        OutputRow{"json_to_pipe_without_reader",
                  {"--json"},
                  StandardOutput::kReaderGone,
                  "I/O error 109."}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(Program, AClosedStandardOutputLeavesTheFilesAlone) {
  ASSERT_EQ(Run({"--results", "expected.txt"}).code, 0);
  const ChildResult r = Run({"--json", "--results", "r.txt"}, {}, StandardOutput::kClosed);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Read("r.txt"), Read("expected.txt"));
}

// The headless front end draws off screen whatever platform the environment names, and without
// a display.
class AnyPlatform : public Program, public ::testing::WithParamInterface<const char*> {};

TEST_P(AnyPlatform, DrawsOffScreen) {
  const ChildResult r = Run({"--plot", "q.png"}, {}, StandardOutput::kCapture,
                            {"LC_ALL=C", std::string("QT_QPA_PLATFORM=") + GetParam()});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, kRatioLines);
  EXPECT_EQ(Read("q.png").substr(0, 4), "\x89PNG");
}

INSTANTIATE_TEST_SUITE_P(Platforms, AnyPlatform,
                         ::testing::Values("xcb", "wayland", "bogus", "offscreen", ""),
                         [](const auto& row) {
                           return std::string(*row.param ? row.param : "unset");
                         });

// Too few file descriptors to start Qt: a plain error for the picture, the rest of the run as
// usual, no abort.
class FewDescriptors : public Program, public ::testing::WithParamInterface<rlim_t> {};

TEST_P(FewDescriptors, MakeThePictureAnError) {
#ifdef PITCH_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
  const ChildResult r = Run({"--plot", "p.png"}, {{RLIMIT_NOFILE, GetParam()}});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "pitch-autopilot-cli: --plot p.png: The chart cannot be drawn: too many open files.\n");
  EXPECT_EQ(r.out, kRatioLines);
  EXPECT_FALSE(fs::exists(Path("p.png")));
}

INSTANTIATE_TEST_SUITE_P(Limits, FewDescriptors, ::testing::Values(4, 5, 6),
                         [](const auto& row) { return std::to_string(row.param) + "Descriptors"; });

// A picture too large for the memory at hand is an error of the files step, and the file that
// was there stays as it was.
struct MemoryRow {
  const char* name;
  const char* size;
  rlim_t address_space;
};
void PrintTo(const MemoryRow& row, std::ostream* os) { *os << row.name; }

class PictureWithoutMemory : public Program, public ::testing::WithParamInterface<MemoryRow> {};

TEST_P(PictureWithoutMemory, IsAnErrorAndKeepsTheOldFile) {
#ifdef PITCH_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime reserves more address space than the limit";
#endif
  Put("p.png", "OLD\n");
  const ChildResult r = Run({"--json", "--plot", "p.png", "--size", GetParam().size},
                            {{RLIMIT_AS, GetParam().address_space}});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 1);
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["error"]["kind"], "EPlotError");
  EXPECT_EQ(j["error"]["stage"], "files");
  EXPECT_EQ(j["error"]["message"].get<std::string>().rfind("The chart cannot be drawn: ", 0), 0u);
  // The message names the option and the file.
  EXPECT_EQ(r.err, "pitch-autopilot-cli: --plot p.png: " +
                       j["error"]["message"].get<std::string>() + "\n");
  EXPECT_EQ(Read("p.png"), "OLD\n");
}

TEST_F(Program, ABodeDiagramWithoutMemoryIsAnErrorAndKeepsTheOldFile) {
#ifdef PITCH_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime reserves more address space than the limit";
#endif
  Put("b.png", "OLD\n");
  const ChildResult r =
      Run({"--bode", "b.png", "--size", "10000x10000"}, {{RLIMIT_AS, 400u << 20}});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, kRatioLines);
  EXPECT_EQ(r.err.rfind("pitch-autopilot-cli: --bode b.png: The Bode diagram cannot be drawn: ", 0),
            0u)
      << r.err;
  EXPECT_EQ(Read("b.png"), "OLD\n");
}

// Without the renderer a picture is an error and a skipped file; the rows and the other files are
// written all the same. A renderer that hangs is stopped after the time the environment sets.
struct RendererRow {
  const char* name;
  std::vector<std::string> args;
  const char* renderer;      // the script's body; nullptr: no renderer there
  const char* error;         // the start of the picture's error line
  bool skipped;              // also named as not written
  rlim_t address_space = 0;  // RLIMIT_AS for the command line, or 0: none
};
void PrintTo(const RendererRow& row, std::ostream* os) { *os << row.name; }

class Renderer : public Program, public ::testing::WithParamInterface<RendererRow> {};

TEST_P(Renderer, FailsThePictureOnly) {
  const RendererRow& row = GetParam();
  const std::string renderer = Path("renderer");
  if (row.renderer != nullptr) {
    Put("renderer", std::string("#!/bin/sh\n") + row.renderer + "\n");
    fs::permissions(renderer, fs::perms::owner_all);
  }
  std::vector<std::string> args = row.args;
  args.insert(args.end(), {"--csv", "r.csv", "--results", "r.txt"});
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::pair<int, rlim_t>> limits;
  if (row.address_space != 0) {
#ifdef PITCH_SANITIZED
    GTEST_SKIP() << "the sanitizer runtime reserves more address space than the limit";
#endif
    limits.emplace_back(RLIMIT_AS, row.address_space);
  }
  const ChildResult r =
      Run(args, limits, StandardOutput::kCapture,
          {"LC_ALL=C", "PITCH_AUTOPILOT_RENDERER=" + renderer, "PITCH_AUTOPILOT_RENDER_TIMEOUT=2"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 1);
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["error"]["kind"], "EPlotError");
  EXPECT_EQ(j["error"]["message"].get<std::string>().rfind(row.error, 0), 0u) << j["error"];
  EXPECT_TRUE(j["ratios"]["muv"].is_number());
  ASSERT_EQ(j["skipped"].size(), row.skipped ? 1u : 0u) << j["skipped"];
  if (row.skipped) {
    EXPECT_EQ(j["skipped"][0]["option"], row.args[1]);
    EXPECT_EQ(j["skipped"][0]["reason"], "the picture renderer is not installed");
    EXPECT_NE(r.err.find(row.args[1] + " p.png was not written: the picture renderer is not "
                                       "installed.\n"),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(Read("r.csv").substr(0, 6), "t,h\n0,") << "the CSV is written";
  EXPECT_FALSE(Read("r.txt").empty());
  EXPECT_FALSE(fs::exists(Path("p.png")));
}

INSTANTIATE_TEST_SUITE_P(
    Missing, Renderer,
    ::testing::Values(
        RendererRow{"plot_missing",
                    {"--json", "--plot", "p.png"},
                    nullptr,
                    "The chart cannot be drawn: the picture renderer ",
                    true},
        RendererRow{"bode_missing",
                    {"--json", "--bode", "p.png"},
                    nullptr,
                    "The Bode diagram cannot be drawn: the picture renderer ",
                    true},
        RendererRow{"plot_failing",
                    {"--json", "--plot", "p.png"},
                    "exit 4",
                    "The chart cannot be drawn: the renderer ended with exit code 4",
                    false},
        RendererRow{"plot_hanging",
                    {"--json", "--plot", "p.png"},
                    "sleep 60",
                    "The chart cannot be drawn: the renderer did not finish within 2 s",
                    false},
        // An answer that states 4 GiB and goes on: stopped at the picture's limit.
        RendererRow{"plot_answer_too_long",
                    {"--json", "--plot", "p.png"},
                    "cat >/dev/null; printf 'pitch-autopilot picture 1\\npicture"
                    "\\0\\0\\0\\0\\0\\001\\0\\0\\0'; "
                    "exec head -c 1000000000 /dev/zero",
                    "The chart cannot be drawn: the renderer's answer is longer than ",
                    false},
        // 70 MB, within the limit, but not within the memory left.
        RendererRow{"plot_answer_without_memory",
                    {"--json", "--plot", "p.png"},
                    "cat >/dev/null; printf 'pitch-autopilot picture 1\\npicture"
                    "\\0\\200\\035\\054\\004\\0\\0\\0\\0'; "
                    "exec head -c 70000000 /dev/zero",
                    "The chart cannot be drawn: not enough memory for the picture",
                    false,
                    150u << 20},
        RendererRow{"bode_answer_without_memory",
                    {"--json", "--bode", "p.png"},
                    "cat >/dev/null; printf 'pitch-autopilot picture 1\\npicture"
                    "\\0\\200\\035\\054\\004\\0\\0\\0\\0'; "
                    "exec head -c 70000000 /dev/zero",
                    "The Bode diagram cannot be drawn: not enough memory for the "
                    "picture",
                    false,
                    150u << 20}),
    [](const auto& row) { return std::string(row.param.name); });

// A study's map without the renderer: the rows are written, the map is an error (exit 1).
TEST_F(Program, AStudyWithoutTheRendererWritesItsRows) {
  const ChildResult r = Run({"--sweep", "c2=0.1:1.5:3", "--sweep", "c3=-12:12:2", "--map", "m.png",
                             "--out", "r.csv", "--no-progress"},
                            {}, StandardOutput::kCapture,
                            {"LC_ALL=C", "PITCH_AUTOPILOT_RENDERER=" + Path("nowhere")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the map m.png: The map cannot be drawn: the picture renderer "),
            std::string::npos)
      << r.err;
  const std::string rows = Read("r.csv");
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 7) << rows;
  EXPECT_FALSE(fs::exists(Path("m.png")));
}

// PITCH_AUTOPILOT_RENDER_TIMEOUT takes whole seconds from 1 to 3600 in ASCII digits; anything
// else is a usage error naming the variable, before any work is done.
#if defined(PITCH_WAIT_FAULTS) && defined(PITCH_RENDERER_PROGRAM)
// The wait for the renderer without a pidfd (an older kernel: the child is looked at every
// 20 ms) still gives the picture; a failing poll is an error of its own, naming its file, and
// the other output stands.
struct WaitFaultRow {
  const char* name;
  const char* fault;
  int code;
  const char* err;  // the whole of stderr
};
void PrintTo(const WaitFaultRow& row, std::ostream* os) { *os << row.name; }

class RendererWait : public Program, public ::testing::WithParamInterface<WaitFaultRow> {};

TEST_P(RendererWait, FaultsInTheWait) {
  const ChildResult r =
      Run({"--plot", "p.png", "--results", "r.txt"}, {}, StandardOutput::kCapture,
          {"LC_ALL=C", "QT_QPA_PLATFORM=offscreen", "LD_PRELOAD=" PITCH_WAIT_FAULTS,
           std::string("PITCH_WAIT_FAULT=") + GetParam().fault});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, GetParam().code) << r.err;
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_EQ(r.out, kRatioLines);
  EXPECT_TRUE(fs::exists(Path("r.txt")));
  EXPECT_EQ(fs::exists(Path("p.png")), GetParam().code == 0);
  if (GetParam().code == 0) {
    EXPECT_EQ(Read("p.png").substr(1, 3), "PNG");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Waits, RendererWait,
    ::testing::Values(WaitFaultRow{"no_pidfd", "no-pidfd", 0, ""},
                      WaitFaultRow{"poll_fails", "poll", 1,
                                   "pitch-autopilot-cli: --plot p.png: The chart cannot be drawn: "
                                   "waiting for the renderer failed (Cannot allocate memory) and "
                                   "it was stopped.\n"}),
    [](const auto& row) { return std::string(row.param.name); });
#endif

struct TimeoutRow {
  const char* name;
  const char* value;
  bool refused;
};
void PrintTo(const TimeoutRow& row, std::ostream* os) { *os << row.name; }

class RenderTimeout : public Program, public ::testing::WithParamInterface<TimeoutRow> {};

TEST_P(RenderTimeout, IsWholeSecondsOrAUsageError) {
  const TimeoutRow& row = GetParam();
  const ChildResult r =
      Run({"--results", "r.txt"}, {}, StandardOutput::kCapture,
          {"LC_ALL=C", std::string("PITCH_AUTOPILOT_RENDER_TIMEOUT=") + row.value});
  EXPECT_EQ(r.signal, 0);
  if (row.refused) {
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("pitch-autopilot-cli: PITCH_AUTOPILOT_RENDER_TIMEOUT is \"") +
                         row.value +
                         "\": it takes a whole number of seconds from 1 to 3600 in ASCII "
                         "digits\nTry 'pitch-autopilot-cli --help' for more information.\n");
    EXPECT_FALSE(fs::exists(Path("r.txt")));
  } else {
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, kRatioLines);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, RenderTimeout,
    ::testing::Values(TimeoutRow{"one", "1", false}, TimeoutRow{"an_hour", "3600", false},
                      TimeoutRow{"leading_zero", "0030", false}, TimeoutRow{"zero", "0", true},
                      TimeoutRow{"negative", "-1", true}, TimeoutRow{"fraction", "2.5", true},
                      TimeoutRow{"unit", "2s", true}, TimeoutRow{"huge_exponent", "1e309", true},
                      TimeoutRow{"a_day", "86400", true}, TimeoutRow{"over_an_hour", "3601", true},
                      TimeoutRow{"space", " 5", true}, TimeoutRow{"plus", "+5", true},
                      TimeoutRow{"full_width_digit", "\xEF\xBC\x95", true}),
    [](const auto& row) { return std::string(row.param.name); });

#ifdef PITCH_RENDERER_PROGRAM
// Whatever ends the command line while a large picture is drawn ends its renderer too: the
// handled signals kill the renderer's process group, SIGKILL reaches it through the kernel.
// The renderer's process number comes from a wrapper that execs the real renderer.
class EndedWhileDrawing : public Program, public ::testing::WithParamInterface<int> {};

// Whether the process runs (a zombie waiting for its new parent has ended).
bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) {
    return false;
  }
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

TEST_P(EndedWhileDrawing, LeavesNoRenderer) {
#ifdef PITCH_SANITIZED
  GTEST_SKIP() << "a 10000 x 10000 picture under the sanitizers";
#endif
  Put("renderer", "#!/bin/sh\necho $$ > " + Path("renderer.pid") + "\nexec " +
                      PITCH_RENDERER_PROGRAM + " 2>/dev/null\n");
  fs::permissions(Path("renderer"), fs::perms::owner_all);
  ChildRun run;
  run.args = {"--plot", "p.png", "--size", "10000x10000"};
  run.env = {"LC_ALL=C", "HOME=" + dir_.string(), "PITCH_AUTOPILOT_RENDERER=" + Path("renderer")};
  run.dir = dir_.string();
  run.send_signal = GetParam();
  run.signal_after_ms = 700;
  const ChildResult r = RunChild(kProgram, run);
  std::ifstream pid_file(Path("renderer.pid"));
  pid_t renderer = 0;
  pid_file >> renderer;
  ASSERT_GT(renderer, 0) << "the renderer was not started";
  bool running = true;
  for (int i = 0; i < 200 && running; ++i) {
    running = Running(renderer);
    if (running) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (running) {
    ::kill(renderer, SIGKILL);  // not left behind by a failing test either
  }
  EXPECT_FALSE(running) << "the renderer runs on";
  EXPECT_EQ(r.signal, GetParam()) << "the command line ended before the signal: " << r.err;
}

INSTANTIATE_TEST_SUITE_P(Signals, EndedWhileDrawing,
                         ::testing::Values(SIGTERM, SIGHUP, SIGINT, SIGKILL),
                         [](const auto& row) { return std::string(sigabbrev_np(row.param)); });
#endif

INSTANTIATE_TEST_SUITE_P(Sizes, PictureWithoutMemory,
                         ::testing::Values(MemoryRow{"8000_in_200_MB", "8000x8000", 200u << 20},
                                           MemoryRow{"10000_in_400_MB", "10000x10000", 400u << 20}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch::testing
