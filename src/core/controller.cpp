#include "core/controller.h"

namespace pitch {

Real SampleTime(int i) { return fp::Store(static_cast<Extended>(i - 1) * 0.01L); }

std::vector<Real> SampleTimes() {
  std::vector<Real> times(kSampleCount);
  for (int i = 1; i <= kSampleCount; ++i) {
    times[static_cast<std::size_t>(i - 1)] = SampleTime(i);
  }
  return times;
}

StateMatrix ClosedLoopMatrix(const TController& c) {
  StateMatrix a{};
  // rows and columns: z, w, y, x
  a[0][1] = 1;
  a[1][0] = -c.c3 * c.iv;
  a[1][1] = -(c.c1 + c.c5) - c.c3 * c.muv;
  a[1][2] = -c.c3 * c.nuv;
  a[1][3] = -(c.c2 - c.c4 * c.c5);
  a[2][0] = 1;
  a[3][1] = 1;
  a[3][3] = -c.c4;
  return a;
}

void TController::TakeCoefficients() {
  c1 = _Border->c1;
  c2 = _Border->c2;
  c3 = _Border->c3;
  c4 = _Border->c4;
  c5 = _Border->c5;
}

void TController::PassInputsToStorage() {
  _Storage->c1 = _Border->c1;
  _Storage->c2 = _Border->c2;
  _Storage->c3 = _Border->c3;
  _Storage->c4 = _Border->c4;
  _Storage->c5 = _Border->c5;
  _Storage->FileName = _Border->FileName;
}

void TController::PassRatiosToStorage() {
  _Storage->muv = muv;
  _Storage->iv = iv;
  _Storage->nuv = nuv;
  _Storage->Tnu = Tnu;
}

}  // namespace pitch
