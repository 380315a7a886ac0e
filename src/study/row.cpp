#include "study/row.h"

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/session.h"

namespace pitch::study {

std::span<const double> StudySampleTimes() {
  static const std::vector<double> times = SampleTimes();
  return times;
}

bool StartRow(const std::array<Real, 5>& c, const FixedAutopilot* fixed, TController& controller,
              RowResult& result) {
  result.have_coefficients = true;
  result.c = c;
  controller.c1 = c[0];
  controller.c2 = c[1];
  controller.c3 = c[2];
  controller.c4 = c[3];
  controller.c5 = c[4];
  try {
    if (fixed != nullptr) {
      controller.muv = fixed->muv;
      controller.iv = fixed->iv;
      controller.nuv = fixed->nuv;
      controller.Tnu = fixed->Tnu.value_or(0);
      result.Tnu = fixed->Tnu;
    } else {
      // The synthesis stores each ratio as soon as it is formed and reads none it has not
      // stored, so a ratio still NaN after a failure was not formed.
      constexpr Real kNotFormed = std::numeric_limits<Real>::quiet_NaN();
      controller.muv = controller.iv = controller.nuv = controller.Tnu = kNotFormed;
      controller.ComputeGearRatios();
      result.Tnu = controller.Tnu;
    }
  } catch (const Exception& e) {
    result.error = RowError{e.ClassName(), Stage::kRatios, WithFullStop(e.what())};
    if (fixed == nullptr) {
      const auto formed = [](Real v) {
        return std::isnan(v) ? std::nullopt : std::optional<Real>(v);
      };
      result.muv = formed(controller.muv);
      result.iv = formed(controller.iv);
      result.nuv = formed(controller.nuv);
      result.Tnu = formed(controller.Tnu);
    }
    return false;
  }
  result.have_ratios = true;
  result.muv = controller.muv;
  result.iv = controller.iv;
  result.nuv = controller.nuv;
  return true;
}

void ComputeRow(const std::array<Real, 5>& c, const FixedAutopilot* fixed, TController& controller,
                RowResult& result, bool with_margins) {
  std::exception_ptr fault;
  if (StartRow(c, fixed, controller, result)) {
    try {
      controller.SimulateResponse();
    } catch (const Exception&) {
      fault = std::current_exception();
    }
  }
  FinishRow(controller, fault, result, with_margins);
}

void FinishRow(const TController& controller, const std::exception_ptr& fault, RowResult& result,
               bool with_margins) {
  if (result.have_ratios) {
    try {
      if (fault) {
        std::rethrow_exception(fault);
      }
      result.have_metrics = true;
      result.metrics = analysis::Characteristics(StudySampleTimes(), controller.teta.values());
    } catch (const Exception& e) {
      result.error = RowError{e.ClassName(), Stage::kResponse, WithFullStop(e.what())};
    }
  }
  if (!result.have_ratios) {
    return;
  }
  // The loop's decisions as every view of a calculation makes them, each once.
  const analysis::TLoopResults loop(controller);
  result.have_stability = true;
  result.stable = loop.Stable();
  result.spectral_radius = loop.Iteration().spectral_radius;
  result.euler_stable = loop.Iteration().stable;
  if (with_margins) {
    const analysis::MarginsResult& margins = loop.Margins();
    if (!margins.value) {
      result.margins_error = margins.reason;  // the loop's frequency response failed
      return;
    }
    if (margins.value->not_computable) {
      result.margins_not_computable = margins.value->not_computable;
      return;
    }
    const analysis::LoopMargins& m = *margins.value;
    RowMargins& r = result.margins.emplace();
    if (!m.gain.empty()) {
      r.gain = m.gain.front();
    }
    if (!m.phase.empty()) {
      r.phase = m.phase.front();
    }
    r.delay = m.delay;
    r.stability = m.stability;
  }
}

}  // namespace pitch::study
