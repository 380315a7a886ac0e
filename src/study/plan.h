// A study's options checked and turned into what the run needs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "study/row.h"
#include "study/row_format.h"
#include "study/study.h"
#include "study/sweep.h"

namespace pitch::study {

enum class Format { kCsv, kJsonLines };
enum class MapValue {
  kOvershoot,
  kSettling,
  kPeak,
  kRise,
  kSpectralRadius,
  kGainMargin,
  kPhaseMargin,
  kDelayMargin,
  kStabilityMargin
};

// Row r (from 0) belongs to shard K of N when r mod N = K − 1: each shard has every N-th row,
// so the shards are of equal size whether or not the number of rows is known.
struct Shard {
  std::int64_t k = 1;
  std::int64_t n = 1;
  bool Contains(std::int64_t row) const { return row % n == k - 1; }
  // How many of rows 0 … total − 1 are this shard's.
  std::int64_t CountOf(std::int64_t total) const { return total >= k ? (total - k) / n + 1 : 0; }
};

struct Plan {
  std::optional<SweepGrid> grid;  // a sweep; else a batch
  std::optional<FixedAutopilot> fixed;
  Format format = Format::kCsv;
  CsvStyle csv_style;
  bool samples = false;
  bool margins = false;
  Shard shard;
  int jobs = 1;
  std::optional<MapValue> map;
  bool map_svg = false;
};

// Raises EUsageError.
Plan MakePlan(const StudyOptions& options);
// Raises EUsageError when two of the batch, --out and --map name one file, the standard input
// (for "--batch -") and the standard output (for rows written there) included.
void RefuseSharedPaths(const StudyOptions& options);
Shard ParseShard(const std::string& text);

// The quantity of a map and its name on the colour scale; NaN when the set has none.
double MapValueOf(MapValue which, const RowResult& row);
const char* MapValueTitle(MapValue which);

}  // namespace pitch::study
