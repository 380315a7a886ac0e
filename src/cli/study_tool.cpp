// A temporary way to run a study until the front end's options take the study's: the study's
// options, parsed by hand, then the study run with maps drawn off screen.
#include <unistd.h>

#include <QApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/study_map.h"
#include "core/fp_environment.h"
#include "storage/write_signals.h"
#include "study/study.h"
#include "ui/fonts.h"

int main(int argc, char** argv) {
  pitch::IgnoreWriteSignals();
  pitch::CheckFloatingPointEnvironment();
  pitch::study::StudyOptions o;
  o.progress = ::isatty(STDERR_FILENO) == 1;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= args.size()) {
        std::cerr << "missing value of " << a << '\n';
        std::exit(2);
      }
      return args[++i];
    };
    auto several = [&](std::vector<std::string>& into, std::size_t n) {
      for (std::size_t k = 0; k < n; ++k) {
        into.push_back(next());
      }
    };
    if (a == "--batch") {
      o.batch = next();
    } else if (a == "--sweep") {
      o.sweeps.push_back(next());
    } else if (a == "--autopilot-from") {
      several(o.autopilot_from, 5);
    } else if (a == "--autopilot") {
      several(o.autopilot, 3);
    } else if (a == "--out") {
      o.out = next();
    } else if (a == "--samples") {
      o.samples = true;
    } else if (a == "--jobs") {
      o.jobs = std::stoi(next());
    } else if (a == "--shard") {
      o.shard = next();
    } else if (a == "--progress") {
      o.progress = true;
    } else if (a == "--no-progress") {
      o.progress = false;
    } else if (a == "--map") {
      o.map = next();
    } else if (a == "--map-value") {
      o.map_value = next();
    } else if (a == "--separator") {
      o.separator = next().at(0);
    } else {
      o.coefficients.push_back(a);
    }
  }
  std::unique_ptr<QApplication> application;
  const auto render = [&](const pitch::study::MapRequest& request) {
    if (!application) {
      if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
      }
      application = std::make_unique<QApplication>(argc, argv);
      pitch::EnsureTahoma();
    }
    return pitch::cli::RenderStudyMap(request);
  };
  return pitch::study::RunStudy(o, std::cin, std::cout, std::cerr, render);
}
