// Where a study's rows come from: a sweep's grid or a batch's CSV records, read in chunks by
// the pipeline's first (serial) stage.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "study/chunk.h"
#include "study/csv_reader.h"
#include "study/plan.h"

namespace pitch::study {

class SweepSource {
 public:
  SweepSource(const SweepGrid& grid, Shard shard)
      : grid_(grid), shard_(shard), next_(shard.k - 1) {}
  // Up to count rows of the shard; false when none are left.
  bool Fill(Chunk& chunk, std::size_t count);
  std::int64_t total() const { return shard_.CountOf(grid_.size()); }

 private:
  const SweepGrid& grid_;
  Shard shard_;
  std::int64_t next_;
};

// The header of a batch: which columns hold c1 … c5 and the id, and which are carried through;
// the delimiter found on it and the decimal separator of the numbers in the records.
struct BatchColumns {
  char delimiter = ',';
  char separator = '.';
  bool separator_given = false;  // by --separator, rather than the batch's decimal comma
  std::size_t count = 0;
  std::array<std::size_t, 5> coefficient{};
  std::optional<std::size_t> id;
  std::vector<std::size_t> carried;
  std::vector<std::string> carried_names;
};

class BatchSource {
 public:
  // Reads the header, taking the delimiter from it: numbers have a full stop in comma-separated
  // text, and a decimal comma (or the given separator) with a semicolon or a tab. Raises
  // EUsageError when the header lacks a coefficient column or names a column twice.
  BatchSource(std::istream& in, Shard shard, std::optional<char> separator = std::nullopt);
  bool Fill(Chunk& chunk, std::size_t count);
  const BatchColumns& columns() const { return columns_; }
  bool ReadFailed() const { return reader_.ReadFailed(); }
  // "line N: …" when a record passed the reader's size limits and reading stopped there.
  const std::string& LimitError() const { return reader_.LimitError(); }

 private:
  CsvReader reader_;
  Shard shard_;
  BatchColumns columns_;
  CsvRecord record_;
  std::int64_t next_row_ = 0;
};

}  // namespace pitch::study
