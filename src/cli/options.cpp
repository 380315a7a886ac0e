#include "cli/options.h"

#include <cstddef>

namespace pitch::cli {

const char* const kUsage =
    "Usage: pitch-autopilot-cli [--separator ,|.] [--json] [--csv FILE] [--results FILE]\n"
    "                           [C1 C2 C3 C4 C5]\n"
    "\n"
    "Synthesises the autopilot's gear ratios from the five model coefficients and simulates the\n"
    "closed loop's unit-step response (explicit Euler, 1000 samples, step 0.01 s).\n"
    "Without coefficients the window's defaults 0.880 0.404 7.028 0.987 0.251 are used.\n"
    "\n"
    "  --separator ,|.  decimal separator of input and output (default: the locale's)\n"
    "  --json           print one JSON object: coefficients, ratios, response, error\n"
    "  --csv FILE       write the response as t,h rows (only when the simulation completes)\n"
    "  --results FILE   write the results file with the coefficients and the ratios held after\n"
    "                   the calculation, whatever its outcome (not after an input error)\n"
    "  --help           print this text\n"
    "\n"
    "Exit codes: 0 success, 1 calculation or file error, 2 usage error.\n";

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
  bool options_ended = false;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (options_ended || arg.rfind("--", 0) != 0) {
      options.coefficients.push_back(arg);
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    auto take_value = [&]() -> std::string {
      if (value) {
        return *value;
      }
      if (k + 1 >= args.size()) {
        throw UsageError(name + " needs a value");
      }
      return args[++k];
    };
    auto no_value = [&] {
      if (value) {
        throw UsageError(name + " takes no value");
      }
    };
    if (name == "--") {
      no_value();
      options_ended = true;
    } else if (name == "--help") {
      no_value();
      options.help = true;
    } else if (name == "--json") {
      no_value();
      options.json = true;
    } else if (name == "--separator") {
      const std::string s = take_value();
      if (s != "," && s != ".") {
        throw UsageError("--separator takes ',' or '.'");
      }
      options.separator = s[0];
    } else if (name == "--csv" || name == "--results") {
      std::optional<std::string>& target = name == "--csv" ? options.csv : options.results;
      target = take_value();
      if (target->empty()) {
        throw UsageError(name + " needs a file name");
      }
    } else {
      throw UsageError("unknown option " + name);
    }
  }
  if (!options.help && !options.coefficients.empty() && options.coefficients.size() != 5) {
    throw UsageError("expected five coefficients, got " +
                     std::to_string(options.coefficients.size()));
  }
  return options;
}

}  // namespace pitch::cli
