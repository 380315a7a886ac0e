// Parameter studies: many coefficient sets in one run. The sets come from a CSV file (a batch)
// or from a grid (a sweep); each gets its own synthesis, or all share one autopilot; the rows
// stream out in input order as CSV or JSON Lines, computed in parallel; a share of the rows
// (a shard) can be computed alone; a sweep over two coefficients can be drawn as a map.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pitch::study {

struct StudyOptions {
  // The sets: a CSV file ("-" for the input stream), or sweeps "NAME=FROM:TO:COUNT".
  std::optional<std::string> batch;
  std::vector<std::string> sweeps;
  // A sweep's fixed coefficients: none (the window's defaults) or five texts.
  std::vector<std::string> coefficients;
  // One autopilot for every set: synthesised from five coefficients, or three ratios
  // muv, iv, nuv. At most one of the two.
  std::vector<std::string> autopilot_from;
  std::vector<std::string> autopilot;
  // The decimal separator of the numbers above: the locale's, or --separator's when
  // separator_given. A batch with commas between its fields has full stops in its numbers; one
  // with semicolons or tabs has decimal commas, or --separator's separator.
  char separator = '.';
  bool separator_given = false;
  // The rows' file ("-" or none: the output stream); JSON Lines for a name ending ".jsonl".
  std::optional<std::string> out;
  // How CSV rows are written: "comma" (commas and full stops) or "semicolon" (semicolons and
  // decimal commas, as a spreadsheet set to a decimal comma reads them); none: "comma".
  std::optional<std::string> csv_style;
  bool samples = false;                 // the 1000 samples in each JSON Lines row
  bool margins = true;                  // the loop margins in each row
  int jobs = 0;                         // threads; 0: one per core
  std::optional<std::string> shard;     // "K/N": the K-th of N shares, 1 ≤ K ≤ N
  bool progress = false;                // the progress line on err
  std::optional<std::string> map;       // picture of a two-coefficient sweep, .png or .svg
  std::string map_value = "overshoot";  // overshoot, settling, peak, rise, spectral-radius,
                                        // gain-margin, phase-margin, delay-margin, stability-margin
  // Rows for the output stream go straight to this descriptor (the process's standard output)
  // in large writes of whole rows; -1: through the stream.
  int out_descriptor = -1;
  // The descriptor the input stream reads (the process's standard input), or -1: compared with
  // the files for "--batch -".
  int in_descriptor = -1;
  // SIGINT and SIGTERM stop the study between rows: the rows computed are written and the run
  // ends with 128 plus the signal's number.
  bool stop_on_signals = false;
};

// What a map shows: one cell per set of a two-coefficient sweep.
struct MapRequest {
  std::string x_name;  // the first swept coefficient, along x
  std::string y_name;  // the second, along y
  std::vector<double> x_values;
  std::vector<double> y_values;
  // Cell (ix, iy) is at ix·y_values.size() + iy: the sweep's own row order.
  std::vector<double> values;  // NaN where the set has no value
  std::vector<unsigned char> marks;
  std::string value_name;  // the quantity and its unit, for the colour scale
  bool svg = false;
};
// The most values along each axis of a map: the picture's plot area (584 × 516 pixels) gives
// each cell at least one pixel, and the grid's values and marks then take at most 2.3 MB.
inline constexpr std::int64_t kMapMaxAxisValues = 512;
inline constexpr unsigned char kMarkFailed = 1;     // the synthesis failed
inline constexpr unsigned char kMarkDiverging = 2;  // the Euler iteration diverges

// Draws a map; returns the file's bytes. Raises pitch::Exception on failure.
using MapRenderer = std::function<std::string(const MapRequest&)>;

// Runs a study: rows to out (or the --out file), the progress line and the summary to err.
// Returns 0 when the run completed, 1 for an I/O error (input unreadable, output not written,
// map not drawn), 2 for a usage error, 130 or 143 when SIGINT or SIGTERM stopped it.
int RunStudy(const StudyOptions& options, std::istream& in, std::ostream& out, std::ostream& err,
             const MapRenderer& renderer = {});

}  // namespace pitch::study
