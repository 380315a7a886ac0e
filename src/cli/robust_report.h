// The report of a robust study (--robust … --report FILE.pdf): the first page is the calculation
// at the nominal set, as `pitch-autopilot-cli C1 … C5 --report` draws it; the second is the flight
// envelope's section, the study's lines in Russian and its certified region map.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "picture/request.h"

namespace pitch::cli {

// The PDF's bytes from the renderer. coefficients: the nominal set's texts as given (none: the
// window's defaults). Raises EPlotError or ERendererMissing when the page cannot be drawn.
std::string RobustReportPdf(const std::vector<std::string>& coefficients, char separator,
                            const std::vector<std::string>& lines,
                            const std::optional<picture::RobustMapPicture>& map);

}  // namespace pitch::cli
