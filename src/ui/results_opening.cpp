#include "ui/results_opening.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <string>

#include "core/errors.h"
#include "number_text/number_settings.h"
#include "storage/results_reader.h"

namespace pitch {

void TResultsOpening::Open(const QString& path) const {
  const ResultsFileContent content = ReadResultsFile(path.toStdString(), settings_.code_page);
  for (std::size_t k = 0; k < boxes_.size(); ++k) {
    boxes_[k]->setText(QString::fromStdString(
        TextWithSeparator(content.coefficients[k], settings_.decimal_separator)));
  }
  calculate_.click();
}

void TResultsOpening::OpenArguments(const QStringList& arguments) const {
  if (arguments.size() > 1) {
    throw EResultsFileError(
        "Only one results file can be opened; " + std::to_string(arguments.size()) + " were given",
        0);
  }
  if (arguments.size() == 1) {
    Open(arguments.front());
  }
}

}  // namespace pitch
