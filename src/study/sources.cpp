#include "study/sources.h"

#include <algorithm>
#include <cctype>

namespace pitch::study {

namespace {

// A header name without surrounding spaces, in lower case.
std::string Normalised(const std::string& name) {
  std::size_t begin = 0;
  std::size_t end = name.size();
  while (begin < end && name[begin] == ' ') {
    ++begin;
  }
  while (end > begin && name[end - 1] == ' ') {
    --end;
  }
  std::string s = name.substr(begin, end - begin);
  for (char& c : s) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return s;
}

}  // namespace

bool SweepSource::Fill(Chunk& chunk, std::size_t count) {
  while (chunk.rows.size() < count && next_ < grid_.size()) {
    chunk.rows.push_back(next_);
    // next_ + n may pass the largest index; the distance to the end cannot.
    next_ = grid_.size() - next_ > shard_.n ? next_ + shard_.n : grid_.size();
  }
  return !chunk.rows.empty();
}

BatchSource::BatchSource(std::istream& in, Shard shard, std::optional<char> separator)
    : reader_(in), shard_(shard) {
  columns_.delimiter = reader_.DetectDelimiter();
  columns_.separator = columns_.delimiter == ',' ? '.' : separator.value_or(',');
  columns_.separator_given = columns_.delimiter != ',' && separator.has_value();
  CsvRecord header;
  if (!reader_.Next(header)) {
    if (!reader_.LimitError().empty()) {
      throw EUsageError("the batch's header, " + reader_.LimitError());
    }
    throw EUsageError("the batch has no header line (it needs the columns c1 … c5)");
  }
  if (!header.error.empty()) {
    throw EUsageError("the batch's header: " + header.error);
  }
  const std::vector<std::string> fields = header.Fields();
  columns_.count = fields.size();
  // Names compare as the header is read: without surrounding spaces, in any case.
  std::vector<std::string> names;
  std::vector<std::string> repeated;
  for (const std::string& field : fields) {
    const std::string name = Normalised(field);
    if (std::find(names.begin(), names.end(), name) != names.end() &&
        std::find(repeated.begin(), repeated.end(), name) == repeated.end()) {
      repeated.push_back(name);
    }
    names.push_back(name);
  }
  if (!repeated.empty()) {
    std::string list;
    for (const std::string& name : repeated) {
      list += (list.empty() ? "\"" : ", \"") + name + "\"";
    }
    throw EUsageError("the batch's header names " +
                      std::string(repeated.size() > 1 ? "columns " : "the column ") + list +
                      " more than once");
  }
  std::array<bool, 5> found{};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string& name = names[i];
    if (name.size() == 2 && name[0] == 'c' && name[1] >= '1' && name[1] <= '5') {
      const auto k = static_cast<std::size_t>(name[1] - '1');
      found[k] = true;
      columns_.coefficient[k] = i;
    } else if (name == "id") {
      columns_.id = i;
    } else {
      columns_.carried.push_back(i);
      columns_.carried_names.push_back(fields[i]);
    }
  }
  for (std::size_t k = 0; k < 5; ++k) {
    if (!found[k]) {
      throw EUsageError("the batch's header names no column c" + std::to_string(k + 1));
    }
  }
}

bool BatchSource::Fill(Chunk& chunk, std::size_t count) {
  while (chunk.records.size() < count && reader_.Next(record_)) {
    const std::int64_t row = next_row_++;
    if (!shard_.Contains(row)) {
      continue;
    }
    BatchRecord r;
    r.row = row;
    r.line = record_.line;
    r.error = record_.error;
    r.first_span = chunk.spans.size();
    r.span_count = record_.size();
    const std::size_t base = chunk.field_text.size();
    chunk.field_text += record_.text;
    for (const auto& [offset, length] : record_.spans) {
      chunk.spans.emplace_back(base + offset, length);
    }
    chunk.records.push_back(std::move(r));
  }
  return !chunk.records.empty();
}

}  // namespace pitch::study
