// TController: the computation object. It holds its copy of the five model coefficients, the
// four autopilot gear ratios synthesised from them and the 1000 samples of the step response,
// and moves values between the window and the storage object.
//
// The fields are read directly by the window and the front ends (there are no accessors); only
// the controller's own operations write them.
#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <span>
#include <vector>

#include "core/border.h"
#include "core/extended.h"
#include "core/model.h"

namespace pitch {

// The response samples, indexed 1 … kSampleCount: sample i belongs to t = (i − 1)·0.01 s.
class TSamples {
 public:
  Real& operator[](int i) { return values_[static_cast<std::size_t>(i - 1)]; }
  const Real& operator[](int i) const { return values_[static_cast<std::size_t>(i - 1)]; }
  const std::array<Real, kSampleCount>& values() const { return values_; }
  bool operator==(const TSamples&) const = default;

 private:
  std::array<Real, kSampleCount> values_{};
};

// The time of sample i: the Real nearest to (i − 1)/100, formed as the integer i − 1 times the
// extended constant 0.01 and rounded once (the Euler iteration itself steps by kTimeStep).
Real SampleTime(int i);
// SampleTime(1) … SampleTime(kSampleCount).
std::vector<Real> SampleTimes();

class TController {
 public:
  void ConnectBorder(TBorder* aBorder) { _Border = aBorder; }
  void ConnectStorage(TResultsStore* aStorage) { _Storage = aStorage; }

  // c1 … c5 := the window's c1 … c5.
  void TakeCoefficients();
  // The storage object's c1 … c5 and FileName := the window's.
  void PassInputsToStorage();
  // The storage object's muv, iv, nuv, Tnu := the controller's.
  void PassRatiosToStorage();

  // Closed-form synthesis of muv, iv, nuv and Tnu from c1 … c5. Raises EInvalidOp, EZeroDivide
  // or EOverflow at the failing step; the ratios stored before that step keep their new values.
  void ComputeGearRatios();
  // Explicit Euler simulation of the closed loop's unit-step response into teta. Raises
  // EOverflow at the first state that leaves the Real range; earlier samples keep the new values.
  void SimulateResponse();

  TBorder* _Border = nullptr;
  TResultsStore* _Storage = nullptr;
  Real c1 = 0;
  Real c2 = 0;
  Real c3 = 0;
  Real c4 = 0;
  Real c5 = 0;
  Real muv = 0;  // gear ratio on the rate of the response, shown as "mu"
  Real nuv = 0;  // gear ratio on the integral of the deviation, shown as "nu"
  Real iv = 0;   // gear ratio on the deviation
  Real Tnu = 0;  // time constant iv / nuv
  TSamples teta;
};

// The most controllers whose responses share one loop in SimulateResponses.
inline constexpr std::size_t kInterleavedResponses = 3;

// The responses of several controllers at once, kInterleavedResponses of them in one loop (the
// steps of one controller wait for each other; those of different controllers overlap). Every
// controller ends as its own SimulateResponse() leaves it: the same samples, and where that
// raises, faults[k] holds the same error (else it is null) and the samples from the failing step
// on keep what they held. faults has one entry per controller.
void SimulateResponses(std::span<TController* const> controllers,
                       std::span<std::exception_ptr> faults);

}  // namespace pitch
