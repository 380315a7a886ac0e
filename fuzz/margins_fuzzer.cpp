// Fuzzes the loop margins of the autopilot loop over arbitrary coefficients: 40 bytes give the
// five coefficients c1 … c5 as doubles. Properties: no crash, hang or sanitizer report; the
// synthesis and the margins either succeed or raise the program's own exceptions; a result's
// figures are in their ranges (factors positive or rounded to 0, decibels matching them, phase
// margins within [−180°, 180°] (a margin just above −180° has −180 as its nearest double), delays
// and the stability margin non-negative, the least margin of each kind first).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "analysis/margins.h"
#include "core/controller.h"
#include "core/errors.h"

namespace {

[[noreturn]] void Violated(const char* what, const double (&c)[5]) {
  __builtin_printf("property violated: %s for c = %a %a %a %a %a\n", what, c[0], c[1], c[2], c[3],
                   c[4]);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  double c[5];
  if (size < sizeof c) {
    return 0;
  }
  std::memcpy(c, data, sizeof c);
  for (const double v : c) {
    if (!std::isfinite(v)) {
      return 0;  // the window and the studies read finite numbers only
    }
  }
  pitch::TController controller;
  controller.c1 = c[0];
  controller.c2 = c[1];
  controller.c3 = c[2];
  controller.c4 = c[3];
  controller.c5 = c[4];
  pitch::analysis::LoopMargins m;
  try {
    controller.ComputeGearRatios();
    m = pitch::analysis::Margins(controller);
  } catch (const pitch::Exception&) {
    return 0;
  }
  for (std::size_t i = 0; i < m.gain.size(); ++i) {
    const auto& g = m.gain[i];
    // A factor below the least subnormal double has 0 as its nearest double; its decibels stay
    // finite (below about -6465 dB).
    const bool factor_ok = g.factor > 0 || (g.factor == 0 && g.decibels < -6400);
    if (!factor_ok || std::isnan(g.decibels) || std::isnan(g.frequency) || g.frequency < 0) {
      Violated("a gain margin out of range", c);
    }
    if (std::isfinite(g.factor) && std::isfinite(g.decibels) && g.factor > 1e-300 &&
        g.factor < 1e300 &&
        std::fabs(20 * std::log10(g.factor) - g.decibels) > 1e-9 * (1 + std::fabs(g.decibels))) {
      Violated("decibels that do not match the factor", c);
    }
    if (i > 0 && std::fabs(m.gain[i - 1].decibels) > std::fabs(g.decibels)) {
      Violated("gain margins not least first", c);
    }
  }
  for (std::size_t i = 0; i < m.phase.size(); ++i) {
    const auto& p = m.phase[i];
    if (!(p.degrees >= -180 && p.degrees <= 180) || !(p.delay >= 0) || !(p.frequency >= 0)) {
      Violated("a phase margin out of range", c);
    }
    if (i > 0 && std::fabs(m.phase[i - 1].degrees) > std::fabs(p.degrees)) {
      Violated("phase margins not least first", c);
    }
  }
  if (m.delay && !(*m.delay >= 0)) {
    Violated("a negative delay margin", c);
  }
  if (!(m.stability.value >= 0) || std::isnan(m.stability.frequency)) {
    Violated("a stability margin out of range", c);
  }
  return 0;
}
