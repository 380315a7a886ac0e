#include "robust/envelope.h"

namespace pitch::robust {

namespace {

LoopEnvelope StudyLoop(const EnvelopeOptions& o, Loop loop, const std::string& name,
                       const std::function<void(const std::string&, const Bounds*)>& progress) {
  LoopEnvelope e;
  e.nominal_stable = SetStable(o.box.nominal, o.ratios, loop);
  if (progress) {
    progress(name + ": deciding the box", nullptr);
  }
  if (!e.nominal_stable) {
    e.decision.verdict = Verdict::kRefuted;
    e.decision.set = o.box.nominal;
    e.decision.failing = "the nominal set";
    e.rho.set = o.box.nominal;
    return e;
  }
  e.decision = DecideBox(o.ratios, loop, o.box, o.limits);
  if (e.decision.interrupted) {
    return e;
  }
  e.rho = StabilityMargin(o.ratios, loop, o.box, o.tolerance, o.limits, [&](const Bounds& b) {
    if (progress) {
      progress(name + ": rho", &b);
    }
  });
  return e;
}

}  // namespace

Envelope StudyEnvelope(const EnvelopeOptions& o,
                       const std::function<void(const std::string&, const Bounds*)>& progress) {
  Envelope e;
  e.continuous = StudyLoop(o, Loop::kContinuous, "closed loop", progress);
  e.interrupted = e.continuous.decision.interrupted || e.continuous.rho.interrupted;
  if (e.interrupted) {
    return e;
  }
  e.euler = StudyLoop(o, Loop::kEuler, "Euler iteration", progress);
  e.interrupted = e.euler.decision.interrupted || e.euler.rho.interrupted;
  if (e.interrupted || !o.margins || e.continuous.decision.verdict != Verdict::kProven) {
    return e;
  }
  if (progress) {
    progress("least gain margin", nullptr);
  }
  e.gain_up = LeastGainMargin(o.ratios, o.box, true, o.margin_tolerance, o.limits);
  e.interrupted = e.gain_up->bounds.interrupted;
  if (!e.interrupted) {
    e.gain_down = LeastGainMargin(o.ratios, o.box, false, o.margin_tolerance, o.limits);
    e.interrupted = e.gain_down->bounds.interrupted;
  }
  const std::pair<MarginKind, std::optional<WorstMargin>*> kinds[] = {
      {MarginKind::kStability, &e.stability_margin},
      {MarginKind::kPhase, &e.phase_margin},
      {MarginKind::kDelay, &e.delay_margin}};
  for (const auto& [kind, into] : kinds) {
    if (e.interrupted) {
      break;
    }
    if (progress) {
      progress(kind == MarginKind::kStability ? "least stability margin"
               : kind == MarginKind::kPhase   ? "least phase margin"
                                              : "least delay margin",
               nullptr);
    }
    *into = LeastMargin(o.ratios, o.box, kind, o.margin_tolerance, o.limits);
    e.interrupted = (*into)->interrupted;
  }
  return e;
}

}  // namespace pitch::robust
