// A stand-in for the export file chooser of the window's menus: answers with a path set in
// advance (empty: the user cancels) and records what it was asked.
#pragma once

#include <QString>
#include <QStringList>

#include "ui/save_dialog.h"

namespace pitch {

class ScriptedChooser : public IExportChooser {
 public:
  QString Choose(QWidget*, const QString& caption, const QStringList& filters) override {
    captions.append(caption);
    last_filters = filters;
    return answer;
  }
  QString answer;  // empty: cancel
  QStringList captions;
  QStringList last_filters;
};

}  // namespace pitch
