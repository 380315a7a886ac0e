// Polynomials with coefficients of any ring-like scalar type, lowest power first: the loop's
// crossing polynomials are formed once in midpoint–radius extended arithmetic (Ball) for the fast
// path and, when that cannot decide, with 128-bit midpoints (FineBall), then in exact rationals
// (Exact, GMP's mpq_class).
#pragma once

#include <gmpxx.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "analysis/ball.h"
#include "analysis/fine_ball.h"
#include "core/extended.h"

namespace pitch::analysis {

using Exact = mpq_class;

// The exact rational value of a finite extended number. Raises EOverflow for an infinity or NaN.
Exact ToExact(Extended x);

// An extended value as a scalar of the type, exactly.
template <class T>
T FromExtended(Extended x);
template <>
inline Ball FromExtended<Ball>(Extended x) {
  return Ball(x);
}
template <>
inline FineBall FromExtended<FineBall>(Extended x) {
  return FineBall(x);
}
template <>
inline Exact FromExtended<Exact>(Extended x) {
  return ToExact(x);
}

// A vector of a trivially copyable scalar that keeps up to N elements inside itself and moves to
// the heap only beyond them: the fast path forms and drops dozens of short polynomials per loop,
// and their allocations cost as much as their arithmetic. The part of std::vector's interface the
// polynomials use.
template <class T, std::size_t N>
class InlineVector {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  using value_type = T;
  using size_type = std::size_t;
  using iterator = T*;
  using const_iterator = const T*;

  InlineVector() = default;
  explicit InlineVector(std::size_t n) { resize(n); }
  InlineVector(std::size_t n, const T& value) { resize(n, value); }
  InlineVector(std::initializer_list<T> values) {
    reserve(values.size());
    std::memcpy(static_cast<void*>(data_), values.begin(), values.size() * sizeof(T));
    size_ = values.size();
  }
  InlineVector(const InlineVector& other) { CopyFrom(other); }
  InlineVector(InlineVector&& other) noexcept { MoveFrom(other); }
  InlineVector& operator=(const InlineVector& other) {
    if (this != &other) {
      size_ = 0;
      CopyFrom(other);
    }
    return *this;
  }
  InlineVector& operator=(InlineVector&& other) noexcept {
    if (this != &other) {
      Release();
      MoveFrom(other);
    }
    return *this;
  }
  ~InlineVector() { Release(); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return capacity_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](std::size_t k) { return data_[k]; }
  const T& operator[](std::size_t k) const { return data_[k]; }
  T& front() { return data_[0]; }
  const T& front() const { return data_[0]; }
  T& back() { return data_[size_ - 1]; }
  const T& back() const { return data_[size_ - 1]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

  void reserve(std::size_t n) {
    if (n > capacity_) {
      Grow(n);
    }
  }
  void resize(std::size_t n) { resize(n, T()); }
  void resize(std::size_t n, const T& value) {
    if (n > capacity_) {
      const T copy = value;  // value may be one of the elements that growing moves
      Grow(n);
      resize(n, copy);
      return;
    }
    for (std::size_t k = size_; k < n; ++k) {
      ::new (static_cast<void*>(data_ + k)) T(value);
    }
    size_ = n;
  }
  void push_back(const T& value) {
    if (size_ == capacity_) {
      const T copy = value;  // value may be one of the elements that growing moves
      Grow(2 * capacity_);
      push_back(copy);
      return;
    }
    ::new (static_cast<void*>(data_ + size_)) T(value);
    ++size_;
  }
  template <class... Args>
  T& emplace_back(Args&&... args) {
    push_back(T(std::forward<Args>(args)...));
    return back();
  }
  void pop_back() { --size_; }
  void clear() { size_ = 0; }
  T* erase(T* first, T* last) {
    std::memmove(static_cast<void*>(first), last,
                 static_cast<std::size_t>(end() - last) * sizeof(T));
    size_ -= static_cast<std::size_t>(last - first);
    return first;
  }
  T* erase(T* at) { return erase(at, at + 1); }

  friend bool operator==(const InlineVector& a, const InlineVector& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  T* Inline() { return std::launder(reinterpret_cast<T*>(storage_)); }
  void Grow(std::size_t n) {
    T* grown = std::allocator<T>().allocate(n);
    std::memcpy(static_cast<void*>(grown), data_, size_ * sizeof(T));
    Release();
    data_ = grown;
    capacity_ = n;
  }
  void Release() {
    if (data_ != Inline()) {
      std::allocator<T>().deallocate(data_, capacity_);
      data_ = Inline();
      capacity_ = N;
    }
  }
  void CopyFrom(const InlineVector& other) {
    reserve(other.size_);
    std::memcpy(static_cast<void*>(data_), other.data_, other.size_ * sizeof(T));
    size_ = other.size_;
  }
  // Takes a heap buffer over; copies inline elements. This object holds no heap buffer.
  void MoveFrom(InlineVector& other) {
    if (other.data_ != other.Inline()) {
      data_ = other.data_;
      capacity_ = other.capacity_;
      other.data_ = other.Inline();
      other.capacity_ = N;
    } else {
      std::memcpy(static_cast<void*>(data_), other.data_, other.size_ * sizeof(T));
    }
    size_ = other.size_;
    other.size_ = 0;
  }

  alignas(T) unsigned char storage_[N * sizeof(T)];
  T* data_ = Inline();
  std::size_t size_ = 0;
  std::size_t capacity_ = N;
};

// Sixteen coefficients hold the fast path's polynomials (the loops' crossing polynomials stay
// well below); exact and arbitrary-precision coefficients stay in a std::vector.
template <class T>
using PolyStorage =
    std::conditional_t<std::is_trivially_copyable_v<T>, InlineVector<T, 16>, std::vector<T>>;

template <class T>
class Poly : public PolyStorage<T> {
 public:
  using PolyStorage<T>::PolyStorage;
  Poly() = default;
  Poly(std::initializer_list<T> values) : PolyStorage<T>(values) {}
};

template <class T>
Poly<T> operator+(const Poly<T>& a, const Poly<T>& b) {
  Poly<T> r(std::max(a.size(), b.size()));
  for (std::size_t k = 0; k < r.size(); ++k) {
    if (k < a.size() && k < b.size()) {
      r[k] = a[k] + b[k];
    } else {
      r[k] = k < a.size() ? a[k] : b[k];
    }
  }
  return r;
}

template <class T>
Poly<T> operator-(const Poly<T>& a) {
  Poly<T> r(a.size());
  for (std::size_t k = 0; k < a.size(); ++k) {
    r[k] = -a[k];
  }
  return r;
}

template <class T>
Poly<T> operator-(const Poly<T>& a, const Poly<T>& b) {
  Poly<T> r(std::max(a.size(), b.size()));
  for (std::size_t k = 0; k < r.size(); ++k) {
    if (k < a.size() && k < b.size()) {
      r[k] = a[k] - b[k];
    } else {
      r[k] = k < a.size() ? a[k] : -b[k];
    }
  }
  return r;
}

template <class T>
Poly<T> operator*(const Poly<T>& a, const Poly<T>& b) {
  if (a.empty() || b.empty()) {
    return {};
  }
  Poly<T> r;
  r.reserve(a.size() + b.size() - 1);
  // Each coefficient summed whole before it is stored.
  for (std::size_t k = 0; k + 1 < a.size() + b.size(); ++k) {
    const std::size_t first = k >= b.size() ? k - b.size() + 1 : 0;
    const std::size_t last = std::min(k, a.size() - 1);
    T sum = a[first] * b[k - first];
    for (std::size_t i = first + 1; i <= last; ++i) {
      sum += a[i] * b[k - i];
    }
    r.push_back(std::move(sum));
  }
  return r;
}

// r ± u^shift·a·b, in place: r grows as needed.
template <class T>
void AddProduct(Poly<T>& r, const Poly<T>& a, const Poly<T>& b, std::size_t shift = 0,
                bool subtract = false) {
  if (a.empty() || b.empty()) {
    return;
  }
  if (r.size() < a.size() + b.size() - 1 + shift) {
    r.resize(a.size() + b.size() - 1 + shift, FromExtended<T>(0));
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t j = 0; j < b.size(); ++j) {
      if (subtract) {
        r[i + j + shift] -= a[i] * b[j];
      } else {
        r[i + j + shift] += a[i] * b[j];
      }
    }
  }
}

// a'·b − a·b' = Σ (i − j)·a_i·b_j·u^(i+j−1), summed over the pairs i ≠ j: the terms i = j of
// a'·b and a·b' are equal and would cancel, often to a result far smaller than themselves.
template <class T>
Poly<T> Wronskian(const Poly<T>& a, const Poly<T>& b) {
  Poly<T> r;
  if (a.size() + b.size() < 3) {
    return r;
  }
  r.resize(a.size() + b.size() - 2, FromExtended<T>(0));
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t j = 0; j < b.size(); ++j) {
      if (i != j) {
        const Extended factor = static_cast<Extended>(i) - static_cast<Extended>(j);
        r[i + j - 1] += a[i] * b[j] * FromExtended<T>(factor);
      }
    }
  }
  return r;
}

template <class T>
Poly<T> Derivative(const Poly<T>& a) {
  if (a.size() < 2) {
    return {};
  }
  Poly<T> r(a.size() - 1);
  for (std::size_t k = 1; k < a.size(); ++k) {
    r[k - 1] = a[k] * FromExtended<T>(static_cast<Extended>(k));
  }
  return r;
}

template <class T>
T Evaluate(const Poly<T>& a, const T& x) {
  T r = FromExtended<T>(0);
  for (std::size_t k = a.size(); k-- > 0;) {
    r = r * x + a[k];
  }
  return r;
}

// A ball holding P(x') for every x' in the ball x and every polynomial whose coefficients lie in
// the balls: Horner's rule on the midpoints at x's midpoint, at a fraction of the cost of ball
// arithmetic at every step. Its bound adds the coefficients' radii (Σ rad_k·|x|^k), the rounding
// of Horner's rule by Higham's running error bound (Accuracy and Stability of Numerical
// Algorithms, §5.1: u·(2μ − |value|) to first order, u = 2⁻⁶⁴; taken as 2u·μ, widened by 2⁻³²
// for the second-order terms and the bound's own rounding), and the spread over x
// (Σ k·(|mid_k| + rad_k)·(|x| + r)^(k−1)·r).
inline Ball EnclosedValue(const Poly<Ball>& a, const Ball& x) {
  const std::size_t n = a.size();
  if (n == 0) {
    return {};
  }
  const Extended t = x.mid;
  const Extended at = std::fabs(t);
  const Extended reach = at + x.rad;
  Extended value = a[n - 1].mid;
  Extended mu = std::fabs(value) / 2;
  Extended radii = a[n - 1].rad;
  Extended magnitude = std::fabs(a[n - 1].mid) + a[n - 1].rad;
  Extended slope = 0;
  for (std::size_t k = n - 1; k-- > 0;) {
    slope = slope * reach + magnitude;
    magnitude = magnitude * reach + (std::fabs(a[k].mid) + a[k].rad);
    value = value * t + a[k].mid;
    mu = mu * at + std::fabs(value);
    radii = radii * at + a[k].rad;
  }
  const Extended rounding = 0x1p-63L * mu;
  const Extended rad = (radii + rounding + slope * x.rad) * (1 + 0x1p-32L) +
                       static_cast<Extended>(2 * n) * std::numeric_limits<Extended>::min();
  return {value, rad};
}

}  // namespace pitch::analysis
