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
// controllers share its loop. Steps is the plain C++ step, checked at every store: the single
// calculation runs it. On x86-64 a group of controllers runs a scheduled step in inline assembly
// (FastStep) that performs the same operations and is checked once per block of steps, and a
// group of three runs its steps in one loop that holds the time step and some invariants on the
// register stack (FastStepsHeld); the interleaving test compares them with Steps bit for bit.
#include <algorithm>
#include <cstddef>

#include "core/controller.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define PITCH_X87_STEP 1
#else
#define PITCH_X87_STEP 0
#endif

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

#if !PITCH_X87_STEP
int StepsOf(Lane* lanes, int n, int from, Real dt, bool* out_of_range) {
  static_assert(kInterleavedResponses <= 4);
  switch (n) {
    case 1:
      return Steps<1>(lanes, from, dt, out_of_range);
    case 2:
      return Steps<2>(lanes, from, dt, out_of_range);
    case 3:
      return Steps<3>(lanes, from, dt, out_of_range);
    default:
      return Steps<4>(lanes, from, dt, out_of_range);
  }
}
#endif

#if PITCH_X87_STEP
// The scheduled step: the same operations as Steps in the same order, written for the x87 unit
// so that the steps of several controllers overlap as far as its multiplier allows. Compiled
// code keeps the invariants of one controller on the register stack and spills those of others
// through extended temporaries with every value it shuffles; here every value lives in memory
// and each controller's step uses at most three registers, so the processor's out-of-order
// window overlaps the steps of all the controllers of a group. An extended invariant is held as
// two Reals whose sum is exactly that value (the Real nearest to it and the remainder): loading
// the pair and adding it costs the unit less than loading the extended value (fldt), and gives
// the same value, so every product is the same. No value is checked in the step: a state that
// leaves the Real range stays out of it (infinite or NaN) in every later step, because no
// operation of the step turns a non-finite operand into a finite result, so a block of steps is
// checked once at its end.
struct alignas(64) Fast {
  // Each extended invariant as {nearest Real, remainder}.
  Real negative_damping[2];
  Real stiffness[2];
  Real integral_gain[2];
  Real proportional_gain[2];
  Real x4;
  Real dt;
  Real one;
  Real w;
  Real y;
  Real x;
  Real z;
  Real* samples;  // sample i at samples[i − 1]
};

// Splits v into the Real nearest to it and the remainder; false when their sum, formed in
// extended precision, is not v to the sign of a zero (v beyond the Real range, or a remainder
// below the normal Reals).
bool Split(Extended v, Real* pair) {
  pair[0] = static_cast<Real>(v);
  pair[1] = v == 0 ? pair[0] : static_cast<Real>(v - pair[0]);
  const Extended sum = Extended{pair[0]} + pair[1];
  return std::isfinite(pair[0]) && sum == v && std::signbit(sum) == std::signbit(v);
}

// The lane's step data; false when one of its invariants cannot be split.
bool FastOf(const Lane& lane, Real dt, Fast& f) {
  f.x4 = static_cast<Real>(lane.x4);
  f.dt = dt;
  f.one = 1;
  f.w = lane.w;
  f.y = lane.y;
  f.x = lane.x;
  f.z = lane.z;
  f.samples = &(*lane.teta)[1];
  return Split(lane.negative_damping, f.negative_damping) && Split(lane.stiffness, f.stiffness) &&
         Split(lane.integral_gain, f.integral_gain) &&
         Split(lane.proportional_gain, f.proportional_gain);
}

// One step of one controller: states w, y, x, z from their previous values, and the previous
// step's sample. Operand for operand as Steps: w from (((−damping·wp − stiffness·xp) −
// integral·yp) − proportional·zp)·dt + wp, held on the stack while y, x and z (which read the
// previous w) are formed; each state rounded to a Real as it is stored. The sample of a step,
// z + 1 from the stored z, is formed at the start of the next step from the z it reads anyway:
// formed at the end of its own step it waits for that store, and the whole step takes longer.
inline void FastStep(Fast& f, Real& previous_sample) {
  asm("fldl %[z]\n\t"
      "faddl %[one]\n\t"
      "fstpl %[sample]\n\t"  // zp + 1, the previous step's sample
      "fldl %[nd0]\n\t"
      "faddl %[nd1]\n\t"  // −damping
      "fmull %[w]\n\t"    // −damping·wp
      "fldl %[st0]\n\t"
      "faddl %[st1]\n\t"  // stiffness
      "fmull %[x]\n\t"    // stiffness·xp
      "fsubrp\n\t"        // −damping·wp − stiffness·xp
      "fldl %[ig0]\n\t"
      "faddl %[ig1]\n\t"
      "fmull %[y]\n\t"  // integral·yp
      "fsubrp\n\t"
      "fldl %[pg0]\n\t"
      "faddl %[pg1]\n\t"
      "fmull %[z]\n\t"  // proportional·zp
      "fsubrp\n\t"
      "fmull %[dt]\n\t"
      "faddl %[w]\n\t"  // the new w, kept until wp is no longer read
      "fldl %[dt]\n\t"
      "fmull %[z]\n\t"
      "faddl %[y]\n\t"
      "fstpl %[y]\n\t"  // y = dt·zp + yp
      "fldl %[x]\n\t"
      "fmull %[x4]\n\t"
      "fsubrl %[w]\n\t"  // wp − xp·x4
      "fmull %[dt]\n\t"
      "faddl %[x]\n\t"
      "fstpl %[x]\n\t"  // x = (wp − xp·x4)·dt + xp
      "fldl %[dt]\n\t"
      "fmull %[w]\n\t"
      "faddl %[z]\n\t"
      "fstpl %[z]\n\t"  // z = dt·wp + zp
      "fstpl %[w]"
      : [w] "+m"(f.w), [y] "+m"(f.y), [x] "+m"(f.x), [z] "+m"(f.z), [sample] "=m"(previous_sample)
      : [nd0] "m"(f.negative_damping[0]), [nd1] "m"(f.negative_damping[1]),
        [st0] "m"(f.stiffness[0]), [st1] "m"(f.stiffness[1]), [ig0] "m"(f.integral_gain[0]),
        [ig1] "m"(f.integral_gain[1]), [pg0] "m"(f.proportional_gain[0]),
        [pg1] "m"(f.proportional_gain[1]), [x4] "m"(f.x4), [dt] "m"(f.dt), [one] "m"(f.one)
      : "st", "st(1)", "st(2)");
}

// Three controllers' steps from … to − 1 (from ≥ 3), unchecked, as FastStep's. The unit starts
// one addition a cycle, and it is what limits a group: three of FastStep's steps need 39
// additions. Each step forms at most two values on the register stack, which leaves six of its
// eight registers to hold values for the whole loop: the time step, which every step reads four
// times, the first controller's four extended invariants and the second's damping, each formed
// once from its pair of Reals (each saves the pair's addition and two loads in every step): 34
// additions a step. The sample addresses stay in registers too. A product reads a held factor
// where FastStep reads it from memory: the factors are the same extended values, in the other
// order, so the products are the same; and the stack holds the values the instructions that
// follow expect, so every result is FastStep's.
static_assert(offsetof(Fast, negative_damping) == 0 && offsetof(Fast, stiffness) == 16 &&
              offsetof(Fast, integral_gain) == 32 && offsetof(Fast, proportional_gain) == 48 &&
              offsetof(Fast, x4) == 64 && offsetof(Fast, dt) == 72 && offsetof(Fast, one) == 80 &&
              offsetof(Fast, w) == 88 && offsetof(Fast, y) == 96 && offsetof(Fast, x) == 104 &&
              offsetof(Fast, z) == 112);

// clang-format off
// The previous step's sample, zp + 1, stored at S[i − 2].
#define PITCH_SAMPLE(F, S)  \
  "fldl 112(" F ")\n\t"     \
  "faddl 80(" F ")\n\t"     \
  "fstpl -16(" S ",%[i],8)\n\t"
// invariant·state from the invariant's pair of Reals at offset K, pushed.
#define PITCH_PAIR_PRODUCT(F, K, STATE) \
  "fldl " K "(" F ")\n\t"               \
  "faddl " K "+8(" F ")\n\t"            \
  "fmull " STATE "(" F ")\n\t"
// state·held with the held value in register R (counted after the state is pushed), pushed.
#define PITCH_HELD_PRODUCT(F, R, STATE) \
  "fldl " STATE "(" F ")\n\t"           \
  "fmul %%st(" R "), %%st\n\t"
// From the rate's sum of products on the stack, with the time step held in st(0) before it:
// the new w (kept), y, x, z, then w stored.
#define PITCH_STATES(F)             \
  "fmul %%st(1), %%st\n\t"          \
  "faddl 88(" F ")\n\t"             \
  PITCH_HELD_PRODUCT(F, "2", "112") \
  "faddl 96(" F ")\n\t"             \
  "fstpl 96(" F ")\n\t"             \
  "fldl 104(" F ")\n\t"             \
  "fmull 64(" F ")\n\t"             \
  "fsubrl 88(" F ")\n\t"            \
  "fmul %%st(2), %%st\n\t"          \
  "faddl 104(" F ")\n\t"            \
  "fstpl 104(" F ")\n\t"            \
  PITCH_HELD_PRODUCT(F, "2", "88")  \
  "faddl 112(" F ")\n\t"            \
  "fstpl 112(" F ")\n\t"            \
  "fstpl 88(" F ")\n\t"

// After −damping·wp on the stack: the rate's other three products from their pairs, then the
// states.
#define PITCH_REST_FROM_PAIRS(F)         \
  PITCH_PAIR_PRODUCT(F, "16", "104")     \
  "fsubrp\n\t"                           \
  PITCH_PAIR_PRODUCT(F, "32", "96")      \
  "fsubrp\n\t"                           \
  PITCH_PAIR_PRODUCT(F, "48", "112")     \
  "fsubrp\n\t"                           \
  PITCH_STATES(F)

void FastStepsHeld(Fast* lanes, int from, int to) {
  long i = from;
  const long end = to;
  if (i >= end) {
    return;
  }
  asm volatile(
      // Pushed so that st(0) holds the time step, st(1) … st(4) the first controller's −damping,
      // stiffness, integral and proportional gains, st(5) the second's −damping.
      "fldl 0(%[f1])\n\t"
      "faddl 8(%[f1])\n\t"
      "fldl 48(%[f0])\n\t"
      "faddl 56(%[f0])\n\t"
      "fldl 32(%[f0])\n\t"
      "faddl 40(%[f0])\n\t"
      "fldl 16(%[f0])\n\t"
      "faddl 24(%[f0])\n\t"
      "fldl 0(%[f0])\n\t"
      "faddl 8(%[f0])\n\t"
      "fldl 72(%[f0])\n\t"
      "1:\n\t"
      // The first controller: with nothing pushed, its invariants at st(1) … st(4).
      PITCH_SAMPLE("%[f0]", "%[s0]")
      PITCH_HELD_PRODUCT("%[f0]", "2", "88")
      PITCH_HELD_PRODUCT("%[f0]", "4", "104")
      "fsubrp\n\t"
      PITCH_HELD_PRODUCT("%[f0]", "5", "96")
      "fsubrp\n\t"
      PITCH_HELD_PRODUCT("%[f0]", "6", "112")
      "fsubrp\n\t"
      PITCH_STATES("%[f0]")
      // The second: with nothing pushed, its −damping at st(5).
      PITCH_SAMPLE("%[f1]", "%[s1]")
      PITCH_HELD_PRODUCT("%[f1]", "6", "88")
      PITCH_REST_FROM_PAIRS("%[f1]")
      // The third: every invariant from its pair.
      PITCH_SAMPLE("%[f2]", "%[s2]")
      PITCH_PAIR_PRODUCT("%[f2]", "0", "88")
      PITCH_REST_FROM_PAIRS("%[f2]")
      "addq $1, %[i]\n\t"
      "cmpq %[end], %[i]\n\t"
      "jl 1b\n\t"
      "fstp %%st(0)\n\t"
      "fstp %%st(0)\n\t"
      "fstp %%st(0)\n\t"
      "fstp %%st(0)\n\t"
      "fstp %%st(0)\n\t"
      "fstp %%st(0)"
      : [i] "+r"(i)
      : [f0] "r"(&lanes[0]), [f1] "r"(&lanes[1]), [f2] "r"(&lanes[2]),
        [s0] "r"(lanes[0].samples), [s1] "r"(lanes[1].samples), [s2] "r"(lanes[2].samples),
        [end] "r"(end)
      : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
}

#undef PITCH_REST_FROM_PAIRS
#undef PITCH_STATES
#undef PITCH_HELD_PRODUCT
#undef PITCH_PAIR_PRODUCT
#undef PITCH_SAMPLE
// clang-format on

// Steps from … to − 1 of N controllers, unchecked: the samples from − 1 … to − 2 (sample 1,
// the initial angle, is not the previous step's, so step 2 writes its sample nowhere).
template <int N>
void FastSteps(Fast* lanes, int from, int to) {
  int i = from;
  if (i == 2) {
    Real nowhere[N];
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) {
      FastStep(lanes[k], nowhere[k]);
    }
    ++i;
  }
  for (; i < to; ++i) {
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) {
      FastStep(lanes[k], lanes[k].samples[i - 2]);
    }
  }
}

void FastStepsOf(Fast* lanes, int n, int from, int to) {
  static_assert(kInterleavedResponses <= 3);
  switch (n) {
    case 1:
      return FastSteps<1>(lanes, from, to);
    case 2:
      return FastSteps<2>(lanes, from, to);
    default:
      if (from == 2) {
        FastSteps<3>(lanes, 2, 3);  // the step whose sample goes nowhere
        ++from;
      }
      return FastStepsHeld(lanes, from, to);
  }
}

bool Finite(const Fast& f) {
  return std::isfinite(f.w) && std::isfinite(f.y) && std::isfinite(f.x) && std::isfinite(f.z);
}

// The steps of a group, kBlock at a time: the samples of the block's steps are kept, and a
// controller that ends the block out of range has them back and repeats the block with the
// checked step, which stops it at its first out-of-range value. (The block's first step writes
// the sample of the step before, which the previous check found in range.) The last step's
// sample is formed after the last block.
constexpr int kBlock = 256;

void SimulateGroup(Lane* lanes, std::size_t* index, int running, Real dt,
                   std::span<std::exception_ptr> faults) {
  Fast fast[kInterleavedResponses];
  int grouped = 0;
  for (int k = 0; k < running; ++k) {
    if (FastOf(lanes[k], dt, fast[grouped])) {
      lanes[grouped] = lanes[k];
      index[grouped++] = index[k];
      continue;
    }
    // An invariant that the pair of Reals cannot carry (beyond the Real range or too small for
    // its remainder): this controller takes the checked step on its own.
    bool out_of_range = false;
    if (Steps<1>(&lanes[k], 2, dt, &out_of_range) <= kSampleCount) {
      faults[index[k]] = std::make_exception_ptr(EOverflow());
    }
  }
  running = grouped;
  for (int from = 2; from <= kSampleCount && running > 0; from += kBlock) {
    const int count = std::min(kBlock, kSampleCount + 1 - from);
    Real kept[kInterleavedResponses][kBlock];
    Fast before[kInterleavedResponses];
    for (int k = 0; k < running; ++k) {
      std::copy_n(fast[k].samples + (from - 1), count, kept[k]);
      before[k] = fast[k];
    }
    FastStepsOf(fast, running, from, from + count);
    int left = 0;
    for (int k = 0; k < running; ++k) {
      if (Finite(fast[k])) {
        fast[left] = fast[k];
        lanes[left] = lanes[k];
        index[left++] = index[k];
        continue;
      }
      std::copy_n(kept[k], count, fast[k].samples + (from - 1));
      Lane& lane = lanes[k];
      lane.w = before[k].w;
      lane.y = before[k].y;
      lane.x = before[k].x;
      lane.z = before[k].z;
      bool out_of_range = false;
      Steps<1>(&lane, from, dt, &out_of_range);
      faults[index[k]] = std::make_exception_ptr(EOverflow());
    }
    running = left;
  }
  for (int k = 0; k < running; ++k) {
    fast[k].samples[kSampleCount - 1] = static_cast<Real>(Extended{fast[k].z} + 1);
  }
}
#endif

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
#if PITCH_X87_STEP
    SimulateGroup(lanes, index, running, dt, faults);
#else
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
#endif
  }
}

}  // namespace pitch
