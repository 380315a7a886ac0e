// Fuzzes the batch's CSV reader. Properties: no crash and no sanitizer report; every record's
// fields lie inside its text; records start on increasing lines; a record without an error, its
// fields written back as CSV, reads back to the same fields; no field, record or column count
// passes the reader's limits.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "study/csv_reader.h"

namespace {

[[noreturn]] void Violated(const char* what) {
  __builtin_printf("property violated: %s\n", what);
  std::abort();
}

std::vector<std::string> Reread(const std::string& text) {
  std::istringstream in(text);
  pitch::study::CsvReader reader(in);
  pitch::study::CsvRecord record;
  if (!reader.Next(record)) {
    return {};
  }
  return record.Fields();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  pitch::study::CsvReader reader(in);
  pitch::study::CsvRecord record;
  std::int64_t last_line = 0;
  while (reader.Next(record)) {
    if (record.line <= last_line) {
      Violated("records do not start on increasing lines");
    }
    last_line = record.line;
    for (const auto& [offset, length] : record.spans) {
      if (offset > record.text.size() || length > record.text.size() - offset) {
        Violated("a field outside the record's text");
      }
    }
    if (!record.error.empty()) {
      continue;
    }
    const std::vector<std::string> fields = record.Fields();
    // A lone empty field is a blank line when written back, and a leading byte-order mark is
    // skipped on reading: neither can round-trip.
    if ((fields.size() == 1 && fields[0].empty()) ||
        (!fields.empty() && !fields[0].empty() && fields[0][0] == '\xEF')) {
      continue;
    }
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) {
        line += ',';
      }
      pitch::study::AppendCsvField(line, fields[i]);
    }
    line += '\n';
    if (Reread(line) != fields) {
      Violated("a record written back does not read back to its fields");
    }
  }
  return 0;
}
