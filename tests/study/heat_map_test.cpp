// The heat map drawn off screen: a PNG that decodes, an SVG that parses, the marks where the
// cells are, and refusals of data that do not fit.
#include "ui/heat_map.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QXmlStreamReader>
#include <cmath>
#include <limits>

#include "cli/renderer_process.h"
#include "study_test_support.h"

namespace pitch {
namespace {

// A 4 × 3 grid: one failed cell, one diverging cell, one without a value.
HeatMapData Grid() {
  HeatMapData d;
  d.x_name = "c1";
  d.y_name = "c3";
  d.x_values = {0.5, 1, 1.5, 2};
  d.y_values = {-5, 0, 5};
  d.value_name = "overshoot, %";
  for (std::size_t i = 0; i < 12; ++i) {
    d.values.push_back(static_cast<double>(i));
    d.marks.push_back(0);
  }
  d.marks[0] = kHeatFailed;  // (0.5, −5): bottom left
  d.values[0] = std::numeric_limits<double>::quiet_NaN();
  d.marks[11] = kHeatDiverging;  // (2, 5): top right
  d.values[5] = std::numeric_limits<double>::quiet_NaN();
  return d;
}

TEST(HeatMap, PngDecodesWithTheMarksInTheirCells) {
  const std::string bytes = RenderHeatMap(Grid(), PlotFormat::kPng);
  QImage image;
  ASSERT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                                 static_cast<int>(bytes.size()), "PNG"));
  EXPECT_EQ(image.size(), kHeatMapSize);
  // The plot area starts at (96, 52) and is 584 × 516 pixels: cells of 146 × 172.
  EXPECT_EQ(image.pixelColor(96 + 40, 52 + 516 - 40), QColor(0x4a, 0x4a, 0x4a));  // failed
  int black = 0;
  int other = 0;
  for (int y = 52 + 20; y < 52 + 60; ++y) {
    for (int x = 96 + 3 * 146 + 20; x < 96 + 3 * 146 + 60; ++x) {
      (image.pixelColor(x, y) == QColor(Qt::black) ? black : other) += 1;
    }
  }
  EXPECT_GT(black, 100);  // the hatching of the diverging cell
  EXPECT_GT(other, 1000);
  // Neighbouring cells of different values differ in colour.
  EXPECT_NE(image.pixelColor(96 + 146 + 70, 52 + 516 - 80),
            image.pixelColor(96 + 2 * 146 + 70, 52 + 516 - 80));
}

TEST(HeatMap, SvgIsWellFormed) {
  const std::string bytes = RenderHeatMap(Grid(), PlotFormat::kSvg);
  QXmlStreamReader xml(QByteArray::fromStdString(bytes));
  bool svg_root = false;
  while (!xml.atEnd()) {
    if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("svg")) {
      svg_root = true;
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_TRUE(svg_root);
  EXPECT_NE(bytes.find("synthesis failed"), std::string::npos);
  EXPECT_NE(bytes.find("Euler iteration diverges"), std::string::npos);
}

TEST(HeatMap, RefusesDataThatDoNotFitAndPicturesTooSmall) {
  HeatMapData d = Grid();
  d.values.pop_back();
  EXPECT_THROW(RenderHeatMap(d, PlotFormat::kPng), EPlotError);
  EXPECT_THROW(RenderHeatMap(HeatMapData{}, PlotFormat::kSvg), EPlotError);
  EXPECT_THROW(RenderHeatMap(Grid(), PlotFormat::kPng, QSize(300, 100)), EPlotError);
}

// A single column and a constant value still give axes and a scale.
TEST(HeatMap, DegenerateGridsDraw) {
  HeatMapData d;
  d.x_name = "c2";
  d.y_name = "c4";
  d.x_values = {0.3};
  d.y_values = {1, 1};
  d.values = {2, 2};
  d.marks = {0, 0};
  d.value_name = "peak of h";
  EXPECT_FALSE(RenderHeatMap(d, PlotFormat::kPng).empty());
}

// The whole road: a sweep's study writes the map through the front end's renderer program.
TEST(HeatMap, StudyWritesThePicture) {
  study::testing::TempFolder folder;
  study::StudyOptions o;
  o.sweeps = {"c2=0.1:0.6:30", "c1=0.5:60:30"};
  o.map = folder / "map.svg";
  o.map_value = "spectral-radius";
  const auto result =
      study::testing::Study(o, "", cli::ChildMapRenderer({PITCH_RENDERER_PROGRAM, 60}));
  ASSERT_EQ(result.code, 0) << result.err;
  const std::string svg = study::testing::ReadFile(*o.map);
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("c2 × c1: spectral radius of I + A·dt"), std::string::npos);
}

}  // namespace
}  // namespace pitch

int main(int argc, char** argv) {
  // Headless also when the test list is read (ctest's discovery runs the program bare).
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
