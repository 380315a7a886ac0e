#include "app/picture_drawing.h"

#include <QList>
#include <QPointF>
#include <QSize>
#include <optional>
#include <variant>

#include "analysis/report_data.h"
#include "core/controller.h"
#include "ui/bode_export.h"
#include "ui/heat_map.h"
#include "ui/plot_export.h"
#include "ui/region_map.h"
#include "ui/report_pdf.h"

namespace pitch {

namespace {

RegionMapData RegionMapDataOf(const picture::RobustMapPicture& p) {
  RegionMapData data;
  data.x_name = QString::fromStdString(p.x_name);
  data.y_name = QString::fromStdString(p.y_name);
  data.x_edges = p.x_edges;
  data.y_edges = p.y_edges;
  data.cells = p.cells;
  for (std::size_t i = 0; i < p.point_names.size(); ++i) {
    data.points.push_back(
        {p.points[2 * i], p.points[2 * i + 1], QString::fromStdString(p.point_names[i])});
  }
  return data;
}

struct Draw {
  const picture::Request& request;

  QSize Size(QSize own) const {
    return request.width > 0 && request.height > 0 ? QSize(request.width, request.height) : own;
  }

  std::string operator()(const picture::ResponsePicture& p) const {
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(p.t.size()));
    for (std::size_t i = 0; i < p.t.size(); ++i) {
      points.append(QPointF(p.t[i], p.h[i]));
    }
    return RenderResponsePlot(points, Size(QSize(768, 379)), request.separator, request.format);
  }

  std::string operator()(const picture::BodePicture& p) const {
    return RenderBodePlot(p.data, Size(QSize(kBodeWidth, kBodeHeight)), request.separator,
                          request.format);
  }

  std::string operator()(const picture::MapPicture& p) const {
    static_assert(kHeatFailed == 1 && kHeatDiverging == 2);
    HeatMapData data;
    data.x_name = QString::fromStdString(p.x_name);
    data.y_name = QString::fromStdString(p.y_name);
    data.x_values = p.x_values;
    data.y_values = p.y_values;
    data.values = p.values;
    data.marks = p.marks;
    data.value_name = QString::fromStdString(p.value_name);
    return RenderHeatMap(data, request.format, Size(kHeatMapSize));
  }

  std::string operator()(const picture::RobustMapPicture& p) const {
    return RenderRegionMap(RegionMapDataOf(p), request.format, request.separator,
                           Size(kRegionMapSize));
  }

  std::string operator()(const picture::ReportPicture& p) const {
    // The controller as the calculation left it; the report's numbers are made from it here.
    TController c;
    Real* const fields[9] = {&c.c1, &c.c2, &c.c3, &c.c4, &c.c5, &c.muv, &c.iv, &c.nuv, &c.Tnu};
    for (std::size_t k = 0; k < 9 && k < p.values.size(); ++k) {
      *fields[k] = p.values[k];
    }
    for (std::size_t i = 0; i < p.teta.size(); ++i) {
      c.teta[static_cast<int>(i) + 1] = p.teta[i];
    }
    const ReportData data =
        MakeReportData(ReportSource{p.texts, request.separator, p.ratios_known ? &c : nullptr,
                                    !p.teta.empty(), p.error, p.version});
    std::optional<ReportRobustSection> robust;
    if (!p.robust_lines.empty()) {
      robust.emplace();
      for (const std::string& line : p.robust_lines) {
        robust->lines << QString::fromStdString(line);
      }
      if (p.robust_map) {
        robust->map = RegionMapDataOf(*p.robust_map);
      }
    }
    const QByteArray pdf = RenderReportPdf(data, robust ? &*robust : nullptr);
    return std::string(pdf.constData(), static_cast<std::size_t>(pdf.size()));
  }
};

}  // namespace

std::string DrawPicture(const picture::Request& request) {
  return std::visit(Draw{request}, request.content);
}

}  // namespace pitch
