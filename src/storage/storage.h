// TStorage: the values that "Save and Exit" saves, and the results file they are written to.
#pragma once

#include <string>

#include "core/border.h"
#include "number_text/number_settings.h"

namespace pitch {

class TController;

class TStorage final : public TResultsStore {
 public:
  // The numbers are written with these settings' separator and code page; the settings are
  // held by the caller (the program's edge) for the storage object's whole life.
  explicit TStorage(const NumberSettings& settings) : settings_(settings) {}

  void ConnectController(TController* aController) { _Controller = aController; }

  // Writes the results file at FileName.
  void WriteResults() override;

  // The design's link back to the controller; the storage object is filled by the controller
  // and never reads it.
  TController* _Controller = nullptr;

 private:
  const NumberSettings& settings_;
};

}  // namespace pitch
