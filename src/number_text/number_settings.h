// Number settings: the decimal separator, which follows the user's locale, and the working code
// page, the codeset of the user's locale, in which the results file is written.
//
// The locale is named by the environment as the C library names it: the separator comes from
// LC_ALL, then LC_NUMERIC, then LANG; the code page from LC_ALL, then LC_CTYPE, then LANG. The
// first non-empty variable decides.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace pitch {

struct NumberSettings {
  char decimal_separator = '.';
  std::string code_page = "ASCII";  // an iconv codeset name
};

// Looks up an environment variable; returns null when it is unset.
using EnvironmentLookup = std::function<const char*(const char*)>;

// The decimal separator of a locale name such as "ru_RU.UTF-8": the locale's own radix character
// when the machine has the locale and it is a single ASCII character; for a locale the machine
// lacks, the comma for languages that write one (Russian among them), else the full stop. "C",
// "POSIX" and the empty name give the full stop.
char DecimalSeparatorForLocale(std::string_view locale_name);

// The codeset of a locale name as an iconv name: "UTF-8" for ".UTF-8"/".utf8", "CP1251" for
// ".CP1251", "ASCII" for "C", "POSIX" and the empty name; without a codeset, the machine's
// codeset of that locale, or UTF-8 when the machine lacks it. A codeset that does not write ASCII
// as the same single bytes (UTF-16, UTF-32, UCS-4) gives UTF-8: the file's lines, numbers and line
// ends must stay plain bytes.
std::string CodePageForLocale(std::string_view locale_name);

// Both settings as the given environment names them.
NumberSettings NumberSettingsFromEnvironment(const EnvironmentLookup& lookup);

// Both settings as this process's environment names them. Only the programs' edges call it: the
// window's start-up and the command line's main. Everything else gets the settings passed in.
NumberSettings ReadNumberSettings();

// Converts UTF-8 text to a code page. A character that the code page lacks, and a byte that is
// not valid UTF-8, becomes '?'.
std::string ToCodePage(std::string_view utf8, const std::string& code_page);

// Converts text in a code page to UTF-8, for a message that shows it. A byte that does not decode
// (or every byte ≥ 0x80, for a code page iconv does not know) becomes the four characters \xHH.
std::string FromCodePage(std::string_view bytes, const std::string& code_page);

}  // namespace pitch
