// The text of a study's rows: CSV (a header, then one line per set) or JSON Lines (one object
// per set). Numbers are the shortest decimals that read back to the same double, with a full
// stop (a CSV style may ask for a decimal comma); a value that is not there is an empty CSV
// field or a JSON null.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "study/row.h"

namespace pitch::study {

// What a row carries through from its input line: its id and the other columns.
struct Carried {
  std::optional<std::string_view> id;
  std::span<const std::string_view> values;  // one per carried column; absent fields are empty
};

// How CSV text separates its fields and writes its numbers: commas and full stops, or, for
// spreadsheets set to a decimal comma, semicolons and decimal commas.
struct CsvStyle {
  char delimiter = ',';
  char decimal = '.';
};
inline constexpr CsvStyle kSpreadsheetCsv{';', ','};

// The CSV header: the study's own columns, the margins' with with_margins, then the carried
// columns' names.
void AppendCsvHeader(std::string& out, std::span<const std::string> carried_names,
                     bool with_margins = false, CsvStyle style = {});
void AppendCsvRow(std::string& out, const RowResult& row, const Carried& carried,
                  bool with_margins = false, CsvStyle style = {});

// One JSON object and a line end. The carried columns are the members of "columns". With
// with_margins, "margins" holds the loop margins (null when there are none: the ratios are not
// known). With with_samples, "response" holds the samples (null when there are none: the
// simulation did not complete).
void AppendJsonRow(std::string& out, const RowResult& row, const Carried& carried,
                   std::span<const std::string> carried_names, bool with_margins = false,
                   bool with_samples = false, std::span<const double> samples = {});

}  // namespace pitch::study
