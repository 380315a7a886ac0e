#include "analysis/stability.h"

#include <Eigen/Eigenvalues>
#include <array>
#include <optional>

#include "analysis/polynomial.h"

namespace pitch::analysis {

namespace {

// The coefficients of det(s·I − M), lowest power first, from the principal minors of M.
template <class T>
std::array<T, 5> CharacteristicPolynomial(const std::array<std::array<T, 4>, 4>& m) {
  const auto det2 = [&m](int i, int j) -> T { return m[i][i] * m[j][j] - m[i][j] * m[j][i]; };
  const auto det3 = [&m](int i, int j, int k) -> T {
    return m[i][i] * (m[j][j] * m[k][k] - m[j][k] * m[k][j]) -
           m[i][j] * (m[j][i] * m[k][k] - m[j][k] * m[k][i]) +
           m[i][k] * (m[j][i] * m[k][j] - m[j][j] * m[k][i]);
  };
  T trace = m[0][0] + m[1][1] + m[2][2] + m[3][3];
  T minors2 = det2(0, 1) + det2(0, 2) + det2(0, 3) + det2(1, 2) + det2(1, 3) + det2(2, 3);
  T minors3 = det3(0, 1, 2) + det3(0, 1, 3) + det3(0, 2, 3) + det3(1, 2, 3);
  // det M along the first row, each cofactor a 3×3 determinant of rows 1 … 3.
  const auto minor = [&m](int skip) -> T {
    int c[3];
    for (int j = 0, n = 0; j < 4; ++j) {
      if (j != skip) {
        c[n++] = j;
      }
    }
    return m[1][c[0]] * (m[2][c[1]] * m[3][c[2]] - m[2][c[2]] * m[3][c[1]]) -
           m[1][c[1]] * (m[2][c[0]] * m[3][c[2]] - m[2][c[2]] * m[3][c[0]]) +
           m[1][c[2]] * (m[2][c[0]] * m[3][c[1]] - m[2][c[1]] * m[3][c[0]]);
  };
  T det = m[0][0] * minor(0) - m[0][1] * minor(1) + m[0][2] * minor(2) - m[0][3] * minor(3);
  return {det, -minors3, minors2, -trace, FromExtended<T>(1)};
}

int SignOf(const Ball& b) { return b.Sign(); }
int SignOf(const Exact& e) { return sgn(e); }

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
