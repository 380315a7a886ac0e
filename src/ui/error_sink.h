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

// Runs work at the window's handler boundary: an exception must not leave a handler into Qt's
// event loop, so whatever work throws goes to the error display, and the action stays abandoned.
template <typename Work>
void RunGuarded(IErrorSink& errors, Work&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    errors.Report(e);
  }
}

// Binds a signal without arguments of interest (a button's click, an action's trigger) to a
// handler that takes the sender, run through RunGuarded.
template <typename Sender, typename Signal, typename Handler>
void ConnectGuarded(Sender* sender, Signal signal, IErrorSink& errors, Handler handler) {
  QObject::connect(sender, signal, sender,
                   [sender, &errors, handler] { RunGuarded(errors, [&] { handler(sender); }); });
}

}  // namespace pitch
