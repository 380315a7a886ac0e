// The program's arithmetic carried out in software: the x87 80-bit extended format and the IEEE
// double (a Real), both modelled in MPFR.
//
// An extended value is an MPFR number of 64 bits with the exponent range of the 80-bit format,
// denormals included: every operation is rounded once to nearest, ties to even, and then to the
// denormal grid where the result is that small. A Real is rounded from an extended value with 53
// bits in the double range, again with denormals. Faults are decided here by explicit tests of
// the operands and the results, never by the floating-point unit.
//
// The model needs its exponent range set: every computation runs inside an ExtendedRange scope.
#pragma once

#include <mpfr.h>

#include <string>

namespace pitch::reference {

// The three floating-point faults the program turns into errors.
enum class Fault { kNone, kInvalidOp, kZeroDivide, kOverflow };

// The error class and the message of a fault, as the program shows them ("" for kNone).
const char* FaultClassName(Fault fault);
const char* FaultMessage(Fault fault);

// Raised inside the models at the failing operation; their entry points turn it into a Fault.
struct FaultRaised {
  Fault fault;
};

// Sets MPFR's exponent range to that of the 80-bit extended format for the scope's lifetime.
class ExtendedRange {
 public:
  ExtendedRange();
  ~ExtendedRange();
  ExtendedRange(const ExtendedRange&) = delete;
  ExtendedRange& operator=(const ExtendedRange&) = delete;

 private:
  mpfr_exp_t saved_emin_;
  mpfr_exp_t saved_emax_;
};

// One extended value. Its significand lives inside the object, so that the long Euler loops
// allocate nothing.
class Ext {
 public:
  Ext();
  explicit Ext(double real);  // a Real widens exactly
  Ext(const Ext& other);
  Ext& operator=(const Ext& other);

  mpfr_ptr get() { return value_; }
  mpfr_srcptr get() const { return value_; }
  // Finite values only; exact, since the value is already on the extended grid.
  long double ToLongDouble() const;
  static Ext FromLongDouble(long double value);

 private:
  void Init();
  mp_limb_t limbs_[2];
  mpfr_t value_;
};

// Completes an operation: rounds a result of 64 bits onto the denormal grid when it is that small.
// (Sums, products and quotients of Reals stay far above the extended denormals, whose largest is
// about 3.4e-4932; only the parser's scaling by large negative powers of ten reaches them.)
void FinishExtended(Ext& result, int ternary);

// The checked operations, each rounded once. Invalid operation: the root of a negative number,
// 0/0 or a NaN result; division by zero: a non-zero number divided by zero; overflow: a result
// beyond the extended range.
Ext Add(const Ext& a, const Ext& b);
Ext Sub(const Ext& a, const Ext& b);
Ext Mul(const Ext& a, const Ext& b);
Ext Div(const Ext& a, const Ext& b);
Ext Sqrt(const Ext& a);  // the root of -0 is -0, no fault
Ext Neg(const Ext& a);
Ext Abs(const Ext& a);

// Rounds an extended value to a Real (53 bits, double range, denormals, ties to even), as it is
// stored in a field or a named intermediate. A result beyond the largest Real is an overflow;
// tiny values become denormal or zero silently.
double Store(const Ext& value);

// "%a" of a double and "%La" of a long double, for messages that can be pasted back as inputs.
std::string Hex(double value);
std::string Hex(long double value);

}  // namespace pitch::reference
