// What the renderer is asked to draw, and what it answers, as messages on its pipes.
//
// A request names its kind ("response", "bode", "map"), the file format ("png", "svg"), the size
// in pixels (0 x 0: the kind's own size) and the numbers' decimal separator, then the kind's own
// fields. Another kind of picture (a report page, say) is another kind with its fields and
// formats; a renderer that does not know a kind or format answers with an error naming it.
// The answer holds either the picture's bytes or the error that stopped it.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "analysis/frequency_response.h"
#include "storage/picture_format.h"

namespace pitch::picture {

// The step response: samples h at times t.
struct ResponsePicture {
  std::vector<double> t;
  std::vector<double> h;
};

// The open loop's Bode diagram.
struct BodePicture {
  analysis::BodeData data;
};

// A study's heat map over two swept coefficients.
struct MapPicture {
  std::string x_name;
  std::string y_name;
  std::vector<double> x_values;
  std::vector<double> y_values;
  std::vector<double> values;  // cell (ix, iy) at ix·y_values.size() + iy; NaN: no value
  std::vector<unsigned char> marks;
  std::string value_name;
};

// The certified stability region over two coefficients of a robust study: each cell proven
// stable (1), holding a confirmed unstable set (2), proven unstable everywhere (3) or undecided
// (0); and marked sets (the nominal set, the worst set) with their names.
struct RobustMapPicture {
  std::string x_name;
  std::string y_name;
  std::vector<double> x_edges;  // the cells' edges along x, lo … hi
  std::vector<double> y_edges;
  std::vector<unsigned char> cells;  // cell (ix, iy) at ix·(y_edges.size() − 1) + iy
  std::vector<double> points;        // x, y of each marked set
  std::vector<std::string> point_names;
};

// The one-page report (PDF): what the calculation reached, from which the renderer makes the
// report's numbers with the same analysis code (MakeReportData).
struct ReportPicture {
  std::array<std::string, 5> texts;  // the coefficient texts as read
  bool ratios_known = false;
  std::vector<double> values;  // c1 … c5, muv, iv, nuv, Tnu as the controller holds them
  std::vector<double> teta;    // the samples when the simulation completed; else none
  std::string error;           // the message of the error that stopped the calculation
  std::string version;
  // With --robust: the flight envelope's section on a page of its own, its lines in Russian and
  // the certified region over two coefficients when there is one. None: a one-page report.
  std::vector<std::string> robust_lines;
  std::optional<RobustMapPicture> robust_map;
};

struct Request {
  std::variant<ResponsePicture, BodePicture, MapPicture, ReportPicture, RobustMapPicture> content;
  PictureFormat format = PictureFormat::kPng;
  int width = 0;  // 0 x 0: the kind's own size
  int height = 0;
  char separator = '.';
};

// How errors name the picture: "The chart", "The Bode diagram", "The map", "The report",
// "The region map".
std::string SubjectOf(const Request& request);

std::string EncodeRequest(const Request& request);
// Raises EPlotError for a message that is not a request this program can draw.
Request DecodeRequest(std::string_view message);

// The renderer's answer: the picture's bytes, or the error's class name and message.
struct Reply {
  std::string picture;
  std::string error_kind;  // empty when the picture came
  std::string error;
};

std::string EncodeReply(const Reply& reply);
// Raises EPlotError for a message that is no reply.
Reply DecodeReply(std::string_view message);

// The length of the reply at the start of the bytes received so far, once every field a reply
// needs (the picture, or the error's kind and message) has arrived whole as its length states;
// nothing before then, or when the bytes do not start like a reply. The answer is complete at
// that length, whoever else holds the pipe open.
std::optional<std::size_t> CompleteReplyLength(std::string_view received);

}  // namespace pitch::picture
