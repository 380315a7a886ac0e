// The unit of work of a study's pipeline: a run of consecutive rows of one shard, their inputs
// on the way in and their text and tallies on the way out.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pitch::study {

// What the summary counts.
struct Tally {
  std::int64_t rows = 0;
  std::int64_t completed = 0;  // synthesis (or fixed autopilot) and simulation completed
  std::int64_t input_errors = 0;
  std::int64_t diverging = 0;  // the Euler iteration's spectral radius is 1 or more
  std::map<std::string, std::int64_t> failed_syntheses;    // by message
  std::map<std::string, std::int64_t> failed_simulations;  // by message

  void Add(const Tally& other);
  void Clear() { *this = Tally(); }
};

// One CSV record of a batch: its fields are spans of the chunk's field text.
struct BatchRecord {
  std::int64_t row = 0;
  std::int64_t line = 0;
  std::size_t first_span = 0;
  std::size_t span_count = 0;
  std::string error;  // malformed quoting
};

struct MapCell {
  std::int64_t row = 0;
  double value = 0;
  unsigned char marks = 0;
};

struct Chunk {
  // A sweep's rows.
  std::vector<std::int64_t> rows;
  // A batch's records.
  std::vector<BatchRecord> records;
  std::string field_text;
  std::vector<std::pair<std::size_t, std::size_t>> spans;  // offset and length in field_text

  std::string text;  // the formatted rows
  Tally tally;
  std::vector<MapCell> cells;
  bool cut = false;  // an interrupt stopped the chunk before its last row

  void Clear() {
    rows.clear();
    records.clear();
    field_text.clear();
    spans.clear();
    text.clear();
    tally.Clear();
    cells.clear();
    cut = false;
  }
};

}  // namespace pitch::study
