#include "cli/margins_report.h"

#include <cmath>
#include <string>

#include "number_text/number_text.h"

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
    out << "  not computable in the double range: " << *m.not_computable << '\n';
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
}

Json MarginsJson(const analysis::LoopMargins& m) {
  if (m.not_computable) {
    return {{"closed_loop_stable", m.closed_loop_stable},
            {"gain_margin", nullptr},
            {"phase_margin", nullptr},
            {"delay_margin", nullptr},
            {"stability_margin", nullptr},
            {"phase_crossings", nullptr},
            {"gain_crossovers", nullptr},
            {"not_computable", *m.not_computable}};
  }
  Json gain = {{"infinite", m.gain.empty()}};
  if (m.gain.empty()) {
    gain["factor"] = nullptr;
    gain["db"] = nullptr;
    gain["frequency"] = nullptr;
  } else {
    gain["factor"] = m.gain.front().factor;
    gain["db"] = m.gain.front().decibels;
    gain["frequency"] = m.gain.front().frequency;
  }
  Json phase = nullptr;
  if (!m.phase.empty()) {
    phase = {{"degrees", m.phase.front().degrees}, {"frequency", m.phase.front().frequency}};
  }
  const bool at_infinity = std::isinf(m.stability.frequency);
  Json stability = {{"value", m.stability.value},
                    {"frequency", at_infinity ? Json(nullptr) : Json(m.stability.frequency)},
                    {"infinite_frequency", at_infinity}};
  Json crossings = Json::array();
  for (const analysis::GainMargin& g : m.gain) {
    crossings.push_back({{"frequency", g.frequency},
                         {"factor", g.factor},
                         {"db", g.decibels},
                         {"phase", g.phase_degrees}});
  }
  Json crossovers = Json::array();
  for (const analysis::PhaseMargin& p : m.phase) {
    crossovers.push_back({{"frequency", p.frequency},
                          {"phase_margin", p.degrees},
                          {"delay_margin", p.delay},
                          {"phase", p.phase_degrees}});
  }
  return {{"closed_loop_stable", m.closed_loop_stable},
          {"gain_margin", gain},
          {"phase_margin", phase},
          {"delay_margin", m.delay ? Json(*m.delay) : Json(nullptr)},
          {"stability_margin", stability},
          {"phase_crossings", crossings},
          {"gain_crossovers", crossovers}};
}

}  // namespace pitch::cli
