#include "ui/wiring.h"

#include "core/controller.h"
#include "storage/storage.h"

namespace pitch {

void ConnectObjects(TFormBase& window, TController& controller, TStorage& storage) {
  window.ConnectController(&controller);
  controller.ConnectBorder(&window);
  controller.ConnectStorage(&storage);
  storage.ConnectController(&controller);
}

TProgramObjects::TProgramObjects() = default;
TProgramObjects::TProgramObjects(TProgramObjects&&) noexcept = default;
TProgramObjects& TProgramObjects::operator=(TProgramObjects&&) noexcept = default;
TProgramObjects::~TProgramObjects() {
  window.reset();  // the window first: it holds the controller's address
}

TProgramObjects MakeProgramObjects(IErrorSink& errors, NumberSettings& settings) {
  TProgramObjects objects;
  objects.window = std::make_unique<TFormBase>(errors, settings);
  objects.controller = std::make_unique<TController>();
  objects.storage = std::make_unique<TStorage>(settings);
  ConnectObjects(*objects.window, *objects.controller, *objects.storage);
  return objects;
}

}  // namespace pitch
