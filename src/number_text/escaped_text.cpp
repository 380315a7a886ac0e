#include "number_text/escaped_text.h"

namespace pitch {

std::string EscapedText(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0xF];
    } else if (byte == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      const auto c1 = static_cast<unsigned char>(text[++i]);
      shown += "\\u00";
      shown += kHex[c1 >> 4];
      shown += kHex[c1 & 0xF];
    } else {
      shown += static_cast<char>(byte);
    }
  }
  return shown;
}

}  // namespace pitch
