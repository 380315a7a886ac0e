// The front end's whole run, separated from main so that tests can drive it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pitch::cli {

// Runs the command line (without the program name) with the process-wide number settings,
// writing to out and err. Returns the exit code: 0 success, 1 error, 2 usage error.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pitch::cli
