// Command line of pitch-autopilot-cli.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/errors.h"
#include "study/study.h"

namespace pitch::cli {

struct Options {
  // The text of --help or --version: printed instead of a run.
  std::optional<std::string> info;
  bool json = false;
  bool metrics = false;                // poles, step characteristics, Euler against exact, margins
  bool exact = false;                  // an exact column in the CSV
  std::optional<char> separator;       // overrides the locale's decimal separator
  std::optional<std::string> csv;      // response table
  std::optional<std::string> results;  // results file, as "Save and Exit" writes it
  std::optional<std::string> plot;     // chart picture, .png or .svg
  bool plot_svg = false;
  int plot_width = 768;  // the window's chart
  int plot_height = 379;
  std::optional<std::string> bode;  // the open loop's Bode diagram, .png or .svg
  bool bode_svg = false;
  int bode_width = 800;  // --size sets both pictures' size
  int bode_height = 640;
  std::optional<std::string> report;      // the one-page report, .pdf
  std::optional<std::string> from;        // a results file whose coefficients are read
  std::vector<std::string> coefficients;  // none (the window's defaults) or five texts
  // A parameter study instead of the single calculation (--batch or --sweep), and whether its
  // progress line was asked for (--progress) or refused (--no-progress).
  std::optional<study::StudyOptions> study;
  std::optional<bool> progress;
};

// Options start with "--", or with "-" and a letter (-h; -v and the like are unknown options);
// everything else, a negative number such as -7,028 or -.5 included, is a coefficient. "--" ends
// the options. A value option given twice keeps the last value; a file option given twice is
// refused before parsing (cli/file_paths.h).
Options ParseOptions(const std::vector<std::string>& args);

}  // namespace pitch::cli
