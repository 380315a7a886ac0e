#include "cli/robust_report.h"

#include "cli/calculate.h"
#include "cli/renderer_process.h"

namespace pitch::cli {

std::string RobustReportPdf(const std::vector<std::string>& coefficients, char separator,
                            const std::vector<std::string>& lines,
                            const std::optional<picture::RobustMapPicture>& map) {
  const Outcome outcome = Calculate(CoefficientTextsOf(coefficients, separator), false);
  const TController* controller =
      outcome.session && outcome.RatiosKnown() ? &outcome.session->Controller() : nullptr;
  picture::ReportPicture report = ReportPictureOf(ReportSource{
      outcome.texts, separator, controller, outcome.Simulated(),
      outcome.error ? outcome.error->message : std::string(), "pitch-autopilot " PITCH_VERSION});
  report.robust_lines = lines;
  report.robust_map = map;
  picture::Request request;
  request.content = std::move(report);
  request.format = PictureFormat::kPdf;
  request.separator = separator;
  return RenderInChild(request, FindRenderer());
}

}  // namespace pitch::cli
