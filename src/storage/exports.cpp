#include "storage/exports.h"

#include "number_text/number_text.h"
#include "storage/file_record.h"

namespace pitch {

std::string ResponseCsv(std::span<const double> t, std::span<const double> h,
                        std::span<const double> exact) {
  std::string csv = exact.empty() ? "t,h\n" : "t,h,exact\n";
  csv.reserve(t.size() * 48);
  for (std::size_t i = 0; i < t.size() && i < h.size(); ++i) {
    csv += ShortestDecimal(t[i]);
    csv += ',';
    csv += ShortestDecimal(h[i]);
    if (!exact.empty()) {
      csv += ',';
      // Where the exact column has no value for this time, the cell stays empty.
      if (i < exact.size()) {
        csv += ShortestDecimal(exact[i]);
      }
    }
    csv += '\n';
  }
  return csv;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  // The whole file in one write, to a temporary file renamed over the old one: a file that fails
  // keeps its old content, and a new one is not left behind.
  TextFileRecord file(path, TextFileRecord::kLargeBlock, TextFileRecord::Replace::kAtOpen,
                      TextFileRecord::Keep::kOldFile);
  file.Open();
  file.Check();
  file.WriteRows(bytes);
  file.Check();
  file.Close();
  file.Check();
}

}  // namespace pitch
