// The files a run writes: the results file, the response table and the chart picture.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "analysis/report_data.h"
#include "cli/calculate.h"
#include "cli/options.h"
#include "core/errors.h"
#include "number_text/number_settings.h"

namespace pitch::cli {

// The program that draws the pictures is not installed: the picture is not drawn, and the file
// is named among the skipped ones besides the error.
class ERendererMissing : public EPlotError {
 public:
  using EPlotError::EPlotError;
};

// What a picture of the response chart needs.
struct PlotRequest {
  std::span<const double> t;
  std::span<const double> h;
  int width;
  int height;
  bool svg;
  char separator;
};
// Draws the chart and returns the file's bytes (PNG or SVG); raises EPlotError when it cannot.
using PlotRenderer = std::function<std::string(const PlotRequest&)>;

// What a picture of the Bode diagram needs; data is the outcome's, for the call's duration.
struct BodeRequest {
  const analysis::BodeData& data;
  int width;
  int height;
  bool svg;
  char separator;
};
// Draws the Bode diagram and returns the file's bytes; raises EPlotError when it cannot.
using BodeRenderer = std::function<std::string(const BodeRequest&)>;

// Draws the one-page report of what a calculation reached and returns the PDF's bytes; raises
// EPlotError when it cannot. The source's controller lives for the call's duration.
using ReportRenderer = std::function<std::string(const ReportSource&)>;

// A file the options name that the outcome does not allow.
struct SkippedFile {
  std::string option;  // "--results", "--csv", "--plot"
  std::string path;
  std::string reason;  // why, in words
};

struct FileOutcome {
  std::vector<RunError> errors;  // in the order results, CSV, picture
  std::vector<SkippedFile> skipped;
};

// Writes the files the options name, each as far as the outcome allows: the results file that
// "Save and Exit" would write after this calculation (the coefficients read and the ratios the
// controller holds; nothing after an input error), the CSV and the picture of a completed
// simulation, and the Bode diagram once the ratios are known (and the outcome has its frequency
// response). The pictures are drawn in memory before any file is touched. A file that fails
// does not stop the others; the errors come back in the order results, CSV, picture, Bode
// diagram, report. The report is written whatever the outcome, once coefficient texts were
// read. Without a renderer, --plot, --bode or --report is an EPlotError; a renderer that raises
// ERendererMissing makes the file a skipped one as well.
FileOutcome WriteFiles(const Options& options, const Outcome& outcome,
                       const NumberSettings& settings, const PlotRenderer& renderer,
                       const BodeRenderer& bode_renderer = {},
                       const ReportRenderer& report_renderer = {});

}  // namespace pitch::cli
