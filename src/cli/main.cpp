// pitch-autopilot-cli: the gear-ratio synthesis and the step response without a window.
#include <iostream>
#include <string>
#include <vector>

#include "app/number_text_settings.h"
#include "cli/run.h"

int main(int argc, char** argv) {
  pitch::ReadNumberSettings();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return pitch::cli::Run(args, std::cout, std::cerr);
}
