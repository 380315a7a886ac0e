// pitch-autopilot-cli --robust as a shell starts it, stopped by a signal while its worst-case
// margins are still being bounded: the bounds reached are printed and the exit code says which
// signal stopped it.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

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

}  // namespace
}  // namespace pitch
