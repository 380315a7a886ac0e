// Where the window hands the errors of its handlers: the frame's error display.
#pragma once

#include <QObject>
#include <exception>

namespace pitch {

class IErrorSink {
 public:
  virtual ~IErrorSink() = default;
  // Shows the error and returns; the action that raised it stays abandoned.
  virtual void Report(const std::exception& error) = 0;
};

// Binds a signal without arguments of interest (a button's click, an action's trigger) to a
// handler that takes the sender. This is the one place where errors of the window's handlers are
// caught: an exception must not leave a slot into Qt's event loop, so whatever the handler throws
// goes to the error display.
template <typename Sender, typename Signal, typename Handler>
void ConnectGuarded(Sender* sender, Signal signal, IErrorSink& errors, Handler handler) {
  QObject::connect(sender, signal, sender, [sender, &errors, handler] {
    try {
      handler(sender);
    } catch (const std::exception& e) {
      errors.Report(e);
    }
  });
}

}  // namespace pitch
