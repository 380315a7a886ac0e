// The picture formats the programs write, told by a file name's extension.
#pragma once

#include <optional>
#include <string_view>

namespace pitch {

// PDF is the report's format only: no picture option takes a .pdf name.
enum class PictureFormat { kPng, kSvg, kPdf };

// The format a file name asks for: ".png" or ".svg" in any case; none for another extension or
// none at all.
std::optional<PictureFormat> PictureFormatOfPath(std::string_view path);

// "png", "svg" or "pdf".
const char* PictureFormatName(PictureFormat format);

// The usage message for a picture file name of another kind.
inline constexpr const char* kPictureFormats = "writes .png or .svg files";

}  // namespace pitch
