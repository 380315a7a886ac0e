#include "ui/report_snapshot.h"

#include "core/errors.h"

namespace pitch {

void TReportSnapshot::Begin(const std::array<std::string, 5>& texts, char separator) {
  last_ = LastCalculation{texts, separator, std::nullopt, false, std::string(), nullptr};
}

void TReportSnapshot::Synthesised(const TController& controller) {
  if (last_) {
    last_->synthesised = controller;
  }
}

void TReportSnapshot::SetSession(std::shared_ptr<const analysis::TSession> session) {
  if (last_) {
    last_->session = std::move(session);
  }
}

void TReportSnapshot::Simulated() {
  if (last_) {
    last_->simulated = true;
  }
}

void TReportSnapshot::TErrors::Report(const std::exception& error) {
  if (last_) {
    last_->error = WithFullStop(error.what());
  }
  display_.Report(error);
}

std::optional<ReportData> TReportSnapshot::Report() const {
  if (!last_) {
    return std::nullopt;
  }
  return MakeReportData(ReportSource{
      last_->texts, last_->separator, last_->synthesised ? &*last_->synthesised : nullptr,
      last_->simulated, last_->error, "pitch-autopilot " PITCH_VERSION, last_->session.get()});
}

}  // namespace pitch
