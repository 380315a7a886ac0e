// TStorage: the values that "Save and Exit" saves, and the results file they are written to.
#pragma once

#include <string>

#include "app/number_text_settings.h"
#include "core/border.h"

namespace pitch {

class TController;

// The message of EInOutError for a code; %s-style codes name the path.
std::string InOutErrorMessage(int code, const std::string& path);

class TStorage final : public TResultsStore {
 public:
  void ConnectController(TController* aController) { _Controller = aController; }

  // Writes the results file at FileName with the process-wide separator and code page.
  void WriteResults() override;
  // The same with explicit settings.
  void WriteResultsUsing(const NumberSettings& settings) const;

  TController* _Controller = nullptr;  // never read
};

}  // namespace pitch
