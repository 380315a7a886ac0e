// Where the window hands the errors of its click handlers: the frame's error display.
#pragma once

#include <QAbstractButton>
#include <QObject>
#include <exception>

namespace pitch {

class IErrorSink {
 public:
  virtual ~IErrorSink() = default;
  // Shows the error and returns; the action that raised it stays abandoned.
  virtual void Report(const std::exception& error) = 0;
};

// Binds a button's click to a handler that takes the button as its sender. This is the one
// place where errors of click handlers are caught: an exception must not leave a slot into
// Qt's event loop, so whatever the handler throws goes to the error display.
template <typename Handler>
void ConnectGuarded(QAbstractButton* button, IErrorSink& errors, Handler handler) {
  QObject::connect(button, &QAbstractButton::clicked, button, [button, &errors, handler] {
    try {
      handler(button);
    } catch (const std::exception& e) {
      errors.Report(e);
    }
  });
}

}  // namespace pitch
