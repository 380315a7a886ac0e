#include "cli/margins_report.h"

#include <cmath>
#include <string>
#include <vector>

#include "number_text/number_text.h"
#include "study/margins_json.h"

namespace pitch::cli {

namespace {

std::string GainText(const analysis::GainMargin& g, char separator) {
  return FormatNumber(g.factor, separator) + " (" + FormatNumber(g.decibels, separator) + " dB)";
}

std::string AtFrequency(double omega, char separator) {
  return std::isinf(omega) ? std::string("at infinite frequency (a limit)")
                           : "at " + FormatNumber(omega, separator) + " rad/s";
}

}  // namespace

void PrintMargins(std::ostream& out, const analysis::LoopMargins& m, char separator) {
  const auto num = [separator](double v) { return FormatNumber(v, separator); };
  out << "loop margins (loop broken at the autopilot's command):\n";
  if (!m.closed_loop_stable) {
    out << "  the closed loop is unstable: these are not stability margins\n";
  }
  if (m.not_computable) {
    out << "  " << study::MarginsNotComputableText(*m.not_computable) << '\n';
    return;
  }
  if (m.gain.empty()) {
    out << "  gain margin: infinite (the phase does not cross -180 deg)\n";
  } else {
    out << "  gain margin: " << GainText(m.gain.front(), separator) << ' '
        << AtFrequency(m.gain.front().frequency, separator) << '\n';
  }
  if (m.phase.empty()) {
    out << "  phase margin: none (|L| does not cross 1)\n";
  } else {
    out << "  phase margin: " << num(m.phase.front().degrees) << " deg "
        << AtFrequency(m.phase.front().frequency, separator) << '\n';
  }
  out << "  delay margin: " << (m.delay ? num(*m.delay) + " s" : std::string("none")) << '\n';
  out << "  stability margin min |1 + L(jw)|: " << num(m.stability.value) << ' '
      << AtFrequency(m.stability.frequency, separator) << '\n';

  out << "  phase crossings (-180 deg + k*360 deg):" << (m.gain.empty() ? " none\n" : "\n");
  for (const analysis::GainMargin& g : m.gain) {
    out << "    " << num(g.frequency) << " rad/s: gain margin " << GainText(g, separator)
        << ", phase " << num(g.phase_degrees) << " deg\n";
  }
  out << "  gain crossovers (|L| = 1):" << (m.phase.empty() ? " none\n" : "\n");
  for (const analysis::PhaseMargin& p : m.phase) {
    out << "    " << num(p.frequency) << " rad/s: phase margin " << num(p.degrees)
        << " deg, delay margin " << num(p.delay) << " s\n";
  }
  // Where |L| is infinite or 0 on the axis, the crossing polynomials vanish without a crossing:
  // said apart, and only for the loops that have such a pole or zero.
  const auto axis = [&](const std::vector<double>& omega, const char* what) {
    if (!omega.empty()) {
      out << "  " << what << '\n';
      for (const double w : omega) {
        out << "    " << num(w) << " rad/s\n";
      }
    }
  };
  axis(m.axis_poles, "poles of L on the imaginary axis, s = +-jw (|L| infinite, no crossing):");
  axis(m.axis_zeros, "zeros of L on the imaginary axis, s = +-jw (L = 0, no crossing):");
}

}  // namespace pitch::cli
