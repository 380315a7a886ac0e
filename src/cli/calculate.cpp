#include "cli/calculate.h"

#include <memory>

#include "analysis/session.h"
#include "number_text/number_text.h"
#include "storage/results_reader.h"

namespace pitch::cli {

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

Step StepOf(analysis::Stage stage) {
  switch (stage) {
    case analysis::Stage::kInput:
      return Step::kInput;
    case analysis::Stage::kRatios:
      return Step::kRatios;
    case analysis::Stage::kResponse:
      break;
  }
  return Step::kResponse;
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
  Outcome outcome = OutcomeOf(std::make_shared<const analysis::TSession>(analysis::TSession::Run(
                                  analysis::CoefficientTexts{input.texts, input.separators})),
                              analyse);
  outcome.has_texts = true;
  outcome.texts = input.texts;
  return outcome;
}

Outcome OutcomeOf(std::shared_ptr<const analysis::TSession> session, bool analyse) {
  const TController& controller = session->Controller();
  Outcome outcome;
  outcome.session = session;
  if (const auto& error = session->Error()) {
    outcome.error = RunError{error->failure.kind, error->failure.message, StepOf(error->stage)};
  }
  outcome.unreadable_text = session->UnreadableText();
  outcome.coefficients = {controller.c1, controller.c2, controller.c3, controller.c4,
                          controller.c5};
  outcome.muv = controller.muv;
  outcome.iv = controller.iv;
  outcome.nuv = controller.nuv;
  outcome.Tnu = controller.Tnu;
  outcome.teta = controller.teta;

  // The stability needs the ratios; the rest of the analysis a completed simulation.
  if (analyse && session->RatiosKnown()) {
    if (session->Simulated()) {
      outcome.analysis = session->Analysis();
    }
    outcome.stability =
        Stability{session->Poles(), session->Stable(),
                  session->ClosedLoop() == analysis::Stability::kMarginal, session->Iteration()};
    const analysis::FrequencyResult& frequency = session->Frequency();
    outcome.frequency_response = frequency.data;
    if (frequency.reason) {
      outcome.frequency_response_error =
          RunError{frequency.reason->kind, frequency.reason->message, Step::kResponse};
    }
  }
  return outcome;
}

}  // namespace pitch::cli
