#include "analysis/eigenvalues4.h"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

namespace pitch::analysis {

namespace eigenvalues_detail {

namespace {

constexpr int kSize = 4;
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
constexpr double kLeast = std::numeric_limits<double>::min();

// The matrix in rows: t[i][j] is Eigen's coeff(i, j).
using Rows = double[kSize][kSize];

// A reflector I − tau·w·wᵀ, w = (1, essential…), that takes (c0, tail…) to (beta, 0…), as
// Eigen's makeHouseholder forms it.
struct Reflector {
  double tau = 0;
  double beta = 0;
  double essential[2] = {0, 0};
};

// n is the size of the tail (1 or 2); a sum of two terms is the same whichever Eigen adds first.
template <int n>
[[gnu::always_inline]] inline Reflector MakeReflector(double c0, const double* tail) {
  Reflector h;
  double tail_squared = tail[0] * tail[0];
  if constexpr (n == 2) {
    tail_squared = tail_squared + tail[1] * tail[1];
  }
  if (tail_squared <= kLeast) {
    h.beta = c0;
    return h;
  }
  h.beta = std::sqrt(c0 * c0 + tail_squared);
  if (c0 >= 0) {
    h.beta = -h.beta;
  }
  for (int k = 0; k < n; ++k) {
    h.essential[k] = tail[k] / (c0 - h.beta);
  }
  h.tau = (h.beta - c0) / h.beta;
  return h;
}

// Eigen's applyHouseholderOnTheLeft on rows r0 … r0 + n and columns c0 … c1 − 1 (n: the
// essential part's size).
template <int n>
[[gnu::always_inline]] inline void ReflectRows(Rows& t, const Reflector& h, int r0, int c0,
                                               int c1) {
  if (h.tau == 0) {
    return;
  }
  double tmp[kSize];
#pragma GCC unroll 4
  for (int j = c0; j < c1; ++j) {
    double dot = h.essential[0] * t[r0 + 1][j];
    if constexpr (n == 2) {
      dot = dot + h.essential[1] * t[r0 + 2][j];
    }
    tmp[j] = dot + t[r0][j];
  }
#pragma GCC unroll 4
  for (int j = c0; j < c1; ++j) {
    t[r0][j] -= h.tau * tmp[j];
  }
  for (int k = 0; k < n; ++k) {
    const double factor = h.tau * h.essential[k];
#pragma GCC unroll 4
    for (int j = c0; j < c1; ++j) {
      t[r0 + 1 + k][j] -= factor * tmp[j];
    }
  }
}

// Eigen's applyHouseholderOnTheRight on rows r0 … r1 − 1 and columns c0 … c0 + n.
template <int n>
[[gnu::always_inline]] inline void ReflectColumns(Rows& t, const Reflector& h, int r0, int r1,
                                                  int c0) {
  if (h.tau == 0) {
    return;
  }
#pragma GCC unroll 4
  for (int r = r0; r < r1; ++r) {
    double dot = t[r][c0 + 1] * h.essential[0];
    if constexpr (n == 2) {
      dot = dot + t[r][c0 + 2] * h.essential[1];
    }
    const double tmp = dot + t[r][c0];
    t[r][c0] -= h.tau * tmp;
    const double scaled = h.tau * tmp;
    for (int k = 0; k < n; ++k) {
      t[r][c0 + 1 + k] -= scaled * h.essential[k];
    }
  }
}

// Eigen's JacobiRotation::makeGivens for real numbers: c and s.
void MakeGivens(double p, double q, double& c, double& s) {
  if (q == 0) {
    c = p < 0 ? -1 : 1;
    s = 0;
  } else if (p == 0) {
    c = 0;
    s = q < 0 ? 1 : -1;
  } else if (std::fabs(p) > std::fabs(q)) {
    const double ratio = q / p;
    double u = std::sqrt(1 + ratio * ratio);
    if (p < 0) {
      u = -u;
    }
    c = 1 / u;
    s = -ratio * c;
  } else {
    const double ratio = p / q;
    double u = std::sqrt(1 + ratio * ratio);
    if (q < 0) {
      u = -u;
    }
    s = -1 / u;
    c = -ratio * s;
  }
}

// x ← c·x + s·y, y ← −s·x + c·y (Eigen's apply_rotation_in_the_plane; its vectorised form
// c·y − s·x gives the same bits).
void Rotate(double& x, double& y, double c, double s) {
  const double xi = x;
  const double yi = y;
  x = c * xi + s * yi;
  y = -s * xi + c * yi;
}

class Schur {
 public:
  explicit Schur(const Rows& h) {
    for (int i = 0; i < kSize; ++i) {
      for (int j = 0; j < kSize; ++j) {
        t_[i][j] = h[i][j];
      }
    }
  }

  // RealSchur::computeFromHessenberg without U; false where the steps hand on.
  bool Run() {
    // The L1 norm of the Hessenberg part, column by column: it only bounds what counts as a
    // zero subdiagonal, and a subdiagonal within rounding of that bound hands on
    // (FindSmallSubdiagonal), so the order of the sum's terms does not matter.
    double norm = 0;
    for (int j = 0; j < kSize; ++j) {
      const int n = std::min(kSize, j + 2);
      double column = 0;
      for (int i = 0; i < n; ++i) {
        column += std::fabs(t_[i][j]);
      }
      norm += column;
    }
    if (norm == 0) {
      return true;
    }
    zero_ = std::max(norm * (kEpsilon * kEpsilon), kLeast);
    constexpr int kMaxIterations = 40 * kSize;
    int iu = kSize - 1;
    int iter = 0;
    int total = 0;
    double exshift = 0;
    while (iu >= 0) {
      int il = 0;
      if (!FindSmallSubdiagonal(iu, il)) {
        return false;
      }
      if (il == iu) {
        t_[iu][iu] = t_[iu][iu] + exshift;
        if (iu > 0) {
          t_[iu][iu - 1] = 0;
        }
        --iu;
        iter = 0;
      } else if (il == iu - 1) {
        SplitOffTwoRows(iu, exshift);
        iu -= 2;
        iter = 0;
      } else {
        double shift[3];
        ComputeShift(iu, iter, exshift, shift);
        ++iter;
        ++total;
        if (total > kMaxIterations) {
          return false;
        }
        double v[3] = {0, 0, 0};
        const int im = InitFrancisStep(il, iu, shift, v);
        FrancisStep(il, im, iu, v);
      }
    }
    return true;
  }

  Rows& T() { return t_; }

 private:
  bool FindSmallSubdiagonal(int iu, int& il) const {
    int res = iu;
    while (res > 0) {
      const double s = (std::fabs(t_[res - 1][res - 1]) + std::fabs(t_[res][res])) * kEpsilon;
      const double subdiagonal = std::fabs(t_[res][res - 1]);
      if (!(s > zero_) && subdiagonal >= zero_ * (1 - 0x1p-40) &&
          subdiagonal <= zero_ * (1 + 0x1p-40)) {
        return false;  // the bound from the norm decides, and its last bits might
      }
      if (subdiagonal <= std::max(s, zero_)) {
        break;
      }
      --res;
    }
    il = res;
    return true;
  }

  void SplitOffTwoRows(int iu, double exshift) {
    if (iu == 1) {
      SplitOffTwoRowsAt<1>(exshift);
    } else if (iu == 2) {
      SplitOffTwoRowsAt<2>(exshift);
    } else {
      SplitOffTwoRowsAt<3>(exshift);
    }
  }

  template <int iu>
  void SplitOffTwoRowsAt(double exshift) {
    const double p = 0.5 * (t_[iu - 1][iu - 1] - t_[iu][iu]);
    const double q = p * p + t_[iu][iu - 1] * t_[iu - 1][iu];
    t_[iu][iu] += exshift;
    t_[iu - 1][iu - 1] += exshift;
    if (q >= 0) {
      const double z = std::sqrt(std::fabs(q));
      double c = 0;
      double s = 0;
      MakeGivens(p >= 0 ? p + z : p - z, t_[iu][iu - 1], c, s);
      if (!(c == 1 && -s == 0)) {
        // The adjoint (c, −s) from the left on columns iu − 1 and iu (those right of iu are
        // never read again: iu only decreases).
#pragma GCC unroll 2
        for (int j = iu - 1; j <= iu; ++j) {
          Rotate(t_[iu - 1][j], t_[iu][j], c, -s);
        }
      }
      if (!(c == 1 && -s == 0)) {
        // The transpose (c, −s) from the right on rows 0 … iu.
#pragma GCC unroll 4
        for (int i = 0; i <= iu; ++i) {
          Rotate(t_[i][iu - 1], t_[i][iu], c, -s);
        }
      }
      t_[iu][iu - 1] = 0;
    }
    if constexpr (iu > 1) {
      t_[iu - 1][iu - 2] = 0;
    }
  }

  void ComputeShift(int iu, int iter, double& exshift, double shift[3]) {
    shift[0] = t_[iu][iu];
    shift[1] = t_[iu - 1][iu - 1];
    shift[2] = t_[iu][iu - 1] * t_[iu - 1][iu];
    if (iter == 10) {
      exshift += shift[0];
      for (int i = 0; i <= iu; ++i) {
        t_[i][i] -= shift[0];
      }
      const double s = std::fabs(t_[iu][iu - 1]) + std::fabs(t_[iu - 1][iu - 2]);
      shift[0] = 0.75 * s;
      shift[1] = 0.75 * s;
      shift[2] = -0.4375 * s * s;
    }
    if (iter == 30) {
      double s = (shift[1] - shift[0]) / 2.0;
      s = s * s + shift[2];
      if (s > 0) {
        s = std::sqrt(s);
        if (shift[1] < shift[0]) {
          s = -s;
        }
        s = s + (shift[1] - shift[0]) / 2.0;
        s = shift[0] - shift[2] / s;
        exshift += s;
        for (int i = 0; i <= iu; ++i) {
          t_[i][i] -= s;
        }
        shift[0] = shift[1] = shift[2] = 0.964;
      }
    }
  }

  int InitFrancisStep(int il, int iu, const double shift[3], double v[3]) const {
    int im = iu - 2;
    for (; im >= il; --im) {
      const double tmm = t_[im][im];
      const double r = shift[0] - tmm;
      const double s = shift[1] - tmm;
      v[0] = (r * s - shift[2]) / t_[im + 1][im] + t_[im][im + 1];
      v[1] = t_[im + 1][im + 1] - tmm - r - s;
      v[2] = t_[im + 2][im + 1];
      if (im == il) {
        break;
      }
      const double lhs = t_[im][im - 1] * (std::fabs(v[1]) + std::fabs(v[2]));
      const double rhs =
          v[0] * (std::fabs(t_[im - 1][im - 1]) + std::fabs(tmm) + std::fabs(t_[im + 1][im + 1]));
      if (std::fabs(lhs) < kEpsilon * rhs) {
        break;
      }
    }
    return im;
  }

  // The step for the few shapes there are (iu is 2 or 3, im below iu − 1), each with its loops
  // laid out in full.
  void FrancisStep(int il, int im, int iu, const double first[3]) {
    if (iu == 2) {
      FrancisStepAt<0, 2>(il, first);
    } else if (im == 0) {
      FrancisStepAt<0, 3>(il, first);
    } else {
      FrancisStepAt<1, 3>(il, first);
    }
  }

  template <int im, int iu>
  void FrancisStepAt(int il, const double first[3]) {
#pragma GCC unroll 4
    for (int k = im; k <= iu - 2; ++k) {
      const bool first_iteration = k == im;
      double v[3];
      for (int i = 0; i < 3; ++i) {
        v[i] = first_iteration ? first[i] : t_[k + i][k - 1];
      }
      const Reflector h = MakeReflector<2>(v[0], v + 1);
      if (h.beta != 0) {
        if (!first_iteration) {
          t_[k][k - 1] = h.beta;
        } else if constexpr (im > 0) {
          // (From im = 0 the block starts at il = 0: there is no entry left of it.)
          if (k > il) {
            t_[k][k - 1] = -t_[k][k - 1];
          }
        }
        // Not the columns right of iu: no later step reads them (iu only decreases).
        ReflectRows<2>(t_, h, k, k, iu + 1);
        ReflectColumns<2>(t_, h, 0, std::min(iu, k + 3) + 1, k);
      }
    }
    const double tail = t_[iu][iu - 2];
    const Reflector h = MakeReflector<1>(t_[iu - 1][iu - 2], &tail);
    if (h.beta != 0) {
      t_[iu - 1][iu - 2] = h.beta;
      ReflectRows<1>(t_, h, iu - 1, iu - 1, iu + 1);
      ReflectColumns<1>(t_, h, 0, iu + 1, iu - 1);
    }
#pragma GCC unroll 4
    for (int i = im + 2; i <= iu; ++i) {
      t_[i][i - 2] = 0;
      if (i > im + 2) {
        t_[i][i - 3] = 0;
      }
    }
  }

  Rows t_;
  double zero_ = 0;
};

}  // namespace

bool WrittenOutEigenvalues(const Matrix4& a, Eigenvalues4& values) {
  // RealSchur::compute: the matrix scaled by its largest magnitude.
  double scale = 0;
  for (int i = 0; i < kSize; ++i) {
    for (int j = 0; j < kSize; ++j) {
      const double x = a(i, j);
      if (!std::isfinite(x)) {
        return false;
      }
      scale = std::max(scale, std::fabs(x));
    }
  }
  if (scale < kLeast) {
    return false;
  }
  Rows h;
  for (int i = 0; i < kSize; ++i) {
    for (int j = 0; j < kSize; ++j) {
      // A zero stays the same zero (sign included) without its division; half the closed
      // loop's entries are zeros.
      const double x = a(i, j);
      h[i][j] = x == 0 ? x : x / scale;
    }
  }
  // HessenbergDecomposition::_compute: columns 0 and 1 (the last column's step reflects
  // nothing).
  const double tail[2] = {h[2][0], h[3][0]};
  const Reflector first = MakeReflector<2>(h[1][0], tail);
  h[1][0] = first.beta;
  ReflectRows<2>(h, first, 1, 1, kSize);
  ReflectColumns<2>(h, first, 0, kSize, 1);
  const Reflector second = MakeReflector<1>(h[2][1], &h[3][1]);
  h[2][1] = second.beta;
  ReflectRows<1>(h, second, 2, 2, kSize);
  ReflectColumns<1>(h, second, 0, kSize, 2);
  h[2][0] = h[3][0] = h[3][1] = 0;
  Schur schur(h);
  if (!schur.Run()) {
    return false;
  }
  Rows& t = schur.T();
  for (auto& row : t) {
    for (double& x : row) {
      x *= scale;
    }
  }
  // EigenSolver::compute: the eigenvalues from the blocks on the diagonal.
  int i = 0;
  while (i < kSize) {
    if (i == kSize - 1 || t[i + 1][i] == 0) {
      const double x = t[i][i];
      if (!std::isfinite(x) || x == 0) {
        return false;
      }
      values(i) = std::complex<double>(x, 0);
      ++i;
    } else {
      const double p = 0.5 * (t[i][i] - t[i + 1][i + 1]);
      double t0 = t[i + 1][i];
      double t1 = t[i][i + 1];
      const double largest = std::max(std::fabs(p), std::max(std::fabs(t0), std::fabs(t1)));
      t0 /= largest;
      t1 /= largest;
      const double p0 = p / largest;
      const double z = largest * std::sqrt(std::fabs(p0 * p0 + t0 * t1));
      const double re = t[i + 1][i + 1] + p;
      if (!std::isfinite(re) || !std::isfinite(z) || re == 0 || z == 0) {
        return false;
      }
      values(i) = std::complex<double>(re, z);
      values(i + 1) = std::complex<double>(re, -z);
      i += 2;
    }
  }
  return true;
}

}  // namespace eigenvalues_detail

Eigenvalues4 EigenvaluesOf(const Matrix4& a) {
  Eigenvalues4 values;
  if (eigenvalues_detail::WrittenOutEigenvalues(a, values)) {
    return values;
  }
  return Eigen::EigenSolver<Matrix4>(a, false).eigenvalues();
}

}  // namespace pitch::analysis
