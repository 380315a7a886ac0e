#include "cli/report.h"

#include "number_text/number_text.h"
#include "cli/json_writer.h"

namespace pitch::cli {

namespace {

std::string Seconds(double t, char separator) { return FormatNumber(t, separator) + " s"; }

}  // namespace

void PrintMetrics(std::ostream& out, const std::vector<analysis::Pole>& poles, bool stable,
                  const analysis::LoopAnalysis* full, char separator) {
  const auto num = [separator](double v) { return FormatNumber(v, separator); };
  out << "poles:\n";
  for (const analysis::Pole& p : poles) {
    if (p.damping_ratio) {
      out << "  " << num(p.value.real()) << " +/- " << num(p.value.imag()) << "j  damping ratio "
          << num(*p.damping_ratio) << ", natural frequency " << num(*p.natural_frequency)
          << " rad/s\n";
    } else {
      out << "  " << num(p.value.real());
      if (p.time_constant) {
        out << "  time constant " << Seconds(*p.time_constant, separator);
      }
      out << '\n';
    }
  }
  out << "stable: " << (stable ? "yes" : "no") << '\n';
  if (full == nullptr) {
    return;
  }
  const analysis::StepCharacteristics& s = full->euler;
  out << "step response (Euler, 0 to " << Seconds(s.final_time, separator) << "):\n";
  out << "  rise time 10-90 %: ";
  if (s.rise_time) {
    out << Seconds(*s.rise_time, separator) << " (" << Seconds(*s.t10, separator) << " to "
        << Seconds(*s.t90, separator) << ")\n";
  } else {
    out << "not reached\n";
  }
  out << "  peak: " << num(s.peak) << " at " << Seconds(s.peak_time, separator) << '\n';
  out << "  overshoot: " << num(s.overshoot_percent) << " %\n";
  out << "  settling time 2 %: "
      << (s.settling_time ? Seconds(*s.settling_time, separator)
                          : "not settled within " + Seconds(s.final_time, separator))
      << '\n';
  out << "  deviation at " << Seconds(s.final_time, separator) << ": " << num(s.final_deviation)
      << '\n';
  out << "exact continuous response:\n";
  out << "  largest |Euler - exact|: " << num(full->euler_error.max_abs) << " at "
      << Seconds(full->euler_error.time, separator) << '\n';
  out << "  settling time 2 %: "
      << (full->exact_settling_time ? Seconds(*full->exact_settling_time, separator)
                                    : std::string(stable ? "not reached" : "none (unstable)"))
      << '\n';
}

std::string JsonAnalysis(const std::vector<analysis::Pole>* poles, bool stable,
                         const analysis::LoopAnalysis* full) {
  std::string json = "\"poles\":";
  if (poles == nullptr) {
    json += "null";
  } else {
    json += "{\"stable\":";
    json += stable ? "true" : "false";
    json += ",\"values\":[";
    for (std::size_t k = 0; k < poles->size(); ++k) {
      const analysis::Pole& p = (*poles)[k];
      json += k > 0 ? "," : "";
      json += "{\"re\":" + JsonNumber(p.value.real()) + ",\"im\":" + JsonNumber(p.value.imag()) +
              ",\"pair\":" + (p.damping_ratio ? "true" : "false") +
              ",\"time_constant\":" + JsonNumber(p.time_constant) +
              ",\"damping_ratio\":" + JsonNumber(p.damping_ratio) +
              ",\"natural_frequency\":" + JsonNumber(p.natural_frequency) + "}";
    }
    json += "]}";
  }
  json += ",\"metrics\":";
  if (full == nullptr) {
    json += "null,\"exact_error\":null";
    return json;
  }
  const analysis::StepCharacteristics& s = full->euler;
  json += "{\"rise_time\":" + JsonNumber(s.rise_time) + ",\"t10\":" + JsonNumber(s.t10) +
          ",\"t90\":" + JsonNumber(s.t90) + ",\"peak\":" + JsonNumber(s.peak) +
          ",\"peak_time\":" + JsonNumber(s.peak_time) +
          ",\"overshoot_percent\":" + JsonNumber(s.overshoot_percent) +
          ",\"settled\":" + (s.settling_time ? "true" : "false") +
          ",\"settling_time\":" + JsonNumber(s.settling_time) +
          ",\"final_deviation\":" + JsonNumber(s.final_deviation) +
          ",\"exact_settling_time\":" + JsonNumber(full->exact_settling_time) + "}";
  json += ",\"exact_error\":{\"max_abs\":" + JsonNumber(full->euler_error.max_abs) +
          ",\"time\":" + JsonNumber(full->euler_error.time) + "}";
  return json;
}

}  // namespace pitch::cli
