// A reference model of the decimal number text: the parser with its digit accumulation and
// power-of-ten scaling carried out in MPFR (see x87_arithmetic.h), and the formatter built on the
// exact decimal expansion of the value.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pitch::reference {

// The extended value of a decimal text, or nothing when the text is not a number (including a
// value beyond the extended range). The text is bytes; only ASCII blanks, signs, digits, the
// separator and E/e can make up a number.
std::optional<long double> ParseNumber(std::string_view text, char separator);

// The message of the conversion error for a text that is not a number.
std::string ConvertErrorMessage(std::string_view text);

// A parsed value as the window stores it into a Real: nothing when that store overflows.
std::optional<double> StoreParsed(long double value);

// The general form with at most 15 significant digits of a Real.
std::string FormatNumber(double value, char separator);

}  // namespace pitch::reference
