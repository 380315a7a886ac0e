#include "picture/request.h"

#include <array>
#include <optional>

#include "core/errors.h"
#include "core/model.h"
#include "picture/fields.h"

namespace pitch::picture {

namespace {

[[noreturn]] void Refuse(const std::string& what) {
  throw EPlotError("the renderer cannot draw this request: " + what);
}

// Lines in one text field, each ended by '\n' (LinesOf takes them apart).
std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + '\n';
  }
  return text;
}

void PutContent(FieldWriter& w, const ResponsePicture& p) {
  w.Text("kind", "response");
  w.Numbers("t", p.t);
  w.Numbers("h", p.h);
}

void PutContent(FieldWriter& w, const BodePicture& p) {
  const analysis::BodeData& d = p.data;
  w.Text("kind", "bode");
  w.Numbers("range", std::vector<double>{d.range.low, d.range.high});
  w.Numbers("frequency", d.frequency);
  w.Numbers("magnitude_db", d.magnitude_db);
  w.Numbers("phase_degrees", d.phase_degrees);
  w.Number("phase_shift_degrees", d.phase_shift_degrees);
  std::vector<double> gain;
  for (const analysis::GainMargin& g : d.margins.gain) {
    gain.insert(gain.end(), {g.frequency, g.factor, g.decibels, g.phase_degrees});
  }
  w.Numbers("gain_margins", gain);
  std::vector<double> phase;
  for (const analysis::PhaseMargin& m : d.margins.phase) {
    phase.insert(phase.end(), {m.frequency, m.degrees, m.delay, m.phase_degrees});
  }
  w.Numbers("phase_margins", phase);
  w.Numbers("delay_margin",
            d.margins.delay ? std::vector<double>{*d.margins.delay} : std::vector<double>{});
  w.Numbers("stability_margin",
            std::vector<double>{d.margins.stability.value, d.margins.stability.frequency});
  w.Integer("closed_loop_stable", d.margins.closed_loop_stable ? 1 : 0);
}

void PutContent(FieldWriter& w, const MapPicture& p) {
  w.Text("kind", "map");
  w.Text("x_name", p.x_name);
  w.Text("y_name", p.y_name);
  w.Numbers("x_values", p.x_values);
  w.Numbers("y_values", p.y_values);
  w.Numbers("values", p.values);
  w.Text("marks", std::string_view(reinterpret_cast<const char*>(p.marks.data()), p.marks.size()));
  w.Text("value_name", p.value_name);
}

void PutContent(FieldWriter& w, const ReportPicture& p) {
  w.Text("kind", "report");
  for (std::size_t k = 0; k < p.texts.size(); ++k) {
    w.Text("text" + std::to_string(k + 1), p.texts[k]);
  }
  w.Integer("ratios_known", p.ratios_known ? 1 : 0);
  w.Numbers("values", p.values);
  w.Numbers("teta", p.teta);
  w.Text("error", p.error);
  w.Text("version", p.version);
  if (!p.robust_lines.empty()) {
    w.Text("robust_lines", Joined(p.robust_lines));
  }
  if (p.robust_map) {
    // The region map travels as a request of its own inside this one.
    Request map;
    map.content = *p.robust_map;
    map.format = PictureFormat::kSvg;
    w.Text("robust_map", EncodeRequest(map));
  }
}

void PutContent(FieldWriter& w, const RobustMapPicture& p) {
  w.Text("kind", "robust-map");
  w.Text("x_name", p.x_name);
  w.Text("y_name", p.y_name);
  w.Numbers("x_edges", p.x_edges);
  w.Numbers("y_edges", p.y_edges);
  w.Text("cells", std::string_view(reinterpret_cast<const char*>(p.cells.data()), p.cells.size()));
  w.Numbers("points", p.points);
  w.Text("point_names", Joined(p.point_names));
}

// The lines of a text field, each ended by '\n'.
std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

RobustMapPicture TakeRobustMap(const FieldReader& r) {
  RobustMapPicture p;
  p.x_name = r.Text("x_name");
  p.y_name = r.Text("y_name");
  p.x_edges = r.Numbers("x_edges");
  p.y_edges = r.Numbers("y_edges");
  const std::string& cells = r.Text("cells");
  p.cells.assign(cells.begin(), cells.end());
  p.points = r.Numbers("points");
  p.point_names = LinesOf(r.Text("point_names"));
  if (p.x_edges.size() < 2 || p.y_edges.size() < 2 ||
      p.cells.size() != (p.x_edges.size() - 1) * (p.y_edges.size() - 1) ||
      p.points.size() != 2 * p.point_names.size()) {
    Refuse("the region map's cells, edges and points do not fit together");
  }
  return p;
}

ReportPicture TakeReport(const FieldReader& r) {
  ReportPicture p;
  for (std::size_t k = 0; k < p.texts.size(); ++k) {
    p.texts[k] = r.Text("text" + std::to_string(k + 1));
  }
  p.ratios_known = r.Integer("ratios_known") != 0;
  p.values = r.Numbers("values");
  if (p.values.size() != 9) {
    Refuse("the report's values are not the five coefficients and four ratios");
  }
  p.teta = r.Numbers("teta");
  if (!p.teta.empty() && p.teta.size() != static_cast<std::size_t>(kSampleCount)) {
    Refuse("the report's response has " + std::to_string(p.teta.size()) + " samples");
  }
  p.error = r.Text("error");
  p.version = r.Text("version");
  if (r.Has("robust_lines")) {
    p.robust_lines = LinesOf(r.Text("robust_lines"));
  }
  if (r.Has("robust_map")) {
    Request map = DecodeRequest(r.Text("robust_map"));
    if (!std::holds_alternative<RobustMapPicture>(map.content)) {
      Refuse("the report's region map is no region map");
    }
    p.robust_map = std::get<RobustMapPicture>(std::move(map.content));
  }
  return p;
}

// Groups of four numbers, or a refusal naming the field.
std::vector<std::array<double, 4>> Quads(const FieldReader& r, std::string_view name) {
  const std::vector<double> flat = r.Numbers(name);
  if (flat.size() % 4 != 0) {
    Refuse("the field " + std::string(name) + " does not hold groups of four");
  }
  std::vector<std::array<double, 4>> quads(flat.size() / 4);
  for (std::size_t i = 0; i < quads.size(); ++i) {
    quads[i] = {flat[4 * i], flat[4 * i + 1], flat[4 * i + 2], flat[4 * i + 3]};
  }
  return quads;
}

std::vector<double> Pair(const FieldReader& r, std::string_view name) {
  std::vector<double> pair = r.Numbers(name);
  if (pair.size() != 2) {
    Refuse("the field " + std::string(name) + " is not a pair");
  }
  return pair;
}

BodePicture TakeBode(const FieldReader& r) {
  BodePicture p;
  analysis::BodeData& d = p.data;
  const std::vector<double> range = Pair(r, "range");
  d.range = {range[0], range[1]};
  d.frequency = r.Numbers("frequency");
  d.magnitude_db = r.Numbers("magnitude_db");
  d.phase_degrees = r.Numbers("phase_degrees");
  if (d.magnitude_db.size() != d.frequency.size() || d.phase_degrees.size() != d.frequency.size()) {
    Refuse("the frequency response's lists differ in length");
  }
  d.phase_shift_degrees = r.Number("phase_shift_degrees");
  for (const auto& q : Quads(r, "gain_margins")) {
    d.margins.gain.push_back({q[0], q[1], q[2], q[3]});
  }
  for (const auto& q : Quads(r, "phase_margins")) {
    d.margins.phase.push_back({q[0], q[1], q[2], q[3]});
  }
  const std::vector<double> delay = r.Numbers("delay_margin");
  if (delay.size() > 1) {
    Refuse("the field delay_margin holds more than one number");
  }
  if (!delay.empty()) {
    d.margins.delay = delay[0];
  }
  const std::vector<double> stability = Pair(r, "stability_margin");
  d.margins.stability = {stability[0], stability[1]};
  d.margins.closed_loop_stable = r.Integer("closed_loop_stable") != 0;
  return p;
}

MapPicture TakeMap(const FieldReader& r) {
  MapPicture p;
  p.x_name = r.Text("x_name");
  p.y_name = r.Text("y_name");
  p.x_values = r.Numbers("x_values");
  p.y_values = r.Numbers("y_values");
  p.values = r.Numbers("values");
  const std::string& marks = r.Text("marks");
  p.marks.assign(marks.begin(), marks.end());
  p.value_name = r.Text("value_name");
  return p;
}

}  // namespace

std::string SubjectOf(const Request& request) {
  struct Name {
    std::string operator()(const ResponsePicture&) const { return "The chart"; }
    std::string operator()(const BodePicture&) const { return "The Bode diagram"; }
    std::string operator()(const MapPicture&) const { return "The map"; }
    std::string operator()(const ReportPicture&) const { return "The report"; }
    std::string operator()(const RobustMapPicture&) const { return "The region map"; }
  };
  return std::visit(Name{}, request.content);
}

std::string EncodeRequest(const Request& request) {
  FieldWriter w;
  std::visit([&](const auto& content) { PutContent(w, content); }, request.content);
  w.Text("format", PictureFormatName(request.format));
  w.Integer("width", request.width);
  w.Integer("height", request.height);
  w.Text("separator", std::string(1, request.separator));
  return w.bytes();
}

Request DecodeRequest(std::string_view message) {
  const FieldReader r(message);
  Request request;
  const std::string& kind = r.Text("kind");
  if (kind == "response") {
    ResponsePicture p{r.Numbers("t"), r.Numbers("h")};
    if (p.t.size() != p.h.size()) {
      Refuse("the response's times and values differ in number");
    }
    request.content = std::move(p);
  } else if (kind == "bode") {
    request.content = TakeBode(r);
  } else if (kind == "map") {
    request.content = TakeMap(r);
  } else if (kind == "report") {
    request.content = TakeReport(r);
  } else if (kind == "robust-map") {
    request.content = TakeRobustMap(r);
  } else {
    Refuse("no picture of the kind \"" + kind + "\"");
  }
  const std::string& format = r.Text("format");
  // A report is a PDF page, and only a report is.
  const bool report = std::holds_alternative<ReportPicture>(request.content);
  const std::optional<PictureFormat> known =
      report ? (format == "pdf" ? std::optional(PictureFormat::kPdf) : std::nullopt)
             : PictureFormatOfPath("." + format);
  if (!known || format != PictureFormatName(*known)) {
    Refuse("no picture in the format \"" + format + "\"");
  }
  request.format = *known;
  const std::int64_t width = r.Integer("width");
  const std::int64_t height = r.Integer("height");
  if (width < 0 || height < 0 || width > 100000 || height > 100000) {
    Refuse("a picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  }
  request.width = static_cast<int>(width);
  request.height = static_cast<int>(height);
  const std::string& separator = r.Text("separator");
  if (separator.size() != 1) {
    Refuse("the decimal separator \"" + separator + "\"");
  }
  request.separator = separator[0];
  return request;
}

std::string EncodeReply(const Reply& reply) {
  FieldWriter w;
  if (reply.error_kind.empty()) {
    w.Text("picture", reply.picture);
  } else {
    w.Text("error_kind", reply.error_kind);
    w.Text("error", reply.error);
  }
  return w.bytes();
}

Reply DecodeReply(std::string_view message) {
  const FieldReader r(message);
  Reply reply;
  if (r.Has("picture")) {
    reply.picture = r.Text("picture");
  } else {
    reply.error_kind = r.Text("error_kind");
    reply.error = r.Text("error");
  }
  return reply;
}

std::optional<std::size_t> CompleteReplyLength(std::string_view received) {
  if (received.substr(0, kProtocol.size()) != kProtocol) {
    return std::nullopt;
  }
  std::size_t at = kProtocol.size();
  bool picture = false;
  bool error_kind = false;
  bool error = false;
  while (!(picture || (error_kind && error))) {
    // A field's name is short: the search for its end looks no further (a damaged answer read
    // piece by piece is not searched from its start again each time).
    constexpr std::size_t kLongestName = 64;
    const std::size_t end = received.substr(0, at + kLongestName + 1).find('\0', at);
    if (end == std::string_view::npos || received.size() - end - 1 < 8) {
      return std::nullopt;
    }
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      length |= std::uint64_t{static_cast<unsigned char>(received[end + 1 + i])} << (8 * i);
    }
    const std::size_t start = end + 9;
    if (length > received.size() - start) {
      return std::nullopt;
    }
    const std::string_view name = received.substr(at, end - at);
    picture = picture || name == "picture";
    error_kind = error_kind || name == "error_kind";
    error = error || name == "error";
    at = start + static_cast<std::size_t>(length);
  }
  return at;
}

}  // namespace pitch::picture
