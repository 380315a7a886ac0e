// Reading a results file back: the eleven lines that "Save and Exit" writes, in whatever code
// page the writer's locale had (the code page of the locale in force, UTF-8, CP1251, KOI8-R, or
// one without Cyrillic letters, where the headings' letters became '?'), each number with the
// decimal separator it was written with.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "core/extended.h"

namespace pitch {

// A file that is not a results file, or one of whose numbers does not read. The message names
// the file and the line ("…/Result_1, line 4: …"); Line is 1 … 11, or 0 for the whole file.
class EResultsFileError : public Exception {
 public:
  EResultsFileError(const std::string& message, int line) : Exception(message), Line(line) {}
  const char* ClassName() const noexcept override { return "EResultsFileError"; }
  int Line;
};

// One number of the file: its text after "name = ", the separator it was written with ('.' or
// ','; 0 for a number without one, such as "100" or "1E15", which reads the same with either),
// and its value stored as a Real.
struct ResultsNumber {
  std::string text;
  char separator = 0;
  Real value = 0;
};

struct ResultsFileContent {
  // The iconv name of the code page the headings were found in; "ASCII" when their letters are
  // '?' (a code page without Cyrillic letters).
  std::string code_page;
  std::array<ResultsNumber, 5> coefficients;  // c1 … c5
  std::array<ResultsNumber, 4> ratios;        // muv, iv, nuv, Tnu, in the file's order
};

// Reads the file's bytes. The lines end in CR LF, or LF alone (a file passed through a tool that
// changed its line ends); a UTF-8 byte-order mark is skipped; the last line's end may be
// missing. Raises EResultsFileError naming the line for anything else: a heading that is not
// there, a missing or extra line, a line without its "name = ", a number that does not read
// (with either separator; its text shown with control characters escaped) or does not fit a
// Real. name is the file's name for the messages. locale_code_page is the working code page
// (NumberSettings::code_page), the one this program writes in now: the headings are looked for
// in it first, then in the code pages above.
ResultsFileContent ParseResultsFile(std::string_view bytes, const std::string& name,
                                    const std::string& locale_code_page);

// Reads the file at path (at most 64 KiB; a results file has a few hundred bytes). Raises
// EInOutError when it cannot be read, EResultsFileError as above.
ResultsFileContent ReadResultsFile(const std::string& path, const std::string& locale_code_page);

// The number's text with its separator replaced by separator, so that the text reads to the same
// value under a locale with that separator (the digits accumulate the same way with either).
std::string TextWithSeparator(const ResultsNumber& number, char separator);

}  // namespace pitch
