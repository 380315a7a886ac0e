#include "cli/files.h"

#include <optional>

#include "storage/exports.h"
#include "storage/storage.h"

namespace pitch::cli {

namespace {

// Runs one file's action; its error is recorded and the run goes on.
template <typename Action>
void Record(std::vector<RunError>& errors, Action&& action) {
  try {
    action();
  } catch (const Exception& e) {
    errors.push_back(ErrorOf(e, Step::kFiles));
  }
}

}  // namespace

std::vector<RunError> WriteFiles(const Options& options, const Outcome& outcome,
                                 const NumberSettings& settings, const PlotRenderer& renderer) {
  const std::vector<double> times = SampleTimes();
  const std::span<const double> h(outcome.teta.values());

  // The picture first, in memory: a picture that cannot be drawn leaves every file untouched.
  std::vector<RunError> plot_errors;
  std::optional<std::string> picture;
  if (options.plot && outcome.Simulated()) {
    Record(plot_errors, [&] {
      if (!renderer) {
        throw EPlotError("Plot export is not available");
      }
      picture = renderer(PlotRequest{times, h, options.plot_width, options.plot_height,
                                     options.plot_svg, settings.decimal_separator});
    });
  }

  std::vector<RunError> errors;
  if (options.results && outcome.InputsRead()) {
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
    Record(errors, [&] { storage.WriteResults(); });
  }
  if (options.csv && outcome.Simulated()) {
    const std::span<const double> exact = options.exact && outcome.analysis
                                              ? std::span<const double>(outcome.analysis->exact)
                                              : std::span<const double>();
    Record(errors, [&] { WriteFileBytes(*options.csv, ResponseCsv(times, h, exact)); });
  }
  errors.insert(errors.end(), plot_errors.begin(), plot_errors.end());
  if (picture) {
    Record(errors, [&] { WriteFileBytes(*options.plot, *picture); });
  }
  return errors;
}

}  // namespace pitch::cli
