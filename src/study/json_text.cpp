#include "study/json_text.h"

#include <cmath>

#include "number_text/number_text.h"

namespace pitch::study {

namespace {

void Append(const Json& value, std::string& text) {
  switch (value.type()) {
    case Json::value_t::object: {
      text += '{';
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        text += first ? "" : ",";
        first = false;
        Append(Json(key), text);
        text += ':';
        Append(member, text);
      }
      text += '}';
      break;
    }
    case Json::value_t::array: {
      text += '[';
      bool first = true;
      for (const Json& element : value) {
        text += first ? "" : ",";
        first = false;
        Append(element, text);
      }
      text += ']';
      break;
    }
    case Json::value_t::number_float: {
      const double v = value.get<double>();
      text += std::isfinite(v) ? ShortestDecimal(v) : "null";
      break;
    }
    default:  // null, booleans, integers, strings
      text += value.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
}

}  // namespace

std::string JsonText(const Json& value) {
  std::string text;
  Append(value, text);
  return text;
}

void AppendJsonText(std::string& out, const Json& value) { Append(value, out); }

}  // namespace pitch::study
