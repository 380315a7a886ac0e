#include "ui/wiring.h"

#include "core/controller.h"
#include "storage/storage.h"
#include "ui/form_base.h"

namespace pitch {

void ConnectObjects(TFormBase& window, TController& controller, TStorage& storage) {
  window.ConnectController(&controller);
  controller.ConnectBorder(&window);
  controller.ConnectStorage(&storage);
  storage.ConnectController(&controller);
}

}  // namespace pitch
