#include "cli/run.h"

#include <array>
#include <memory>
#include <optional>

#include "analysis/analysis.h"
#include "number_text/number_text.h"
#include "number_text/number_settings.h"
#include "cli/json_writer.h"
#include "cli/options.h"
#include "cli/report.h"
#include "core/controller.h"
#include "storage/exports.h"
#include "storage/storage.h"

namespace pitch::cli {

namespace {


// The front end's stand-in for the window: it parses the coefficient texts into c1 … c5.
class TCliBorder : public TBorder {
 public:
  // Like the window's input reading: each text is parsed and stored into its Real at once, so a
  // failure at text k leaves c1 … c(k−1) updated and the rest as they were.
  void ReadInputs(const std::array<std::string, 5>& texts, const std::array<char, 5>& separators) {
    Real* const fields[5] = {&c1, &c2, &c3, &c4, &c5};
    for (std::size_t k = 0; k < 5; ++k) {
      *fields[k] = fp::Store(ParseNumber(texts[k], separators[k]));
    }
  }
};

enum class Stage { kInput, kRatios, kResponse, kDone };

const char* StageName(Stage stage) {
  switch (stage) {
    case Stage::kInput:
      return "input";
    case Stage::kRatios:
      return "ratios";
    case Stage::kResponse:
      return "response";
    case Stage::kDone:
      break;
  }
  return "files";
}

struct Failure {
  std::string kind;
  std::string message;  // with the full stop the error display adds
  Stage stage;
};

void PrintJson(std::ostream& out, const TController& controller,
               const std::optional<Failure>& failure, const std::string& analysis_members) {
  out << "{\"coefficients\":[" << JsonNumber(controller.c1) << ',' << JsonNumber(controller.c2)
      << ',' << JsonNumber(controller.c3) << ',' << JsonNumber(controller.c4) << ','
      << JsonNumber(controller.c5) << "],";
  out << "\"ratios\":{\"muv\":" << JsonNumber(controller.muv)
      << ",\"iv\":" << JsonNumber(controller.iv) << ",\"nuv\":" << JsonNumber(controller.nuv)
      << ",\"Tnu\":" << JsonNumber(controller.Tnu) << "},";
  out << "\"response\":[";
  for (int i = 1; i <= kSampleCount; ++i) {
    out << (i > 1 ? "," : "") << JsonNumber(controller.teta[i]);
  }
  out << "]," << analysis_members << ",\"error\":";
  if (failure) {
    out << "{\"kind\":" << JsonString(failure->kind)
        << ",\"message\":" << JsonString(failure->message)
        << ",\"stage\":" << JsonString(StageName(failure->stage)) << '}';
  } else {
    out << "null";
  }
  out << "}\n";
}

void PrintRatios(std::ostream& out, const TController& controller, char separator) {
  out << "muv = " << FormatNumber(controller.muv, separator) << '\n'
      << "iv = " << FormatNumber(controller.iv, separator) << '\n'
      << "nuv = " << FormatNumber(controller.nuv, separator) << '\n'
      << "Tnu = " << FormatNumber(controller.Tnu, separator) << '\n';
}

}  // namespace

int Run(const std::vector<std::string>& args, const NumberSettings& locale_settings,
        std::ostream& out, std::ostream& err,
        const PlotRenderer& renderer) {
  Options options;
  try {
    options = ParseOptions(args);
  } catch (const UsageError& e) {
    err << "pitch-autopilot-cli: " << e.what() << "\n\n" << kUsage;
    return 2;
  }
  if (options.help) {
    out << kUsage;
    return 0;
  }
  // --separator stands in for the locale's separator.
  NumberSettings settings = locale_settings;
  if (options.separator) {
    settings.decimal_separator = *options.separator;
  }
  const char separator = settings.decimal_separator;

  std::array<std::string, 5> texts;
  std::array<char, 5> separators;
  for (std::size_t k = 0; k < 5; ++k) {
    const bool defaults = options.coefficients.empty();
    texts[k] = defaults ? kDefaultCoefficientTexts[k] : options.coefficients[k];
    separators[k] = defaults ? ',' : separator;  // the start-up texts are written with a comma
  }

  TCliBorder border;
  TController controller;
  TStorage storage(settings);
  controller.ConnectBorder(&border);
  controller.ConnectStorage(&storage);
  storage.ConnectController(&controller);

  std::optional<Failure> failure;
  Stage stage = Stage::kInput;
  try {
    border.ReadInputs(texts, separators);
    stage = Stage::kRatios;
    controller.TakeCoefficients();
    controller.ComputeGearRatios();
    stage = Stage::kResponse;
    controller.SimulateResponse();
    stage = Stage::kDone;
  } catch (const Exception& e) {
    failure = Failure{e.ClassName(), WithFullStop(e.what()), stage};
  }

  // The analysis needs the ratios for the poles and a completed simulation for the rest.
  const bool want_analysis = options.metrics || options.json || options.exact;
  std::vector<analysis::Pole> poles;
  bool stable = false;
  std::unique_ptr<analysis::LoopAnalysis> full;
  if (want_analysis && stage >= Stage::kResponse) {
    if (stage == Stage::kDone) {
      full = std::make_unique<analysis::LoopAnalysis>(analysis::Analyze(controller));
      poles = full->poles;
      stable = full->stable;
    } else {
      const analysis::Matrix4 a = analysis::ToEigen(ClosedLoopMatrix(controller));
      poles = analysis::ClosedLoopPoles(a);
      stable = analysis::IsStable(a);
    }
  }

  // Files. The results file is what "Save and Exit" would write after this calculation: the
  // coefficients just read and the ratios the controller now holds; an input error leaves
  // nothing to save. The response files need a completed simulation.
  std::vector<Failure> file_failures;
  auto write = [&](auto&& action) {
    try {
      action();
    } catch (const EInOutError& e) {
      file_failures.push_back({e.ClassName(), WithFullStop(e.what()), Stage::kDone});
    }
  };
  if (options.results && stage != Stage::kInput) {
    border.FileName = *options.results;
    controller.PassInputsToStorage();
    controller.PassRatiosToStorage();
    write([&] { controller._Storage->WriteResults(); });
  }
  const std::vector<double> times = SampleTimes();
  const std::span<const double> h(controller.teta.values());
  if (options.csv && stage == Stage::kDone) {
    const std::span<const double> exact =
        options.exact ? std::span<const double>(full->exact) : std::span<const double>();
    write([&] { WriteFileBytes(*options.csv, ResponseCsv(times, h, exact)); });
  }
  if (options.plot && stage == Stage::kDone) {
    if (!renderer) {
      file_failures.push_back({"EInOutError", "Plot export is not available.", Stage::kDone});
    } else {
      const PlotRequest request{
          times, h, options.plot_width, options.plot_height, options.plot_svg, separator};
      write([&] { WriteFileBytes(*options.plot, renderer(request)); });
    }
  }

  if (options.json) {
    const std::optional<Failure> shown =
        failure ? failure
                : (file_failures.empty() ? std::nullopt
                                         : std::optional<Failure>(file_failures.front()));
    PrintJson(out, controller, shown,
              JsonAnalysis(stage >= Stage::kResponse ? &poles : nullptr, stable, full.get()));
  } else if (stage >= Stage::kResponse) {
    PrintRatios(out, controller, separator);
    if (options.metrics) {
      PrintMetrics(out, poles, stable, full.get(), separator);
    }
  }

  int code = 0;
  if (failure) {
    err << failure->message << '\n';
    code = 1;
  }
  for (const Failure& f : file_failures) {
    err << f.message << '\n';
    code = 1;
  }
  return code;
}

}  // namespace pitch::cli
