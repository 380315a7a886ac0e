#include "study/row_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "number_text/number_text.h"
#include "study/csv_reader.h"
#include "study/margins_json.h"

namespace pitch::study {

namespace {

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

void AppendIndex(std::string& out, std::int64_t row) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, row).ptr;
  out.append(text, end);
}

// The text of a sample time (the peak's) from a table made once: the same text as
// ShortestDecimal gives, without forming it for every row. Null for a time that is no sample's.
const std::string* SampleTimeText(double t) {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> all;
    for (const double time : StudySampleTimes()) {
      all.push_back(ShortestDecimal(time));
    }
    return all;
  }();
  const std::span<const double> times = StudySampleTimes();
  const auto i = static_cast<std::size_t>(std::lround(t * 100));
  return i < times.size() && times[i] == t ? &texts[i] : nullptr;
}

void AppendSampleTime(std::string& out, double t) {
  if (const std::string* text = SampleTimeText(t)) {
    out += *text;
  } else {
    AppendJsonNumber(out, t);
  }
}

// One member of a JSON object of numbers: null for a value that is missing or not finite; a
// sample time is written as AppendSampleTime writes it.
struct NumberMember {
  std::string_view name;
  std::optional<double> value;
  bool sample_time = false;
};

void AppendJsonObject(std::string& out, std::initializer_list<NumberMember> members) {
  char open = '{';
  for (const NumberMember& m : members) {
    out += open;
    open = ',';
    out += '"';
    out += m.name;
    out += "\":";
    if (m.sample_time && m.value) {
      AppendSampleTime(out, *m.value);
    } else {
      AppendJsonNumber(out, m.value);
    }
  }
  out += '}';
}

constexpr const char* kColumns =
    "row,id,c1,c2,c3,c4,c5,muv,iv,nuv,Tnu,error_kind,error_stage,error_message,peak,peak_time,"
    "overshoot_percent,rise_time,settling_time,final_deviation,stable,euler_spectral_radius,"
    "euler_stable";
constexpr const char* kMarginColumns =
    ",gain_margin,gain_margin_db,phase_crossover,phase_margin_deg,gain_crossover,delay_margin,"
    "stability_margin,stability_margin_frequency,margins_reason";

}  // namespace

void AppendCsvHeader(std::string& out, std::span<const std::string> carried_names,
                     bool with_margins, CsvStyle style) {
  const std::size_t start = out.size();
  out += kColumns;
  if (with_margins) {
    out += kMarginColumns;
  }
  // The study's own names hold no commas: each one is a delimiter.
  std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), ',', style.delimiter);
  for (const std::string& name : carried_names) {
    out += style.delimiter;
    AppendCsvField(out, name, style.delimiter);
  }
  out += '\n';
}

namespace {

// The study's columns of a CSV line, formed in a buffer on the stack and handed to the row text
// a buffer at a time.
class LineBuffer {
 public:
  LineBuffer(std::string& out, CsvStyle style) : out_(out), style_(style) {}
  LineBuffer(const LineBuffer&) = delete;
  LineBuffer& operator=(const LineBuffer&) = delete;
  ~LineBuffer() { Flush(); }

  // n field delimiters.
  void Next(std::size_t n = 1) {
    Room(n);
    end_ = std::fill_n(end_, n, style_.delimiter);
  }
  void Text(std::string_view s) {
    if (s.size() > sizeof buffer_ / 2) {
      Flushed().append(s);
      return;
    }
    Room(s.size());
    end_ = std::copy(s.begin(), s.end(), end_);
  }
  // Nothing for a value that is not finite: the empty field.
  void Number(double v) {
    if (std::isfinite(v)) {
      Room(kShortestDecimalRoom);
      char* const first = end_;
      end_ = WriteShortestDecimal(end_, v);
      Decimal(first);
    }
  }
  void SampleTime(double t) {
    if (const std::string* text = SampleTimeText(t)) {
      char* const first = end_;
      Text(*text);
      Decimal(first);
    } else {
      Number(t);
    }
  }
  void Index(std::int64_t row) {
    Room(24);
    end_ = std::to_chars(end_, end_ + 24, row).ptr;
  }
  // The row text with everything so far in it, for writing to it directly.
  std::string& Flushed() {
    Flush();
    return out_;
  }

 private:
  // The number just written from first on gets the style's decimal separator.
  void Decimal(char* first) {
    if (style_.decimal != '.') {
      std::replace(first, end_, '.', style_.decimal);
    }
  }
  void Room(std::size_t n) {
    if (static_cast<std::size_t>(buffer_ + sizeof buffer_ - end_) < n) {
      Flush();
    }
  }
  void Flush() {
    out_.append(buffer_, end_);
    end_ = buffer_;
  }

  std::string& out_;
  CsvStyle style_;
  char buffer_[512];
  char* end_ = buffer_;
};

}  // namespace

void AppendCsvRow(std::string& out, const RowResult& row, const Carried& carried, bool with_margins,
                  CsvStyle style) {
  const char d = style.delimiter;
  LineBuffer line(out, style);
  line.Index(row.row);
  line.Next();
  if (carried.id) {
    AppendCsvField(line.Flushed(), *carried.id, d);
  }
  for (const Real v : row.c) {
    line.Next();
    if (row.have_coefficients) {
      line.Number(v);
    }
  }
  for (const std::optional<Real>& v : {row.muv, row.iv, row.nuv, row.Tnu}) {
    line.Next();
    if (v) {
      line.Number(*v);
    }
  }
  line.Next();
  if (row.error) {
    line.Text(row.error->kind);
    line.Next();
    line.Text(StageName(row.error->stage));
    line.Next();
    AppendCsvField(line.Flushed(), row.error->message, d);
  } else {
    line.Next(2);
  }
  const analysis::StepCharacteristics& m = row.metrics;
  if (row.have_metrics) {
    line.Next();
    line.Number(m.peak);
    line.Next();
    line.SampleTime(m.peak_time);
    line.Next();
    line.Number(m.overshoot_percent);
    for (const std::optional<double>& v : {m.rise_time, m.settling_time}) {
      line.Next();
      if (v) {
        line.Number(*v);
      }
    }
    line.Next();
    line.Number(m.final_deviation);
  } else {
    line.Next(6);
  }
  line.Next();
  if (row.have_stability) {
    line.Text(row.stable ? "true" : "false");
    line.Next();
    line.Number(row.spectral_radius);
    line.Next();
    line.Text(row.euler_stable ? "true" : "false");
  } else {
    line.Next(2);
  }
  if (with_margins && row.margins) {
    const RowMargins& mm = *row.margins;
    line.Next();
    if (mm.gain) {
      line.Number(mm.gain->factor);
      line.Next();
      line.Number(mm.gain->decibels);
      line.Next();
      line.Number(mm.gain->frequency);
    } else {
      line.Next(2);
    }
    line.Next();
    if (mm.phase) {
      line.Number(mm.phase->degrees);
      line.Next();
      line.Number(mm.phase->frequency);
    } else {
      line.Next();
    }
    line.Next();
    if (mm.delay) {
      line.Number(*mm.delay);
    }
    line.Next();
    line.Number(mm.stability.value);
    line.Next();
    line.Number(mm.stability.frequency);
    line.Next();
  } else if (with_margins) {
    line.Next(9);
    if (row.margins_error) {
      AppendCsvField(line.Flushed(), MarginsNotComputedText(row.margins_error->message), d);
    } else if (row.margins_not_computable) {
      AppendCsvField(line.Flushed(), MarginsNotComputableText(*row.margins_not_computable), d);
    }
  }
  std::string& text = line.Flushed();
  for (const std::string_view v : carried.values) {
    text += d;
    AppendCsvField(text, v, d);
  }
  text += '\n';
}

void AppendJsonRow(std::string& out, const RowResult& row, const Carried& carried,
                   std::span<const std::string> carried_names, bool with_margins, bool with_samples,
                   std::span<const double> samples) {
  out += "{\"row\":";
  AppendIndex(out, row.row);
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
  if (row.muv) {
    AppendJsonObject(out, {{"muv", row.muv}, {"iv", row.iv}, {"nuv", row.nuv}, {"Tnu", row.Tnu}});
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
    AppendJsonObject(out, {{"peak", m.peak},
                           {"peak_time", m.peak_time, true},
                           {"overshoot_percent", m.overshoot_percent},
                           {"rise_time", m.rise_time},
                           {"settling_time", m.settling_time},
                           {"final_deviation", m.final_deviation}});
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
  if (with_margins) {
    out += ",\"margins\":";
    if (row.margins) {
      const RowMargins& m = *row.margins;
      AppendJsonText(out, HeadlineMarginsJson(m.gain, m.phase, m.delay, m.stability));
    } else if (row.margins_not_computable) {
      AppendJsonText(out, NotComputableMarginsJson(*row.margins_not_computable));
    } else {
      out += "null";
    }
    out += ",\"margins_error\":";
    if (row.margins_error) {
      AppendJsonText(out, MarginsErrorJson(*row.margins_error));
    } else {
      out += "null";
    }
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
