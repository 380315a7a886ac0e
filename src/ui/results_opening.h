// Reopening a results file in the window: its coefficients go into the input boxes, written with
// the window's decimal separator, and "Calculate and Plot" is clicked.
#pragma once

#include <QString>
#include <QStringList>
#include <array>

class QAbstractButton;
class QLineEdit;

namespace pitch {

struct NumberSettings;

class TResultsOpening {
 public:
  // The boxes c1 … c5, the button and the settings outlive this.
  TResultsOpening(const std::array<QLineEdit*, 5>& boxes, QAbstractButton& calculate,
                  const NumberSettings& settings)
      : boxes_(boxes), calculate_(calculate), settings_(settings) {}

  // A file that does not read raises its error (naming the line) before any box changes.
  void Open(const QString& path) const;
  // The program's arguments: none, or the one results file to open; more raise EResultsFileError.
  void OpenArguments(const QStringList& arguments) const;

 private:
  std::array<QLineEdit*, 5> boxes_;
  QAbstractButton& calculate_;
  const NumberSettings& settings_;
};

}  // namespace pitch
