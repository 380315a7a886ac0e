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

void CsvReader::Start() {
  if (started_) {
    return;
  }
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

char CsvReader::DetectDelimiter() {
  Start();
  Peek();  // the buffer holds the text's start, unless it is empty
  static constexpr char kCandidates[] = {',', ';', '\t'};
  std::array<std::size_t, 3> counts{};
  bool quoted = false;
  bool blank = true;
  for (std::size_t i = begin_; i < end_; ++i) {
    const char c = buffer_[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == '\n') {
      if (!blank) {
        break;
      }
    } else if (c != '\r') {
      blank = false;
      for (std::size_t k = 0; k < counts.size(); ++k) {
        counts[k] += c == kCandidates[k] ? 1 : 0;
      }
    }
  }
  std::size_t best = 0;
  for (std::size_t k = 1; k < counts.size(); ++k) {
    if (counts[k] > counts[best]) {
      best = k;
    }
  }
  delimiter_ = kCandidates[best];
  return delimiter_;
}

// Up to the next delimiter, line end or the end of the text, a buffer's run at a time, appended to
// text; the CR of a CR LF is no part of the field that starts at start.
void CsvReader::ReadUnquoted(std::string& text, std::size_t start) {
  while ((begin_ < end_ || Fill()) && text.size() - start <= kMaxFieldBytes) {
    const char* const first = buffer_.data() + begin_;
    const char* const last = buffer_.data() + end_;
    const char* stop = first;
    while (stop < last && *stop != delimiter_ && *stop != '\n') {
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

// Whether the record being read has passed a limit; if so, says which in limit_error_.
bool CsvReader::PassedLimit(const CsvRecord& record, std::size_t field_start) {
  std::string what;
  if (record.text.size() - field_start > kMaxFieldBytes) {
    what = "a field longer than " + std::to_string(kMaxFieldBytes) + " bytes";
  } else if (record.text.size() > kMaxRecordBytes) {
    what = "a record longer than " + std::to_string(kMaxRecordBytes) + " bytes";
  } else if (record.spans.size() > kMaxFields) {
    what = "more than " + std::to_string(kMaxFields) + " fields";
  } else {
    return false;
  }
  limit_error_ =
      "line " + std::to_string(record.line) + ": " + what + " (the batch is read no further)";
  return true;
}

bool CsvReader::Next(CsvRecord& record) {
  if (!limit_error_.empty()) {
    return false;
  }
  Start();
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
          if (text.size() - start > kMaxFieldBytes) {
            break;
          }
        }
      }
      if (PassedLimit(record, start)) {
        return false;
      }
      if (!closed) {
        record.error = "a quoted field is not closed";
        end_field(start);
        return true;
      }
      // A CR right after the closing quote ends the record only as part of a CR LF; alone it is
      // a character, here as anywhere else, so it is text after the quote.
      c = Peek();
      if (c == '\r') {
        Get();
        if (Peek() == '\n') {
          Get();
          ++line_;
          end_field(start);
          return true;
        }
        text.push_back('\r');
      }
      if (c != delimiter_ && c != '\n' && c != kEnd) {
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
    if (PassedLimit(record, start)) {
      return false;
    }
    c = Get();
    if (c == delimiter_) {
      continue;
    }
    if (c == '\n') {
      ++line_;
    }
    break;
  }
  return true;
}

void AppendCsvField(std::string& out, std::string_view field, char delimiter) {
  const char special[] = {delimiter, '"', '\r', '\n'};
  const bool quote =
      field.find_first_of(std::string_view(special, sizeof special)) != std::string_view::npos ||
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
