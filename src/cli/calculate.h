// The front end's calculation: the coefficient texts through the controller's synthesis and
// simulation, as far as they go, and the analysis of what they reached. No output.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/euler_stability.h"
#include "analysis/frequency_response.h"
#include "analysis/session.h"
#include "core/controller.h"
#include "core/errors.h"

namespace pitch::cli {

// The steps of a run in their order; an error names the step it stopped.
enum class Step { kInput, kRatios, kResponse, kFiles };
const char* StepName(Step step);
Step StepOf(analysis::Stage stage);

// One error of a run as the front end reports it.
struct RunError {
  std::string kind;     // the error class's name: EConvertError, EOverflow, EInOutError, …
  std::string message;  // as the window's error display shows it, with its full stop
  Step step;
  std::string file = "";  // the file's path, for an error of the files step
  std::string hint = "";  // a second line on what the error may mean, or empty
};
RunError ErrorOf(const Exception& e, Step step, const std::string& file = "");

// The coefficient texts: the five given, or the window's start-up texts (written with a comma)
// when none are given.
struct CoefficientTexts {
  std::array<std::string, 5> texts;
  std::array<char, 5> separators;
};
CoefficientTexts CoefficientTextsOf(const std::vector<std::string>& given, char separator);
// The coefficient texts of a results file, each written with the separator in force (it reads
// to the same value as the file's own text); the file may be in the working code page or any the
// reader knows. Raises the reader's errors (EResultsFileError naming the line, EInOutError).
CoefficientTexts CoefficientTextsFromFile(const std::string& path, char separator,
                                          const std::string& code_page);

// The stability of the closed loop, once the ratios are known: its poles, whether the
// continuous loop is stable, and whether the simulation's Euler iteration is.
struct Stability {
  std::vector<analysis::Pole> poles;
  bool stable = false;
  bool marginal = false;  // not stable, with a pole on the imaginary axis and none right of it
  analysis::EulerStability iteration;  // at the simulation's step kTimeStep
};

// What the calculation reached. The controller's values as they stand after the failing step
// (coefficients stay zero after an input error; ratios and samples stored before a failure keep
// their new values).
struct Outcome {
  // The coefficient texts read; none when a results file (--from) could not be read.
  bool has_texts = false;
  std::array<std::string, 5> texts;
  std::array<Real, 5> coefficients{};
  Real muv = 0;
  Real iv = 0;
  Real nuv = 0;
  Real Tnu = 0;
  TSamples teta;
  std::optional<RunError> error;               // the step that stopped the calculation
  std::optional<std::string> unreadable_text;  // the coefficient text that is not a number

  std::optional<Stability> stability;              // when the ratios are known and asked for
  std::optional<analysis::LoopAnalysis> analysis;  // when the response is complete and asked for
  // The loop broken at the autopilot's command: its margins and Bode diagram, when the ratios
  // are known and asked for.
  std::optional<analysis::BodeData> frequency_response;
  // Why there is no frequency response although the ratios are known and it was asked for.
  std::optional<RunError> frequency_response_error;
  // The calculation itself, when one was run: the files and pictures are views of it.
  std::shared_ptr<const analysis::TSession> session;

  // The coefficients were read: there is something to save.
  bool InputsRead() const { return !error || error->step != Step::kInput; }
  // The four ratios are known.
  bool RatiosKnown() const { return !error || error->step == Step::kResponse; }
  // All 1000 samples are there.
  bool Simulated() const { return !error; }
};

// Reads the texts into c1 … c5 as the window does, synthesises the ratios and simulates the
// response, stopping at the first error; with analyse, adds the poles, the margins and the
// analysis for what was reached.
Outcome Calculate(const CoefficientTexts& input, bool analyse);
// The same for a session run already (without its texts).
Outcome OutcomeOf(std::shared_ptr<const analysis::TSession> session, bool analyse);

}  // namespace pitch::cli
