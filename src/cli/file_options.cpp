#include "cli/file_options.h"

namespace pitch::cli {

std::span<const FileOption> FileOptions() {
  static constexpr FileOption kFiles[] = {
      {"--results", &Options::results, &Outcome::InputsRead, "the coefficients could not be read"},
      {"--csv", &Options::csv, &Outcome::Simulated, "the simulation did not complete"},
      {"--plot", &Options::plot, &Outcome::Simulated, "the simulation did not complete"},
      {"--bode", &Options::bode, &Outcome::RatiosKnown, "the gear ratios are not known"},
  };
  return kFiles;
}

}  // namespace pitch::cli
