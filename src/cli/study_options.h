// The command line's options of a parameter study (--batch, --sweep and the rest), declared on
// the front end's CLI11 application and turned into the study's options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "study/study.h"

namespace CLI {
class App;
class Option;
class ParseError;
class Validator;
}  // namespace CLI

namespace pitch::cli {

struct StudyArguments {
  std::string batch;
  std::vector<std::string> sweeps;
  std::vector<std::string> autopilot_from;
  std::vector<std::string> autopilot;
  std::string out;
  std::string csv_style;
  bool samples = false;
  bool margins = false;
  bool no_margins = false;
  int jobs = 0;
  std::string shard;
  bool progress = false;
  bool no_progress = false;
  std::string map;
  std::string map_value;
  std::vector<std::string> help_only;  // bound to the options that CLI11 only lists
  std::vector<CLI::Option*> declared;  // every study option, to tell whether one was given
  CLI::Option* batch_option = nullptr;
  CLI::Option* sweep_option = nullptr;
  CLI::Option* map_value_option = nullptr;
};

// Takes --autopilot-from and --autopilot with their values out of args before CLI11 sees them:
// their values are numbers, which may look like options ("-.5"). Options end at "--". Raises
// EUsageError for too few values.
void TakeAutopilotArguments(std::vector<std::string>& args, StudyArguments& study);

// Declares the study's options on the application, with their help texts.
void AddStudyOptions(CLI::App& app, StudyArguments& study);

// A usage error of app's parse in the words of this program: an option given without its value
// says so and names the value it takes ("--separator needs a value (,|.)"); any other error
// keeps CLI11's text.
std::string UsageErrorText(const CLI::App& app, const CLI::ParseError& e);

// The check of a --report file name: not empty, ending in ".pdf" in any case.
CLI::Validator PdfFileCheck();

// After parsing: the study's options when --batch or --sweep was given, else none. Raises
// EUsageError for a study option without a study. The separator and the progress line are the
// caller's to fill in.
std::optional<study::StudyOptions> StudyOptionsOf(const StudyArguments& study,
                                                  const std::vector<std::string>& coefficients);

// Whether --progress or --no-progress decided; empty: only when standard error is a terminal.
std::optional<bool> ProgressChoice(const StudyArguments& study);

}  // namespace pitch::cli
