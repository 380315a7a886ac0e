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

std::vector<std::string> CsvRecord::Fields() const {
  std::vector<std::string> fields;
  for (std::size_t i = 0; i < size(); ++i) {
    fields.emplace_back(Field(i));
  }
  return fields;
}

// Up to the next comma, line end or the end of the text, a buffer's run at a time, appended to
// text; the CR of a CR LF is no part of the field that starts at start.
void CsvReader::ReadUnquoted(std::string& text, std::size_t start) {
  while (begin_ < end_ || Fill()) {
    const char* const first = buffer_.data() + begin_;
    const char* const last = buffer_.data() + end_;
    const char* stop = first;
    while (stop < last && *stop != ',' && *stop != '\n') {
      ++stop;
    }
    text.append(first, stop);
    begin_ += static_cast<std::size_t>(stop - first);
    if (stop < last) {
      break;
    }
  }
  if (Peek() == '\n' && text.size() > start && text.back() == '\r') {
    text.pop_back();
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
  record.text.clear();
  record.spans.clear();
  std::string& text = record.text;
  const auto end_field = [&](std::size_t start) {
    record.spans.emplace_back(start, text.size() - start);
  };

  for (;;) {
    const std::size_t start = text.size();
    int c = Peek();
    if (c == '"') {
      Get();
      bool closed = false;
      while ((c = Get()) != kEnd) {
        if (c == '"') {
          if (Peek() == '"') {
            Get();
            text.push_back('"');
          } else {
            closed = true;
            break;
          }
        } else {
          if (c == '\n') {
            ++line_;
          }
          text.push_back(static_cast<char>(c));
        }
      }
      if (!closed) {
        record.error = "a quoted field is not closed";
        end_field(start);
        return true;
      }
      c = Peek();
      if (c != ',' && c != '\n' && c != '\r' && c != kEnd) {
        if (record.error.empty()) {
          record.error = "text after the closing quote of a field";
        }
        // The rest of the field is kept, so that the record still has its fields.
        ReadUnquoted(text, start);
      }
    } else {
      ReadUnquoted(text, start);
    }
    end_field(start);
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
