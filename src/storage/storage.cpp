// The results file: eleven lines in the working code page, CR LF after each, written through a
// file record with a check after the open, after every line and after the close.
#include "storage/storage.h"

#include <array>
#include <string_view>

#include "number_text/number_settings.h"
#include "number_text/number_text.h"
#include "storage/file_record.h"

namespace pitch {

namespace {

std::array<std::string, 11> ResultLines(const TResultsStore& v, char separator) {
  auto number = [separator](Real x) { return FormatNumber(x, separator); };
  return {
      "Коэффициенты линейной модели ЛА:",
      "c1 = " + number(v.c1),
      "c2 = " + number(v.c2),
      "c3 = " + number(v.c3),
      "c4 = " + number(v.c4),
      "c5 = " + number(v.c5),
      "Передаточные числа автопилота:",
      "muv = " + number(v.muv),
      "iv = " + number(v.iv),
      "nuv = " + number(v.nuv),
      "Tnu = " + number(v.Tnu),
  };
}

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

void TStorage::WriteResults() {
  TextFileRecord file(FileName);
  file.Open();
  file.Check();
  for (const std::string& line : ResultLines(*this, settings_.decimal_separator)) {
    file.Write(ToCodePage(line, settings_.code_page));
    file.Write(kLineEnd);
    file.Check();
  }
  file.Close();
  file.Check();
}

}  // namespace pitch
