// TStorage: the values that "Save and Exit" saves, and the results file they are written to.
#pragma once

#include <string>

#include "app/number_text_settings.h"
#include "core/border.h"
#include "storage/file_record.h"

namespace pitch {

class TController;

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
