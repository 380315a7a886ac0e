// The step characteristics of a sampled response: the peak by a vectorised maximum and every
// other figure by a scan that stops as soon as it has its answer, four samples at a time. It is
// the one implementation, used by the analysis, the window's chart and the studies alike, whose
// rows it keeps fast.
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "analysis/analysis.h"

namespace pitch::analysis {

namespace {

constexpr double kBand = 0.02;

// The time where the straight line between (t0, h0) and (t1, h1) reaches level.
double Crossing(double t0, double h0, double t1, double h1, double level) {
  if (h1 == h0) {
    return t1;
  }
  return t0 + (level - h0) / (h1 - h0) * (t1 - t0);
}

// The scans take four samples at a time with SSE2 (part of x86-64); each comparison is the
// same as the scalar one, so the index found is the same.

// The first i with h[i] >= level, or n.
std::size_t FirstAtLeast(const double* h, std::size_t n, double level) {
  const __m128d l = _mm_set1_pd(level);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const int mask = _mm_movemask_pd(_mm_cmpge_pd(_mm_loadu_pd(h + i), l)) |
                     (_mm_movemask_pd(_mm_cmpge_pd(_mm_loadu_pd(h + i + 2), l)) << 2);
    if (mask != 0) {
      return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
  }
  for (; i < n; ++i) {
    if (h[i] >= level) {
      return i;
    }
  }
  return n;
}

// The first i with h[i] == v, or n.
std::size_t FirstEqual(const double* h, std::size_t n, double v) {
  const __m128d value = _mm_set1_pd(v);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const int mask = _mm_movemask_pd(_mm_cmpeq_pd(_mm_loadu_pd(h + i), value)) |
                     (_mm_movemask_pd(_mm_cmpeq_pd(_mm_loadu_pd(h + i + 2), value)) << 2);
    if (mask != 0) {
      return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
  }
  for (; i < n; ++i) {
    if (h[i] == v) {
      return i;
    }
  }
  return n;
}

// The last i with |h[i] − 1| > band, or n.
std::size_t LastOutsideBand(const double* h, std::size_t n) {
  std::size_t i = n;
  for (; i % 4 != 0; --i) {
    if (std::fabs(h[i - 1] - 1) > kBand) {
      return i - 1;
    }
  }
  const __m128d one = _mm_set1_pd(1);
  const __m128d band = _mm_set1_pd(kBand);
  const __m128d sign = _mm_set1_pd(-0.0);
  const auto outside = [&](std::size_t at) {
    const __m128d d = _mm_andnot_pd(sign, _mm_sub_pd(_mm_loadu_pd(h + at), one));
    return _mm_movemask_pd(_mm_cmpgt_pd(d, band));
  };
  for (; i >= 4; i -= 4) {
    const int mask = outside(i - 4) | (outside(i - 2) << 2);
    if (mask != 0) {
      return i - 4 + static_cast<std::size_t>(31 - __builtin_clz(static_cast<unsigned>(mask)));
    }
  }
  return n;
}

// The time a level is first reached, with the index of the first sample at or above it (n when
// none); from is a sample before which the level is known not to be reached. The first
// sample's own time when it is there already, else interpolated from the sample before.
std::optional<double> FirstReaching(std::span<const double> t, std::span<const double> h,
                                    double level, std::size_t from, std::size_t& index) {
  index = from + FirstAtLeast(h.data() + from, h.size() - from, level);
  if (index == h.size()) {
    return std::nullopt;
  }
  if (index == 0) {
    return t[0];
  }
  return Crossing(t[index - 1], h[index - 1], t[index], h[index], level);
}

// The largest value, sixteen samples at a time in eight running maxima held in registers (one
// maximum's latency would otherwise bound the loop).
double Largest(std::span<const double> h) {
  const double* p = h.data();
  const std::size_t n = h.size();
  std::size_t i = 0;
  __m128d a0 = _mm_set1_pd(p[0]);
  __m128d a1 = a0;
  __m128d a2 = a0;
  __m128d a3 = a0;
  __m128d a4 = a0;
  __m128d a5 = a0;
  __m128d a6 = a0;
  __m128d a7 = a0;
  for (; i + 16 <= n; i += 16) {
    a0 = _mm_max_pd(a0, _mm_loadu_pd(p + i));
    a1 = _mm_max_pd(a1, _mm_loadu_pd(p + i + 2));
    a2 = _mm_max_pd(a2, _mm_loadu_pd(p + i + 4));
    a3 = _mm_max_pd(a3, _mm_loadu_pd(p + i + 6));
    a4 = _mm_max_pd(a4, _mm_loadu_pd(p + i + 8));
    a5 = _mm_max_pd(a5, _mm_loadu_pd(p + i + 10));
    a6 = _mm_max_pd(a6, _mm_loadu_pd(p + i + 12));
    a7 = _mm_max_pd(a7, _mm_loadu_pd(p + i + 14));
  }
  a0 = _mm_max_pd(_mm_max_pd(_mm_max_pd(a0, a1), _mm_max_pd(a2, a3)),
                  _mm_max_pd(_mm_max_pd(a4, a5), _mm_max_pd(a6, a7)));
  double lanes[2];
  _mm_storeu_pd(lanes, a0);
  double largest = std::max(lanes[0], lanes[1]);
  for (; i < n; ++i) {
    largest = std::max(largest, p[i]);
  }
  return largest;
}

}  // namespace

StepCharacteristics Characteristics(std::span<const double> t, std::span<const double> h) {
  StepCharacteristics s;
  // A sample at or above 0.9 is at or above 0.1: the second scan starts where the first ended.
  std::size_t first10 = 0;
  std::size_t first90 = 0;
  s.t10 = FirstReaching(t, h, 0.1, 0, first10);
  s.t90 = FirstReaching(t, h, 0.9, first10, first90);
  if (s.t10 && s.t90) {
    s.rise_time = *s.t90 - *s.t10;
  }
  // The first sample equal to the largest, as max_element finds it (a zero's sign included:
  // the sample itself is taken, not the maximum). Samples that are not numbers have no largest;
  // max_element's answer is then taken as it is. Every sample before the first at or above 0.9
  // (0.1) is below it or not a number, so the search for a largest at or above it starts there.
  const double largest = Largest(h);
  const std::size_t searched = largest >= 0.9 ? first90 : largest >= 0.1 ? first10 : 0;
  std::size_t peak = searched + FirstEqual(h.data() + searched, h.size() - searched, largest);
  if (peak == h.size()) {
    peak = static_cast<std::size_t>(std::max_element(h.begin(), h.end()) - h.begin());
  }
  s.peak = h[peak];
  s.peak_time = t[peak];
  s.overshoot_percent = s.peak > 1 ? (s.peak - 1) * 100 : 0;

  const std::size_t n = h.size();
  s.final_time = t[n - 1];
  s.final_deviation = h[n - 1] - 1;
  const std::size_t last_outside = LastOutsideBand(h.data(), n);  // n: none
  if (last_outside == n) {
    s.settling_time = t[0];
  } else if (last_outside + 1 < n) {
    const double edge = h[last_outside] > 1 ? 1 + kBand : 1 - kBand;
    s.settling_time =
        Crossing(t[last_outside], h[last_outside], t[last_outside + 1], h[last_outside + 1], edge);
  }
  return s;
}

}  // namespace pitch::analysis
