// The grid of a sweep: each named coefficient takes COUNT evenly spaced values from FROM to TO,
// the others keep fixed values; the grid runs through the combinations in the order of the
// axes, the last axis fastest.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "core/extended.h"

namespace pitch::study {

// The message of a number on the command line that cannot be read (what: the option and its
// value): the parser's, and the separator hint where the text holds the other separator; one line.
std::string NumberUsageError(const std::string& what, std::string_view text, const Exception& e,
                             char separator, bool separator_given);

struct SweepAxis {
  int coefficient = 0;  // 0 … 4 for c1 … c5
  Real from = 0;
  Real to = 0;
  std::int64_t count = 1;

  // Value i (0 ≤ i < count): FROM + i·(TO − FROM)/(COUNT − 1), evaluated in extended precision
  // in that order — the product i·(TO − FROM), then the quotient, then the sum — and rounded
  // once to a Real. The first value is FROM and the last TO, exactly.
  Real Value(std::int64_t i) const;
};

// "NAME=FROM:TO:COUNT", NAME one of c1 … c5, FROM and TO decimal numbers with the given
// separator, COUNT a whole number from 1. Raises EUsageError: with the expected form when the
// text does not have it, with the separator hint when a number holds the other separator
// (separator_given: the separator came from --separator, not from the locale).
SweepAxis ParseSweep(std::string_view text, char separator, bool separator_given = false);

class SweepGrid {
 public:
  // Raises EUsageError for a coefficient swept twice or a grid of more than 2^62 sets.
  SweepGrid(std::vector<SweepAxis> axes, const std::array<Real, 5>& fixed);

  std::int64_t size() const { return size_; }
  const std::vector<SweepAxis>& axes() const { return axes_; }
  // The coefficients of set `row` (0 ≤ row < size()).
  std::array<Real, 5> Coefficients(std::int64_t row) const;
  // The index along each axis of set `row`.
  std::vector<std::int64_t> Indices(std::int64_t row) const;

 private:
  std::vector<SweepAxis> axes_;
  std::array<Real, 5> fixed_;
  std::int64_t size_ = 1;
};

}  // namespace pitch::study
