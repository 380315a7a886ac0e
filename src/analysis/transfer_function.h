// A real-rational transfer function in factored form, evaluated on the positive imaginary axis in
// extended precision with a phase that is followed continuously in the frequency.
#pragma once

#include <complex>
#include <vector>

#include "core/extended.h"

namespace pitch::analysis {

using ComplexExtended = std::complex<Extended>;

// gain·Π(s − zᵢ) / Π(s − pⱼ). Complex zeros and poles come in conjugate pairs, so the function
// is real on the real axis.
struct TransferFunction {
  Extended gain = 1;
  std::vector<ComplexExtended> zeros;
  std::vector<ComplexExtended> poles;
};

// L(jω) for ω > 0. The phase is the sum of the factors' angles, each continuous in ω: a root in
// the left half-plane contributes an angle within (−90°, 90°), one in the right half-plane an
// angle within (90°, 270°), a root at the origin 90°; a negative gain contributes −180°. Only a
// root on the imaginary axis makes the phase jump (by 180°, where |L| is 0 or infinite).
struct FrequencyValue {
  Extended log_magnitude = 0;  // ln |L(jω)|; ±infinity at a root on the imaginary axis
  Extended phase = 0;          // radians
  ComplexExtended value;       // L(jω)
};
FrequencyValue Evaluate(const TransferFunction& l, Extended omega);
// The phase alone: Evaluate(l, omega).phase without the magnitude and value.
Extended PhaseAt(const TransferFunction& l, Extended omega);
// L(jω) alone: Evaluate(l, omega).value without the logarithms and angles.
ComplexExtended ValueAt(const TransferFunction& l, Extended omega);

// dL/dω at s = jω, for the value v = Evaluate(l, omega).
ComplexExtended Slope(const TransferFunction& l, Extended omega, const FrequencyValue& v);

// The closed loop l/(1 + l) under negative feedback is stable: every root of
// denominator + numerator lies strictly in the left half-plane.
bool ClosedLoopStable(const TransferFunction& l);

// The roots of a·s² + b·s + c (a ≠ 0), the larger in magnitude first for real roots, the one
// with positive imaginary part first for a complex pair; formed without cancellation.
std::vector<ComplexExtended> QuadraticRoots(Extended a, Extended b, Extended c);

}  // namespace pitch::analysis
