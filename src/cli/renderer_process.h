// The pictures are drawn by a program of their own, pitch-autopilot-render, which the command
// line runs as a child for each picture: the request goes in on its standard input, the answer
// (the picture's bytes or an error) comes back on its standard output. The command line itself
// links no Qt; a renderer that crashes, hangs or cannot start its threads costs the picture, not
// the run, and one that does not finish in time is killed.
#pragma once

#include <string>

#include "cli/files.h"
#include "picture/request.h"
#include "study/study.h"

namespace pitch::cli {

// The renderer's file name, and where it lies relative to the command line's own folder.
inline constexpr const char* kRendererName = "pitch-autopilot-render";

struct RendererSettings {
  std::string program;  // the renderer's path
  // The time a picture may take, plus 2 s for each million pixels.
  unsigned timeout_seconds = 30;
};

// The renderer next to this program (the installed layout, which the build tree repeats), or
// the one $PITCH_AUTOPILOT_RENDERER names; $PITCH_AUTOPILOT_RENDER_TIMEOUT (seconds) bounds its
// run instead of the default.
RendererSettings FindRenderer();

// Runs the renderer on the request and returns the picture's bytes. Raises ERendererMissing
// when the renderer is not there, and EPlotError "<subject> cannot be drawn: …" when it cannot
// be started, answers with an error, ends without a picture or is killed after the time.
std::string RenderInChild(const picture::Request& request, const RendererSettings& settings);

// The front end's renderers, each a child run per picture.
PlotRenderer ChildPlotRenderer(const RendererSettings& settings);
BodeRenderer ChildBodeRenderer(const RendererSettings& settings);
study::MapRenderer ChildMapRenderer(const RendererSettings& settings);
ReportRenderer ChildReportRenderer(const RendererSettings& settings);

}  // namespace pitch::cli
