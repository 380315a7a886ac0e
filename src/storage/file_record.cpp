#include "storage/file_record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/errors.h"

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
      return 112;  // the disk is full, or the file may not grow (file size limit)
    case EPIPE:
      return 109;  // the reader of a pipe or FIFO has gone away
    case ENXIO:
      return 233;  // a FIFO with no process reading it
    default:
      return error;
  }
}

}  // namespace

void TextFileRecord::Open() {
  // Opened without blocking, so that a FIFO with no reader fails at once instead of waiting for
  // one; once open, the file is written with ordinary blocking writes.
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd_ < 0) {
    Record(errno);
    return;
  }
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags == -1 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    Record(errno);
    Release();
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

void TextFileRecord::Write(std::string_view bytes) {
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

void TextFileRecord::Close() {
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

void TextFileRecord::Check() {
  if (code_ == 0) {
    return;
  }
  const int code = code_;
  code_ = 0;
  Release();
  throw EInOutError(code, InOutErrorMessage(code, path_));
}

// Hands the buffer to the system and empties it, whether or not the write succeeds. A block that
// fails partway (a short write, then an error) is cut off again, so the file keeps only the
// whole blocks written before the failure.
void TextFileRecord::Flush() {
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

void TextFileRecord::Record(int error) { code_ = ErrorCodeOf(error); }

void TextFileRecord::Release() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

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

}  // namespace pitch
