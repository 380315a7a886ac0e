// JSON values of the command line's and the studies' output, and their text.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace pitch::study {

// Members keep the order in which they are added.
using Json = nlohmann::ordered_json;

// The compact text of a value. Numbers are the shortest decimal that reads back to the same
// double (ShortestDecimal: "0.1", "1e+300", "-0", an integral value without ".0"), null for a
// value JSON cannot hold; strings are UTF-8, with each invalid byte replaced by U+FFFD.
std::string JsonText(const Json& value);
// The same appended to out.
void AppendJsonText(std::string& out, const Json& value);

}  // namespace pitch::study
