#include "robust/envelope.h"

#include <oneapi/tbb/task_arena.h>
#include <oneapi/tbb/task_group.h>

#include <mutex>

namespace pitch::robust {

namespace {

using Progress = std::function<void(const std::string&, const Bounds*)>;

LoopEnvelope StudyLoop(const EnvelopeOptions& o, Loop loop, const std::string& name,
                       const Progress& progress) {
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

Envelope StudyEnvelope(const EnvelopeOptions& o, const Progress& shown) {
  std::mutex lock;
  const Progress progress = [&](const std::string& stage, const Bounds* b) {
    if (shown) {
      const std::lock_guard<std::mutex> hold(lock);
      shown(stage, b);
    }
  };
  Envelope e;
  tbb::task_arena arena(std::max(1, o.jobs));
  arena.execute([&] {
    tbb::task_group group;
    group.run([&] { e.continuous = StudyLoop(o, Loop::kContinuous, "closed loop", progress); });
    group.run([&] { e.euler = StudyLoop(o, Loop::kEuler, "Euler iteration", progress); });
    group.wait();
  });
  e.interrupted = e.continuous.decision.interrupted || e.continuous.rho.interrupted ||
                  e.euler.decision.interrupted || e.euler.rho.interrupted;
  if (e.interrupted || !o.margins || e.continuous.decision.verdict != Verdict::kProven) {
    return e;
  }
  progress("least margins over the box", nullptr);
  arena.execute([&] {
    tbb::task_group group;
    group.run(
        [&] { e.gain_up = LeastGainMargin(o.ratios, o.box, true, o.margin_tolerance, o.limits); });
    group.run([&] {
      e.gain_down = LeastGainMargin(o.ratios, o.box, false, o.margin_tolerance, o.limits);
    });
    group.run([&] {
      e.stability_margin =
          LeastMargin(o.ratios, o.box, MarginKind::kStability, o.margin_tolerance, o.limits);
    });
    group.run([&] {
      e.phase_margin =
          LeastMargin(o.ratios, o.box, MarginKind::kPhase, o.margin_tolerance, o.limits);
    });
    group.run([&] {
      e.delay_margin =
          LeastMargin(o.ratios, o.box, MarginKind::kDelay, o.margin_tolerance, o.limits);
    });
    group.wait();
  });
  e.interrupted = e.gain_up->bounds.interrupted || e.gain_down->bounds.interrupted ||
                  e.stability_margin->interrupted || e.phase_margin->interrupted ||
                  e.delay_margin->interrupted;
  return e;
}

}  // namespace pitch::robust
