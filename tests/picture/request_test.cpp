// The report's request as the command line sends it to the renderer: it reads back whole, and
// what is not a report request is refused with the reason.
#include "picture/request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/errors.h"
#include "picture/fields.h"

namespace pitch::picture {
namespace {

ReportPicture Report() {
  ReportPicture p;
  p.texts = {"0,880", "0,404", "abc", "", "1E-5"};
  p.ratios_known = true;
  p.values = {0.88, 0.404, 7.028, 0.987, 0.251, 0.092, 0.27, 0.024, 11.25};
  p.teta.assign(1000, 0.5);
  p.teta[999] = -0.0;
  p.error = "Floating point overflow.";
  p.version = "pitch-autopilot 1.0";
  return p;
}

TEST(ReportRequest, ReadsBackWhole) {
  Request request;
  request.content = Report();
  request.format = PictureFormat::kPdf;
  request.separator = ',';
  const Request back = DecodeRequest(EncodeRequest(request));
  ASSERT_TRUE(std::holds_alternative<ReportPicture>(back.content));
  const ReportPicture& p = std::get<ReportPicture>(back.content);
  const ReportPicture sent = Report();
  EXPECT_EQ(p.texts, sent.texts);
  EXPECT_EQ(p.ratios_known, true);
  EXPECT_EQ(p.values, sent.values);
  EXPECT_EQ(p.teta, sent.teta);
  EXPECT_TRUE(std::signbit(p.teta[999]));
  EXPECT_EQ(p.error, sent.error);
  EXPECT_EQ(p.version, sent.version);
  EXPECT_EQ(back.format, PictureFormat::kPdf);
  EXPECT_EQ(back.separator, ',');
  EXPECT_EQ(SubjectOf(back), "The report");
  EXPECT_TRUE(p.robust_lines.empty());
  EXPECT_FALSE(p.robust_map);
}

// With --robust the report carries the envelope's lines and its region map, nested whole.
TEST(ReportRequest, ReadsBackTheRobustSection) {
  ReportPicture sent = Report();
  sent.robust_lines = {"box: c1 in [0,7, 1,05]", "", "  stable for every set"};
  RobustMapPicture map;
  map.x_name = "c1";
  map.y_name = "c3";
  map.x_edges = {0, 0.5, 1};
  map.y_edges = {-2, 12};
  map.cells = {1, 3};
  map.points = {0.88, 7.028};
  map.point_names = {"nominal"};
  sent.robust_map = map;
  Request request;
  request.content = sent;
  request.format = PictureFormat::kPdf;
  const ReportPicture p = std::get<ReportPicture>(DecodeRequest(EncodeRequest(request)).content);
  EXPECT_EQ(p.robust_lines, sent.robust_lines);
  ASSERT_TRUE(p.robust_map);
  EXPECT_EQ(p.robust_map->y_name, "c3");
  EXPECT_EQ(p.robust_map->x_edges, map.x_edges);
  EXPECT_EQ(p.robust_map->cells, map.cells);
  EXPECT_EQ(p.robust_map->point_names, map.point_names);

  // A map whose cells do not fit its edges is refused inside the report too.
  sent.robust_map->cells.push_back(0);
  request.content = sent;
  EXPECT_THROW(DecodeRequest(EncodeRequest(request)), EPlotError);
}

TEST(ReportRequest, Refusals) {
  struct Row {
    const char* name;
    std::string message;  // the encoded request
    const char* reason;
  };
  const auto encoded = [](ReportPicture p, PictureFormat format) {
    Request r;
    r.content = std::move(p);
    r.format = format;
    return EncodeRequest(r);
  };
  ReportPicture short_values = Report();
  short_values.values.pop_back();
  ReportPicture cut_response = Report();
  cut_response.teta.resize(999);
  Request chart;
  chart.content = ResponsePicture{{0, 1}, {0, 1}};
  chart.format = PictureFormat::kPdf;
  const Row rows[] = {
      {"report as PNG", encoded(Report(), PictureFormat::kPng), "no picture in the format \"png\""},
      {"chart as PDF", EncodeRequest(chart), "no picture in the format \"pdf\""},
      {"eight values", encoded(short_values, PictureFormat::kPdf),
       "not the five coefficients and four ratios"},
      {"999 samples", encoded(cut_response, PictureFormat::kPdf), "has 999 samples"},
  };
  for (const Row& row : rows) {
    try {
      DecodeRequest(row.message);
      ADD_FAILURE() << row.name << ": read";
    } catch (const EPlotError& e) {
      EXPECT_NE(std::string(e.what()).find(row.reason), std::string::npos)
          << row.name << ": " << e.what();
    }
  }
}

// The answer is complete once the fields a reply needs have arrived at their stated lengths;
// what follows them is no part of it, and a part or another protocol is not complete.
TEST(ReplyLength, CompleteAtTheStatedLength) {
  const std::string picture = EncodeReply({"PNG bytes", "", ""});
  const std::string error = EncodeReply({"", "EPlotError", "The chart cannot be drawn: oops"});
  struct Row {
    const char* name;
    std::string received;
    std::optional<std::size_t> length;
  };
  const Row rows[] = {
      {"picture", picture, picture.size()},
      {"error", error, error.size()},
      {"picture and more", picture + "trailing", picture.size()},
      {"picture one byte short", picture.substr(0, picture.size() - 1), std::nullopt},
      {"error without its message", error.substr(0, error.rfind("error")), std::nullopt},
      {"header only", std::string(kProtocol), std::nullopt},
      {"length cut", picture.substr(0, kProtocol.size() + 12), std::nullopt},
      {"another protocol", "pitch-autopilot picture 2\n" + picture.substr(kProtocol.size()),
       std::nullopt},
      {"a name without end", std::string(kProtocol) + std::string(100, 'x'), std::nullopt},
      {"nothing", "", std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CompleteReplyLength(row.received), row.length) << row.name;
  }
}

}  // namespace
}  // namespace pitch::picture
