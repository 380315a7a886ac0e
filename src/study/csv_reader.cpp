#include "study/csv_reader.h"

namespace pitch::study {

namespace {
constexpr int kEnd = -1;
}  // namespace

bool CsvReader::Fill() {
  if (at_end_) {
    return false;
  }
  in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  const std::streamsize n = in_.gcount();
  if (in_.bad()) {
    read_failed_ = true;
  }
  if (n <= 0) {
    at_end_ = true;
    return false;
  }
  begin_ = 0;
  end_ = static_cast<std::size_t>(n);
  return true;
}

int CsvReader::Get() {
  if (begin_ == end_ && !Fill()) {
    return kEnd;
  }
  return static_cast<unsigned char>(buffer_[begin_++]);
}

int CsvReader::Peek() {
  if (begin_ == end_ && !Fill()) {
    return kEnd;
  }
  return static_cast<unsigned char>(buffer_[begin_]);
}

// Up to the next comma, line end or the end of the text; the CR of a CR LF is no part of it.
void CsvReader::ReadUnquoted(std::string& field) {
  int c;
  while ((c = Peek()) != ',' && c != '\n' && c != kEnd) {
    field.push_back(static_cast<char>(Get()));
  }
  if (c == '\n' && !field.empty() && field.back() == '\r') {
    field.pop_back();
  }
}

bool CsvReader::Next(CsvRecord& record) {
  if (!started_) {
    started_ = true;
    // A UTF-8 byte-order mark, as spreadsheet programs write one.
    if (Peek() == 0xEF) {
      Get();
      if (Peek() == 0xBB) {
        Get();
        if (Peek() == 0xBF) {
          Get();
        }
      }
    }
  }
  // Blank lines are no records.
  for (;;) {
    const int c = Peek();
    if (c == kEnd) {
      return false;
    }
    if (c == '\n') {
      Get();
      ++line_;
    } else if (c == '\r') {
      Get();
      if (Peek() == '\n') {
        Get();
        ++line_;
      } else {
        break;  // a lone CR is a character of the first field
      }
    } else {
      break;
    }
  }

  record.line = line_;
  record.error.clear();
  std::size_t count = 0;
  auto next_field = [&]() -> std::string& {
    if (count == record.fields.size()) {
      record.fields.emplace_back();
    }
    std::string& field = record.fields[count++];
    field.clear();
    return field;
  };

  for (;;) {
    std::string& field = next_field();
    int c = Peek();
    if (c == '"') {
      Get();
      bool closed = false;
      while ((c = Get()) != kEnd) {
        if (c == '"') {
          if (Peek() == '"') {
            Get();
            field.push_back('"');
          } else {
            closed = true;
            break;
          }
        } else {
          if (c == '\n') {
            ++line_;
          }
          field.push_back(static_cast<char>(c));
        }
      }
      if (!closed) {
        record.error = "the quoted field that starts here is not closed";
        record.fields.resize(count);
        return true;
      }
      c = Peek();
      if (c != ',' && c != '\n' && c != '\r' && c != kEnd) {
        if (record.error.empty()) {
          record.error = "text after the closing quote of a field";
        }
        // The rest of the field is kept, so that the record still has its fields.
        ReadUnquoted(field);
      }
    } else {
      ReadUnquoted(field);
    }
    c = Get();
    if (c == ',') {
      continue;
    }
    if (c == '\r' && Peek() == '\n') {
      c = Get();
    }
    if (c == '\n' || c == '\r') {
      ++line_;
    }
    break;
  }
  record.fields.resize(count);
  return true;
}

void AppendCsvField(std::string& out, const std::string& field) {
  const bool quote = field.find_first_of(",\"\r\n") != std::string::npos ||
                     (!field.empty() && (field.front() == ' ' || field.back() == ' '));
  if (!quote) {
    out += field;
    return;
  }
  out += '"';
  for (const char c : field) {
    if (c == '"') {
      out += '"';
    }
    out += c;
  }
  out += '"';
}

}  // namespace pitch::study
