#include "cli/files.h"

#include <optional>

#include "cli/file_options.h"
#include "storage/exports.h"
#include "storage/storage.h"

namespace pitch::cli {

namespace {

constexpr const char* kNoRenderer = "the picture renderer is not installed";

// Runs one file's action; its error is recorded and the run goes on.
template <typename Action>
void Record(std::vector<RunError>& errors, const std::string& path, Action&& action) {
  try {
    action();
  } catch (const Exception& e) {
    errors.push_back(ErrorOf(e, Step::kFiles, path));
  }
}

// Draws a picture in memory; its error is recorded, and a missing renderer skips its file.
template <typename Draw>
std::optional<std::string> Picture(std::vector<RunError>& errors, std::vector<SkippedFile>& skipped,
                                   const char* option, const std::string& path, bool available,
                                   Draw&& draw) {
  std::optional<std::string> picture;
  Record(errors, path, [&] {
    if (!available) {
      throw EPlotError("Plot export is not available");
    }
    try {
      picture = draw();
    } catch (const ERendererMissing&) {
      skipped.push_back({option, path, kNoRenderer});
      throw;
    }
  });
  return picture;
}

}  // namespace

FileOutcome WriteFiles(const Options& options, const Outcome& outcome,
                       const NumberSettings& settings, const PlotRenderer& renderer,
                       const BodeRenderer& bode_renderer, const ReportRenderer& report_renderer) {
  const std::vector<double> times = SampleTimes();
  const std::span<const double> h(outcome.teta.values());

  FileOutcome result;
  // Whether an option's file is written: it is named, and the calculation got far enough.
  const auto wanted = [&](std::optional<std::string> Options::*path) {
    for (const FileOption& file : FileOptions()) {
      if (file.path == path) {
        return (options.*path).has_value() && file.written_after(outcome);
      }
    }
    return false;
  };
  // The files the calculation did not get far enough for.
  for (const FileOption& file : FileOptions()) {
    if ((options.*file.path).has_value() && !file.written_after(outcome)) {
      result.skipped.push_back({file.name, *(options.*file.path), file.reason});
    }
  }

  // The pictures first, in memory: a picture that cannot be drawn leaves every file untouched.
  std::vector<SkippedFile> not_drawn;
  std::vector<RunError> plot_errors;
  std::optional<std::string> picture;
  if (wanted(&Options::plot)) {
    picture = Picture(plot_errors, not_drawn, "--plot", *options.plot, bool(renderer), [&] {
      return renderer(PlotRequest{times, h, options.plot_width, options.plot_height,
                                  options.plot_svg, settings.decimal_separator});
    });
  }
  std::vector<RunError> bode_errors;
  std::optional<std::string> bode_picture;
  if (wanted(&Options::bode) && outcome.frequency_response) {
    bode_picture =
        Picture(bode_errors, not_drawn, "--bode", *options.bode, bool(bode_renderer), [&] {
          return bode_renderer(BodeRequest{*outcome.frequency_response, options.bode_width,
                                           options.bode_height, options.bode_svg,
                                           settings.decimal_separator});
        });
  }
  std::vector<RunError> report_errors;
  std::optional<std::string> report;
  if (wanted(&Options::report)) {
    Record(report_errors, *options.report, [&] {
      if (!report_renderer) {
        throw EPlotError("Report export is not available");
      }
      // The controller as the calculation left it.
      const TController* controller =
          outcome.session && outcome.RatiosKnown() ? &outcome.session->Controller() : nullptr;
      report = report_renderer(ReportSource{outcome.texts, settings.decimal_separator, controller,
                                            outcome.Simulated(),
                                            outcome.error ? outcome.error->message : std::string(),
                                            "pitch-autopilot " PITCH_VERSION});
    });
  }

  std::vector<RunError>& errors = result.errors;
  if (wanted(&Options::results)) {
    // The storage object gets what the controller would pass it after this calculation.
    TStorage storage(settings);
    storage.c1 = outcome.coefficients[0];
    storage.c2 = outcome.coefficients[1];
    storage.c3 = outcome.coefficients[2];
    storage.c4 = outcome.coefficients[3];
    storage.c5 = outcome.coefficients[4];
    storage.muv = outcome.muv;
    storage.iv = outcome.iv;
    storage.nuv = outcome.nuv;
    storage.Tnu = outcome.Tnu;
    storage.FileName = *options.results;
    Record(errors, *options.results, [&] { storage.WriteResults(); });
  }
  if (wanted(&Options::csv)) {
    const std::span<const double> exact = options.exact && outcome.analysis
                                              ? std::span<const double>(outcome.analysis->exact)
                                              : std::span<const double>();
    Record(errors, *options.csv,
           [&] { WriteFileBytes(*options.csv, ResponseCsv(times, h, exact)); });
  }
  result.skipped.insert(result.skipped.end(), not_drawn.begin(), not_drawn.end());
  errors.insert(errors.end(), plot_errors.begin(), plot_errors.end());
  if (picture) {
    Record(errors, *options.plot, [&] { WriteFileBytes(*options.plot, *picture); });
  }
  errors.insert(errors.end(), bode_errors.begin(), bode_errors.end());
  if (bode_picture) {
    Record(errors, *options.bode, [&] { WriteFileBytes(*options.bode, *bode_picture); });
  }
  errors.insert(errors.end(), report_errors.begin(), report_errors.end());
  if (report) {
    Record(errors, *options.report, [&] { WriteFileBytes(*options.report, *report); });
  }
  return result;
}

}  // namespace pitch::cli
