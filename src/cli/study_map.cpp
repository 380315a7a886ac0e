#include "cli/study_map.h"

#include "ui/heat_map.h"

namespace pitch::cli {

std::string RenderStudyMap(const study::MapRequest& request) {
  static_assert(study::kMarkFailed == kHeatFailed && study::kMarkDiverging == kHeatDiverging);
  HeatMapData data;
  data.x_name = QString::fromStdString(request.x_name);
  data.y_name = QString::fromStdString(request.y_name);
  data.x_values = request.x_values;
  data.y_values = request.y_values;
  data.values = request.values;
  data.marks = request.marks;
  data.value_name = QString::fromStdString(request.value_name);
  return RenderHeatMap(data, request.svg ? PlotFormat::kSvg : PlotFormat::kPng);
}

}  // namespace pitch::cli
