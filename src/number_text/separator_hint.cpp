#include "number_text/separator_hint.h"

namespace pitch {

std::string SeparatorHint(std::string_view text, char separator, bool from_option) {
  return SeparatorHint(text, separator,
                       std::string_view(from_option ? "--separator" : "the locale's"));
}

std::string SeparatorHint(std::string_view text, char separator, std::string_view source) {
  const char other = separator == '.' ? ',' : '.';
  if (text.find(other) == std::string_view::npos) {
    return "";
  }
  return std::string("The decimal separator is '") + separator + "' (" + std::string(source) +
         "); a number written with '" + other + "' needs --separator " + other;
}

}  // namespace pitch
