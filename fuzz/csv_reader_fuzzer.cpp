// Fuzzes the batch's CSV reader. Properties: no crash, hang or sanitizer report; every record's
// fields lie inside its text; records start on increasing lines; the delimiter is a comma, a
// semicolon or a tab.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "study/csv_reader.h"

namespace {

[[noreturn]] void Violated(const char* what) {
  __builtin_printf("property violated: %s\n", what);
  std::abort();
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
    if (reader.delimiter() != ',' && reader.delimiter() != ';' && reader.delimiter() != '\t') {
      Violated("a delimiter other than comma, semicolon or tab");
    }
  }
  return 0;
}
