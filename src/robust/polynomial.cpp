#include "robust/polynomial.h"

#include <algorithm>

namespace pitch::robust {

namespace {

std::size_t SizeOf(const Exponents& degrees) {
  std::size_t n = 1;
  for (const int d : degrees) {
    n *= static_cast<std::size_t>(d + 1);
  }
  return n;
}

}  // namespace

Polynomial::Polynomial(const Exponents& degrees)
    : degrees_(degrees), coefficients_(SizeOf(degrees)) {}

Polynomial Polynomial::Variable(int variable) {
  Exponents d{};
  d[static_cast<std::size_t>(variable)] = 1;
  Polynomial p(d);
  Exponents e{};
  e[static_cast<std::size_t>(variable)] = 1;
  p.coefficients_[p.Index(e)] = Ball(1);
  return p;
}

std::size_t Polynomial::Index(const Exponents& e) const {
  std::size_t index = 0;
  for (std::size_t i = 0; i < kVariables; ++i) {
    index = index * static_cast<std::size_t>(degrees_[i] + 1) + static_cast<std::size_t>(e[i]);
  }
  return index;
}

Exponents Polynomial::ExponentsOf(std::size_t index) const {
  Exponents e{};
  for (std::size_t i = kVariables; i-- > 0;) {
    const auto radix = static_cast<std::size_t>(degrees_[i] + 1);
    e[i] = static_cast<int>(index % radix);
    index /= radix;
  }
  return e;
}

Ball Polynomial::Coefficient(const Exponents& e) const {
  for (std::size_t i = 0; i < kVariables; ++i) {
    if (e[i] < 0 || e[i] > degrees_[i]) {
      return Ball(0);
    }
  }
  return coefficients_[Index(e)];
}

Ball Polynomial::Evaluate(const Point& x) const {
  Ball sum(0);
  for (std::size_t k = 0; k < coefficients_.size(); ++k) {
    if (coefficients_[k].IsExactZero()) {
      continue;
    }
    const Exponents e = ExponentsOf(k);
    Ball term = coefficients_[k];
    for (std::size_t i = 0; i < kVariables; ++i) {
      for (int j = 0; j < e[i]; ++j) {
        term = term * x[i];
      }
    }
    sum += term;
  }
  return sum;
}

Polynomial Polynomial::Widened(const Exponents& degrees) const {
  if (degrees == degrees_) {
    return *this;
  }
  Polynomial r(degrees);
  for (std::size_t k = 0; k < coefficients_.size(); ++k) {
    r.coefficients_[r.Index(ExponentsOf(k))] = coefficients_[k];
  }
  return r;
}

Polynomial Polynomial::Scaled(int v, const Ball& scale) const {
  Polynomial r = *this;
  for (std::size_t k = 0; k < coefficients_.size(); ++k) {
    const int e = ExponentsOf(k)[static_cast<std::size_t>(v)];
    for (int j = 0; j < e; ++j) {
      r.coefficients_[k] = r.coefficients_[k] * scale;
    }
  }
  return r;
}

Polynomial Polynomial::Reversed(int v, const Ball& scale) const {
  const Polynomial scaled = Scaled(v, scale);
  Polynomial r(degrees_);
  int d = 0;
  for (std::size_t k = 0; k < coefficients_.size(); ++k) {
    if (!coefficients_[k].IsExactZero()) {
      d = std::max(d, ExponentsOf(k)[static_cast<std::size_t>(v)]);
    }
  }
  for (std::size_t k = 0; k < coefficients_.size(); ++k) {
    if (coefficients_[k].IsExactZero()) {
      continue;
    }
    Exponents e = ExponentsOf(k);
    e[static_cast<std::size_t>(v)] = d - e[static_cast<std::size_t>(v)];
    r.coefficients_[r.Index(e)] = scaled.coefficients_[k];
  }
  return r;
}

Polynomial Polynomial::DividedBy(int v) const {
  const auto i = static_cast<std::size_t>(v);
  if (degrees_[i] == 0) {
    return *this;
  }
  for (std::size_t k = 0; k < coefficients_.size(); ++k) {
    if (!coefficients_[k].IsExactZero() && ExponentsOf(k)[i] == 0) {
      return *this;
    }
  }
  Exponents d = degrees_;
  --d[i];
  Polynomial r(d);
  for (std::size_t k = 0; k < coefficients_.size(); ++k) {
    Exponents e = ExponentsOf(k);
    if (e[i] > 0) {
      --e[i];
      r.coefficients_[r.Index(e)] = coefficients_[k];
    }
  }
  return r;
}

Polynomial operator+(const Polynomial& a, const Polynomial& b) {
  Exponents d;
  for (std::size_t i = 0; i < kVariables; ++i) {
    d[i] = std::max(a.degrees_[i], b.degrees_[i]);
  }
  Polynomial r = a.Widened(d);
  for (std::size_t k = 0; k < b.coefficients_.size(); ++k) {
    if (!b.coefficients_[k].IsExactZero()) {
      r.coefficients_[r.Index(b.ExponentsOf(k))] += b.coefficients_[k];
    }
  }
  return r;
}

Polynomial operator-(const Polynomial& a, const Polynomial& b) { return a + Ball(-1) * b; }

Polynomial operator*(const Ball& a, const Polynomial& b) {
  Polynomial r = b;
  for (Ball& c : r.coefficients_) {
    c = a * c;
  }
  return r;
}

Polynomial operator*(const Polynomial& a, const Polynomial& b) {
  Exponents d;
  for (std::size_t i = 0; i < kVariables; ++i) {
    d[i] = a.degrees_[i] + b.degrees_[i];
  }
  Polynomial r(d);
  for (std::size_t i = 0; i < a.coefficients_.size(); ++i) {
    if (a.coefficients_[i].IsExactZero()) {
      continue;
    }
    const Exponents ea = a.ExponentsOf(i);
    for (std::size_t j = 0; j < b.coefficients_.size(); ++j) {
      if (b.coefficients_[j].IsExactZero()) {
        continue;
      }
      const Exponents eb = b.ExponentsOf(j);
      Exponents e;
      for (std::size_t v = 0; v < kVariables; ++v) {
        e[v] = ea[v] + eb[v];
      }
      r.coefficients_[r.Index(e)] += a.coefficients_[i] * b.coefficients_[j];
    }
  }
  return r;
}

}  // namespace pitch::robust
