// The results file: eleven lines in the working code page, CR LF after each.
//
// The file is opened without truncation, locked exclusively (so that a second writer that also
// locks is refused and a locked file is never emptied), and only then truncated. Bytes go through
// a 128-byte buffer that is handed to write() whenever it is full, and the remainder at the
// close. Each step records an error code; a check after the open, after every line and after the
// close raises EInOutError for a recorded code. After a failure nothing more is written, and the
// file is closed (and unlocked) so that the user can save again; the blocks written stay.
#include "storage/storage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "app/number_text.h"

namespace pitch {

namespace {

// errno to the codes of the message table where they mean the same.
int ErrorCodeOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return 3;  // the path names a folder that does not exist
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return 5;
    case EMFILE:
    case ENFILE:
      return 4;
    case EWOULDBLOCK:
      return 32;  // another writer holds the file
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return 112;
    default:
      return error;
  }
}

class TextFileRecord {
 public:
  explicit TextFileRecord(std::string path) : path_(std::move(path)) {}
  TextFileRecord(const TextFileRecord&) = delete;
  TextFileRecord& operator=(const TextFileRecord&) = delete;
  ~TextFileRecord() { Release(); }

  void Open() {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      Record(errno);
      return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      Record(errno);
      Release();
      return;
    }
    struct stat info {};
    regular_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    if (regular_ && ::ftruncate(fd_, 0) != 0) {
      Record(errno);
      Release();
    }
  }

  void Write(std::string_view bytes) {
    for (const char byte : bytes) {
      if (code_ != 0) {
        return;
      }
      buffer_[used_++] = byte;
      if (used_ == buffer_.size()) {
        Flush();
      }
    }
  }

  void Close() {
    if (code_ == 0 && used_ > 0) {
      Flush();
    }
    if (code_ == 0 && fd_ >= 0) {
      const int fd = fd_;
      fd_ = -1;
      if (::close(fd) != 0) {
        Record(errno);
      }
    }
  }

  // Raises EInOutError for a recorded code, clearing it; a failed file is closed first.
  void Check() {
    if (code_ == 0) {
      return;
    }
    const int code = code_;
    code_ = 0;
    Release();
    throw EInOutError(code, InOutErrorMessage(code, path_));
  }

 private:
  // Hands the buffer to the system and empties it, whether or not the write succeeds. A block
  // that fails partway (a short write, then an error) is cut off again, so the file keeps only
  // the whole blocks written before the failure.
  void Flush() {
    std::size_t done = 0;
    while (done < used_) {
      const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
      if (n < 0) {
        if (errno == EINTR) {
          continue;
        }
        Record(errno);
        if (done > 0 && regular_) {
          static_cast<void>(::ftruncate(fd_, static_cast<off_t>(written_)));
        }
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    if (code_ == 0) {
      written_ += used_;
    }
    used_ = 0;
  }

  void Record(int error) { code_ = ErrorCodeOf(error); }

  void Release() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  std::string path_;
  int fd_ = -1;
  int code_ = 0;
  std::array<char, 128> buffer_{};
  std::size_t used_ = 0;
  std::size_t written_ = 0;  // bytes of the whole blocks written so far
  bool regular_ = false;
};

std::array<std::string, 11> ResultLines(const TResultsStore& v, char separator) {
  auto number = [separator](Real x) { return FormatNumber(x, separator); };
  return {
      "Коэффициенты линейной модели ЛА:",
      "c1 = " + number(v.c1),
      "c2 = " + number(v.c2),
      "c3 = " + number(v.c3),
      "c4 = " + number(v.c4),
      "c5 = " + number(v.c5),
      "Передаточные числа автопилота:",
      "muv = " + number(v.muv),
      "iv = " + number(v.iv),
      "nuv = " + number(v.nuv),
      "Tnu = " + number(v.Tnu),
  };
}

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

std::string InOutErrorMessage(int code, const std::string& path) {
  switch (code) {
    case 2:
      return "The specified file was not found";
    case 3:
      return "Invalid file name - " + path;
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return "I/O error " + std::to_string(code);
  }
}

void TStorage::WriteResults() {
  WriteResultsUsing(NumberSettings{DecimalSeparator(), WorkingCodePage()});
}

void TStorage::WriteResultsUsing(const NumberSettings& settings) const {
  TextFileRecord file(FileName);
  file.Open();
  file.Check();
  for (const std::string& line : ResultLines(*this, settings.decimal_separator)) {
    file.Write(ToCodePage(line, settings.code_page));
    file.Write(kLineEnd);
    file.Check();
  }
  file.Close();
  file.Check();
}

}  // namespace pitch
