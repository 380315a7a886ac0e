#include "reference/x87_arithmetic.h"

#include <cstdio>
#include <cstdlib>

namespace pitch::reference {

namespace {

// MPFR writes a number as 0.1b…b × 2^e. The 80-bit format's largest finite value is just below
// 2^16384 and its smallest denormal is 2^-16445 = 0.1 × 2^-16444; the double's are just below
// 2^1024 and 2^-1074 = 0.1 × 2^-1073. mpfr_subnormalize takes the smallest denormal's exponent as
// emin.
constexpr mpfr_exp_t kExtendedEmin = -16444;
constexpr mpfr_exp_t kExtendedEmax = 16384;
constexpr mpfr_exp_t kRealEmin = -1073;
constexpr mpfr_exp_t kRealEmax = 1024;

constexpr mpfr_prec_t kExtendedBits = 64;
constexpr mpfr_prec_t kRealBits = 53;

[[noreturn]] void Raise(Fault fault) { throw FaultRaised{fault}; }

void SetRange(mpfr_exp_t emin, mpfr_exp_t emax) {
  if (mpfr_set_emin(emin) != 0 || mpfr_set_emax(emax) != 0) {
    std::fprintf(stderr, "reference: MPFR refuses the exponent range\n");
    std::abort();
  }
}

// A result that came out as NaN or infinity is a fault of its operation.
Ext Checked(Ext r) {
  if (mpfr_nan_p(r.get())) {
    Raise(Fault::kInvalidOp);
  }
  if (mpfr_inf_p(r.get())) {
    Raise(Fault::kOverflow);
  }
  return r;
}

}  // namespace

const char* FaultClassName(Fault fault) {
  switch (fault) {
    case Fault::kInvalidOp:
      return "EInvalidOp";
    case Fault::kZeroDivide:
      return "EZeroDivide";
    case Fault::kOverflow:
      return "EOverflow";
    case Fault::kNone:
      break;
  }
  return "";
}

const char* FaultMessage(Fault fault) {
  switch (fault) {
    case Fault::kInvalidOp:
      return "Invalid floating point operation";
    case Fault::kZeroDivide:
      return "Floating point division by zero";
    case Fault::kOverflow:
      return "Floating point overflow";
    case Fault::kNone:
      break;
  }
  return "";
}

ExtendedRange::ExtendedRange() : saved_emin_(mpfr_get_emin()), saved_emax_(mpfr_get_emax()) {
  SetRange(kExtendedEmin, kExtendedEmax);
}

ExtendedRange::~ExtendedRange() { SetRange(saved_emin_, saved_emax_); }

void Ext::Init() {
  static_assert(sizeof limbs_ * 8 >= kExtendedBits);
  mpfr_custom_init(limbs_, kExtendedBits);
  mpfr_custom_init_set(value_, MPFR_ZERO_KIND, 0, kExtendedBits, limbs_);
}

Ext::Ext() { Init(); }

Ext::Ext(double real) {
  Init();
  if (mpfr_set_d(value_, real, MPFR_RNDN) != 0) {
    std::fprintf(stderr, "reference: a Real did not widen exactly\n");
    std::abort();
  }
}

Ext::Ext(const Ext& other) {
  Init();
  mpfr_set(value_, other.value_, MPFR_RNDN);
}

Ext& Ext::operator=(const Ext& other) {
  mpfr_set(value_, other.value_, MPFR_RNDN);
  return *this;
}

long double Ext::ToLongDouble() const {
  const long double out = mpfr_get_ld(value_, MPFR_RNDN);
  if (mpfr_cmp_ld(value_, out) != 0) {
    std::fprintf(stderr, "reference: an extended value did not convert exactly\n");
    std::abort();
  }
  return out;
}

Ext Ext::FromLongDouble(long double value) {
  Ext out;
  mpfr_set_ld(out.value_, value, MPFR_RNDN);
  return out;
}

void FinishExtended(Ext& result, int ternary) {
  mpfr_subnormalize(result.get(), ternary, MPFR_RNDN);
}

Ext Add(const Ext& a, const Ext& b) {
  Ext r;
  FinishExtended(r, mpfr_add(r.get(), a.get(), b.get(), MPFR_RNDN));
  return Checked(r);
}

Ext Sub(const Ext& a, const Ext& b) {
  Ext r;
  FinishExtended(r, mpfr_sub(r.get(), a.get(), b.get(), MPFR_RNDN));
  return Checked(r);
}

Ext Mul(const Ext& a, const Ext& b) {
  Ext r;
  FinishExtended(r, mpfr_mul(r.get(), a.get(), b.get(), MPFR_RNDN));
  return Checked(r);
}

Ext Div(const Ext& a, const Ext& b) {
  if (mpfr_zero_p(b.get())) {
    Raise(mpfr_zero_p(a.get()) ? Fault::kInvalidOp : Fault::kZeroDivide);
  }
  Ext r;
  FinishExtended(r, mpfr_div(r.get(), a.get(), b.get(), MPFR_RNDN));
  return Checked(r);
}

Ext Sqrt(const Ext& a) {
  if (mpfr_sgn(a.get()) < 0) {
    Raise(Fault::kInvalidOp);
  }
  Ext r;
  FinishExtended(r, mpfr_sqrt(r.get(), a.get(), MPFR_RNDN));
  return Checked(r);
}

Ext Neg(const Ext& a) {
  Ext r;
  mpfr_neg(r.get(), a.get(), MPFR_RNDN);
  return r;
}

Ext Abs(const Ext& a) {
  Ext r;
  mpfr_abs(r.get(), a.get(), MPFR_RNDN);
  return r;
}

double Store(const Ext& value) {
  mp_limb_t limbs[1];
  static_assert(sizeof limbs * 8 >= kRealBits);
  mpfr_t real;
  mpfr_custom_init(limbs, kRealBits);
  mpfr_custom_init_set(real, MPFR_ZERO_KIND, 0, kRealBits, limbs);
  // Round to 53 bits in the extended range, then bring the result into the double range: the
  // ternary values carried along keep the denormal rounding a single rounding of the extended
  // value.
  int ternary = mpfr_set(real, value.get(), MPFR_RNDN);
  const mpfr_exp_t emin = mpfr_get_emin();
  const mpfr_exp_t emax = mpfr_get_emax();
  SetRange(kRealEmin, kRealEmax);
  ternary = mpfr_check_range(real, ternary, MPFR_RNDN);
  mpfr_subnormalize(real, ternary, MPFR_RNDN);
  SetRange(emin, emax);
  if (mpfr_inf_p(real)) {
    Raise(Fault::kOverflow);
  }
  if (mpfr_nan_p(real)) {
    Raise(Fault::kInvalidOp);
  }
  return mpfr_get_d(real, MPFR_RNDN);
}

std::string Hex(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

std::string Hex(long double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%La", value);
  return text;
}

}  // namespace pitch::reference
