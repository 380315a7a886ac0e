// Filling the coefficient fields of a controller, a window stand-in or the storage object.
#pragma once

#include <array>

#include "core/model.h"

namespace pitch::testing {

template <typename Fields>
void SetCoefficients(Fields& f, const std::array<Real, 5>& v) {
  f.c1 = v[0];
  f.c2 = v[1];
  f.c3 = v[2];
  f.c4 = v[3];
  f.c5 = v[4];
}

// The window's start-up coefficients.
template <typename Fields>
void SetDefaultCoefficients(Fields& f) {
  SetCoefficients(f, kDefaultCoefficients);
}

}  // namespace pitch::testing
