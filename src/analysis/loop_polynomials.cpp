#include "analysis/loop_polynomials.h"

#include <cmath>

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

template <class T>
Poly<T> Expand(const std::vector<Factor>& factors) {
  Poly<T> product = {FromExtended<T>(1)};
  for (const Factor& f : factors) {
    Poly<T> p;
    p.reserve(f.size());
    for (const Coefficient& c : f) {
      p.push_back(ValueOf<T>(c));
    }
    product = product * p;
  }
  return product;
}

// P(jω) = E(ω²) + jω·O(ω²).
template <class T>
struct EvenOdd {
  Poly<T> even;
  Poly<T> odd;
};

template <class T>
EvenOdd<T> Split(const Poly<T>& p) {
  EvenOdd<T> r;
  r.even.reserve((p.size() + 1) / 2);
  r.odd.reserve(p.size() / 2);
  for (std::size_t k = 0; k < p.size(); ++k) {
    // j^k = ±1 for even k, ±j for odd k.
    const bool negative = (k / 2) % 2 == 1;
    T v = p[k];
    if (negative) {
      v = -v;
    }
    (k % 2 == 0 ? r.even : r.odd).push_back(v);
  }
  return r;
}

// |P(jω)|² = E² + u·O²
template <class T>
Poly<T> SquaredMagnitude(const EvenOdd<T>& p) {
  Poly<T> r;
  AddProduct(r, p.even, p.even);
  AddProduct(r, p.odd, p.odd, 1);
  return r;
}

}  // namespace

RationalLoop PitchRationalLoop(const TController& c) {
  RationalLoop loop;
  loop.numerator = {Constant(c.c3),
                    {{{c.c4, 1}}, {{1, 1}}},
                    {{{c.nuv, 1}}, {{c.iv, 1}}, {{c.muv, 1}}}};
  loop.denominator = {{{}, {}, {{1, 1}}},
                      {{{c.c1, c.c4}, {c.c2, 1}}, {{c.c1, 1}, {c.c4, 1}, {c.c5, 1}}, {{1, 1}}}};
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
        factors.push_back({{{r.real(), r.real()}, {r.imag(), r.imag()}},
                           {{-2 * r.real(), 1}},
                           {{1, 1}}});
      }
    }
  };
  add(loop.numerator, l.zeros);
  add(loop.denominator, l.poles);
  return loop;
}

template <class T>
CrossingPolynomials<T> CrossingPolynomialsOf(const RationalLoop& loop) {
  const Poly<T> n = Expand<T>(loop.numerator);
  const Poly<T> d = Expand<T>(loop.denominator);
  const EvenOdd<T> ns = Split(n);
  const EvenOdd<T> ds = Split(d);
  CrossingPolynomials<T> c;
  const Poly<T> b = SquaredMagnitude(ds);
  const Poly<T> m = SquaredMagnitude(ns);
  c.gain = m - b;
  // (E_N + jω·O_N)·(E_D − jω·O_D)
  AddProduct(c.real_part, ns.even, ds.even);
  AddProduct(c.real_part, ns.odd, ds.odd, 1);
  AddProduct(c.phase, ns.odd, ds.even);
  AddProduct(c.phase, ns.even, ds.odd, 0, true);
  // A = |D + N|² = B + K with K = |N|² + 2R, so A'·B − A·B' = K'·B − K·B': the terms B·B' cancel
  // exactly and are never formed, nor are the equal terms of K'·B and K·B' (Wronskian).
  const Poly<T> k = m + c.real_part + c.real_part;
  c.distance = Wronskian(k, b);
  return c;
}

template CrossingPolynomials<Ball> CrossingPolynomialsOf<Ball>(const RationalLoop&);
template CrossingPolynomials<FineBall> CrossingPolynomialsOf<FineBall>(const RationalLoop&);
template CrossingPolynomials<Exact> CrossingPolynomialsOf<Exact>(const RationalLoop&);

}  // namespace pitch::analysis
