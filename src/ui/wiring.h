// The links between the program's three objects: the window, the controller and the storage
// object, made in the one order the program and the window's tests both use.
#pragma once

namespace pitch {

class TFormBase;
class TController;
class TStorage;

// The window to the controller, the controller to the window (its inputs) and to the storage
// object, the storage object to the controller.
void ConnectObjects(TFormBase& window, TController& controller, TStorage& storage);

}  // namespace pitch
