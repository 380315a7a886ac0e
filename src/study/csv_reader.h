// Records of CSV text (RFC 4180): fields separated by commas, records by LF or CR LF; a field in
// double quotes may hold commas, line ends and doubled quotes (""). A quote inside an unquoted
// field is kept as a character. A UTF-8 byte-order mark before the first record is skipped, and
// so is a line with nothing on it.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pitch::study {

struct CsvRecord {
  // The fields' bytes one after the other, and each field as an offset and a length in them.
  std::string text;
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  std::int64_t line = 0;  // the line where the record starts, from 1
  // Empty for a well-formed record; else what is wrong with its quoting. The fields are then
  // what could be read.
  std::string error;

  std::size_t size() const { return spans.size(); }
  std::string_view Field(std::size_t i) const {
    return std::string_view(text).substr(spans[i].first, spans[i].second);
  }
  std::vector<std::string> Fields() const;
};

class CsvReader {
 public:
  explicit CsvReader(std::istream& in) : in_(in) {}
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // Reads the next record into record (reusing its storage); false at the end of the text.
  bool Next(CsvRecord& record);
  // Whether the stream failed for a reason other than its end.
  bool ReadFailed() const { return read_failed_; }

 private:
  int Get();
  void ReadUnquoted(std::string& text, std::size_t start);
  int Peek();
  bool Fill();

  std::istream& in_;
  std::array<char, 1 << 16> buffer_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  bool read_failed_ = false;
  bool started_ = false;
  std::int64_t line_ = 1;
};

// One field as CSV text: quoted (with quotes doubled) when it holds a comma, a quote, a line
// end or a leading or trailing space; else as it is.
void AppendCsvField(std::string& out, const std::string& field);

}  // namespace pitch::study
