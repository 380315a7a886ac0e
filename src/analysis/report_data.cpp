#include "analysis/report_data.h"

#include <ctime>

#include "analysis/session.h"
#include "core/errors.h"
#include "core/model.h"

namespace pitch {

ReportData MakeReportData(const ReportSource& source) {
  ReportData data;
  data.separator = source.separator;
  data.coefficient_texts = source.coefficient_texts;
  data.error = source.error;
  if (const TController* c = source.controller) {
    // A view of the calculation: its stability and frequency response decided as every other
    // view decides them.
    const std::optional<analysis::StageFailure> stopped =
        source.simulated ? std::nullopt
                         : std::optional<analysis::StageFailure>(
                               {{"", source.error}, analysis::Stage::kResponse});
    const std::optional<analysis::TSession> own =
        source.session != nullptr ? std::nullopt
                                  : std::optional(analysis::TSession::Reached(*c, stopped));
    const analysis::TSession& session = source.session != nullptr ? *source.session : *own;
    data.ratios = std::array<Real, 4>{c->muv, c->iv, c->nuv, c->Tnu};
    data.stability = ReportStability{session.Poles(), session.Stable(), session.Iteration()};
    const analysis::FrequencyResult& frequency = session.Frequency();
    if (frequency.data) {
      data.bode = *frequency.data;
    } else if (frequency.reason) {
      data.bode_error = frequency.reason->message;
    }
    if (source.simulated) {
      data.t = SampleTimes();
      data.h.assign(c->teta.values().begin(), c->teta.values().end());
      data.characteristics = analysis::Characteristics(data.t, data.h);
    }
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32] = "";
  if (::localtime_r(&now, &local) != nullptr) {
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M", &local);
  }
  data.date = text;
  data.version = source.version;
  return data;
}

}  // namespace pitch
