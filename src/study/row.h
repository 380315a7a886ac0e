// One set of a study: from its coefficients to everything its output row holds. The same steps
// as a single calculation (synthesis, then simulation, each in the controller), then the step
// characteristics of the samples and the stability of the continuous loop and of its Euler
// iteration, from one solution for the poles.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>

#include "analysis/analysis.h"
#include "analysis/margins.h"
#include "analysis/session.h"
#include "core/controller.h"

namespace pitch::study {

// The calculation's stages, as every front end names them.
using analysis::Stage;
using analysis::StageName;

struct RowError {
  std::string kind;  // the error's class name: EInvalidOp, EConvertError, …
  Stage stage = Stage::kInput;
  std::string message;  // as the error display shows it, with its full stop
};

// Gear ratios fixed for a whole study instead of a synthesis per set.
struct FixedAutopilot {
  Real muv = 0;
  Real iv = 0;
  Real nuv = 0;
  std::optional<Real> Tnu;  // iv / nuv; empty when that quotient fails
};

// The headline loop margins of a set: the least of each kind.
struct RowMargins {
  std::optional<analysis::GainMargin> gain;    // none: the gain margin is infinite
  std::optional<analysis::PhaseMargin> phase;  // none: |L| never equals 1
  std::optional<double> delay;
  analysis::StabilityMargin stability;
};

struct RowResult {
  std::int64_t row = 0;
  bool have_coefficients = false;
  std::array<Real, 5> c{};
  bool have_ratios = false;  // the synthesis completed, or the autopilot is fixed
  // The ratios this set's synthesis formed, each as the controller stored it: a synthesis that
  // fails after forming muv (and perhaps iv and nuv) keeps those, as the single calculation
  // does; a fixed autopilot's Tnu is empty when iv / nuv fails.
  std::optional<Real> muv;
  std::optional<Real> iv;
  std::optional<Real> nuv;
  std::optional<Real> Tnu;
  std::optional<RowError> error;
  bool have_metrics = false;  // the simulation completed
  analysis::StepCharacteristics metrics;
  bool have_stability = false;        // the ratios are known
  bool stable = false;                // every pole of the continuous loop in the left half-plane
  double spectral_radius = 0;         // of I + A·dt
  bool euler_stable = false;          // spectral radius below 1
  std::optional<RowMargins> margins;  // when asked for and the ratios are known
  // Why margins is empty although asked for and the ratios are known: the failure of the loop's
  // frequency response, or the reason its margins are not computable in the double range.
  std::optional<analysis::Failure> margins_error;
  std::optional<std::string> margins_not_computable;
};

// Synthesis (unless fixed is given) and simulation in controller, then the analysis. Failures
// of the calculation become the result's error; the controller's samples are the set's
// response when have_metrics. With with_margins, the loop margins too (none when they are not
// computable in the double range).
void ComputeRow(const std::array<Real, 5>& c, const FixedAutopilot* fixed, TController& controller,
                RowResult& result, bool with_margins = false);

// ComputeRow in two parts, so that the simulations of several rows can share a loop
// (SimulateResponses): StartRow is the synthesis (true: the row is to be simulated next), and
// FinishRow takes the simulation's outcome (fault null: it completed) and does the rest.
bool StartRow(const std::array<Real, 5>& c, const FixedAutopilot* fixed, TController& controller,
              RowResult& result);
void FinishRow(const TController& controller, const std::exception_ptr& fault, RowResult& result,
               bool with_margins);

// The sample times t_1 … t_1000, formed once.
std::span<const double> StudySampleTimes();

}  // namespace pitch::study
