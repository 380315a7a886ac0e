// The front end's whole run, separated from main so that tests can drive it in-process:
// parse the options, calculate, write the files, print.
//
// Errors are caught at three places: the calculation catches the error that stops it, and the
// reading of a results file (--from) its own (it is reported, and the files and the output
// still follow), each file's writing catches its own, and
// main's last resort (Guarded) catches whatever else escapes.
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "cli/files.h"
#include "number_text/number_settings.h"
#include "study/study.h"

namespace pitch::cli {

// What a parameter study needs of the process besides the output streams.
struct StudyContext {
  std::istream* in = nullptr;       // for --batch -; none: an empty input
  study::MapRenderer map_renderer;  // for --map
  bool err_is_terminal = false;     // the progress line's default
  int out_descriptor = -1;          // the rows to this descriptor instead of out (main: 1)
  int in_descriptor = -1;           // the descriptor behind in, for the same-file check (main: 0)
  bool stop_on_signals = false;     // SIGINT and SIGTERM end the study after whole rows
};

// Runs the command line (without the program name) with the number settings of the user's
// locale, writing to out and err. Returns the exit code: 0 success, 1 error, 2 usage error.
// --plot, --bode and --report need their renderers; a study (--batch, --sweep) runs with the
// context.
int Run(const std::vector<std::string>& args, const NumberSettings& locale_settings,
        std::ostream& out, std::ostream& err, const PlotRenderer& renderer = {},
        const BodeRenderer& bode_renderer = {}, const StudyContext& study = {},
        const ReportRenderer& report_renderer = {});

// The last resort of main: runs the body and turns an exception that escapes it (out of memory,
// or any other) into a message on err and the exit code 1.
int Guarded(const std::function<int()>& body, std::ostream& err) noexcept;

}  // namespace pitch::cli
