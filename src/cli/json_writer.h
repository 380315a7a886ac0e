// Minimal JSON text for the front end's output: numbers as the shortest decimal that reads back
// to the same double (null for a value JSON cannot hold), strings escaped.
#pragma once

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "number_text/number_text.h"

namespace pitch::cli {

inline std::string JsonNumber(double v) { return std::isfinite(v) ? ShortestDecimal(v) : "null"; }

inline std::string JsonNumber(const std::optional<double>& v) {
  return v ? JsonNumber(*v) : "null";
}

inline std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace pitch::cli
