// The report's request as the command line sends it to the renderer: it reads back whole, and
// what is not a report request is refused with the reason.
#include "picture/request.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pitch::picture
