#include "analysis/loop_polynomials.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "analysis/arb_number.h"

namespace pitch::analysis {

Exact ToExact(Extended x) {
  if (!std::isfinite(x)) {
    throw EOverflow();
  }
  // x = m·2^e with |m| in [1/2, 1): m's 64 bits are two doubles, each taken exactly by GMP.
  int e = 0;
  const Extended m = std::frexp(x, &e);
  const double high = static_cast<double>(m);
  const double low = static_cast<double>(m - high);  // exact: at most 11 significant bits
  Exact r(high);
  r += Exact(low);
  if (e >= 0) {
    mpq_mul_2exp(r.get_mpq_t(), r.get_mpq_t(), static_cast<mp_bitcnt_t>(e));
  } else {
    mpq_div_2exp(r.get_mpq_t(), r.get_mpq_t(), static_cast<mp_bitcnt_t>(-e));
  }
  return r;
}

namespace {

Factor Constant(Extended a) { return {{{a, 1}}}; }

template <class T>
T ValueOf(const Coefficient& c) {
  if constexpr (std::is_same_v<T, Ball>) {
    // One input alone: the ball 0 + x, formed without the sum (0 stays +0, as the sum leaves it).
    if (c.size() == 1 && c[0].y == 1) {
      return c[0].x == 0 ? Ball(0) : Ball(c[0].x);
    }
  }
  T sum = FromExtended<T>(0);
  for (const Product& p : c) {
    if (p.y == 1) {
      sum += FromExtended<T>(p.x);
    } else {
      sum += FromExtended<T>(p.x) * FromExtended<T>(p.y);
    }
  }
  return sum;
}

// The first factor is taken as it is, not multiplied by 1 (which would widen a ball's radius).
template <class T>
Poly<T> Expand(const std::vector<Factor>& factors) {
  if (factors.empty()) {
    return {FromExtended<T>(1)};
  }
  Poly<T> product;
  bool first = true;
  for (const Factor& f : factors) {
    Poly<T> p;
    p.reserve(f.size());
    for (const Coefficient& c : f) {
      p.push_back(ValueOf<T>(c));
    }
    product = first ? std::move(p) : product * p;
    first = false;
  }
  return product;
}

// P(jω) = E(ω²) + jω·O(ω²), written into even and odd (empty before).
template <class T>
void Split(const Poly<T>& p, Poly<T>& even, Poly<T>& odd) {
  even.reserve((p.size() + 1) / 2);
  odd.reserve(p.size() / 2);
  for (std::size_t k = 0; k < p.size(); ++k) {
    // j^k = ±1 for even k, ±j for odd k.
    const bool negative = (k / 2) % 2 == 1;
    T v = p[k];
    if (negative) {
      v = -v;
    }
    (k % 2 == 0 ? even : odd).push_back(v);
  }
}

// |P(jω)|² = E² + u·O²
template <class T>
Poly<T> SquaredMagnitude(const Poly<T>& even, const Poly<T>& odd) {
  Poly<T> r;
  AddProduct(r, even, even);
  AddProduct(r, odd, odd, 1);
  return r;
}

}  // namespace

int SignOf(const Coefficient& c) {
  // Most coefficients are one finite input alone, whose sign needs no ball.
  if (c.size() == 0) {
    return 0;
  }
  if (c.size() == 1 && c[0].y == 1 && std::isfinite(c[0].x)) {
    return (c[0].x > 0) - (c[0].x < 0);
  }
  if (const int s = ValueOf<Ball>(c).Sign(); s != 2) {
    return s;
  }
  return sgn(ValueOf<Exact>(c));
}

namespace {

// The sign of a·b − c·d.
int SignOfCrossDifference(const Coefficient& a, const Coefficient& b, const Coefficient& c,
                          const Coefficient& d) {
  const Ball x = ValueOf<Ball>(a) * ValueOf<Ball>(b) - ValueOf<Ball>(c) * ValueOf<Ball>(d);
  if (const int s = x.Sign(); s != 2) {
    return s;
  }
  return sgn(Exact(ValueOf<Exact>(a) * ValueOf<Exact>(b) - ValueOf<Exact>(c) * ValueOf<Exact>(d)));
}

// A factor with its roots at s = 0 and its vanishing leading coefficients taken off.
struct FactorRoots {
  Factor rest;
  int origin = 0;          // roots at s = 0
  bool zero = false;       // the factor vanishes identically
  bool axis_pair = false;  // rest = c0 + c2·s² with c0/c2 > 0
};

FactorRoots Analyse(const Factor& f) {
  FactorRoots a;
  std::array<int, 3> signs{};
  for (std::size_t k = 0; k < f.size(); ++k) {
    signs[k] = SignOf(f[k]);
  }
  std::size_t high = f.size();
  while (high > 0 && signs[high - 1] == 0) {
    --high;
  }
  if (high == 0) {
    a.zero = true;
    return a;
  }
  std::size_t low = 0;
  while (signs[low] == 0) {
    ++low;
  }
  a.origin = static_cast<int>(low);
  for (std::size_t k = low; k < high; ++k) {
    a.rest.push_back(f[k]);
  }
  a.axis_pair = a.rest.size() == 3 && signs[low + 1] == 0 && signs[low] == signs[low + 2];
  return a;
}

Factor Variable() { return {Coefficient{}, Coefficient{Product{1, 1}}}; }

}  // namespace

ReducedLoop ReduceOnTheAxis(const RationalLoop& loop) {
  ReducedLoop r;
  r.given = &loop;
  std::vector<FactorRoots> numerator;
  std::vector<FactorRoots> denominator;
  numerator.reserve(loop.numerator.size());
  denominator.reserve(loop.denominator.size());
  int zeros_at_origin = 0;
  int poles_at_origin = 0;
  for (const Factor& f : loop.numerator) {
    numerator.push_back(Analyse(f));
    r.vanishes = r.vanishes || numerator.back().zero;
    zeros_at_origin += numerator.back().origin;
  }
  if (r.vanishes) {
    return r;
  }
  for (const Factor& f : loop.denominator) {
    denominator.push_back(Analyse(f));
    if (denominator.back().zero) {
      throw EZeroDivide();  // no loop: its denominator vanishes
    }
    poles_at_origin += denominator.back().origin;
  }
  const int common = std::min(zeros_at_origin, poles_at_origin);
  r.cancelled = common > 0;
  // A pair ±jω of N and the same pair of D: c0·c2' = c0'·c2.
  for (FactorRoots& n : numerator) {
    if (!n.axis_pair) {
      continue;
    }
    for (FactorRoots& d : denominator) {
      if (!d.axis_pair || SignOfCrossDifference(n.rest[0], d.rest[2], d.rest[0], n.rest[2]) != 0) {
        continue;
      }
      n.rest = {n.rest[2]};
      d.rest = {d.rest[2]};
      n.axis_pair = false;
      d.axis_pair = false;
      r.cancelled = true;
      break;
    }
  }
  r.origin_excess = poles_at_origin - zeros_at_origin;
  int degree_numerator = zeros_at_origin - common;
  int degree_denominator = poles_at_origin - common;
  const auto collect = [&r](const std::vector<FactorRoots>& factors, int origin,
                            std::vector<Factor>& out, std::vector<AxisPair>& pairs, int& degree) {
    for (const FactorRoots& f : factors) {
      if (r.cancelled) {
        out.push_back(f.rest);
      }
      if (f.axis_pair) {
        pairs.push_back({f.rest[0], f.rest[2]});
      }
      degree += static_cast<int>(f.rest.size()) - 1;
    }
    for (int k = 0; r.cancelled && k < origin; ++k) {
      out.push_back(Variable());
    }
  };
  collect(numerator, zeros_at_origin - common, r.reduced.numerator, r.zeros, degree_numerator);
  collect(denominator, poles_at_origin - common, r.reduced.denominator, r.poles,
          degree_denominator);
  r.relative_degree = degree_denominator - degree_numerator;
  const auto ends = [](const std::vector<FactorRoots>& factors, bool low) {
    std::vector<Coefficient> c;
    for (const FactorRoots& f : factors) {
      c.push_back(low ? f.rest[0] : f.rest.back());
    }
    return c;
  };
  if (r.origin_excess == 0) {
    r.low_numerator = ends(numerator, true);
    r.low_denominator = ends(denominator, true);
  }
  if (r.relative_degree == 0) {
    r.high_numerator = ends(numerator, false);
    r.high_denominator = ends(denominator, false);
  }
  return r;
}

template <class T>
T ProductOf(const std::vector<Coefficient>& coefficients) {
  T product = FromExtended<T>(1);
  for (const Coefficient& c : coefficients) {
    product *= ValueOf<T>(c);
  }
  return product;
}

template Ball ProductOf<Ball>(const std::vector<Coefficient>&);
template Exact ProductOf<Exact>(const std::vector<Coefficient>&);

RationalLoop PitchRationalLoop(const TController& c) {
  // Each factor is filled in its place: a list of factors would be copied once more.
  RationalLoop loop;
  loop.numerator.resize(3);
  loop.numerator[0].push_back({{c.c3, 1}});
  loop.numerator[1].push_back({{c.c4, 1}});
  loop.numerator[1].push_back({{1, 1}});
  for (const Extended a : {c.nuv, c.iv, c.muv}) {
    loop.numerator[2].push_back({{a, 1}});
  }
  loop.denominator.resize(2);
  loop.denominator[0].push_back({});
  loop.denominator[0].push_back({});
  loop.denominator[0].push_back({{1, 1}});
  loop.denominator[1].push_back({{c.c1, c.c4}, {c.c2, 1}});
  loop.denominator[1].push_back({{c.c1, 1}, {c.c4, 1}, {c.c5, 1}});
  loop.denominator[1].push_back({{1, 1}});
  return loop;
}

RationalLoop RationalLoopOf(const TransferFunction& l) {
  RationalLoop loop;
  loop.numerator.push_back(Constant(l.gain));
  const auto add = [](std::vector<Factor>& factors, const std::vector<ComplexExtended>& roots) {
    for (const ComplexExtended& r : roots) {
      if (r.imag() == 0) {
        factors.push_back({{{-r.real(), 1}}, {{1, 1}}});
      } else if (r.imag() > 0) {
        factors.push_back(
            {{{r.real(), r.real()}, {r.imag(), r.imag()}}, {{-2 * r.real(), 1}}, {{1, 1}}});
      }
    }
  };
  add(loop.numerator, l.zeros);
  add(loop.denominator, l.poles);
  return loop;
}

template <class T>
LoopParts<T> LoopPartsOf(const RationalLoop& loop) {
  LoopParts<T> parts;
  Split(Expand<T>(loop.numerator), parts.numerator_even, parts.numerator_odd);
  Split(Expand<T>(loop.denominator), parts.denominator_even, parts.denominator_odd);
  return parts;
}

namespace {

// (E_N + jω·O_N)·(E_D − jω·O_D) = R + jω·H
template <class T>
Poly<T> RealPartOf(const LoopParts<T>& p) {
  Poly<T> r;
  AddProduct(r, p.numerator_even, p.denominator_even);
  AddProduct(r, p.numerator_odd, p.denominator_odd, 1);
  return r;
}
template <class T>
Poly<T> PhaseOf(const LoopParts<T>& p) {
  Poly<T> h;
  AddProduct(h, p.numerator_odd, p.denominator_even);
  AddProduct(h, p.numerator_even, p.denominator_odd, 0, true);
  return h;
}

}  // namespace

template <class T>
Poly<T> CrossingPolynomialOf(const LoopParts<T>& p, CrossingPolynomial which) {
  switch (which) {
    case CrossingPolynomial::kPhase:
      return PhaseOf(p);
    case CrossingPolynomial::kRealPart:
      return RealPartOf(p);
    case CrossingPolynomial::kSquaredDenominator:
      return SquaredMagnitude(p.denominator_even, p.denominator_odd);
    case CrossingPolynomial::kGain:
      return SquaredMagnitude(p.numerator_even, p.numerator_odd) -
             SquaredMagnitude(p.denominator_even, p.denominator_odd);
    case CrossingPolynomial::kDistance:
    case CrossingPolynomial::kSquaredSum:
      break;
  }
  // A = |D + N|² = B + K with K = |N|² + 2R, so A'·B − A·B' = K'·B − K·B': the terms B·B' cancel
  // exactly and are never formed, nor are the equal terms of K'·B and K·B' (Wronskian).
  const Poly<T> b = SquaredMagnitude(p.denominator_even, p.denominator_odd);
  const Poly<T> r = RealPartOf(p);
  const Poly<T> k = SquaredMagnitude(p.numerator_even, p.numerator_odd) + r + r;
  return which == CrossingPolynomial::kDistance ? Wronskian(k, b) : b + k;
}

template <class T>
CrossingPolynomials<T> CrossingPolynomialsOf(const RationalLoop& loop) {
  CrossingPolynomials<T> c;
  c.parts = LoopPartsOf<T>(loop);
  const LoopParts<T>& p = c.parts;
  c.squared_denominator = SquaredMagnitude(p.denominator_even, p.denominator_odd);
  const Poly<T>& b = c.squared_denominator;
  const Poly<T> m = SquaredMagnitude(p.numerator_even, p.numerator_odd);
  c.gain = m - b;
  c.real_part = RealPartOf(p);
  c.phase = PhaseOf(p);
  // As in CrossingPolynomialOf: W = K'·B − K·B', A = B + K.
  const Poly<T> k = m + c.real_part + c.real_part;
  c.distance = Wronskian(k, b);
  c.squared_sum = b + k;
  return c;
}

PartValues PartsAt(const CrossingPolynomials<Ball>& c, const Ball& u) {
  return {u, EnclosedValue(c.parts.numerator_even, u), EnclosedValue(c.parts.numerator_odd, u),
          EnclosedValue(c.parts.denominator_even, u), EnclosedValue(c.parts.denominator_odd, u)};
}

template CrossingPolynomials<Ball> CrossingPolynomialsOf<Ball>(const RationalLoop&);
template CrossingPolynomials<Exact> CrossingPolynomialsOf<Exact>(const RationalLoop&);
template LoopParts<FineBall> LoopPartsOf<FineBall>(const RationalLoop&);
template LoopParts<ArbNumber> LoopPartsOf<ArbNumber>(const RationalLoop&);
template Poly<FineBall> CrossingPolynomialOf<FineBall>(const LoopParts<FineBall>&,
                                                       CrossingPolynomial);
template Poly<ArbNumber> CrossingPolynomialOf<ArbNumber>(const LoopParts<ArbNumber>&,
                                                         CrossingPolynomial);

void ArbNumber::SetExtended(arf_t r, Extended x) {
  if (x == 0) {
    arf_zero(r);
    return;
  }
  int e = 0;
  const Extended m = std::frexp(std::fabs(x), &e);  // [1/2, 1): 64 bits
  const auto significand = static_cast<std::uint64_t>(std::ldexp(m, 64));
  arf_set_ui(r, significand);
  arf_mul_2exp_si(r, r, e - 64);
  if (x < 0) {
    arf_neg(r, r);
  }
}

}  // namespace pitch::analysis
