#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>

namespace pitch::cli {

const char* const kUsage =
    "Usage: pitch-autopilot-cli [--separator ,|.] [--json] [--metrics] [--csv FILE [--exact]]\n"
    "                           [--results FILE] [--plot FILE [--size WxH]] [C1 C2 C3 C4 C5]\n"
    "\n"
    "Synthesises the autopilot's gear ratios from the five model coefficients and simulates the\n"
    "closed loop's unit-step response (explicit Euler, 1000 samples, step 0.01 s).\n"
    "Without coefficients the window's defaults 0.880 0.404 7.028 0.987 0.251 are used.\n"
    "\n"
    "  --separator ,|.  decimal separator of input and output (default: the locale's)\n"
    "  --json           print one JSON object: coefficients, ratios, response, poles, metrics,\n"
    "                   exact_error, error\n"
    "  --metrics        also print the closed-loop poles, the step characteristics and how far\n"
    "                   the Euler samples are from the exact continuous response\n"
    "  --csv FILE       write the response as t,h rows (only when the simulation completes)\n"
    "  --exact          with --csv: add the exact continuous response as a third column\n"
    "  --results FILE   write the results file with the coefficients and the ratios held after\n"
    "                   the calculation, whatever its outcome (not after an input error)\n"
    "  --plot FILE      draw the response chart as PNG or SVG, by the file's extension\n"
    "  --size WxH       size of the picture in pixels (default 768x379, the window's chart)\n"
    "  --help           print this text\n"
    "\n"
    "Exit codes: 0 success, 1 calculation or file error, 2 usage error.\n";

namespace {

std::string LowerExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return {};
  }
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

// "WxH" with both between 16 and 10000.
bool ParseSize(const std::string& text, int& width, int& height) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) {
    return false;
  }
  const std::string w = text.substr(0, x);
  const std::string h = text.substr(x + 1);
  const auto digits = [](const std::string& s) {
    return s.size() <= 5 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  };
  if (!digits(w) || !digits(h)) {
    return false;
  }
  width = std::atoi(w.c_str());
  height = std::atoi(h.c_str());
  return width >= 16 && height >= 16 && width <= 10000 && height <= 10000;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
  bool options_ended = false;
  bool size_given = false;
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
    auto flag = [&](bool& target) {
      if (value) {
        throw UsageError(name + " takes no value");
      }
      target = true;
    };
    auto file = [&](std::optional<std::string>& target) {
      target = take_value();
      if (target->empty()) {
        throw UsageError(name + " needs a file name");
      }
    };
    if (name == "--") {
      flag(options_ended);
    } else if (name == "--help") {
      flag(options.help);
    } else if (name == "--json") {
      flag(options.json);
    } else if (name == "--metrics") {
      flag(options.metrics);
    } else if (name == "--exact") {
      flag(options.exact);
    } else if (name == "--separator") {
      const std::string s = take_value();
      if (s != "," && s != ".") {
        throw UsageError("--separator takes ',' or '.'");
      }
      options.separator = s[0];
    } else if (name == "--csv") {
      file(options.csv);
    } else if (name == "--results") {
      file(options.results);
    } else if (name == "--plot") {
      file(options.plot);
      const std::string ext = LowerExtension(*options.plot);
      if (ext != "png" && ext != "svg") {
        throw UsageError("--plot writes .png or .svg files");
      }
      options.plot_svg = ext == "svg";
    } else if (name == "--size") {
      if (!ParseSize(take_value(), options.plot_width, options.plot_height)) {
        throw UsageError("--size takes WxH, each from 16 to 10000 pixels");
      }
      size_given = true;
    } else {
      throw UsageError("unknown option " + name);
    }
  }
  if (options.help) {
    return options;
  }
  if (!options.coefficients.empty() && options.coefficients.size() != 5) {
    throw UsageError("expected five coefficients, got " +
                     std::to_string(options.coefficients.size()));
  }
  if (options.exact && !options.csv) {
    throw UsageError("--exact goes with --csv");
  }
  if (size_given && !options.plot) {
    throw UsageError("--size goes with --plot");
  }
  return options;
}

}  // namespace pitch::cli
