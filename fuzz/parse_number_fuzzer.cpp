// Fuzzes ParseNumber. The first byte picks the decimal separator, the rest is the text.
// Properties: no crash and no sanitizer report; every text gives a finite value or EConvertError
// with the exact message; for an accepted text that fits a Real, the text of the stored Real
// parses back to a Real with the same text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "number_text/number_text.h"

namespace {

[[noreturn]] void Violated(const char* what, const std::string& text) {
  __builtin_printf("property violated: %s for text '%s'\n", what, text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const char separator = (data[0] & 1) != 0 ? ',' : '.';
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  pitch::Extended value;
  try {
    value = pitch::ParseNumber(text, separator);
  } catch (const pitch::EConvertError& e) {
    // what() is a C string: a text with a NUL byte is compared up to that byte.
    const std::string expected = "'" + text + "' is not a valid floating point value";
    if (std::strcmp(e.what(), expected.c_str()) != 0) {
      Violated("wrong message", text);
    }
    return 0;
  }
  if (!std::isfinite(value)) {
    Violated("non-finite value", text);
  }

  pitch::Real stored;
  try {
    stored = pitch::fp::Store(value);
  } catch (const pitch::EOverflow&) {
    return 0;  // beyond the Real range: the caller's store fails, as it should
  }
  const std::string shown = pitch::FormatNumber(stored, separator);
  pitch::Extended again;
  try {
    again = pitch::ParseNumber(shown, separator);
  } catch (const pitch::EConvertError&) {
    Violated("formatted text does not parse", text);
  }
  if (pitch::FormatNumber(pitch::fp::Store(again), separator) != shown) {
    Violated("formatted text does not read back to itself", text);
  }
  return 0;
}
