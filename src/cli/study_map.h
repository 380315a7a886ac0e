// A study's map drawn by the heat map of the picture code. Needs a QGuiApplication.
#pragma once

#include <string>

#include "study/study.h"

namespace pitch::cli {

std::string RenderStudyMap(const study::MapRequest& request);

}  // namespace pitch::cli
