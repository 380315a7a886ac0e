#include "cli/run.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "app/number_text.h"
#include "app/number_text_settings.h"
#include "cli/json_writer.h"
#include "cli/options.h"
#include "core/controller.h"
#include "storage/storage.h"

namespace pitch::cli {

namespace {

// The window's start-up texts, read with the comma they are written with.
constexpr std::array<const char*, 5> kDefaultTexts = {"0,880", "0,404", "7,028", "0,987",
                                                      "0,251"};

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

enum class Stage { kInput, kRatios, kResponse, kDone, kResults };

const char* StageName(Stage stage) {
  switch (stage) {
    case Stage::kInput:
      return "input";
    case Stage::kRatios:
      return "ratios";
    case Stage::kResponse:
      return "response";
    case Stage::kResults:
      return "results";
    case Stage::kDone:
      break;
  }
  return "done";
}

struct Failure {
  std::string kind;
  std::string message;  // with the full stop the error display adds
  Stage stage;
};

void PrintJson(std::ostream& out, const TController& controller,
               const std::optional<Failure>& failure) {
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
  out << "],\"error\":";
  if (failure) {
    out << "{\"kind\":" << JsonString(failure->kind)
        << ",\"message\":" << JsonString(failure->message)
        << ",\"stage\":" << JsonString(StageName(failure->stage)) << '}';
  } else {
    out << "null";
  }
  out << "}\n";
}

void PrintRatios(std::ostream& out, const TController& controller) {
  out << "muv = " << FormatNumber(controller.muv) << '\n'
      << "iv = " << FormatNumber(controller.iv) << '\n'
      << "nuv = " << FormatNumber(controller.nuv) << '\n'
      << "Tnu = " << FormatNumber(controller.Tnu) << '\n';
}

// Writes the response table; returns an error text, empty on success.
std::string WriteCsv(const std::string& path, const TController& controller) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    return "Cannot write " + path + ": " + std::strerror(errno);
  }
  file << "t,h\n";
  for (int i = 1; i <= kSampleCount; ++i) {
    file << JsonNumber(SampleTime(i)) << ',' << JsonNumber(controller.teta[i]) << '\n';
  }
  file.close();
  if (!file) {
    return "Cannot write " + path + ": " + std::strerror(errno);
  }
  return {};
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
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
  // --separator stands in for the locale's separator during this run only.
  struct SeparatorOverride {
    char saved = DecimalSeparator();
    explicit SeparatorOverride(std::optional<char> s) {
      if (s) {
        SetDecimalSeparator(*s);
      }
    }
    ~SeparatorOverride() { SetDecimalSeparator(saved); }
  } separator_override(options.separator);

  std::array<std::string, 5> texts;
  std::array<char, 5> separators;
  for (std::size_t k = 0; k < 5; ++k) {
    const bool defaults = options.coefficients.empty();
    texts[k] = defaults ? kDefaultTexts[k] : options.coefficients[k];
    separators[k] = defaults ? ',' : DecimalSeparator();
  }

  TCliBorder border;
  TController controller;
  TStorage storage;
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

  // The file "Save and Exit" would write after this calculation: the coefficients just read and
  // the ratios the controller now holds. An input error leaves nothing to save.
  std::optional<Failure> results_failure;
  if (options.results && (!failure || failure->stage != Stage::kInput)) {
    border.FileName = *options.results;
    controller.PassInputsToStorage();
    controller.PassRatiosToStorage();
    try {
      controller._Storage->WriteResults();
    } catch (const EInOutError& e) {
      results_failure = Failure{e.ClassName(), WithFullStop(e.what()), Stage::kResults};
    }
  }

  if (options.json) {
    PrintJson(out, controller, failure ? failure : results_failure);
  } else if (stage >= Stage::kResponse) {
    PrintRatios(out, controller);
  }

  int code = 0;
  for (const std::optional<Failure>& f : {failure, results_failure}) {
    if (f) {
      err << f->message << '\n';
      code = 1;
    }
  }
  if (options.csv && stage == Stage::kDone) {
    if (const std::string problem = WriteCsv(*options.csv, controller); !problem.empty()) {
      err << problem << '\n';
      code = 1;
    }
  }
  return code;
}

}  // namespace pitch::cli
