// The synthesis and the simulation against the reference model, bit for bit, over thousands of
// random coefficient sets: the four ratios, the fields that a failure keeps, the error and all
// 1000 samples. The sets come in families, each a row of the table: ordinary magnitudes near the
// start-up values and beyond, the whole Real range, and the boundaries of the synthesis' failure
// cases, where the sign of a rounded value decides the outcome.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>

#include "common/coefficients.h"
#include "core/controller.h"
#include "reference/controller_reference.h"
#include "reference/random_cases.h"

namespace pitch {
namespace {

using Coefficients = std::array<Real, 5>;
using reference::ControllerFields;
using reference::Hex;

// Values in the ratio fields and the samples before the run, to see which ones a run changes.
constexpr Real kSentinelMuv = -101.25;
constexpr Real kSentinelNuv = -102.5;
constexpr Real kSentinelIv = -103.75;
constexpr Real kSentinelTnu = -104.125;
Real SentinelSample(int i) { return -1000.0 - 0.25 * i; }

// Where a run stopped, and what it left in the fields.
struct Outcome {
  std::string stage;  // "synthesis", "simulation" or "" when both completed
  std::string kind;
  std::string message;
  ControllerFields fields;
};

Outcome RunProgram(const Coefficients& c) {
  TController controller;
  testing::SetCoefficients(controller, c);
  controller.muv = kSentinelMuv;
  controller.nuv = kSentinelNuv;
  controller.iv = kSentinelIv;
  controller.Tnu = kSentinelTnu;
  for (int i = 1; i <= kSampleCount; ++i) {
    controller.teta[i] = SentinelSample(i);
  }
  Outcome out;
  try {
    out.stage = "synthesis";
    controller.ComputeGearRatios();
    out.stage = "simulation";
    controller.SimulateResponse();
    out.stage.clear();
  } catch (const Exception& e) {
    out.kind = e.ClassName();
    out.message = e.what();
  }
  testing::SetCoefficients(out.fields, c);
  out.fields.muv = controller.muv;
  out.fields.nuv = controller.nuv;
  out.fields.iv = controller.iv;
  out.fields.Tnu = controller.Tnu;
  for (int i = 1; i <= kSampleCount; ++i) {
    out.fields.teta[static_cast<std::size_t>(i - 1)] = controller.teta[i];
  }
  return out;
}

Outcome RunReference(const Coefficients& c) {
  Outcome out;
  ControllerFields& f = out.fields;
  testing::SetCoefficients(f, c);
  f.muv = kSentinelMuv;
  f.nuv = kSentinelNuv;
  f.iv = kSentinelIv;
  f.Tnu = kSentinelTnu;
  for (int i = 1; i <= kSampleCount; ++i) {
    f.teta[static_cast<std::size_t>(i - 1)] = SentinelSample(i);
  }
  reference::Fault fault = reference::ComputeGearRatios(f);
  out.stage = "synthesis";
  if (fault == reference::Fault::kNone) {
    fault = reference::SimulateResponse(f);
    out.stage = fault == reference::Fault::kNone ? "" : "simulation";
  }
  out.kind = reference::FaultClassName(fault);
  out.message = reference::FaultMessage(fault);
  return out;
}

bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

std::string Describe(const Outcome& o) {
  std::ostringstream s;
  if (o.stage.empty()) {
    s << "completed";
  } else {
    s << o.stage << " failed: " << o.kind << " \"" << o.message << "\"";
  }
  s << "; muv " << Hex(o.fields.muv) << ", iv " << Hex(o.fields.iv) << ", nuv " << Hex(o.fields.nuv)
    << ", Tnu " << Hex(o.fields.Tnu);
  return s.str();
}

// Empty when the two outcomes agree in every bit; otherwise both, as hexfloats.
std::string Differences(const Outcome& program, const Outcome& expected) {
  const ControllerFields& p = program.fields;
  const ControllerFields& e = expected.fields;
  bool same = program.stage == expected.stage && program.kind == expected.kind &&
              program.message == expected.message && SameBits(p.muv, e.muv) &&
              SameBits(p.iv, e.iv) && SameBits(p.nuv, e.nuv) && SameBits(p.Tnu, e.Tnu);
  int first_sample = 0;
  int differing_samples = 0;
  for (int i = kSampleCount; i >= 1; --i) {
    const auto k = static_cast<std::size_t>(i - 1);
    if (!SameBits(p.teta[k], e.teta[k])) {
      first_sample = i;
      ++differing_samples;
    }
  }
  if (same && differing_samples == 0) {
    return "";
  }
  std::ostringstream s;
  s << "\n  program:   " << Describe(program) << "\n  reference: " << Describe(expected);
  if (differing_samples > 0) {
    const auto k = static_cast<std::size_t>(first_sample - 1);
    s << "\n  " << differing_samples << " samples differ, the first is teta[" << first_sample
      << "]: program " << Hex(p.teta[k]) << ", reference " << Hex(e.teta[k]);
  }
  return s.str();
}

// Drawing coefficients.
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : rng_(seed) {}

  double Uniform(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng_);
  }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  int Integer(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  double Sign(double negative = 0.5) { return Chance(negative) ? -1.0 : 1.0; }

  // 0.01 … 300, mostly positive.
  double Ordinary() { return Sign(0.25) * std::pow(10.0, Uniform(-2, 2.5)); }
  // 1e-300 … 1e300.
  double Wide() { return Sign() * std::pow(10.0, Uniform(-300, 300)); }
  // A Real near the ends of the range: subnormal, smallest normal, largest.
  double Extreme() {
    switch (Integer(0, 3)) {
      case 0:
        return Sign() * std::ldexp(Uniform(1, 2), Integer(-1074, -1023));
      case 1:
        return Sign() * DBL_MIN * Uniform(1, 4);
      case 2:
        return Sign() * DBL_MAX / Uniform(1, 4);
      default:
        return Sign() * std::pow(10.0, Uniform(-320, -150));
    }
  }
  double Zero() { return Chance(0.5) ? 0.0 : -0.0; }
  // Most in the ordinary range, some anywhere in the Real range, some zeros and simple values.
  double Any() {
    const double u = Uniform(0, 1);
    if (u < 0.65) {
      return Ordinary();
    }
    if (u < 0.8) {
      return Wide();
    }
    if (u < 0.87) {
      return Zero();
    }
    if (u < 0.95) {
      return Sign(0.3) * Integer(1, 8) * 0.5;
    }
    return Extreme();
  }
  // A start-up coefficient moved by up to ±60 %.
  double NearDefault(int k) {
    return kDefaultCoefficients[static_cast<std::size_t>(k)] * (1 + Uniform(-0.6, 0.6));
  }
  // v moved by a few units in the last place, either way or not at all.
  double Ulps(double v) {
    const int steps = Integer(-3, 3);
    for (int k = 0; k < std::abs(steps); ++k) {
      v = std::nextafter(v, steps > 0 ? HUGE_VAL : -HUGE_VAL);
    }
    return v;
  }

 private:
  std::mt19937_64 rng_;
};

// One family of coefficient sets: a row of the table.
struct Family {
  const char* name;
  int count;
  std::function<Coefficients(Draw&)> draw;
};

void PrintTo(const Family& family, std::ostream* os) { *os << family.name; }

const Family kFamilies[] = {
    // Each start-up value moved by up to ±60 %, now and then with the sign of c3 turned: most of
    // these complete and run the whole simulation.
    {"NearStartUpValues", 600,
     [](Draw& d) {
       Coefficients c{};
       for (int k = 0; k < 5; ++k) {
         c[static_cast<std::size_t>(k)] = d.NearDefault(k);
       }
       c[2] *= d.Sign(0.15);
       return c;
     }},
    {"OrdinaryMagnitudes", 900,
     [](Draw& d) {
       return Coefficients{d.Ordinary(), d.Ordinary(), d.Ordinary(), d.Ordinary(), d.Ordinary()};
     }},
    {"AnyMagnitude", 1000,
     [](Draw& d) {
       return Coefficients{d.Any(), d.Any(), d.Any(), d.Any(), d.Any()};
     }},
    // The loop grows without bound and overflows part-way, as with c1 = 400.
    {"DivergingLoop", 200,
     [](Draw& d) {
       Coefficients c = kDefaultCoefficients;
       c[0] = std::pow(10.0, d.Uniform(1.5, 4));
       c[1] = d.NearDefault(1) * std::pow(10.0, d.Uniform(0, 3));
       c[2] = d.NearDefault(2) * d.Sign(0.2);
       return c;
     }},
    // c1·c4 + c2 near zero: the model check's root of a negative number, division by zero, or a
    // tiny positive value.
    {"ModelCheckBoundary", 250,
     [](Draw& d) {
       Coefficients c{d.Ordinary(), 0, d.Any(), d.Ordinary() * d.Sign(), d.Any()};
       c[1] = d.Ulps(-(c[0] * c[3]));
       return c;
     }},
    // c2 near c4·c5: the sign of the rounded d decides whether its root exists.
    {"RootBoundary", 300,
     [](Draw& d) {
       Coefficients c{d.Ordinary(), 0, d.Ordinary() * d.Sign(0.2), d.Ordinary(), d.Ordinary()};
       if (d.Chance(0.3)) {
         c[3] = d.Integer(1, 16) * 0.125;
         c[4] = d.Integer(-8, 16) * 0.25;
       }
       c[1] = d.Ulps(c[3] * c[4]);
       return c;
     }},
    // muv·K + 1 near zero, with c3 and c4 of opposite signs. In exact arithmetic it is zero for
    // c2 = c4·(c4 + c5) and, with c2 = c4·c5, for c1 = c4/2 − c5; with powers of two for c3 and
    // c4 every step is exact and the synthesis divides by an exact zero in step 8.
    {"DampedLoopBoundary", 300,
     [](Draw& d) {
       const bool exact = d.Chance(0.3);
       const double c4 =
           exact ? d.Sign() * std::ldexp(1.0, d.Integer(-3, 3)) : d.Ordinary() * d.Sign();
       const double c5 =
           exact ? d.Integer(-8, 8) * 0.25 : (d.Chance(0.3) ? 0.0 : d.Ordinary() * d.Sign(0.3));
       Coefficients c{};
       if (d.Chance(0.5)) {
         c = {d.Ordinary(), c4 * (c4 + c5), 0, c4, c5};
       } else {
         c = {c4 / 2 - c5, c4 * c5, 0, c4, c5};
       }
       if (!exact) {
         c[0] = d.Ulps(c[0]);
         c[1] = d.Ulps(c[1]);
       }
       c[2] = -std::copysign(exact ? std::ldexp(1.0, d.Integer(-3, 3)) : d.Ordinary(), c4);
       return c;
     }},
    // c3 = 0: a division by zero in B, or 0/0 where c1 + c5 = c4.
    {"ZeroC3", 120,
     [](Draw& d) {
       Coefficients c{d.Ordinary(), d.Ordinary(), d.Zero(), d.Ordinary(), d.Ordinary()};
       if (d.Chance(0.5)) {
         c[4] = d.Integer(0, 8) * 0.125;
         c[0] = c[3] - c[4];
       }
       return c;
     }},
    // Tiny c3: D overflows below about 6e-155, or the quotients overflow later.
    {"TinyC3", 250,
     [](Draw& d) {
       Coefficients c = kDefaultCoefficients;
       c[0] = d.NearDefault(0);
       c[1] = d.NearDefault(1);
       c[2] = d.Sign(0.3) * (d.Chance(0.8) ? std::pow(10.0, d.Uniform(-170, -140)) : d.Extreme());
       return c;
     }},
    // Coefficients at the ends of the Real range, among them c1·c4 + c2 so small that the
    // reciprocal of its root overflows.
    {"RangeLimits", 300,
     [](Draw& d) {
       if (d.Chance(0.3)) {
         const double tiny = std::ldexp(d.Uniform(1, 2), d.Integer(-1074, -1000));
         return Coefficients{tiny, d.Chance(0.5) ? 0.0 : d.Extreme(), d.Any(),
                             d.Chance(0.5) ? tiny : d.Extreme(), d.Any()};
       }
       Coefficients c{};
       for (double& v : c) {
         v = d.Chance(0.5) ? d.Extreme() : d.Any();
       }
       return c;
     }},
};

// FNV-1a: each family draws its own cases from the one seed.
std::uint64_t NameHash(std::string_view name) {
  std::uint64_t h = 14695981039346656037ull;
  for (const char ch : name) {
    h = (h ^ static_cast<unsigned char>(ch)) * 1099511628211ull;
  }
  return h;
}

class AgainstReference : public ::testing::TestWithParam<Family> {};

TEST_P(AgainstReference, RatiosErrorsAndSamplesMatchBitForBit) {
  const Family& family = GetParam();
  const std::uint64_t seed = reference::TestSeed();
  Draw draw(seed ^ NameHash(family.name));
  const int count = family.count;
  int failures = 0;
  for (int n = 0; n < count && failures < 5; ++n) {
    const Coefficients c = family.draw(draw);
    const std::string differences = Differences(RunProgram(c), RunReference(c));
    if (!differences.empty()) {
      ++failures;
      ADD_FAILURE() << reference::SeedNote(seed) << ", " << family.name << " case " << n
                    << "\n  c1 … c5 = {" << Hex(c[0]) << ", " << Hex(c[1]) << ", " << Hex(c[2])
                    << ", " << Hex(c[3]) << ", " << Hex(c[4]) << "}" << differences;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Families, AgainstReference, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
}  // namespace pitch
