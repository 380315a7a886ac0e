// The files of the single calculation, in one table: which option names each, and what the
// calculation must reach for it to be written. The table decides both that a study refuses these
// options and which files a calculation that stopped early skips.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "cli/calculate.h"
#include "cli/options.h"

namespace pitch::cli {

struct FileOption {
  const char* name;                           // "--results", "--csv", "--plot", "--bode", …
  std::optional<std::string> Options::*path;  // the file the option names
  bool (*written_after)(const Outcome&);      // what the outcome must have reached
  const char* reason;                         // why the file is skipped when it has not
};

// In the order the files are reported: results, CSV, chart, Bode diagram, report.
std::span<const FileOption> FileOptions();

}  // namespace pitch::cli
