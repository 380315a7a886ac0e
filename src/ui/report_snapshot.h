// What the report of the last "Calculate and Plot" holds: the texts it read and their
// separator, the controller as it stood after the synthesis, whether the curve was plotted, the
// calculation's session and the message of the error that stopped it.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "analysis/report_data.h"
#include "analysis/session.h"
#include "core/controller.h"
#include "ui/error_sink.h"

namespace pitch {

class TReportSnapshot {
 public:
  // The calculation's errors go on to display after their message is kept.
  explicit TReportSnapshot(IErrorSink& display) : errors_(display, last_) {}

  // A new click: what it read; everything it reaches is recorded below.
  void Begin(const std::array<std::string, 5>& texts, char separator);
  void Synthesised(const TController& controller);
  void SetSession(std::shared_ptr<const analysis::TSession> session);
  void Simulated();
  // The session of the current click, null before its ratios are known.
  const analysis::TSession* Session() const { return last_ ? last_->session.get() : nullptr; }
  // The sink for the click's errors.
  IErrorSink& Errors() { return errors_; }

  // The report's content; empty before the first click.
  std::optional<ReportData> Report() const;

 private:
  struct LastCalculation {
    std::array<std::string, 5> texts;
    char separator = '.';
    std::optional<TController> synthesised;
    bool simulated = false;
    std::string error;
    // The loop's stability and frequency response, decided once for the window and the report.
    std::shared_ptr<const analysis::TSession> session;
  };
  class TErrors final : public IErrorSink {
   public:
    TErrors(IErrorSink& display, std::optional<LastCalculation>& last)
        : display_(display), last_(last) {}
    void Report(const std::exception& error) override;

   private:
    IErrorSink& display_;
    std::optional<LastCalculation>& last_;
  };

  std::optional<LastCalculation> last_;
  TErrors errors_;
};

}  // namespace pitch
