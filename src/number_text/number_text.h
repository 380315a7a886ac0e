// Decimal number text: the conversions between numbers and the text of the input boxes, the
// result boxes and the results file. Both are fixed procedures in x87 extended precision, so a
// text always yields the same bits and a Real always yields the same text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/extended.h"

namespace pitch {

// Parses a decimal number: [blanks][+|-]digits[S digits][(E|e)[+|-]digits][blanks], with S the
// decimal separator and a blank the space character only. Digits accumulate into an extended m
// (m ← m·10, then m ← m + d, each rounded); the value is m scaled by 10^(exponent − fraction
// digits), negated for '-'. Raises EConvertError "'<text>' is not a valid floating point value"
// for anything else, including a value beyond the extended range. Never returns an infinity or a
// NaN. Text is UTF-8; every byte outside ASCII is a character that is no digit, sign, blank or
// separator in any working code page, so it makes the text invalid.
Extended ParseNumber(std::string_view text, char separator);

// Formats a value in the general form with at most 15 significant digits: rounded to 18
// significant digits, then to 15 by the 16th digit alone; no trailing zeros; plain notation for
// decimal exponents −3 … 15 of the 0.d1d2… form, "d1Sd2…E<exp>" outside. "NAN", "INF", "-INF"
// for NaN and the infinities. Never fails. The text of a value that is stored as a finite Real
// reads back as a finite Real: the values from 1.797693134862315E308 to the largest Real, whose
// 15 digits would round up past it, are cut to 1.79769313486231E308 instead. The text does not
// depend on the C library's locale.
std::string FormatNumber(Extended value, char separator);

// Formats a value with at most digits significant digits (1 … 17), correctly rounded, in the
// form of FormatNumber: no trailing zeros; plain notation from 0.0001 up to below 10^digits,
// "d1Sd2…E<exp>" outside ("1,5E-7", "1,026E293", "1E4" for four digits); "0" for zero of either
// sign; "NAN", "INF", "-INF". Every view that shows a rounded number (the charts' boxes and
// axes, the margins, the report) writes it with this, so one value reads the same everywhere.
// The text does not depend on the C library's locale.
std::string FormatSignificant(double value, int digits, char separator);

// The shortest decimal text that reads back to the same double, with a full stop ("0.1",
// "1e+300", "-0"): the interchange form of CSV and JSON. From 1e17 on it is always in exponent
// form ("1.2345678901234568e+17"), so a large whole number never shows more digits than read
// back; below, the shorter of the plain and the exponent form (the plain one on a tie).
std::string ShortestDecimal(double value);
// The same text appended to out, for writers of many numbers.
void AppendShortestDecimal(std::string& out, double value);
// The same text written at first, which has room for kShortestDecimalRoom bytes; returns its end.
inline constexpr std::size_t kShortestDecimalRoom = 32;
char* WriteShortestDecimal(char* first, double value);

}  // namespace pitch
