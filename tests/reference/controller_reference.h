// A reference model of the controller's two computations, the gear-ratio synthesis and the
// step-response simulation, with every operation of the program's formulas carried out in MPFR
// in the same order (see x87_arithmetic.h).
#pragma once

#include <array>

#include "reference/x87_arithmetic.h"

namespace pitch::reference {

inline constexpr int kSamples = 1000;

// The controller's fields that the two computations read and write.
struct ControllerFields {
  double c1 = 0;
  double c2 = 0;
  double c3 = 0;
  double c4 = 0;
  double c5 = 0;
  double muv = 0;
  double nuv = 0;
  double iv = 0;
  double Tnu = 0;
  std::array<double, kSamples> teta{};  // teta[0] is sample 1
};

// The synthesis of muv, iv, nuv and Tnu from c1 … c5. Returns the fault that ends it, if any;
// the ratios stored before the failing step keep their new values, the others are untouched.
Fault ComputeGearRatios(ControllerFields& f);

// The explicit Euler simulation into teta. Returns kOverflow when a state leaves the Real
// range; the samples before the failing step hold the new values, the others are untouched.
Fault SimulateResponse(ControllerFields& f);

}  // namespace pitch::reference
