// The window as the program wires it, for a window test: its message box replaced by a recorder,
// its export chooser by a scripted one, and a fresh folder for the test's files. A test class
// derives from it after QObject and calls OpenWindow in init() and CloseWindow in cleanup().
#pragma once

#include <QApplication>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "app/error_display.h"
#include "number_text/number_settings.h"
#include "scripted_chooser.h"
#include "ui/form_base.h"
#include "ui/wiring.h"

namespace pitch::testing {

struct Box {
  QWidget* owner;
  QString caption;
  QString text;
};

class RecordingBox : public IMessageBox {
 public:
  void ShowCritical(QWidget* owner, const QString& caption, const QString& text) override {
    shown.append({owner, caption, text});
  }
  QStringList Texts() const {
    QStringList texts;
    for (const Box& box : shown) {
      texts.append(box.text);
    }
    return texts;
  }
  QList<Box> shown;
};

class ProgramWindow {
 protected:
  // The folder's name in the temporary folder: the prefix and this process's id.
  void NameFolder(const std::string& prefix) {
    dir_ = std::filesystem::temp_directory_path() /
           (prefix + std::to_string(QCoreApplication::applicationPid()));
  }

  // A fresh folder and the program's objects with these settings, the window shown under the
  // error display's caption. False when the window was never exposed.
  [[nodiscard]] bool OpenWindow(NumberSettings settings, const QString& caption) {
    settings_ = std::move(settings);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    box_ = std::make_unique<RecordingBox>();
    errors_ = std::make_unique<TErrorDisplay>(*box_, caption);
    objects_ = MakeProgramObjects(*errors_, settings_);
    auto chooser = std::make_unique<ScriptedChooser>();
    chooser_ = chooser.get();
    w().ReplaceExportChooser(std::move(chooser));
    w().show();
    return QTest::qWaitForWindowExposed(&w());
  }

  void CloseWindow() {
    objects_ = TProgramObjects();
    std::filesystem::remove_all(dir_);
  }

  TFormBase& w() { return *objects_.window; }
  QString Path(const char* name) const { return QString::fromStdString((dir_ / name).string()); }

  NumberSettings settings_;  // before everything that refers to it
  std::unique_ptr<RecordingBox> box_;
  std::unique_ptr<TErrorDisplay> errors_;
  TProgramObjects objects_;
  ScriptedChooser* chooser_ = nullptr;
  std::filesystem::path dir_;
};

}  // namespace pitch::testing
