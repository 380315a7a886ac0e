// Unit-step response of the closed loop by the explicit Euler method.
//
// State (z, w, y, x): z is the deviation of the response from the command 1, w its rate, y its
// running integral and x the lag state driven by w and decaying at the rate c4. Every right-hand
// side is evaluated in extended precision in the order written and rounded to a Real when stored.
// Inside one right-hand side the extended range cannot be exceeded (finite Real operands, no
// division), so only the stores are checked for overflow.
//
// One step of one controller is a chain of dependent x87 operations, each waiting for the one
// before; the steps of independent controllers do not wait for each other, so several of them
// in one loop keep the x87 units busy. The arithmetic of every controller is the same whichever
// controllers share its loop.
#include <algorithm>

#include "core/controller.h"

namespace pitch {
namespace {

using fp::Store;

// The time step, rounded once to a Real.
Real TimeStep() {
  const Extended steps = kSampleCount;
  return Store((kEndTime - kStartTime) / steps);
}

// One controller's loop invariants and state between steps.
struct Lane {
  // Loop invariants of the rate equation's right-hand side, in its own operand order. They are
  // the same extended values in every step; forming them once also keeps the stores into teta
  // from forcing them to be re-read.
  Extended x4 = 0;
  // damping·(−wp) is formed as (−damping)·wp: the same exact product, so the same rounding.
  Extended negative_damping = 0;
  Extended stiffness = 0;
  Extended integral_gain = 0;
  Extended proportional_gain = 0;
  Real z = -1;
  Real w = 0;
  Real y = 0;
  Real x = kInitialAngle;
  TSamples* teta = nullptr;
};

Lane Start(TController& c) {
  Lane lane;
  lane.x4 = c.c4;
  const Extended damping = (Extended{c.c1} + c.c5) + Extended{c.c3} * c.muv;  // (c1 + c5) + c3·muv
  lane.negative_damping = -damping;
  lane.stiffness = Extended{c.c2} - lane.x4 * c.c5;  // c2 − c4·c5
  lane.integral_gain = Extended{c.c3} * c.nuv;       // c3·nuv
  lane.proportional_gain = Extended{c.c3} * c.iv;    // c3·iv
  lane.teta = &c.teta;
  c.teta[1] = kInitialAngle;
  return lane;
}

// Steps from … kSampleCount of N controllers in one loop, up to the first step at which one of
// them leaves the Real range; returns that step (kSampleCount + 1 when none does). There the
// lanes that left the range are marked in out_of_range and store nothing more; the others have
// completed that step too.
template <int N>
int Steps(Lane* lanes, int from, Real dt, bool* out_of_range) {
  // The lanes' fields as locals: they cannot alias the samples, and each new state can be
  // rounded straight into its place.
  Extended x4[N];
  Extended negative_damping[N];
  Extended stiffness[N];
  Extended integral_gain[N];
  Extended proportional_gain[N];
  Real z[N];
  Real w[N];
  Real y[N];
  Real x[N];
  TSamples* teta[N];
#pragma GCC unroll 4
  for (int k = 0; k < N; ++k) {
    x4[k] = lanes[k].x4;
    negative_damping[k] = lanes[k].negative_damping;
    stiffness[k] = lanes[k].stiffness;
    integral_gain[k] = lanes[k].integral_gain;
    proportional_gain[k] = lanes[k].proportional_gain;
    z[k] = lanes[k].z;
    w[k] = lanes[k].w;
    y[k] = lanes[k].y;
    x[k] = lanes[k].x;
    teta[k] = lanes[k].teta;
  }
  int i = from;
  for (; i <= kSampleCount; ++i) {
    Real sample[N];
    bool any_out_of_range = false;
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      const Real wp = w[k];
      const Real xp = x[k];
      const Real yp = y[k];
      const Real zp = z[k];
      w[k] = static_cast<Real>(
          (((negative_damping[k] * wp - stiffness[k] * xp) - integral_gain[k] * yp) -
           proportional_gain[k] * zp) *
              dt +
          wp);
      y[k] = static_cast<Real>(Extended{dt} * zp + yp);
      x[k] = static_cast<Real>((Extended{wp} - Extended{xp} * x4[k]) * dt + xp);
      z[k] = static_cast<Real>(Extended{dt} * wp + zp);
      sample[k] = static_cast<Real>(Extended{z[k]} + 1);
      // All five stores of the step are checked together: a step whose first out-of-range
      // value is any of them stores no sample and raises the same overflow.
      // (Bitwise, so that the step stays free of branches.)
      const bool w_inf = std::isinf(w[k]);
      const bool y_inf = std::isinf(y[k]);
      const bool x_inf = std::isinf(x[k]);
      const bool z_inf = std::isinf(z[k]);
      const bool sample_inf = std::isinf(sample[k]);
      out_of_range[k] = w_inf | y_inf | x_inf | z_inf | sample_inf;
      any_out_of_range |= out_of_range[k];
    }
    if (any_out_of_range) {
#pragma GCC unroll 4
      for (int k = 0; k < N; ++k) {
        if (!out_of_range[k]) {
          (*teta[k])[i] = sample[k];
        }
      }
      break;
    }
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      (*teta[k])[i] = sample[k];
    }
  }
#pragma GCC unroll 4
  for (int k = 0; k < N; ++k) {
    lanes[k].z = z[k];
    lanes[k].w = w[k];
    lanes[k].y = y[k];
    lanes[k].x = x[k];
  }
  return i;
}

int StepsOf(Lane* lanes, int n, int from, Real dt, bool* out_of_range) {
  switch (n) {
    case 1:
      return Steps<1>(lanes, from, dt, out_of_range);
    case 2:
      return Steps<2>(lanes, from, dt, out_of_range);
    default:
      return Steps<3>(lanes, from, dt, out_of_range);
  }
}

}  // namespace

void TController::SimulateResponse() {
  Lane lane = Start(*this);
  bool out_of_range = false;
  if (Steps<1>(&lane, 2, TimeStep(), &out_of_range) <= kSampleCount) {
    throw EOverflow();
  }
}

void SimulateResponses(std::span<TController* const> controllers,
                       std::span<std::exception_ptr> faults) {
  const Real dt = TimeStep();
  for (std::size_t first = 0; first < controllers.size(); first += kInterleavedResponses) {
    const std::size_t count = std::min(kInterleavedResponses, controllers.size() - first);
    Lane lanes[kInterleavedResponses];
    std::size_t index[kInterleavedResponses];  // the controller of each running lane
    int running = 0;
    for (std::size_t k = 0; k < count; ++k) {
      faults[first + k] = nullptr;
      lanes[running] = Start(*controllers[first + k]);
      index[running++] = first + k;
    }
    int step = 2;
    while (running > 0) {
      bool out_of_range[kInterleavedResponses] = {};
      step = StepsOf(lanes, running, step, dt, out_of_range);
      if (step > kSampleCount) {
        break;
      }
      // The lanes that left the range stop with their fault; the others go on together from
      // the next step.
      int kept = 0;
      for (int k = 0; k < running; ++k) {
        if (out_of_range[k]) {
          faults[index[k]] = std::make_exception_ptr(EOverflow());
        } else {
          lanes[kept] = lanes[k];
          index[kept++] = index[k];
        }
      }
      running = kept;
      ++step;
    }
  }
}

}  // namespace pitch
