// A batch row against the front end's single calculation of the same set (--json), run as a
// child process with an environment of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "study_test_support.h"

extern char** environ;

namespace pitch::study {
namespace {

using Json = nlohmann::json;
using testing::JsonLines;
using testing::ReadFile;
using testing::Study;
using testing::TempFolder;

// The program's standard output; the child's environment is exactly env.
std::string RunProgram(std::vector<std::string> args, std::vector<std::string> env) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) {
    ADD_FAILURE() << "pipe";
    return "";
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_ends[1]);
  std::string out;
  char buffer[65536];
  for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe_ends[0]);
  EXPECT_EQ(spawned, 0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

TEST(StudyAgainstSingleRun, RowsEqualTheFrontEndsJsonBitForBit) {
  const std::vector<std::array<std::string, 5>> sets = {
      {"0.880", "0.404", "7.028", "0.987", "0.251"},
      {"0.88", "0.404", "-7.028", "0.987", "0.251"},
      {"1.2345678901234567", "0.5", "3.25e0", "0.75", "0.1"},
      {"0.88", "0.2", "7.028", "0.987", "0.251"},   // the synthesis fails
      {"400", "0.404", "7.028", "0.987", "0.251"},  // the simulation overflows
      {"0.1", "0.404", "-7.028", "2", "0.1"},       // the damped-loop check fails
      {"0.5", "0", "-1", "1", "0"},                 // muv formed, then Kz divides by zero
  };
  TempFolder folder;
  std::string csv = "c1,c2,c3,c4,c5\n";
  for (const auto& s : sets) {
    csv += s[0] + "," + s[1] + "," + s[2] + "," + s[3] + "," + s[4] + "\n";
  }
  StudyOptions o;
  o.batch = "-";
  o.out = folder / "rows.jsonl";
  o.samples = true;
  ASSERT_EQ(Study(o, csv).code, 0);
  const std::vector<Json> rows = JsonLines(ReadFile(*o.out));
  ASSERT_EQ(rows.size(), sets.size());

  for (std::size_t i = 0; i < sets.size(); ++i) {
    const Json single = Json::parse(RunProgram(
        {PITCH_CLI_PATH, "--json", sets[i][0], sets[i][1], sets[i][2], sets[i][3], sets[i][4]},
        {"LC_ALL=C", "QT_QPA_PLATFORM=offscreen"}));
    const Json& row = rows[i];
    const std::string what = "set " + std::to_string(i);
    // JSON numbers read back to the doubles they were written from, so equal values mean equal
    // bits (a zero's sign apart).
    EXPECT_EQ(row["coefficients"], single["coefficients"]) << what;
    EXPECT_EQ(row["error"], single["error"]) << what;
    if (single["error"].is_null() || single["error"]["stage"] == "response") {
      EXPECT_EQ(row["ratios"], single["ratios"]) << what;
      EXPECT_EQ(row["stable"], single["poles"]["stable"]) << what;
    } else if (single["error"]["stage"] == "ratios") {
      // The single calculation shows the ratios the failed synthesis formed and 0 (a new
      // controller's value) for the rest; the row has those it formed and null for the rest.
      const Json& ratios = single["ratios"];
      EXPECT_EQ(row["ratios"].is_null(), ratios["muv"] == 0) << what;
      for (const char* key : {"muv", "iv", "nuv", "Tnu"}) {
        if (ratios[key] != 0) {
          EXPECT_EQ(row["ratios"][key], ratios[key]) << what << ' ' << key;
        } else if (!row["ratios"].is_null()) {
          EXPECT_TRUE(row["ratios"][key].is_null()) << what << ' ' << key;
        }
      }
    }
    if (single["error"].is_null()) {
      EXPECT_EQ(row["response"], single["response"]) << what;
      for (const char* key : {"peak", "peak_time", "overshoot_percent", "rise_time",
                              "settling_time", "final_deviation"}) {
        EXPECT_EQ(row["metrics"][key], single["metrics"][key]) << what << ' ' << key;
      }
    }
    // The margins in one schema: the row's are the headline members of --json's, each member
    // and nested key alike (stability_margin's infinite_frequency, not_computable included),
    // and the reason for none is --json's margins_error.
    if (single["margins"].is_object()) {
      Json headline = single["margins"];
      for (const char* key : {"closed_loop_stable", "phase_crossings", "gain_crossovers"}) {
        headline.erase(key);
      }
      EXPECT_EQ(row["margins"], headline) << what;
    } else {
      EXPECT_TRUE(row["margins"].is_null()) << what;
    }
    EXPECT_EQ(row["margins_error"], single["margins_error"]) << what;
  }
}

}  // namespace
}  // namespace pitch::study
