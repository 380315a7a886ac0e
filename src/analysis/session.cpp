#include "analysis/session.h"

#include <Eigen/Eigenvalues>
#include <utility>

#include "core/border.h"
#include "core/fp_environment.h"
#include "core/model.h"
#include "number_text/number_text.h"

namespace pitch::analysis {

namespace {

// The session's stand-in for the window: it parses the coefficient texts into c1 … c5.
class TTextBorder : public TBorder {
 public:
  // Like the window's input reading: each text is parsed and stored into its Real at once, so a
  // failure at text k leaves c1 … c(k−1) updated and the rest as they were.
  void ReadInputs(const CoefficientTexts& input) {
    Real* const fields[5] = {&c1, &c2, &c3, &c4, &c5};
    for (reading = 0; reading < 5; ++reading) {
      *fields[reading] = fp::Store(ParseNumber(input.texts[reading], input.separators[reading]));
    }
  }
  std::size_t reading = 0;  // the text being read
};

}  // namespace

const char* StageName(Stage stage) {
  switch (stage) {
    case Stage::kInput:
      return "input";
    case Stage::kRatios:
      return "ratios";
    case Stage::kResponse:
      break;
  }
  return "response";
}

Failure FailureOf(const Exception& e) { return {e.ClassName(), WithFullStop(e.what())}; }

TSession TSession::Run(const CoefficientTexts& input) {
  TSession session;
  session.texts_ = input;
  TTextBorder border;
  session.controller_->ConnectBorder(&border);
  try {
    border.ReadInputs(input);
    session.controller_->TakeCoefficients();
  } catch (const EConvertError& e) {
    session.error_ = StageFailure{FailureOf(e), Stage::kInput};
    session.unreadable_text_ = input.texts[border.reading];
  } catch (const Exception& e) {
    session.error_ = StageFailure{FailureOf(e), Stage::kInput};
  }
  session.controller_->ConnectBorder(nullptr);
  if (!session.error_) {
    session.Synthesise(Stage::kRatios);
  }
  return session;
}

TSession TSession::Run(const std::array<Real, 5>& c) {
  TSession session;
  TController& controller = *session.controller_;
  controller.c1 = c[0];
  controller.c2 = c[1];
  controller.c3 = c[2];
  controller.c4 = c[3];
  controller.c5 = c[4];
  session.Synthesise(Stage::kRatios);
  return session;
}

TSession TSession::Reached(const TController& c, std::optional<StageFailure> error) {
  TSession session;
  *session.controller_ = c;
  session.controller_->ConnectBorder(nullptr);
  session.error_ = std::move(error);
  return session;
}

void TSession::Synthesise(Stage first) {
  Stage stage = first;
  try {
    controller_->ComputeGearRatios();
    stage = Stage::kResponse;
    controller_->SimulateResponse();
  } catch (const Exception& e) {
    error_ = StageFailure{FailureOf(e), stage};
  }
}

const Matrix4& TLoopResults::Matrix() const {
  if (!matrix_) {
    matrix_ = ToEigen(ClosedLoopMatrix(*controller_));
  }
  return *matrix_;
}

const analysis::ClosedLoop& TLoopResults::Loop() const {
  if (!loop_) {
    loop_.emplace(*controller_);
  }
  return *loop_;
}

const Eigenvalues4& TLoopResults::Eigenvalues() const {
  if (!eigenvalues_) {
    eigenvalues_ = Loop().Eigenvalues();
  }
  return *eigenvalues_;
}

Stability TLoopResults::ClosedLoop() const {
  if (!closed_loop_) {
    closed_loop_ = Loop().Continuous();
  }
  return *closed_loop_;
}

const std::vector<Pole>& TLoopResults::Poles() const {
  if (!poles_) {
    poles_ = analysis_ ? analysis_->poles : PolesOf(Eigenvalues());
  }
  return *poles_;
}

const EulerStability& TLoopResults::Iteration() const {
  if (!iteration_) {
    iteration_ = EulerStabilityOf(Loop(), Eigenvalues(), kTimeStep);
  }
  return *iteration_;
}

const LoopAnalysis& TLoopResults::Analysis() const {
  if (!analysis_) {
    analysis_ = analysis::Analyze(*controller_, Stable());
  }
  return *analysis_;
}

const FrequencyResult& TLoopResults::Frequency() const {
  if (!frequency_) {
    FrequencyResult& result = frequency_.emplace();
    try {
      result.data = Bode(*controller_, Stable());
    } catch (const Exception& e) {
      result.reason = FailureOf(e);
    }
  }
  return *frequency_;
}

const MarginsResult& TLoopResults::Margins() const {
  if (!margins_) {
    MarginsResult& result = margins_.emplace();
    if (frequency_) {
      result.value = frequency_->data ? std::optional(frequency_->data->margins) : std::nullopt;
      result.reason = frequency_->reason;
    } else {
      try {
        result.value = analysis::Margins(*controller_, Stable());
      } catch (const Exception& e) {
        result.reason = FailureOf(e);
      }
    }
  }
  return *margins_;
}

}  // namespace pitch::analysis
