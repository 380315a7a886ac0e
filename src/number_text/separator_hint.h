// A second line for a number that could not be read: the decimal separator may be the wrong one.
#pragma once

#include <string>
#include <string_view>

namespace pitch {

// For a text that is not a number although it holds the other decimal separator: which separator
// is in force (from --separator, or the locale's) and how to read numbers written with the other
// one. Empty otherwise.
std::string SeparatorHint(std::string_view text, char separator, bool from_option);
// The same, with where the separator in force comes from in words ("a batch separated by ';'").
std::string SeparatorHint(std::string_view text, char separator, std::string_view source);

}  // namespace pitch
