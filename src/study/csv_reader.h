// Records of CSV text (RFC 4180): fields separated by a delimiter (a comma, or the semicolon or
// tab of spreadsheets set to a decimal comma), records by LF or CR LF; a field in double quotes
// may hold delimiters, line ends and doubled quotes (""). A quote inside an unquoted field is
// kept as a character, and so is a CR that is not followed by LF, also right after a closing
// quote. A UTF-8 byte-order mark before the first record is skipped, and so is a line with
// nothing on it.
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
  explicit CsvReader(std::istream& in, char delimiter = ',') : in_(in), delimiter_(delimiter) {}
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // Before the first record: takes as the delimiter whichever of comma, semicolon and tab occurs
  // most often outside quotes on the first line that is not blank (the comma on a tie or when
  // none does), and returns it. Looks at the first 64 KiB of the text at most.
  char DetectDelimiter();
  char delimiter() const { return delimiter_; }

  // Reads the next record into record (reusing its storage); false at the end of the text, and
  // for good once a record passes one of the limits below (LimitError then says where).
  bool Next(CsvRecord& record);
  // Whether the stream failed for a reason other than its end.
  bool ReadFailed() const { return read_failed_; }
  // Empty, or "line N: …" for the record that passed a limit; nothing after it is read.
  const std::string& LimitError() const { return limit_error_; }

  // Bounds on what one record may hold, so that memory stays bounded whatever the input.
  static constexpr std::size_t kMaxFieldBytes = std::size_t{1} << 20;
  static constexpr std::size_t kMaxRecordBytes = std::size_t{4} << 20;
  static constexpr std::size_t kMaxFields = 4096;

 private:
  void Start();
  int Get();
  void ReadUnquoted(std::string& text, std::size_t start);
  bool PassedLimit(const CsvRecord& record, std::size_t field_start);
  int Peek();
  bool Fill();

  std::istream& in_;
  char delimiter_;
  std::array<char, 1 << 16> buffer_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  bool read_failed_ = false;
  bool started_ = false;
  std::int64_t line_ = 1;
  std::string limit_error_;
};

// One field as CSV text: quoted (with quotes doubled) when it holds the delimiter, a quote, a
// line end or a leading or trailing space; else as it is.
void AppendCsvField(std::string& out, std::string_view field, char delimiter = ',');

}  // namespace pitch::study
