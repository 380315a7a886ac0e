#include "study/row_format.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "number_text/number_text.h"
#include "study/csv_reader.h"

namespace pitch::study {

namespace {

void AppendNumber(std::string& out, double v) {
  if (std::isfinite(v)) {
    AppendShortestDecimal(out, v);
  }
}

void AppendJsonNumber(std::string& out, double v) {
  if (std::isfinite(v)) {
    AppendShortestDecimal(out, v);
  } else {
    out += "null";
  }
}

void AppendJsonNumber(std::string& out, const std::optional<double>& v) {
  if (v) {
    AppendJsonNumber(out, *v);
  } else {
    out += "null";
  }
}

// A JSON string; bytes that are not UTF-8 become U+FFFD.
void AppendJsonString(std::string& out, std::string_view s) {
  out +=
      nlohmann::json(std::string(s)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void AppendCsvText(std::string& out, std::string_view s) { AppendCsvField(out, std::string(s)); }

constexpr const char* kColumns =
    "row,id,c1,c2,c3,c4,c5,muv,iv,nuv,Tnu,error_kind,error_stage,error_message,peak,peak_time,"
    "overshoot_percent,rise_time,settling_time,final_deviation,stable,euler_spectral_radius,"
    "euler_stable";

}  // namespace

void AppendCsvHeader(std::string& out, std::span<const std::string> carried_names) {
  out += kColumns;
  for (const std::string& name : carried_names) {
    out += ',';
    AppendCsvField(out, name);
  }
  out += '\n';
}

void AppendCsvRow(std::string& out, const RowResult& row, const Carried& carried) {
  out += std::to_string(row.row);
  out += ',';
  if (carried.id) {
    AppendCsvText(out, *carried.id);
  }
  for (const Real v : row.c) {
    out += ',';
    if (row.have_coefficients) {
      AppendNumber(out, v);
    }
  }
  for (const Real v : {row.muv, row.iv, row.nuv}) {
    out += ',';
    if (row.have_ratios) {
      AppendNumber(out, v);
    }
  }
  out += ',';
  if (row.have_ratios && row.Tnu) {
    AppendNumber(out, *row.Tnu);
  }
  out += ',';
  if (row.error) {
    out += row.error->kind;
    out += ',';
    out += StageName(row.error->stage);
    out += ',';
    AppendCsvField(out, row.error->message);
  } else {
    out += ",,";
  }
  const analysis::StepCharacteristics& m = row.metrics;
  if (row.have_metrics) {
    for (const double v : {m.peak, m.peak_time, m.overshoot_percent}) {
      out += ',';
      AppendNumber(out, v);
    }
    for (const std::optional<double>& v : {m.rise_time, m.settling_time}) {
      out += ',';
      if (v) {
        AppendNumber(out, *v);
      }
    }
    out += ',';
    AppendNumber(out, m.final_deviation);
  } else {
    out += ",,,,,,";
  }
  if (row.have_stability) {
    out += row.stable ? ",true," : ",false,";
    AppendNumber(out, row.spectral_radius);
    out += row.euler_stable ? ",true" : ",false";
  } else {
    out += ",,,";
  }
  for (const std::string_view v : carried.values) {
    out += ',';
    AppendCsvText(out, v);
  }
  out += '\n';
}

void AppendJsonRow(std::string& out, const RowResult& row, const Carried& carried,
                   std::span<const std::string> carried_names, bool with_samples,
                   std::span<const double> samples) {
  out += "{\"row\":";
  out += std::to_string(row.row);
  out += ",\"id\":";
  if (carried.id) {
    AppendJsonString(out, *carried.id);
  } else {
    out += "null";
  }
  out += ",\"coefficients\":";
  if (row.have_coefficients) {
    out += '[';
    for (std::size_t k = 0; k < 5; ++k) {
      if (k > 0) {
        out += ',';
      }
      AppendJsonNumber(out, row.c[k]);
    }
    out += ']';
  } else {
    out += "null";
  }
  out += ",\"ratios\":";
  if (row.have_ratios) {
    out += "{\"muv\":";
    AppendJsonNumber(out, row.muv);
    out += ",\"iv\":";
    AppendJsonNumber(out, row.iv);
    out += ",\"nuv\":";
    AppendJsonNumber(out, row.nuv);
    out += ",\"Tnu\":";
    AppendJsonNumber(out, row.Tnu);
    out += '}';
  } else {
    out += "null";
  }
  out += ",\"error\":";
  if (row.error) {
    out += "{\"kind\":";
    AppendJsonString(out, row.error->kind);
    out += ",\"message\":";
    AppendJsonString(out, row.error->message);
    out += ",\"stage\":\"";
    out += StageName(row.error->stage);
    out += "\"}";
  } else {
    out += "null";
  }
  out += ",\"metrics\":";
  if (row.have_metrics) {
    const analysis::StepCharacteristics& m = row.metrics;
    out += "{\"peak\":";
    AppendJsonNumber(out, m.peak);
    out += ",\"peak_time\":";
    AppendJsonNumber(out, m.peak_time);
    out += ",\"overshoot_percent\":";
    AppendJsonNumber(out, m.overshoot_percent);
    out += ",\"rise_time\":";
    AppendJsonNumber(out, m.rise_time);
    out += ",\"settling_time\":";
    AppendJsonNumber(out, m.settling_time);
    out += ",\"final_deviation\":";
    AppendJsonNumber(out, m.final_deviation);
    out += '}';
  } else {
    out += "null";
  }
  if (row.have_stability) {
    out += row.stable ? ",\"stable\":true" : ",\"stable\":false";
    out += ",\"euler\":{\"spectral_radius\":";
    AppendJsonNumber(out, row.spectral_radius);
    out += row.euler_stable ? ",\"stable\":true}" : ",\"stable\":false}";
  } else {
    out += ",\"stable\":null,\"euler\":null";
  }
  out += ",\"columns\":{";
  for (std::size_t k = 0; k < carried.values.size() && k < carried_names.size(); ++k) {
    if (k > 0) {
      out += ',';
    }
    AppendJsonString(out, carried_names[k]);
    out += ':';
    AppendJsonString(out, carried.values[k]);
  }
  out += '}';
  if (with_samples && samples.empty()) {
    out += ",\"response\":null";
  } else if (with_samples) {
    out += ",\"response\":[";
    for (std::size_t i = 0; i < samples.size(); ++i) {
      if (i > 0) {
        out += ',';
      }
      AppendJsonNumber(out, samples[i]);
    }
    out += ']';
  }
  out += "}\n";
}

}  // namespace pitch::study
