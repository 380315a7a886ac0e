#include "study/step_metrics.h"

#include <cmath>
#include <cstddef>

namespace pitch::study {

namespace {

constexpr double kBand = 0.02;

// As the analysis forms a crossing: the straight line between (t0, h0) and (t1, h1) at level.
double Crossing(double t0, double h0, double t1, double h1, double level) {
  if (h1 == h0) {
    return t1;
  }
  return t0 + (level - h0) / (h1 - h0) * (t1 - t0);
}

// The first sample at or above level, as a time: the first sample's own time when it is there
// already, else interpolated from the sample before.
std::optional<double> Reaching(std::span<const double> t, std::span<const double> h,
                               std::size_t index, double level) {
  if (index == h.size()) {
    return std::nullopt;
  }
  if (index == 0) {
    return t[0];
  }
  return Crossing(t[index - 1], h[index - 1], t[index], h[index], level);
}

}  // namespace

analysis::StepCharacteristics OnePassCharacteristics(std::span<const double> t,
                                                     std::span<const double> h) {
  const std::size_t n = h.size();
  std::size_t first10 = n;
  std::size_t first90 = n;
  std::size_t peak = 0;
  std::size_t last_outside = n;
  double peak_value = h[0];
  for (std::size_t i = 0; i < n; ++i) {
    const double v = h[i];
    if (v > peak_value) {  // the first of equal largest samples, as max_element
      peak_value = v;
      peak = i;
    }
    if (first10 == n && v >= 0.1) {
      first10 = i;
    }
    if (first90 == n && v >= 0.9) {
      first90 = i;
    }
    last_outside = std::fabs(v - 1) > kBand ? i : last_outside;
  }

  analysis::StepCharacteristics s;
  s.t10 = Reaching(t, h, first10, 0.1);
  s.t90 = Reaching(t, h, first90, 0.9);
  if (s.t10 && s.t90) {
    s.rise_time = *s.t90 - *s.t10;
  }
  s.peak = peak_value;
  s.peak_time = t[peak];
  s.overshoot_percent = s.peak > 1 ? (s.peak - 1) * 100 : 0;
  s.final_time = t[n - 1];
  s.final_deviation = h[n - 1] - 1;
  if (last_outside == n) {
    s.settling_time = t[0];
  } else if (last_outside + 1 < n) {
    const double edge = h[last_outside] > 1 ? 1 + kBand : 1 - kBand;
    s.settling_time =
        Crossing(t[last_outside], h[last_outside], t[last_outside + 1], h[last_outside + 1], edge);
  }
  return s;
}

}  // namespace pitch::study
