#include "cli/calculate.h"

#include "analysis/stability.h"
#include "number_text/number_text.h"
#include "storage/results_reader.h"

namespace pitch::cli {

namespace {

// The front end's stand-in for the window: it parses the coefficient texts into c1 … c5.
class TCliBorder : public TBorder {
 public:
  // Like the window's input reading: each text is parsed and stored into its Real at once, so a
  // failure at text k leaves c1 … c(k−1) updated and the rest as they were.
  void ReadInputs(const CoefficientTexts& input) {
    Real* const fields[5] = {&c1, &c2, &c3, &c4, &c5};
    for (reading = 0; reading < 5; ++reading) {
      *fields[reading] = fp::Store(ParseNumber(input.texts[reading], input.separators[reading]));
    }
  }
  std::size_t reading = 0;  // the text being read
};

}  // namespace

const char* StepName(Step step) {
  switch (step) {
    case Step::kInput:
      return "input";
    case Step::kRatios:
      return "ratios";
    case Step::kResponse:
      return "response";
    case Step::kFiles:
      return "files";
  }
  return "";
}

RunError ErrorOf(const Exception& e, Step step, const std::string& file) {
  return {e.ClassName(), WithFullStop(e.what()), step, file};
}

CoefficientTexts CoefficientTextsOf(const std::vector<std::string>& given, char separator) {
  CoefficientTexts input;
  for (std::size_t k = 0; k < 5; ++k) {
    const bool defaults = given.empty();
    input.texts[k] = defaults ? kDefaultCoefficientTexts[k] : given[k];
    input.separators[k] = defaults ? ',' : separator;
  }
  return input;
}

CoefficientTexts CoefficientTextsFromFile(const std::string& path, char separator,
                                          const std::string& code_page) {
  const ResultsFileContent content = ReadResultsFile(path, code_page);
  CoefficientTexts input;
  for (std::size_t k = 0; k < 5; ++k) {
    input.texts[k] = TextWithSeparator(content.coefficients[k], separator);
    input.separators[k] = separator;
  }
  return input;
}

Outcome Calculate(const CoefficientTexts& input, bool analyse) {
  TCliBorder border;
  TController controller;
  controller.ConnectBorder(&border);

  Outcome outcome;
  outcome.has_texts = true;
  outcome.texts = input.texts;
  Step step = Step::kInput;
  try {
    border.ReadInputs(input);
    step = Step::kRatios;
    controller.TakeCoefficients();
    controller.ComputeGearRatios();
    step = Step::kResponse;
    controller.SimulateResponse();
  } catch (const EConvertError& e) {
    outcome.error = ErrorOf(e, step);
    outcome.unreadable_text = input.texts[border.reading];
  } catch (const Exception& e) {
    outcome.error = ErrorOf(e, step);
  }
  outcome.coefficients = {controller.c1, controller.c2, controller.c3, controller.c4,
                          controller.c5};
  outcome.muv = controller.muv;
  outcome.iv = controller.iv;
  outcome.nuv = controller.nuv;
  outcome.Tnu = controller.Tnu;
  outcome.teta = controller.teta;

  // The stability needs the ratios; the rest of the analysis a completed simulation.
  if (analyse && outcome.RatiosKnown()) {
    const analysis::Matrix4 a = analysis::ToEigen(ClosedLoopMatrix(controller));
    Stability stability;
    if (outcome.Simulated()) {
      outcome.analysis = analysis::Analyze(controller);
      stability.poles = outcome.analysis->poles;
      stability.stable = outcome.analysis->stable;
    } else {
      stability.poles = analysis::ClosedLoopPoles(a);
      stability.stable = analysis::IsStable(a);
    }
    stability.marginal = analysis::ClosedLoopStability(a) == analysis::Stability::kMarginal;
    stability.iteration = analysis::EulerStabilityOf(a, kTimeStep);
    outcome.stability = stability;
  }
  if (analyse && outcome.RatiosKnown()) {
    try {
      outcome.frequency_response = analysis::Bode(controller);
    } catch (const Exception&) {
      // no margins: every other result still stands
    }
  }
  return outcome;
}

}  // namespace pitch::cli
