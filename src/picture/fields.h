// The renderer's messages: a header line naming the protocol, then named fields, each its name,
// a zero byte, its length as 8 bytes (little-endian) and its bytes. Numbers travel as the 8 bytes
// of their double in the machine's order (both ends run on one machine), so a picture gets
// exactly the values the calculation had.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pitch::picture {

// The first line of every message; a renderer of another protocol refuses the request.
inline constexpr std::string_view kProtocol = "pitch-autopilot picture 1\n";

class FieldWriter {
 public:
  FieldWriter();
  void Text(std::string_view name, std::string_view value);
  void Integer(std::string_view name, std::int64_t value);
  void Numbers(std::string_view name, std::span<const double> values);
  void Number(std::string_view name, double value) { Numbers(name, {&value, 1}); }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// Reads a message; raises EPlotError naming what is wrong with one that does not read (another
// protocol, cut short, a field missing or of the wrong size).
class FieldReader {
 public:
  explicit FieldReader(std::string_view message);
  bool Has(std::string_view name) const;
  const std::string& Text(std::string_view name) const;
  std::int64_t Integer(std::string_view name) const;
  std::vector<double> Numbers(std::string_view name) const;
  double Number(std::string_view name) const;

 private:
  std::map<std::string, std::string, std::less<>> fields_;
};

}  // namespace pitch::picture
