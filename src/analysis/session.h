// One calculation and everything decided about it: the coefficient texts (or values), the
// controller's synthesis and simulation as far as they go, the error that stopped them with its
// stage, and each analysis result, formed once on first use with its value or the reason it has
// none. The window, the command line, study rows and the report are views of a session.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/euler_stability.h"
#include "analysis/frequency_response.h"
#include "analysis/stability.h"
#include "core/controller.h"
#include "core/errors.h"

namespace pitch::analysis {

// The calculation's stages in their order; an error names the stage it stopped.
enum class Stage { kInput, kRatios, kResponse };
const char* StageName(Stage stage);

// An error as every view reports it: the class's name and the message with its full stop.
struct Failure {
  std::string kind;
  std::string message;
};
Failure FailureOf(const Exception& e);

struct StageFailure {
  Failure failure;
  Stage stage;
};

// The five coefficient texts, each with the decimal separator it is written with.
struct CoefficientTexts {
  std::array<std::string, 5> texts;
  std::array<char, 5> separators;
};

// The loop's frequency response, or why there is none.
struct FrequencyResult {
  std::optional<BodeData> data;
  std::optional<Failure> reason;
};

// The loop's margins alone (without the diagram's curve), or why there are none.
struct MarginsResult {
  std::optional<LoopMargins> value;
  std::optional<Failure> reason;
};

// The analysis of one controller's loop, each result formed once on first use. The controller
// must have its ratios and outlive this; a study row uses it on its own controller, a session on
// the session's.
class TLoopResults {
 public:
  explicit TLoopResults(const TController& c) : controller_(&c) {}

  // The closed loop's stability, decided once.
  Stability ClosedLoop() const;
  bool Stable() const { return ClosedLoop() == Stability::kStable; }
  const std::vector<Pole>& Poles() const;
  // The Euler iteration at the simulation's step.
  const EulerStability& Iteration() const;
  // The response's analysis against the exact solution; needs the simulation.
  const LoopAnalysis& Analysis() const;
  // The loop broken at the autopilot's command: its Bode diagram with the margins.
  const FrequencyResult& Frequency() const;
  // Its margins: the diagram's when it is formed, else the margins alone.
  const MarginsResult& Margins() const;

 private:
  const Matrix4& Matrix() const;
  const Eigenvalues4& Eigenvalues() const;

  const TController* controller_;
  const analysis::ClosedLoop& Loop() const;
  mutable std::optional<Matrix4> matrix_;
  mutable std::optional<analysis::ClosedLoop> loop_;
  mutable std::optional<Eigenvalues4> eigenvalues_;
  mutable std::optional<Stability> closed_loop_;
  mutable std::optional<std::vector<Pole>> poles_;
  mutable std::optional<EulerStability> iteration_;
  mutable std::optional<LoopAnalysis> analysis_;
  mutable std::optional<FrequencyResult> frequency_;
  mutable std::optional<MarginsResult> margins_;
};

class TSession {
 public:
  // Reads the texts into c1 … c5 in order, synthesises the ratios and simulates the response,
  // stopping at the first error. A failure at text k leaves c1 … c(k−1) read and the rest zero.
  static TSession Run(const CoefficientTexts& input);
  // The same from coefficient values (no input stage).
  static TSession Run(const std::array<Real, 5>& c);
  // A calculation run elsewhere (another process), from the controller it left and its error.
  static TSession Reached(const TController& c, std::optional<StageFailure> error);

  const std::optional<CoefficientTexts>& Texts() const { return texts_; }
  // The controller as the calculation left it: values stored before a failure keep them.
  const TController& Controller() const { return *controller_; }
  const std::optional<StageFailure>& Error() const { return error_; }
  // The coefficient text that is not a number, after an input error.
  const std::optional<std::string>& UnreadableText() const { return unreadable_text_; }

  bool InputsRead() const { return !error_ || error_->stage != Stage::kInput; }
  bool RatiosKnown() const { return !error_ || error_->stage == Stage::kResponse; }
  bool Simulated() const { return !error_; }

  // The analysis of the loop; needs the ratios (Analysis() the simulation).
  const TLoopResults& Loop() const { return loop_; }
  Stability ClosedLoop() const { return loop_.ClosedLoop(); }
  bool Stable() const { return loop_.Stable(); }
  const std::vector<Pole>& Poles() const { return loop_.Poles(); }
  const EulerStability& Iteration() const { return loop_.Iteration(); }
  const LoopAnalysis& Analysis() const { return loop_.Analysis(); }
  const FrequencyResult& Frequency() const { return loop_.Frequency(); }

 private:
  TSession() = default;
  void Synthesise(Stage first);

  std::optional<CoefficientTexts> texts_;
  // On the heap, so that the loop results of a copied or moved session still point at it;
  // unchanged once the session is run.
  std::shared_ptr<TController> controller_ = std::make_shared<TController>();
  std::optional<StageFailure> error_;
  std::optional<std::string> unreadable_text_;
  TLoopResults loop_{*controller_};
};

}  // namespace pitch::analysis
