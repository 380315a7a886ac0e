// The progress line of a long study on standard error: rows done (of the total when it is
// known), the rate and the time left, rewritten in place a few times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>

namespace pitch::study {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressLine(std::ostream& err, bool enabled, std::optional<std::int64_t> total);
  // Rows done so far; redraws when the last drawing is old enough.
  void Update(std::int64_t done);
  // Removes the line, leaving the cursor at the start of an empty line.
  void Finish();

  // The line's text for these figures (for tests).
  static std::string Text(std::int64_t done, std::optional<std::int64_t> total, double seconds);

 private:
  std::ostream& err_;
  bool enabled_;
  std::optional<std::int64_t> total_;
  Clock::time_point start_;
  Clock::time_point last_;
  std::size_t shown_ = 0;  // length of the line on screen
};

}  // namespace pitch::study
