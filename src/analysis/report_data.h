// What the one-page report of a calculation holds: the coefficient texts as typed, what the
// calculation reached (the ratios, the closed loop's stability, the curve, the Bode diagram) and,
// when it failed, the error in words. Plain C++, so that any front end can fill it; the page
// itself is drawn with Qt by the window's chart code (RenderReportPdf in the ui folder).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/euler_stability.h"
#include "analysis/frequency_response.h"
#include "analysis/session.h"
#include "core/controller.h"

namespace pitch {

// The closed loop's poles, whether the continuous loop is stable, and whether the simulation's
// Euler iteration is.
struct ReportStability {
  std::vector<analysis::Pole> poles;
  bool stable = false;
  analysis::EulerStability iteration;
};

struct ReportData {
  char separator = '.';  // of every number on the page
  // The five coefficient texts as the input boxes (or the command line) hold them.
  std::array<std::string, 5> coefficient_texts;
  // muv, iv, nuv, Tnu, once the synthesis has completed.
  std::optional<std::array<Real, 4>> ratios;
  std::optional<ReportStability> stability;  // once the ratios are known
  std::optional<analysis::BodeData> bode;    // once the ratios are known
  std::vector<double> t;                     // the response, when the simulation completed
  std::vector<double> h;
  std::optional<analysis::StepCharacteristics> characteristics;  // of that response
  std::string error;  // the message of the error that stopped the calculation; empty: none
  // Why the frequency response is missing although the ratios are known; empty: it is there.
  std::string bode_error;
  std::string date;     // when the report was made, as it is printed
  std::string version;  // the program's name and version
};

// What a calculation reached, as the report is made from it.
struct ReportSource {
  std::array<std::string, 5> coefficient_texts;
  char separator = '.';
  // The controller after the calculation; null when the ratios were not synthesised (an input
  // error, a fault in the synthesis). Its teta is used when simulated.
  const TController* controller = nullptr;
  bool simulated = false;
  std::string error;    // empty when the calculation completed
  std::string version;  // the program's name and version, as the page prints it
  // The calculation's session when the caller holds one (its ratios are the controller's): the
  // report then shows the stability and frequency response that the caller's views show.
  const analysis::TSession* session = nullptr;
};

// Fills the report from what the calculation reached: the stability and the Bode diagram from
// the controller's ratios, the characteristics from its curve. The date is now, in local time.
// A loop whose frequency response cannot be evaluated (a fault in it) leaves the diagram out
// with its error in bode_error: the report shows what is known.
ReportData MakeReportData(const ReportSource& source);

}  // namespace pitch
