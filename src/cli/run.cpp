#include "cli/run.h"

#include <new>
#include <sstream>

#include "cli/calculate.h"
#include "cli/file_options.h"
#include "cli/file_paths.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/robust_command.h"
#include "number_text/escaped_text.h"
#include "number_text/separator_hint.h"

namespace pitch::cli {

namespace {

constexpr const char* kProgram = "pitch-autopilot-cli";

// A file's error names its option and file, unless the message already names the file: with
// several files failing alike ("I/O error 112.", "The chart cannot be drawn: …"), each line says
// which one it is.
std::string NamedMessage(const Options& options, const RunError& e) {
  if (e.step != Step::kFiles || e.file.empty() || e.message.find(e.file) != std::string::npos) {
    return e.message;
  }
  for (const FileOption& file : FileOptions()) {
    if (options.*file.path == e.file) {
      return std::string(file.name) + " " + e.file + ": " + e.message;
    }
  }
  return e.file + ": " + e.message;
}

}  // namespace

int Run(const std::vector<std::string>& args, const NumberSettings& locale_settings,
        std::ostream& out, std::ostream& err, const PlotRenderer& renderer,
        const BodeRenderer& bode_renderer, const StudyContext& study,
        const ReportRenderer& report_renderer) {
  if (IsRobustRun(args)) {
    return RunRobust(args, locale_settings, out, err, study);
  }
  Options options;
  try {
    RefuseRepeatedFileOptions(args);
    options = ParseOptions(args);
    RefuseSharedFiles(options, study.out_descriptor);
  } catch (const EUsageError& e) {
    err << kProgram << ": " << EscapedText(e.what()) << "\nTry '" << kProgram
        << " --help' for more information.\n";
    return 2;
  }
  if (options.info) {
    out << *options.info;
    return 0;
  }
  // --separator stands in for the locale's separator.
  NumberSettings settings = locale_settings;
  if (options.separator) {
    settings.decimal_separator = *options.separator;
  }
  const char separator = settings.decimal_separator;

  if (options.study) {
    study::StudyOptions o = *options.study;
    o.separator = separator;
    o.separator_given = options.separator.has_value();
    o.progress = options.progress.value_or(study.err_is_terminal);
    o.out_descriptor = study.out_descriptor;
    o.in_descriptor = study.in_descriptor;
    o.stop_on_signals = study.stop_on_signals;
    std::istringstream nothing;
    return study::RunStudy(o, study.in != nullptr ? *study.in : nothing, out, err,
                           study.map_renderer);
  }

  const bool analyse = options.metrics || options.json || options.exact || options.bode;
  Outcome outcome;
  if (options.from) {
    // A file that is not a results file stops the run like a coefficient that is not a number.
    try {
      outcome = Calculate(CoefficientTextsFromFile(*options.from, separator, settings.code_page),
                          analyse);
    } catch (const Exception& e) {
      outcome.error = ErrorOf(e, Step::kInput, *options.from);
    }
  } else {
    outcome = Calculate(CoefficientTextsOf(options.coefficients, separator), analyse);
  }
  const FileOutcome files =
      WriteFiles(options, outcome, settings, renderer, bode_renderer, report_renderer);

  // Every error of the run: the calculation's, then each file's.
  std::vector<RunError> errors;
  if (outcome.error) {
    errors.push_back(*outcome.error);
    if (outcome.unreadable_text) {
      errors.back().hint =
          SeparatorHint(*outcome.unreadable_text, separator, options.separator.has_value());
    }
  }
  errors.insert(errors.end(), files.errors.begin(), files.errors.end());

  if (options.json) {
    out << JsonText(JsonReport(outcome, errors, files.skipped)) << '\n';
  } else {
    PrintText(out, outcome, options.metrics, separator);
  }

  // Messages may hold the user's text: shown with its control characters escaped.
  for (const RunError& e : errors) {
    err << kProgram << ": " << EscapedText(NamedMessage(options, e)) << '\n';
    if (!e.hint.empty()) {
      err << EscapedText(e.hint) << '\n';
    }
  }
  for (const SkippedFile& s : files.skipped) {
    err << kProgram << ": " << s.option << ' ' << EscapedText(s.path)
        << " was not written: " << s.reason << ".\n";
  }
  return errors.empty() ? 0 : 1;
}

int Guarded(const std::function<int()>& body, std::ostream& err) noexcept {
  try {
    try {
      return body();
    } catch (const std::bad_alloc&) {
      err << kProgram << ": out of memory\n";
    } catch (const std::exception& e) {
      err << kProgram << ": " << e.what() << '\n';
    } catch (...) {
      err << kProgram << ": unexpected error\n";
    }
  } catch (...) {
    // Even the message failed; the exit code still tells.
  }
  return 1;
}

}  // namespace pitch::cli
