#include "study/progress.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace pitch::study {

namespace {

constexpr auto kRefresh = std::chrono::milliseconds(250);

std::string Duration(double seconds) {
  const auto s = static_cast<long long>(std::llround(seconds));
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

ProgressLine::ProgressLine(std::ostream& err, bool enabled, std::optional<std::int64_t> total)
    : err_(err), enabled_(enabled), total_(total), start_(Clock::now()), last_(start_) {}

std::string ProgressLine::Text(std::int64_t done, std::optional<std::int64_t> total,
                               double seconds) {
  std::string text = std::to_string(done);
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  if (total) {
    text += " of " + std::to_string(*total) + " rows";
    if (*total > 0) {
      text += " (" + std::to_string(done * 100 / *total) + " %)";
    }
  } else {
    text += " rows";
  }
  text += ", " + std::to_string(std::llround(rate)) + " rows/s";
  if (total && rate > 0) {
    text += ", " + Duration(static_cast<double>(*total - done) / rate) + " left";
  }
  return text;
}

void ProgressLine::Update(std::int64_t done) {
  if (!enabled_) {
    return;
  }
  const Clock::time_point now = Clock::now();
  if (now - last_ < kRefresh) {
    return;
  }
  last_ = now;
  const std::string text = Text(done, total_, std::chrono::duration<double>(now - start_).count());
  std::string line = "\r" + text;
  if (text.size() < shown_) {
    line.append(shown_ - text.size(), ' ');
  }
  shown_ = text.size();
  err_ << line << std::flush;
}

void ProgressLine::Finish() {
  if (!enabled_ || shown_ == 0) {
    return;
  }
  err_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
  shown_ = 0;
}

}  // namespace pitch::study
