#include "cli/run.h"

#include <new>
#include <sstream>

#include "cli/calculate.h"
#include "cli/options.h"
#include "cli/report.h"

namespace pitch::cli {

namespace {

constexpr const char* kProgram = "pitch-autopilot-cli";

}  // namespace

int Run(const std::vector<std::string>& args, const NumberSettings& locale_settings,
        std::ostream& out, std::ostream& err, const PlotRenderer& renderer,
        const StudyContext& study) {
  Options options;
  try {
    options = ParseOptions(args);
  } catch (const UsageError& e) {
    err << kProgram << ": " << e.what() << "\nTry '" << kProgram
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
    o.progress = options.progress.value_or(study.err_is_terminal);
    std::istringstream nothing;
    return study::RunStudy(o, study.in != nullptr ? *study.in : nothing, out, err,
                           study.map_renderer);
  }

  const bool analyse = options.metrics || options.json || options.exact;
  const Outcome outcome = Calculate(CoefficientTextsOf(options.coefficients, separator), analyse);
  const std::vector<RunError> file_errors = WriteFiles(options, outcome, settings, renderer);

  if (options.json) {
    const std::optional<RunError> shown =
        outcome.error
            ? outcome.error
            : (file_errors.empty() ? std::nullopt : std::optional<RunError>(file_errors.front()));
    out << JsonText(JsonReport(outcome, shown)) << '\n';
  } else {
    PrintText(out, outcome, options.metrics, separator);
  }

  int code = 0;
  if (outcome.error) {
    err << outcome.error->message << '\n';
    code = 1;
  }
  for (const RunError& e : file_errors) {
    err << e.message << '\n';
    code = 1;
  }
  return code;
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
