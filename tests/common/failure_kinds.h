// One failure of each kind that a calculation reports, for the tables that check every view of
// it: the command line's text and JSON with study rows (tests/study/cli_study_test.cpp), and the
// window (tests/ui/tst_form_base.cpp). Same kind, same words everywhere.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "analysis/margins.h"
#include "analysis/session.h"
#include "core/controller.h"
#include "core/errors.h"
#include "core/extended.h"
#include "number_text/number_text.h"

namespace pitch::testing {

struct FailureRow {
  const char* name;
  std::array<std::string, 5> texts;    // the coefficients, with '.' as the decimal separator
  std::vector<std::string> autopilot;  // muv iv nuv for every set of a study; none: synthesised
  const char* stage;  // "input", "ratios", "response"; "margins": the ratios are known
  const char* words;  // the error's message, or the margins' line of the command line's --metrics
  // What every view quotes as it is, the window's Russian ones too: the error's message, the
  // reason the margins are not computable, or the failed analysis's message.
  const char* reason;
  bool loop_fault = false;  // the loop's analysis fails (no input reaches that: LoopFault)
};

inline std::vector<FailureRow> FailureRows() {
  return {
      {"Input",
       {"0.88", "abc", "7.028", "0.987", "0.251"},
       {},
       "input",
       "'abc' is not a valid floating point value.",
       "'abc' is not a valid floating point value."},
      {"Ratios",
       {"0.88", "0.2", "7.028", "0.987", "0.251"},
       {},
       "ratios",
       "Invalid floating point operation.",
       "Invalid floating point operation."},
      {"ResponseOverflow",
       {"400", "0.404", "7.028", "0.987", "0.251"},
       {},
       "response",
       "Floating point overflow.",
       "Floating point overflow."},
      {"MarginsNotComputable",
       {"0.88", "0.404", "1e-300", "0.987", "0.251"},
       {"1", "1", "1e300"},
       "margins",
       "not computable in the double range: a margin lies beyond the double range",
       "a margin lies beyond the double range"},
      {"FrequencyResponseFailed",
       {"0.88", "0.404", "7.028", "0.987", "0.251"},
       {},
       "margins",
       "not computed: Floating point division by zero.",
       "Floating point division by zero.",
       true},
  };
}

// While it lives, the analysis of every controller's loop fails as for a loop whose denominator
// vanishes.
class LoopFault {
 public:
  LoopFault() {
    analysis::SetLoopAnalysisFault([](const TController&) { throw EZeroDivide(); });
  }
  ~LoopFault() { analysis::SetLoopAnalysisFault(nullptr); }
  LoopFault(const LoopFault&) = delete;
  LoopFault& operator=(const LoopFault&) = delete;
};

// A row with a fixed autopilot is no calculation of the command line or the window: its views are
// those of a session on the controller a study makes of it (the ratios given, the response
// simulated as far as it goes).
inline analysis::TSession FixedAutopilotSession(const FailureRow& row) {
  const auto value = [](const std::string& s) { return fp::Store(ParseNumber(s, '.')); };
  TController c;
  Real* const fields[5] = {&c.c1, &c.c2, &c.c3, &c.c4, &c.c5};
  for (std::size_t k = 0; k < 5; ++k) {
    *fields[k] = value(row.texts[k]);
  }
  c.muv = value(row.autopilot[0]);
  c.iv = value(row.autopilot[1]);
  c.nuv = value(row.autopilot[2]);
  c.Tnu = fp::Store(Extended{c.iv} / c.nuv);
  std::optional<analysis::StageFailure> error;
  try {
    c.SimulateResponse();
  } catch (const Exception& e) {
    error = analysis::StageFailure{analysis::FailureOf(e), analysis::Stage::kResponse};
  }
  return analysis::TSession::Reached(c, error);
}

}  // namespace pitch::testing
