#include "picture/fields.h"

#include <cstring>

#include "core/errors.h"

namespace pitch::picture {

namespace {

[[noreturn]] void Damaged(std::string_view what) {
  throw EPlotError("the renderer's message is damaged: " + std::string(what));
}

void AppendLength(std::string& bytes, std::uint64_t length) {
  for (int i = 0; i < 8; ++i) {
    bytes.push_back(static_cast<char>((length >> (8 * i)) & 0xFFu));
  }
}

}  // namespace

FieldWriter::FieldWriter() : bytes_(kProtocol) {}

void FieldWriter::Text(std::string_view name, std::string_view value) {
  bytes_.append(name);
  bytes_.push_back('\0');
  AppendLength(bytes_, value.size());
  bytes_.append(value);
}

void FieldWriter::Integer(std::string_view name, std::int64_t value) {
  Text(name, std::to_string(value));
}

void FieldWriter::Numbers(std::string_view name, std::span<const double> values) {
  static_assert(sizeof(double) == 8);
  Text(name, std::string_view(reinterpret_cast<const char*>(values.data()), values.size_bytes()));
}

FieldReader::FieldReader(std::string_view message) {
  if (message.substr(0, kProtocol.size()) != kProtocol) {
    Damaged("it does not start with \"" + std::string(kProtocol.substr(0, kProtocol.size() - 1)) +
            "\"");
  }
  message.remove_prefix(kProtocol.size());
  while (!message.empty()) {
    const std::size_t end = message.find('\0');
    if (end == std::string_view::npos || message.size() - end - 1 < 8) {
      Damaged("a field is cut short");
    }
    std::string name(message.substr(0, end));
    message.remove_prefix(end + 1);
    std::uint64_t length = 0;
    for (int i = 0; i < 8; ++i) {
      length |= std::uint64_t{static_cast<unsigned char>(message[i])} << (8 * i);
    }
    message.remove_prefix(8);
    if (length > message.size()) {
      Damaged("the field " + name + " is cut short");
    }
    fields_[std::move(name)] = std::string(message.substr(0, length));
    message.remove_prefix(length);
  }
}

bool FieldReader::Has(std::string_view name) const { return fields_.find(name) != fields_.end(); }

const std::string& FieldReader::Text(std::string_view name) const {
  const auto found = fields_.find(name);
  if (found == fields_.end()) {
    Damaged("no field " + std::string(name));
  }
  return found->second;
}

std::int64_t FieldReader::Integer(std::string_view name) const {
  const std::string& text = Text(name);
  std::size_t used = 0;
  long long value = 0;
  try {
    value = std::stoll(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size()) {
    Damaged("the field " + std::string(name) + " is no integer");
  }
  return value;
}

std::vector<double> FieldReader::Numbers(std::string_view name) const {
  const std::string& bytes = Text(name);
  if (bytes.size() % sizeof(double) != 0) {
    Damaged("the field " + std::string(name) + " is no list of numbers");
  }
  std::vector<double> values(bytes.size() / sizeof(double));
  if (!values.empty()) {
    std::memcpy(values.data(), bytes.data(), bytes.size());
  }
  return values;
}

double FieldReader::Number(std::string_view name) const {
  const std::vector<double> values = Numbers(name);
  if (values.size() != 1) {
    Damaged("the field " + std::string(name) + " is no number");
  }
  return values[0];
}

}  // namespace pitch::picture
