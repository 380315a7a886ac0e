// The pictures are drawn by a program of their own, pitch-autopilot-render, which the command
// line runs as a child for each picture: the request goes in on its standard input, the answer
// (the picture's bytes or an error) comes back on its standard output. The command line itself
// links no Qt; a renderer that crashes, hangs or cannot start its threads costs the picture, not
// the run, and one that does not finish in time is killed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cli/files.h"
#include "picture/request.h"
#include "study/study.h"

namespace pitch::cli {

// The renderer's file name, and where it lies relative to the command line's own folder.
inline constexpr const char* kRendererName = "pitch-autopilot-render";

// The time a picture may take: a whole number of seconds, ASCII digits only, 1 to 3600.
inline constexpr const char* kTimeoutVariable = "PITCH_AUTOPILOT_RENDER_TIMEOUT";
inline constexpr unsigned kMaxTimeoutSeconds = 3600;

// The command line's process number, handed to the renderer in its environment: the renderer
// ends when the command line does (it asks the kernel for SIGKILL at its parent's end).
inline constexpr const char* kParentVariable = "PITCH_AUTOPILOT_RENDER_PARENT";

// The most an answer may hold: 64 MiB, plus 16 bytes a pixel of the picture and 16 bytes for
// each byte of the request (an SVG grows with the data). A longer answer stops the renderer.
inline constexpr std::size_t kAnswerBaseLimit = std::size_t{64} << 20;
inline constexpr std::size_t kAnswerBytesPerPixel = 16;
inline constexpr std::size_t kAnswerBytesPerRequestByte = 16;
std::size_t AnswerLimit(const picture::Request& request, std::size_t request_size);

struct RendererSettings {
  std::string program;  // the renderer's path
  // The time a picture may take, plus 2 s for each million pixels.
  unsigned timeout_seconds = 30;
};

// The renderer next to this program (the installed layout, which the build tree repeats), or
// the one $PITCH_AUTOPILOT_RENDERER names; $PITCH_AUTOPILOT_RENDER_TIMEOUT (seconds) bounds its
// run instead of the default.
// Raises EUsageError naming the variable when $PITCH_AUTOPILOT_RENDER_TIMEOUT is not of that form.
RendererSettings FindRenderer();

// The seconds of a PITCH_AUTOPILOT_RENDER_TIMEOUT value; raises EUsageError for any other text.
unsigned TimeoutSeconds(std::string_view text);

// Kills the process groups of the renderers running now. Async-signal-safe: for the command
// line's handlers of the signals that end it.
void KillRunningRenderers() noexcept;

// Runs the renderer on the request and returns the picture's bytes. Raises ERendererMissing
// when the renderer is not there, and EPlotError "<subject> cannot be drawn: …" when it cannot
// be started, answers with an error, ends without a picture or is killed after the time.
std::string RenderInChild(const picture::Request& request, const RendererSettings& settings);

// The front end's renderers, each a child run per picture.
PlotRenderer ChildPlotRenderer(const RendererSettings& settings);
BodeRenderer ChildBodeRenderer(const RendererSettings& settings);
study::MapRenderer ChildMapRenderer(const RendererSettings& settings);
ReportRenderer ChildReportRenderer(const RendererSettings& settings);

// The report's request content for what a calculation reached.
picture::ReportPicture ReportPictureOf(const ReportSource& source);

}  // namespace pitch::cli
