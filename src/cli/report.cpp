#include "cli/report.h"

#include <cmath>
#include <string>

#include "cli/margins_report.h"
#include "number_text/number_text.h"
#include "study/margins_json.h"

namespace pitch::cli {

namespace {

std::string Seconds(double t, char separator) { return FormatNumber(t, separator) + " s"; }

void PrintStability(std::ostream& out, const Stability& stability, char separator) {
  const auto num = [separator](double v) { return FormatNumber(v, separator); };
  out << "poles:\n";
  for (const analysis::Pole& p : stability.poles) {
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
  out << "stable (continuous loop): "
      << (stability.stable     ? "yes"
          : stability.marginal ? "no, marginally stable (a pole on the imaginary axis)"
                               : "no")
      << '\n';
  const analysis::EulerStability& euler = stability.iteration;
  out << "Euler iteration (step " << Seconds(kTimeStep, separator) << "):\n";
  out << "  spectral radius of I + A*dt: " << num(euler.spectral_radius) << '\n';
  out << "  stable: " << (euler.stable ? "yes" : "no, the samples diverge") << '\n';
  out << "  largest stable step: "
      << (euler.largest_stable_step ? Seconds(*euler.largest_stable_step, separator)
                                    : std::string("none (the continuous loop is not stable)"))
      << '\n';
}

void PrintAnalysis(std::ostream& out, const analysis::LoopAnalysis& full,
                   const Stability& stability, char separator) {
  const auto num = [separator](double v) { return FormatNumber(v, separator); };
  const analysis::StepCharacteristics& s = full.euler;
  out << "step response (Euler, 0 to " << Seconds(s.final_time, separator)
      << (stability.iteration.stable ? "" : ", of a diverging iteration") << "):\n";
  out << "  rise time 10-90 %: ";
  if (s.rise_time) {
    out << Seconds(*s.rise_time, separator) << " (" << Seconds(*s.t10, separator) << " to "
        << Seconds(*s.t90, separator) << ")\n";
  } else {
    out << "not reached\n";
  }
  out << "  peak: " << num(s.peak) << " at " << Seconds(s.peak_time, separator) << '\n';
  out << "  overshoot: "
      << (std::isfinite(s.overshoot_percent) ? num(s.overshoot_percent) + " %"
                                             : std::string("beyond the double range"))
      << '\n';
  out << "  settling time 2 %: "
      << (s.settling_time ? Seconds(*s.settling_time, separator)
                          : "not settled within " + Seconds(s.final_time, separator))
      << '\n';
  out << "  deviation at " << Seconds(s.final_time, separator) << ": " << num(s.final_deviation)
      << '\n';
  out << "exact continuous response:\n";
  if (full.exact_range_end) {
    out << "  largest |Euler - exact|: none, the exact response exceeds the double range after t = "
        << Seconds(*full.exact_range_end, separator) << '\n';
  } else {
    out << "  largest |Euler - exact|: " << num(full.euler_error.max_abs) << " at "
        << Seconds(full.euler_error.time, separator) << '\n';
  }
  out << "  settling time 2 %: "
      << (full.exact_settling_time ? Seconds(*full.exact_settling_time, separator)
                                   : std::string(full.stable ? "not reached" : "none (unstable)"))
      << '\n';
}

Json Number(const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); }

Json PolesJson(const Stability& stability) {
  Json values = Json::array();
  for (const analysis::Pole& p : stability.poles) {
    values.push_back({{"re", p.value.real()},
                      {"im", p.value.imag()},
                      {"pair", p.damping_ratio.has_value()},
                      {"time_constant", Number(p.time_constant)},
                      {"damping_ratio", Number(p.damping_ratio)},
                      {"natural_frequency", Number(p.natural_frequency)}});
  }
  return {
      {"stable", stability.stable}, {"marginally_stable", stability.marginal}, {"values", values}};
}

Json IterationJson(const analysis::EulerStability& euler) {
  return {{"step", kTimeStep},
          {"spectral_radius", euler.spectral_radius},
          {"stable", euler.stable},
          {"largest_stable_step", Number(euler.largest_stable_step)}};
}

Json MetricsJson(const analysis::LoopAnalysis& full, const Stability& stability) {
  const analysis::StepCharacteristics& s = full.euler;
  return {{"rise_time", Number(s.rise_time)},
          {"t10", Number(s.t10)},
          {"t90", Number(s.t90)},
          {"peak", s.peak},
          {"peak_time", s.peak_time},
          {"overshoot_percent", s.overshoot_percent},
          {"settled", s.settling_time.has_value()},
          {"settling_time", Number(s.settling_time)},
          {"final_deviation", s.final_deviation},
          {"exact_settling_time", Number(full.exact_settling_time)},
          {"diverging_iteration", !stability.iteration.stable}};
}

Json ExactErrorJson(const analysis::LoopAnalysis& full) {
  if (full.exact_range_end) {
    return {{"max_abs", nullptr},
            {"time", nullptr},
            {"reason", "the exact response exceeds the double range"},
            {"exact_range_end", *full.exact_range_end}};
  }
  return {{"max_abs", full.euler_error.max_abs}, {"time", full.euler_error.time}};
}

Json ErrorJson(const RunError& error) {
  return {{"kind", error.kind}, {"message", error.message}, {"stage", StepName(error.step)}};
}

// An entry of "errors": the members of "error", with the file and the hint when there are.
Json ErrorEntryJson(const RunError& error) {
  Json entry = ErrorJson(error);
  if (!error.file.empty()) {
    entry["file"] = error.file;
  }
  if (!error.hint.empty()) {
    entry["hint"] = error.hint;
  }
  return entry;
}

}  // namespace

void PrintText(std::ostream& out, const Outcome& outcome, bool metrics, char separator) {
  if (!outcome.RatiosKnown()) {
    return;
  }
  out << "muv = " << FormatNumber(outcome.muv, separator) << '\n'
      << "iv = " << FormatNumber(outcome.iv, separator) << '\n'
      << "nuv = " << FormatNumber(outcome.nuv, separator) << '\n'
      << "Tnu = " << FormatNumber(outcome.Tnu, separator) << '\n';
  if (metrics && outcome.stability) {
    PrintStability(out, *outcome.stability, separator);
    if (outcome.analysis) {
      PrintAnalysis(out, *outcome.analysis, *outcome.stability, separator);
    }
    if (outcome.frequency_response) {
      PrintMargins(out, outcome.frequency_response->margins, separator);
    } else if (outcome.frequency_response_error) {
      // The same words as the window's and the report's.
      out << "loop margins (loop broken at the autopilot's command):\n  "
          << study::MarginsNotComputedText(outcome.frequency_response_error->message) << '\n';
    }
  }
}

Json JsonReport(const Outcome& outcome, const std::vector<RunError>& errors,
                const std::vector<SkippedFile>& skipped) {
  // After an input error there is nothing but the error: the coefficients, the ratios and the
  // samples are null, as in a study's rows, not zeros that read as values. (A failed synthesis
  // shows the ratios it formed.)
  Json coefficients = nullptr;
  Json ratios = nullptr;
  Json response = nullptr;
  if (outcome.InputsRead()) {
    coefficients = Json::array();
    for (const Real c : outcome.coefficients) {
      coefficients.push_back(c);
    }
    ratios = {{"muv", outcome.muv}, {"iv", outcome.iv}, {"nuv", outcome.nuv}, {"Tnu", outcome.Tnu}};
    response = Json::array();
    for (const Real h : outcome.teta.values()) {
      response.push_back(h);
    }
  }
  Json report = {{"coefficients", coefficients}, {"ratios", ratios}, {"response", response}};
  report["poles"] = outcome.stability ? PolesJson(*outcome.stability) : Json(nullptr);
  report["metrics"] =
      outcome.analysis ? MetricsJson(*outcome.analysis, *outcome.stability) : Json(nullptr);
  report["exact_error"] = outcome.analysis ? ExactErrorJson(*outcome.analysis) : Json(nullptr);
  report["margins"] =
      outcome.frequency_response ? MarginsJson(outcome.frequency_response->margins) : Json(nullptr);
  if (outcome.frequency_response && !outcome.frequency_response->margins.not_computable) {
    // The poles and zeros of L on the imaginary axis (ω > 0), for the loops that have them.
    const analysis::LoopMargins& m = outcome.frequency_response->margins;
    if (!m.axis_poles.empty()) {
      report["margins"]["axis_poles"] = m.axis_poles;
    }
    if (!m.axis_zeros.empty()) {
      report["margins"]["axis_zeros"] = m.axis_zeros;
    }
  }
  report["margins_error"] = outcome.frequency_response_error
                                ? ErrorJson(*outcome.frequency_response_error)
                                : Json(nullptr);
  report["error"] = errors.empty() ? Json(nullptr) : ErrorJson(errors.front());
  report["euler_iteration"] =
      outcome.stability ? IterationJson(outcome.stability->iteration) : Json(nullptr);
  Json error_entries = Json::array();
  for (const RunError& e : errors) {
    error_entries.push_back(ErrorEntryJson(e));
  }
  report["errors"] = error_entries;
  Json skipped_entries = Json::array();
  for (const SkippedFile& s : skipped) {
    skipped_entries.push_back({{"option", s.option}, {"file", s.path}, {"reason", s.reason}});
  }
  report["skipped"] = skipped_entries;
  return report;
}

}  // namespace pitch::cli
