// pitch-autopilot-cli: the gear-ratio synthesis and the step response without a window.
#include <iostream>
#include <string>
#include <vector>

#include "cli/qt_renderer.h"
#include "cli/run.h"
#include "core/fp_environment.h"
#include "number_text/number_settings.h"
#include "storage/write_signals.h"

int main(int argc, char** argv) {
  pitch::IgnoreWriteSignals();
  try {
    pitch::CheckFloatingPointEnvironment();
  } catch (const pitch::EEnvironmentError& e) {
    std::cerr << e.what() << ".\n";
    return 1;
  }
  const pitch::NumberSettings settings = pitch::ReadNumberSettings();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return pitch::cli::Run(args, settings, std::cout, std::cerr, pitch::cli::QtPlotRenderer());
}
