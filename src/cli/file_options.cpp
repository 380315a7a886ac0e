#include "cli/file_options.h"

namespace pitch::cli {

std::span<const FileOption> FileOptions() {
  static constexpr FileOption kFiles[] = {
      {"--results", &Options::results, [](const Outcome& o) { return o.InputsRead(); },
       "the coefficients could not be read"},
      {"--csv", &Options::csv, [](const Outcome& o) { return o.Simulated(); },
       "the simulation did not complete"},
      {"--plot", &Options::plot, [](const Outcome& o) { return o.Simulated(); },
       "the simulation did not complete"},
      {"--bode", &Options::bode, [](const Outcome& o) { return o.RatiosKnown(); },
       "the gear ratios are not known"},
      // The report needs the coefficient texts; a results file that could not be read gave none.
      {"--report", &Options::report, [](const Outcome& o) { return o.has_texts; },
       "the results file could not be read"},
  };
  return kFiles;
}

}  // namespace pitch::cli
