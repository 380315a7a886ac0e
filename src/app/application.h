// The application object of the desktop program: Qt's, with a last line of defence for errors.
#pragma once

#include <QApplication>

#include "ui/error_sink.h"

namespace pitch {

class TApplication final : public QApplication {
 public:
  TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  // Where errors that escape an event handler are shown; without one they are printed.
  void SetErrorSink(IErrorSink* errors) { errors_ = errors; }

  // Delivers the event; a C++ exception that leaves the receiver's handler (std::bad_alloc, or
  // an error of a handler that no guarded connection covers) is shown by the error display, the
  // event counts as not handled, and the event loop goes on.
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  IErrorSink* errors_ = nullptr;
};

}  // namespace pitch
