#include "analysis/report_data.h"

#include <ctime>

#include "core/errors.h"
#include "core/model.h"

namespace pitch {

ReportData MakeReportData(const ReportSource& source) {
  ReportData data;
  data.separator = source.separator;
  data.coefficient_texts = source.coefficient_texts;
  data.error = source.error;
  if (const TController* c = source.controller) {
    data.ratios = std::array<Real, 4>{c->muv, c->iv, c->nuv, c->Tnu};
    const analysis::ClosedLoop loop(*c);
    const analysis::Eigenvalues4 poles = loop.Eigenvalues();
    data.stability =
        ReportStability{analysis::PolesOf(poles), loop.Continuous() == analysis::Stability::kStable,
                        analysis::EulerStabilityOf(loop, poles, kTimeStep)};
    try {
      data.bode = analysis::Bode(*c);
    } catch (const Exception& e) {
      data.bode_error = WithFullStop(e.what());
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
