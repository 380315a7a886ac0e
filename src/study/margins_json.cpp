#include "study/margins_json.h"

#include <cmath>

namespace pitch::study {

Json HeadlineMarginsJson(const std::optional<analysis::GainMargin>& gain,
                         const std::optional<analysis::PhaseMargin>& phase,
                         const std::optional<double>& delay,
                         const analysis::StabilityMargin& stability) {
  Json gain_json = {{"infinite", !gain}};
  if (gain) {
    gain_json["factor"] = gain->factor;
    gain_json["db"] = gain->decibels;
    gain_json["frequency"] = gain->frequency;
  } else {
    gain_json["factor"] = nullptr;
    gain_json["db"] = nullptr;
    gain_json["frequency"] = nullptr;
  }
  Json phase_json = nullptr;
  if (phase) {
    phase_json = {{"degrees", phase->degrees}, {"frequency", phase->frequency}};
  }
  const bool at_infinity = std::isinf(stability.frequency);
  return {{"gain_margin", gain_json},
          {"phase_margin", phase_json},
          {"delay_margin", delay ? Json(*delay) : Json(nullptr)},
          {"stability_margin",
           {{"value", stability.value},
            {"frequency", at_infinity ? Json(nullptr) : Json(stability.frequency)},
            {"infinite_frequency", at_infinity}}}};
}

Json NotComputableMarginsJson(const std::string& reason) {
  return {{"gain_margin", nullptr},
          {"phase_margin", nullptr},
          {"delay_margin", nullptr},
          {"stability_margin", nullptr},
          {"not_computable", reason}};
}

Json MarginsErrorJson(const analysis::Failure& failure) {
  return {{"kind", failure.kind},
          {"message", failure.message},
          {"stage", analysis::StageName(analysis::Stage::kResponse)}};
}

std::string MarginsNotComputedText(const std::string& message) {
  return "not computed: " + message;
}

std::string MarginsNotComputableText(const std::string& reason) {
  return "not computable in the double range: " + reason;
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
  Json json = {{"closed_loop_stable", m.closed_loop_stable}};
  const Json headline = HeadlineMarginsJson(
      m.gain.empty() ? std::nullopt : std::optional(m.gain.front()),
      m.phase.empty() ? std::nullopt : std::optional(m.phase.front()), m.delay, m.stability);
  for (const auto& [key, value] : headline.items()) {
    json[key] = value;
  }
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
  json["phase_crossings"] = crossings;
  json["gain_crossovers"] = crossovers;
  return json;
}

}  // namespace pitch::study
