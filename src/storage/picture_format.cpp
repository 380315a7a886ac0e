#include "storage/picture_format.h"

#include <cctype>

namespace pitch {

namespace {

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) {
    return false;
  }
  text.remove_prefix(text.size() - tail.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != tail[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<PictureFormat> PictureFormatOfPath(std::string_view path) {
  if (EndsWithNoCase(path, ".png")) {
    return PictureFormat::kPng;
  }
  if (EndsWithNoCase(path, ".svg")) {
    return PictureFormat::kSvg;
  }
  return std::nullopt;
}

const char* PictureFormatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::kSvg:
      return "svg";
    case PictureFormat::kPdf:
      return "pdf";
    case PictureFormat::kPng:
      break;
  }
  return "png";
}

}  // namespace pitch
