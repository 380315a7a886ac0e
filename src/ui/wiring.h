// The program's three objects: the window, the controller and the storage object, made and
// linked in the one order the program and the window's tests both use.
#pragma once

#include <memory>

#include "ui/form_base.h"

namespace pitch {

class TController;
class TStorage;

// The window to the controller, the controller to the window (its inputs) and to the storage
// object, the storage object to the controller.
void ConnectObjects(TFormBase& window, TController& controller, TStorage& storage);

// The three objects; the window goes first when they go.
struct TProgramObjects {
  std::unique_ptr<TStorage> storage;
  std::unique_ptr<TController> controller;
  std::unique_ptr<TFormBase> window;

  TProgramObjects();
  TProgramObjects(TProgramObjects&&) noexcept;
  TProgramObjects& operator=(TProgramObjects&&) noexcept;
  ~TProgramObjects();
};

// Makes the window (hidden; its errors go to errors, its numbers follow settings, both outliving
// it), then the controller, then the storage object, and links them.
TProgramObjects MakeProgramObjects(IErrorSink& errors, NumberSettings& settings);

}  // namespace pitch
