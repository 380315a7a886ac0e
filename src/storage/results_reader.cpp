#include "storage/results_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "number_text/escaped_text.h"
#include "number_text/number_settings.h"
#include "number_text/number_text.h"
#include "storage/file_record.h"

namespace pitch {

namespace {

constexpr std::string_view kCoefficientsHeading = "Коэффициенты линейной модели ЛА:";
constexpr std::string_view kRatiosHeading = "Передаточные числа автопилота:";
constexpr std::size_t kLineCount = 11;
constexpr std::size_t kLargestFile = 64 * 1024;

// The code pages a results file may have been written in, as iconv names them, after the one of
// the locale in force. "ASCII" stands for every code page without Cyrillic letters: the writer
// put '?' for each of them.
constexpr const char* kCodePages[] = {"UTF-8", "CP1251", "KOI8-R", "CP866", "ISO-8859-5", "ASCII"};

// The lines after the number lines' names, in file order: line 2 … 6 and 8 … 11.
constexpr const char* kNames[] = {"c1", "c2", "c3", "c4", "c5", "muv", "iv", "nuv", "Tnu"};

[[noreturn]] void Fail(const std::string& name, std::size_t line, const std::string& problem) {
  throw EResultsFileError(
      name + (line > 0 ? ", line " + std::to_string(line) : std::string()) + ": " + problem,
      static_cast<int>(line));
}

// The lines without their ends; a missing end after the last line is allowed.
std::vector<std::string_view> SplitLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    if (end == std::string_view::npos) {
      break;
    }
    bytes.remove_prefix(end + 1);
  }
  return lines;
}

// Text of the file in a message: decoded from the file's code page (a byte that does not decode
// as \xHH), control characters escaped, cut after kShownCharacters characters.
constexpr std::size_t kShownCharacters = 80;
std::string Shown(std::string_view text, const std::string& code_page) {
  const std::string utf8 = EscapedText(FromCodePage(text, code_page));
  std::size_t characters = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    // A character starts at every byte that is not a UTF-8 continuation byte.
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && characters++ == kShownCharacters) {
      return utf8.substr(0, i) + "…";
    }
  }
  return utf8;
}

ResultsNumber ReadNumber(std::string_view line, std::size_t line_number, const char* name,
                         const std::string& file_name, const std::string& code_page) {
  const std::string prefix = std::string(name) + " = ";
  if (line.substr(0, prefix.size()) != prefix) {
    Fail(file_name, line_number,
         "expected \"" + prefix + "…\", found \"" + Shown(line, code_page) +
             "\"; this is not a results file");
  }
  ResultsNumber number;
  number.text = std::string(line.substr(prefix.size()));
  const bool comma = number.text.find(',') != std::string::npos;
  const bool stop = number.text.find('.') != std::string::npos;
  if (comma && stop) {
    Fail(file_name, line_number,
         "'" + Shown(number.text, code_page) +
             "' has both a comma and a full stop; it is not a number");
  }
  number.separator = comma ? ',' : stop ? '.' : 0;
  try {
    number.value = fp::Store(ParseNumber(number.text, comma ? ',' : '.'));
  } catch (const EConvertError&) {
    // The text comes from the file and may hold any byte: a NUL would cut the message, a
    // control character reach the terminal.
    Fail(file_name, line_number,
         "'" + EscapedText(FromCodePage(number.text, code_page)) +
             "' is not a valid floating point value.");
  } catch (const Exception& e) {
    Fail(file_name, line_number, WithFullStop(e.what()));
  }
  return number;
}

}  // namespace

ResultsFileContent ParseResultsFile(std::string_view bytes, const std::string& name,
                                    const std::string& locale_code_page) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
  }
  const std::vector<std::string_view> lines = SplitLines(bytes);
  if (lines.empty()) {
    Fail(name, 0, "the file is empty; it is not a results file");
  }

  ResultsFileContent content;
  const auto try_code_page = [&](const std::string& code_page) {
    if (content.code_page.empty() && lines[0] == ToCodePage(kCoefficientsHeading, code_page)) {
      content.code_page = code_page;
    }
  };
  try_code_page(locale_code_page);
  for (const char* code_page : kCodePages) {
    try_code_page(code_page);
  }
  if (content.code_page.empty()) {
    Fail(name, 1,
         "expected the heading \"" + std::string(kCoefficientsHeading) + "\"; this is not a " +
             "results file");
  }
  const auto line_at = [&](std::size_t number) {
    if (number > lines.size()) {
      Fail(name, number,
           "the file ends after line " + std::to_string(lines.size()) +
               "; a results file has eleven lines");
    }
    return lines[number - 1];
  };
  for (std::size_t k = 0; k < 5; ++k) {
    content.coefficients[k] = ReadNumber(line_at(2 + k), 2 + k, kNames[k], name, content.code_page);
  }
  if (line_at(7) != ToCodePage(kRatiosHeading, content.code_page)) {
    Fail(name, 7,
         "expected the heading \"" + std::string(kRatiosHeading) + "\" in " + content.code_page +
             ", as on line 1; found \"" + Shown(line_at(7), content.code_page) + "\"");
  }
  for (std::size_t k = 0; k < 4; ++k) {
    content.ratios[k] = ReadNumber(line_at(8 + k), 8 + k, kNames[5 + k], name, content.code_page);
  }
  if (lines.size() > kLineCount) {
    Fail(name, kLineCount + 1, "text after the eleventh line; a results file has eleven lines");
  }
  return content;
}

ResultsFileContent ReadResultsFile(const std::string& path, const std::string& locale_code_page) {
  const auto io_error = [&](int error) {
    throw EInOutError(InOutErrorCodeOf(error),
                      "The results file " + path + " cannot be read: " + std::strerror(error));
  };
  // Not blocking: a FIFO without a writer must not hold the program up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    io_error(errno);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    io_error(errno);
  }
  if (S_ISDIR(status.st_mode)) {
    io_error(EISDIR);
  }
  if (!S_ISREG(status.st_mode)) {
    Fail(path, 0, "not a regular file; it is not a results file");
  }
  if (static_cast<std::size_t>(status.st_size) > kLargestFile) {
    Fail(
        path, 0,
        "a file of " + std::to_string(status.st_size) + " bytes is too large to be a results file");
  }
  std::string bytes(kLargestFile + 1, '\0');
  std::size_t used = 0;
  while (used < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      io_error(errno);
    }
    if (n == 0) {
      break;
    }
    used += static_cast<std::size_t>(n);
  }
  if (used > kLargestFile) {
    Fail(path, 0, "the file is too large to be a results file");
  }
  bytes.resize(used);
  return ParseResultsFile(bytes, path, locale_code_page);
}

std::string TextWithSeparator(const ResultsNumber& number, char separator) {
  std::string text = number.text;
  if (number.separator != 0) {
    for (char& c : text) {
      if (c == number.separator) {
        c = separator;
      }
    }
  }
  return text;
}

}  // namespace pitch
