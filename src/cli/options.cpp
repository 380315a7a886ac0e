#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "cli/file_options.h"
#include "cli/study_options.h"
#include "storage/picture_format.h"

namespace pitch::cli {

namespace {

constexpr const char* kProgram = "pitch-autopilot-cli";

constexpr const char* kDescription =
    "Synthesises the autopilot's gear ratios from the five model coefficients and simulates the\n"
    "closed loop's unit-step response (explicit Euler, 1000 samples, step 0.01 s).\n"
    "Without coefficients the window's defaults 0.880 0.404 7.028 0.987 0.251 are used.\n"
    "With --batch or --sweep it runs a parameter study instead: one row per coefficient set,\n"
    "as CSV or JSON Lines, in input order, computed in parallel. With --robust it decides\n"
    "whether the loop is stable for every coefficient set in a box (--robust --help).";

constexpr const char* kUsage =
    "Usage: pitch-autopilot-cli [--separator ,|.] [--json] [--metrics] [--csv FILE [--exact]]\n"
    "                           [--results FILE] [--plot FILE] [--bode FILE] [--size WxH]\n"
    "                           [--report FILE.pdf] [--from FILE | C1 C2 C3 C4 C5]\n"
    "       pitch-autopilot-cli (--batch FILE|- | --sweep NAME=FROM:TO:COUNT ...)\n"
    "                           [--autopilot-from C1 C2 C3 C4 C5 | --autopilot MUV IV NUV]\n"
    "                           [--out FILE] [--csv-style comma|semicolon] [--samples]\n"
    "                           [--no-margins] [--jobs N] [--shard K/N]\n"
    "                           [--progress|--no-progress] [--map FILE [--map-value NAME]]\n"
    "                           [--separator ,|.] [C1 C2 C3 C4 C5]\n"
    "       pitch-autopilot-cli --robust NAME=LO:HI ... [--autopilot-from C1 C2 C3 C4 C5 |\n"
    "                           --autopilot MUV IV NUV] [--tolerance TOL] [--no-margins]\n"
    "                           [--jobs N] [--progress|--no-progress] [--json]\n"
    "                           [--robust-map FILE] [--report FILE.pdf] [--separator ,|.]\n"
    "                           [C1 C2 C3 C4 C5]\n";

constexpr const char* kFooter =
    "Exit codes: 0 success, 1 calculation or file error, 2 usage error. A study ends with 0\n"
    "when it completed (failed syntheses are rows of it), 1 for an I/O error. 130 and 143:\n"
    "stopped by SIGINT or SIGTERM (a study writes the rows computed, --robust prints the\n"
    "bounds reached).\n"
    "PITCH_AUTOPILOT_RENDER_TIMEOUT: the seconds a picture may take (default 30), a whole\n"
    "number from 1 to 3600 in ASCII digits; any other value is a usage error.";

// CLI11's layout with our own usage lines first (the coefficients are not a CLI11 positional,
// see ParseOptions), then the description, and each option's value named once, without CLI11's
// notes on it.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { column_width(20); }
  std::string make_description(const CLI::App* app) const override {
    return std::string(kUsage) + "\n" + app->get_description() + "\n\n";
  }
  std::string make_usage(const CLI::App*, std::string) const override { return ""; }
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_option_text().empty() ? "" : " " + option->get_option_text();
  }
  // An option and its text are at least two spaces apart (help2man splits them there): a name
  // that leaves fewer has its text on the next line, as a longer one does.
  std::string make_option(const CLI::Option* option, bool is_positional) const override {
    const std::string name = make_option_name(option, is_positional) + make_option_opts(option);
    const std::string text = make_option_desc(option);
    std::ostringstream out;
    if (name.size() + 4 <= column_width_ || name.size() + 2 >= column_width_ || text.empty()) {
      CLI::detail::format_help(out, name, text, column_width_);
      return out.str();
    }
    out << "  " << name << '\n';
    CLI::detail::format_help(out, "", text, column_width_);
    return out.str();
  }
};

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

// A check that returns its message for a bad value (CLI11 puts the option's name before it).
CLI::Validator Check(const char* message, bool (*good)(const std::string&)) {
  return CLI::Validator(
      [message, good](std::string& value) { return good(value) ? std::string() : message; }, "");
}

const CLI::Validator kFileName =
    Check("needs a file name", [](const std::string& s) { return !s.empty(); });
const CLI::Validator kSeparator =
    Check("takes ',' or '.'", [](const std::string& s) { return s == "," || s == "."; });
const CLI::Validator kPicture = CLI::Validator(
    [](std::string& s) -> std::string {
      if (s.empty()) {
        return "needs a file name";
      }
      return PictureFormatOfPath(s) ? "" : kPictureFormats;
    },
    "");
const CLI::Validator kSize =
    Check("takes WxH, each from 16 to 10000 pixels", [](const std::string& s) {
      int w = 0;
      int h = 0;
      return ParseSize(s, w, h);
    });

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
  CLI::App app(kDescription, kProgram);
  app.formatter(std::make_shared<HelpFormatter>());
  app.footer(kFooter);
  app.set_help_flag("-h,--help", "print this text");
  app.set_version_flag("--version", std::string(kProgram) + " " PITCH_VERSION,
                       "print the program's version");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  // The coefficients are not declared: CLI11 takes "-.5" for an option, so the arguments it does
  // not know (in their order, with the "--" mark) come back as extras and are sorted out below.
  app.allow_extras();

  std::string separator;
  std::string csv_path;
  std::string results_path;
  std::string plot_path;
  std::string bode_path;
  std::string size;
  app.add_option("--separator", separator,
                 "decimal separator of input and output (default: the locale's)")
      ->option_text(",|.")
      ->check(kSeparator);
  app.add_flag("--json", options.json,
               "print one JSON object: coefficients, ratios, response, poles, metrics,\n"
               "exact_error, margins, error")
      ->disable_flag_override();
  app.add_flag("--metrics", options.metrics,
               "also print the closed-loop poles, the step characteristics, how far\n"
               "the Euler samples are from the exact continuous response, and the\n"
               "margins of the loop broken at the autopilot's command")
      ->disable_flag_override();
  CLI::Option* csv =
      app.add_option("--csv", csv_path,
                     "write the response as t,h rows (only when the simulation completes)")
          ->option_text("FILE")
          ->check(kFileName);
  app.add_flag("--exact", options.exact,
               "with --csv: add the exact continuous response as a third column")
      ->disable_flag_override()
      ->needs(csv);
  CLI::Option* results =
      app.add_option("--results", results_path,
                     "write the results file with the coefficients and the ratios held after\n"
                     "the calculation, whatever its outcome (not after an input error)")
          ->option_text("FILE")
          ->check(kFileName);
  CLI::Option* plot =
      app.add_option("--plot", plot_path,
                     "draw the response chart as PNG or SVG, by the file's extension")
          ->option_text("FILE")
          ->check(kPicture);
  CLI::Option* bode =
      app.add_option("--bode", bode_path,
                     "draw the open loop's Bode diagram as PNG or SVG, by the file's extension\n"
                     "(when the ratios are known)")
          ->option_text("FILE")
          ->check(kPicture);
  CLI::Option* size_option =
      app.add_option("--size", size,
                     "size of the pictures in pixels (default 768x379, the window's chart,\n"
                     "and 800x640 for the Bode diagram)")
          ->option_text("WxH")
          ->check(kSize);
  std::string report_path;
  std::string from_path;
  CLI::Option* report =
      app.add_option("--report", report_path,
                     "write a one-page PDF report: coefficients, ratios, response chart, step\n"
                     "characteristics, poles, stability, margins and Bode diagram (what a\n"
                     "failed calculation reached, and its error)")
          ->option_text("FILE.pdf")
          ->check(PdfFileCheck());
  CLI::Option* from =
      app.add_option("--from", from_path,
                     "take the coefficients from a results file that \"Save and Exit\" wrote")
          ->option_text("FILE")
          ->check(kFileName);
  StudyArguments study;
  AddStudyOptions(app, study);

  std::vector<std::string> arguments = args;
  TakeAutopilotArguments(arguments, study);
  try {
    app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));
  } catch (const CLI::CallForHelp&) {
    options.info = app.help();
    return options;
  } catch (const CLI::CallForVersion& e) {
    options.info = std::string(e.what()) + "\n";
    return options;
  } catch (const CLI::ParseError& e) {
    throw EUsageError(UsageErrorText(app, e));
  }

  bool options_ended = false;
  for (const std::string& arg : app.remaining()) {
    if (!options_ended && arg == "--") {
      options_ended = true;
    } else if (!options_ended && (arg.rfind("--", 0) == 0 ||
                                  (arg.size() > 1 && arg[0] == '-' &&
                                   std::isalpha(static_cast<unsigned char>(arg[1])) != 0))) {
      // A number has a digit, a separator or a blank after its sign, never a letter: "-v",
      // "-V" and "-x5" are options this program does not know.
      throw EUsageError("unknown option " + arg.substr(0, arg.find('=')));
    } else {
      options.coefficients.push_back(arg);
    }
  }
  if (!separator.empty()) {
    options.separator = separator[0];
  }
  if (csv->count() > 0) {
    options.csv = csv_path;
  }
  if (results->count() > 0) {
    options.results = results_path;
  }
  if (plot->count() > 0) {
    options.plot = plot_path;
    options.plot_svg = PictureFormatOfPath(plot_path) == PictureFormat::kSvg;
  }
  if (bode->count() > 0) {
    options.bode = bode_path;
    options.bode_svg = PictureFormatOfPath(bode_path) == PictureFormat::kSvg;
  }
  if (report->count() > 0) {
    options.report = report_path;
  }
  if (from->count() > 0) {
    options.from = from_path;
    if (!options.coefficients.empty()) {
      throw EUsageError("--from cannot be used with coefficients");
    }
  }
  if (!options.coefficients.empty() && options.coefficients.size() != 5) {
    throw EUsageError("expected five coefficients, got " +
                      std::to_string(options.coefficients.size()));
  }
  options.study = StudyOptionsOf(study, options.coefficients);
  if (options.study) {
    // A study writes rows, not the single calculation's output, files and pictures.
    const std::pair<bool, const char*> single[] = {{options.json, "--json"},
                                                   {options.metrics, "--metrics"},
                                                   {options.exact, "--exact"},
                                                   {size_option->count() > 0, "--size"},
                                                   {options.from.has_value(), "--from"}};
    std::vector<std::pair<bool, const char*>> given(std::begin(single), std::end(single));
    for (const FileOption& file : FileOptions()) {
      given.emplace_back((options.*file.path).has_value(), file.name);
    }
    for (const auto& [is_given, name] : given) {
      if (is_given) {
        throw EUsageError(std::string(name) + " cannot be used with a study (--batch or --sweep)");
      }
    }
    options.progress = ProgressChoice(study);
  }
  if (size_option->count() > 0 && !options.plot && !options.bode) {
    throw EUsageError("--size requires --plot or --bode");
  }
  if (!size.empty()) {
    ParseSize(size, options.plot_width, options.plot_height);
    ParseSize(size, options.bode_width, options.bode_height);
  }
  return options;
}

}  // namespace pitch::cli
