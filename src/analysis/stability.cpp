#include "analysis/stability.h"

#include <Eigen/Eigenvalues>
#include <array>
#include <algorithm>
#include <optional>

#include "analysis/polynomial.h"

namespace pitch::analysis {

namespace {

int SignOf(const Ball& b) { return b.Sign(); }
int SignOf(const Exact& e) { return sgn(e); }

// The coefficients of det(s·I − M), lowest power first: the sum over the permutations σ of
// sign(σ)·Π (s·I − M)[i][σ(i)], leaving out every term with an off-diagonal entry that is an
// exact zero. The closed loop's matrices have half their entries zero, and four terms remain.
template <class T>
std::array<T, 5> CharacteristicPolynomial(const std::array<std::array<T, 4>, 4>& m) {
  std::array<std::array<bool, 4>, 4> vanishes{};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      vanishes[i][j] = i != j && SignOf(m[i][j]) == 0;
    }
  }
  std::array<T, 5> sum;
  sum.fill(FromExtended<T>(0));
  std::array<int, 4> sigma = {0, 1, 2, 3};
  do {
    bool negative = false;
    bool skip = false;
    for (int i = 0; i < 4 && !skip; ++i) {
      skip = vanishes[i][sigma[i]];
      for (int j = i + 1; j < 4; ++j) {
        negative = negative != (sigma[j] < sigma[i]);  // an inversion
      }
    }
    if (skip) {
      continue;
    }
    // The off-diagonal entries −m_ij first, then the factors s − m_ii.
    std::array<T, 5> p;
    p[0] = FromExtended<T>(1);
    for (int i = 0; i < 4; ++i) {
      if (sigma[i] != i) {
        p[0] = p[0] * m[i][sigma[i]];
        negative = !negative;
      }
    }
    int degree = 0;
    for (int i = 0; i < 4; ++i) {
      if (sigma[i] == i) {
        p[degree + 1] = p[degree];
        for (int k = degree; k > 0; --k) {
          p[k] = p[k - 1] - p[k] * m[i][i];
        }
        p[0] = -(p[0] * m[i][i]);
        ++degree;
      }
    }
    for (int k = 0; k <= degree; ++k) {
      if (negative) {
        sum[k] = sum[k] - p[k];
      } else {
        sum[k] = sum[k] + p[k];
      }
    }
  } while (std::next_permutation(sigma.begin(), sigma.end()));
  return sum;
}

// The signs that decide where the roots of a0 + a1·s + … + a4·s⁴ lie.
struct HurwitzSigns {
  std::array<int, 5> a{};
  int delta2 = 0;       // a3·a2 − a4·a1
  int delta3 = 0;       // a1·(a3·a2 − a4·a1) − a3²·a0
  int discriminant = 0;  // a2² − 4·a4·a0
};

// Empty when a ball cannot tell one of the signs.
template <class T>
std::optional<HurwitzSigns> SignsOf(const std::array<T, 5>& a) {
  HurwitzSigns h;
  const T delta2 = a[3] * a[2] - a[4] * a[1];
  const T delta3 = a[1] * delta2 - a[3] * a[3] * a[0];
  const T discriminant = a[2] * a[2] - FromExtended<T>(4) * a[4] * a[0];
  for (int k = 0; k < 5; ++k) {
    h.a[k] = SignOf(a[k]);
  }
  h.delta2 = SignOf(delta2);
  h.delta3 = SignOf(delta3);
  h.discriminant = SignOf(discriminant);
  for (const int s : {h.a[0], h.a[1], h.a[2], h.a[3], h.a[4], h.delta2, h.delta3, h.discriminant}) {
    if (s == 2) {
      return std::nullopt;
    }
  }
  return h;
}

// Every root strictly left of the imaginary axis (a4 > 0).
bool Hurwitz(const HurwitzSigns& h) {
  for (const int s : h.a) {
    if (s <= 0) {
      return false;
    }
  }
  return h.delta2 > 0 && h.delta3 > 0;
}

// A root on the imaginary axis (a4 = 1): s = 0, or s = ±jω where the even part a0 − a2·u + u²
// and the odd part a1 − a3·u vanish at one u = ω² > 0.
bool RootOnImaginaryAxis(const HurwitzSigns& h) {
  if (h.a[0] == 0) {
    return true;
  }
  if (h.a[3] != 0) {
    return h.delta3 == 0 && h.a[1] * h.a[3] > 0;
  }
  if (h.a[1] != 0) {
    return false;
  }
  return h.a[0] < 0 || (h.a[2] > 0 && h.discriminant >= 0);
}

template <class T>
std::array<std::array<T, 4>, 4> Entries(const Matrix4& a) {
  std::array<std::array<T, 4>, 4> m;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      m[i][j] = FromExtended<T>(a(i, j));
    }
  }
  return m;
}

HurwitzSigns ClosedLoopSigns(const Matrix4& a) {
  if (std::optional<HurwitzSigns> h = SignsOf(CharacteristicPolynomial(Entries<Ball>(a)))) {
    return *h;
  }
  return *SignsOf(CharacteristicPolynomial(Entries<Exact>(a)));
}

// (1 − w)⁴·q((1 + w)/(1 − w)) for the characteristic polynomial q of I + A·dt, its leading
// coefficient q(−1) made positive (a zero leading coefficient is the eigenvalue −1).
template <class T>
std::array<T, 5> UnitCircleToAxis(const Matrix4& a, double dt) {
  std::array<std::array<T, 4>, 4> m = Entries<T>(a);
  const T step = FromExtended<T>(dt);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      m[i][j] = m[i][j] * step;
      if (i == j) {
        m[i][j] = m[i][j] + FromExtended<T>(1);
      }
    }
  }
  const std::array<T, 5> q = CharacteristicPolynomial(m);
  Poly<T> result(5, FromExtended<T>(0));
  const Poly<T> plus = {FromExtended<T>(1), FromExtended<T>(1)};
  const Poly<T> minus = {FromExtended<T>(1), FromExtended<T>(-1)};
  for (int k = 0; k <= 4; ++k) {
    Poly<T> term = {q[k]};
    for (int i = 0; i < k; ++i) {
      term = term * plus;
    }
    for (int i = k; i < 4; ++i) {
      term = term * minus;
    }
    result = result + term;
  }
  std::array<T, 5> r;
  for (int k = 0; k < 5; ++k) {
    r[k] = result[k];
  }
  return r;
}

template <class T>
std::optional<bool> IterationStable(const Matrix4& a, double dt) {
  std::array<T, 5> w = UnitCircleToAxis<T>(a, dt);
  const int lead = SignOf(w[4]);
  if (lead == 2) {
    return std::nullopt;
  }
  if (lead == 0) {
    return false;
  }
  if (lead < 0) {
    for (T& c : w) {
      c = -c;
    }
  }
  const std::optional<HurwitzSigns> h = SignsOf(w);
  if (!h) {
    return std::nullopt;
  }
  return Hurwitz(*h);
}

}  // namespace

Stability ClosedLoopStability(const Matrix4& a) {
  if (!a.allFinite()) {
    return Stability::kUnstable;  // a matrix beyond the double range is never taken for stable
  }
  const HurwitzSigns h = ClosedLoopSigns(a);
  if (Hurwitz(h)) {
    return Stability::kStable;
  }
  if (!RootOnImaginaryAxis(h)) {
    return Stability::kUnstable;
  }
  // A pole on the axis: marginal when the others lie to the left, as the eigenvalues tell
  // (the poles on the axis are at most a rounding off it).
  const auto eigenvalues = Eigen::EigenSolver<Matrix4>(a, false).eigenvalues();
  const double scale = eigenvalues.cwiseAbs().maxCoeff();
  for (const std::complex<double>& lambda : eigenvalues) {
    if (lambda.real() > 1e-9 * scale) {
      return Stability::kUnstable;
    }
  }
  return Stability::kMarginal;
}

bool EulerIterationStable(const Matrix4& a, double dt) {
  if (!a.allFinite()) {
    return false;
  }
  if (const std::optional<bool> stable = IterationStable<Ball>(a, dt)) {
    return *stable;
  }
  return *IterationStable<Exact>(a, dt);
}

}  // namespace pitch::analysis
