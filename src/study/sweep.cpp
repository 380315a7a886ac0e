#include "study/sweep.h"

#include <charconv>

#include "number_text/number_text.h"
#include "number_text/separator_hint.h"

namespace pitch::study {

std::string NumberUsageError(const std::string& what, std::string_view text, const Exception& e,
                             char separator, bool separator_given) {
  std::string message = what + ": " + WithFullStop(e.what());
  const std::string hint = SeparatorHint(text, separator, separator_given);
  if (!hint.empty()) {
    message += ' ' + hint;
  }
  return message;
}

Real SweepAxis::Value(std::int64_t i) const {
  if (i == 0) {
    return from;
  }
  if (i == count - 1) {
    return to;
  }
  const Extended step = static_cast<Extended>(i) * (Extended{to} - Extended{from});
  return fp::Store(Extended{from} + step / static_cast<Extended>(count - 1));
}

SweepAxis ParseSweep(std::string_view text, char separator, bool separator_given) {
  const std::string shown(text);
  const auto bad = [&](const std::string& why) {
    return EUsageError("--sweep " + shown + ": " + why + " (expected NAME=FROM:TO:COUNT)");
  };
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    throw bad("no '='");
  }
  const std::string_view name = text.substr(0, equals);
  if (name.size() != 2 || (name[0] != 'c' && name[0] != 'C') || name[1] < '1' || name[1] > '5') {
    throw bad("NAME must be one of c1 … c5");
  }
  SweepAxis axis;
  axis.coefficient = name[1] - '1';
  std::string_view rest = text.substr(equals + 1);
  std::array<std::string_view, 3> parts;
  for (std::size_t k = 0; k < 3; ++k) {
    const std::size_t colon = rest.find(':');
    if ((k < 2) != (colon != std::string_view::npos)) {
      throw bad("three parts separated by ':' are needed");
    }
    parts[k] = rest.substr(0, colon);
    rest = k < 2 ? rest.substr(colon + 1) : std::string_view();
  }
  for (std::size_t k = 0; k < 2; ++k) {
    try {
      (k == 0 ? axis.from : axis.to) = fp::Store(ParseNumber(parts[k], separator));
    } catch (const Exception& e) {
      throw EUsageError(
          NumberUsageError("--sweep " + shown, parts[k], e, separator, separator_given));
    }
  }
  const char* const first = parts[2].data();
  const char* const last = first + parts[2].size();
  const auto [end, error] = std::from_chars(first, last, axis.count);
  if (error != std::errc() || end != last || axis.count < 1) {
    throw bad("COUNT must be a whole number from 1");
  }
  return axis;
}

SweepGrid::SweepGrid(std::vector<SweepAxis> axes, const std::array<Real, 5>& fixed)
    : axes_(std::move(axes)), fixed_(fixed) {
  std::array<bool, 5> swept{};
  constexpr std::int64_t kLargest = std::int64_t{1} << 62;
  for (const SweepAxis& axis : axes_) {
    if (swept[static_cast<std::size_t>(axis.coefficient)]) {
      throw EUsageError("--sweep: c" + std::to_string(axis.coefficient + 1) + " is swept twice");
    }
    swept[static_cast<std::size_t>(axis.coefficient)] = true;
    if (axis.count > kLargest / size_) {
      throw EUsageError("--sweep: the grid has more than 2^62 sets");
    }
    size_ *= axis.count;
  }
}

std::array<Real, 5> SweepGrid::Coefficients(std::int64_t row) const {
  std::array<Real, 5> c = fixed_;
  for (std::size_t k = axes_.size(); k-- > 0;) {
    const SweepAxis& axis = axes_[k];
    c[static_cast<std::size_t>(axis.coefficient)] = axis.Value(row % axis.count);
    row /= axis.count;
  }
  return c;
}

std::vector<std::int64_t> SweepGrid::Indices(std::int64_t row) const {
  std::vector<std::int64_t> indices(axes_.size());
  for (std::size_t k = axes_.size(); k-- > 0;) {
    indices[k] = row % axes_[k].count;
    row /= axes_[k].count;
  }
  return indices;
}

}  // namespace pitch::study
