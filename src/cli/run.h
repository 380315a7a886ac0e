// The front end's whole run, separated from main so that tests can drive it in-process.
#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "number_text/number_settings.h"

namespace pitch::cli {

// What a picture of the response chart needs.
struct PlotRequest {
  std::span<const double> t;
  std::span<const double> h;
  int width;
  int height;
  bool svg;
  char separator;
};
// Draws the chart and returns the file's bytes (PNG or SVG).
using PlotRenderer = std::function<std::string(const PlotRequest&)>;

// Runs the command line (without the program name) with the number settings of the user's
// locale, writing to out and err. Returns the exit code: 0 success, 1 error, 2 usage error.
// --plot needs a renderer.
int Run(const std::vector<std::string>& args, const NumberSettings& locale_settings,
        std::ostream& out, std::ostream& err,
        const PlotRenderer& renderer = {});

}  // namespace pitch::cli
