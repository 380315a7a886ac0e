#include "cli/study_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>

#include "cli/options.h"
#include "storage/picture_format.h"

namespace pitch::cli {

std::string UsageErrorText(const CLI::App& app, const CLI::ParseError& e) {
  const std::string what = e.what();
  // CLI11: "--separator: 1 required TEXT missing".
  const std::size_t colon = what.find(':');
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) == nullptr || colon == std::string::npos ||
      what.find(" required ", colon) == std::string::npos ||
      what.compare(what.size() - 8, 8, " missing") != 0) {
    return what;
  }
  const std::string name = what.substr(0, colon);
  const CLI::Option* option = app.get_option_no_throw(name);
  if (option == nullptr) {
    return what;
  }
  const std::string value = option->get_option_text();
  return name + " needs a value" + (value.empty() ? "" : " (" + value + ")");
}

CLI::Validator PdfFileCheck() {
  return CLI::Validator(
      [](std::string& s) -> std::string {
        if (s.empty()) {
          return "needs a file name";
        }
        std::string tail = s.size() >= 4 ? s.substr(s.size() - 4) : std::string();
        std::transform(tail.begin(), tail.end(), tail.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return tail == ".pdf" ? "" : "writes .pdf files";
      },
      "");
}

void TakeAutopilotArguments(std::vector<std::string>& args, StudyArguments& study) {
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
      break;
    }
    std::vector<std::string>* into = nullptr;
    std::size_t count = 0;
    const char* what = "";
    if (arg == "--autopilot-from") {
      into = &study.autopilot_from;
      count = 5;
      what = "--autopilot-from needs five coefficients C1 C2 C3 C4 C5";
    } else if (arg == "--autopilot") {
      into = &study.autopilot;
      count = 3;
      what = "--autopilot needs three gear ratios MUV IV NUV";
    }
    if (into == nullptr) {
      rest.push_back(arg);
      continue;
    }
    if (i + count >= args.size()) {
      throw EUsageError(what);
    }
    into->assign(args.begin() + static_cast<std::ptrdiff_t>(i + 1),
                 args.begin() + static_cast<std::ptrdiff_t>(i + 1 + count));
    i += count;
  }
  args = std::move(rest);
}

void AddStudyOptions(CLI::App& app, StudyArguments& s) {
  const auto declare = [&](CLI::Option* option) {
    s.declared.push_back(option);
    return option;
  };
  s.batch_option = declare(
      app.add_option("--batch", s.batch,
                     "study: one row per line of a CSV file (- for standard input) with the\n"
                     "columns c1 ... c5 and optionally id; other columns are carried through;\n"
                     "fields separated by commas (numbers with full stops), or by semicolons\n"
                     "or tabs (decimal commas, or --separator)")
          ->option_text("FILE|-"));
  s.sweep_option = declare(
      app.add_option("--sweep", s.sweeps,
                     "study: NAME (c1 ... c5) takes COUNT values: FROM and TO exactly, and\n"
                     "FROM + i*(TO-FROM)/(COUNT-1) between them; repeatable, the last varying\n"
                     "fastest; the others are C1 ... C5 or the defaults")
          ->option_text("NAME=FROM:TO:COUNT")
          ->allow_extra_args(false)
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll));
  // Taken out of the arguments before parsing (TakeAutopilotArguments); declared for the help.
  app.add_option("--autopilot-from", s.help_only,
                 "study: synthesise the ratios once, from these coefficients, and simulate\n"
                 "every set with them")
      ->option_text("C1 C2 C3 C4 C5")
      ->expected(5);
  app.add_option("--autopilot", s.help_only, "study: simulate every set with these gear ratios")
      ->option_text("MUV IV NUV")
      ->expected(3);
  declare(app.add_option("--out", s.out,
                         "study: write the rows to FILE (CSV, or JSON Lines for .jsonl) instead\n"
                         "of the standard output")
              ->option_text("FILE"));
  declare(app.add_option("--csv-style", s.csv_style,
                         "study: comma (default: commas and full stops) or semicolon\n"
                         "(semicolons and decimal commas, for a spreadsheet set to a decimal\n"
                         "comma)")
              ->option_text("NAME")
              ->check(CLI::IsMember({"comma", "semicolon"})));
  declare(app.add_flag("--samples", s.samples, "study: the 1000 samples in each JSON Lines row")
              ->disable_flag_override());
  declare(app.add_flag("--margins", s.margins,
                       "study: the loop margins in each row (gain, phase, delay, stability; the "
                       "default)")
              ->disable_flag_override());
  declare(app.add_flag("--no-margins", s.no_margins, "study: leave the loop margins out")
              ->disable_flag_override());
  declare(app.add_option("--jobs", s.jobs, "study: threads (default: one per core)")
              ->option_text("N")
              ->check(CLI::Validator(
                  [](std::string& n) -> std::string {
                    const bool whole = !n.empty() && n.size() <= 6 &&
                                       n.find_first_not_of("0123456789") == std::string::npos &&
                                       std::stoi(n) >= 1;
                    return whole ? "" : "takes a whole number of threads from 1";
                  },
                  "")));
  declare(app.add_option("--shard", s.shard,
                         "study: compute only rows r with r mod N = K - 1 (1 <= K <= N)")
              ->option_text("K/N"));
  declare(app.add_flag("--progress", s.progress,
                       "study: show the progress line on standard error (default: when it is a\n"
                       "terminal)")
              ->disable_flag_override());
  declare(app.add_flag("--no-progress", s.no_progress, "study: never show the progress line")
              ->disable_flag_override());
  declare(app.add_option("--map", s.map,
                         "study: for a sweep over two coefficients, draw a heat map (.png or .svg)")
              ->option_text("FILE")
              ->check(CLI::Validator(
                  [](std::string& path) -> std::string {
                    return PictureFormatOfPath(path) ? "" : kPictureFormats;
                  },
                  "")));
  s.map_value_option = declare(
      app.add_option("--map-value", s.map_value,
                     "study: the map's quantity: overshoot (default), settling, peak, rise,\n"
                     "spectral-radius, gain-margin, phase-margin, delay-margin or\n"
                     "stability-margin")
          ->option_text("NAME")
          ->check(
              CLI::IsMember({"overshoot", "settling", "peak", "rise", "spectral-radius",
                             "gain-margin", "phase-margin", "delay-margin", "stability-margin"})));
}

std::optional<study::StudyOptions> StudyOptionsOf(const StudyArguments& s,
                                                  const std::vector<std::string>& coefficients) {
  const bool study = s.batch_option->count() > 0 || s.sweep_option->count() > 0;
  if (!study) {
    for (const CLI::Option* option : s.declared) {
      if (option->count() > 0) {
        throw EUsageError(option->get_name() + " needs a study: --batch FILE or --sweep");
      }
    }
    if (!s.autopilot_from.empty() || !s.autopilot.empty()) {
      throw EUsageError("--autopilot-from and --autopilot need a study: --batch FILE or --sweep");
    }
    return std::nullopt;
  }
  study::StudyOptions o;
  if (s.batch_option->count() > 0) {
    o.batch = s.batch;
  }
  o.sweeps = s.sweeps;
  o.coefficients = coefficients;
  o.autopilot_from = s.autopilot_from;
  o.autopilot = s.autopilot;
  if (!s.out.empty()) {
    o.out = s.out;
  }
  if (!s.csv_style.empty()) {
    o.csv_style = s.csv_style;
  }
  o.samples = s.samples;
  if (s.margins && s.no_margins) {
    throw EUsageError("--margins and --no-margins exclude each other");
  }
  o.margins = !s.no_margins;
  o.jobs = s.jobs;
  if (!s.shard.empty()) {
    o.shard = s.shard;
  }
  if (!s.map.empty()) {
    o.map = s.map;
  }
  if (s.map_value_option->count() > 0) {
    if (s.map.empty()) {
      throw EUsageError("--map-value needs --map FILE");
    }
    o.map_value = s.map_value;
  }
  return o;
}

std::optional<bool> ProgressChoice(const StudyArguments& s) {
  if (s.no_progress) {
    return false;
  }
  if (s.progress) {
    return true;
  }
  return std::nullopt;
}

}  // namespace pitch::cli
