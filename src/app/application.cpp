#include "app/application.h"

#include <cstdio>
#include <exception>

namespace pitch {

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    if (errors_ != nullptr) {
      try {
        errors_->Report(e);
      } catch (const std::exception&) {
        // The display itself failed (out of memory while building the box): say it plainly.
        std::fprintf(stderr, "%s\n", e.what());
      }
    } else {
      std::fprintf(stderr, "%s\n", e.what());
    }
  }
  return false;
}

}  // namespace pitch
