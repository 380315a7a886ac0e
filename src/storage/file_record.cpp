#include "storage/file_record.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/errors.h"

namespace pitch {

int InOutErrorCodeOf(int error) {
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
    case EIO:
      return 29;  // the device failed to write (errno's own 5 would read "File access denied")
    default:
      return error;
  }
}

TextFileRecord::TextFileRecord(std::string path, std::size_t block_size, Replace replace)
    : path_(std::move(path)), buffer_(std::max<std::size_t>(block_size, 1)), replace_(replace) {}

TextFileRecord::TextFileRecord(Descriptor, int fd, std::string name, std::size_t block_size)
    : path_(std::move(name)),
      fd_(fd),
      owned_(false),
      buffer_(std::max<std::size_t>(block_size, 1)),
      replace_(Replace::kAtOpen) {
  struct stat info {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flags != -1 && (flags & O_APPEND) == 0) {
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    truncatable_ = at >= 0;
    base_ = at;
  }
}

void TextFileRecord::Open() {
  // Opened without blocking, so that a FIFO with no reader fails at once instead of waiting for
  // one; once open, the file is written with ordinary blocking writes. O_EXCL first tells
  // whether this record created the file.
  constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NONBLOCK;
  fd_ = ::open(path_.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
  created_ = fd_ >= 0;
  if (fd_ < 0 && errno == EEXIST) {
    fd_ = ::open(path_.c_str(), kFlags | O_CREAT, 0666);
  }
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
  truncatable_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
  replace_pending_ = truncatable_;
  if (replace_ == Replace::kAtOpen && !ReplaceOldContent()) {
    Release();
  }
}

void TextFileRecord::Write(std::string_view bytes) {
  while (!bytes.empty() && code_ == 0) {
    const std::size_t n = std::min(bytes.size(), buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, bytes.data(), n);
    used_ += n;
    bytes.remove_prefix(n);
    if (used_ == buffer_.size()) {
      Flush();
    }
  }
}

void TextFileRecord::WriteRows(std::string_view rows) {
  if (code_ != 0 || rows.empty()) {
    return;
  }
  if (used_ + rows.size() > buffer_.size()) {
    Flush();
    if (code_ != 0) {
      return;
    }
  }
  if (rows.size() >= buffer_.size()) {
    if (ReplaceOldContent()) {
      WriteOut(rows.data(), rows.size());
    }
    return;
  }
  std::memcpy(buffer_.data() + used_, rows.data(), rows.size());
  used_ += rows.size();
}

void TextFileRecord::Close() {
  if (code_ == 0 && used_ > 0) {
    Flush();
  }
  if (code_ == 0) {
    ReplaceOldContent();  // a file closed without a byte written is empty
  }
  if (code_ == 0 && fd_ >= 0) {
    const int fd = fd_;
    fd_ = -1;
    if (owned_ && ::close(fd) != 0) {
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

void TextFileRecord::Abandon() {
  used_ = 0;
  if (owned_ && fd_ >= 0 && replace_pending_ && created_) {
    ::unlink(path_.c_str());
  }
  Release();
}

// Hands the buffer to the system and empties it, whether or not the write succeeds.
void TextFileRecord::Flush() {
  if (used_ > 0 && ReplaceOldContent()) {
    WriteOut(buffer_.data(), used_);
  }
  used_ = 0;
}

// One write of whole blocks or rows. A write that fails partway (a short write, then an error)
// is cut off again, so the file keeps only the whole writes before the failure.
bool TextFileRecord::WriteOut(const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd_, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN && !owned_) {
        // A descriptor inherited in non-blocking mode: wait until it takes bytes again.
        pollfd ready{fd_, POLLOUT, 0};
        static_cast<void>(::poll(&ready, 1, -1));
        continue;
      }
      Record(errno);
      if (done > 0 && truncatable_) {
        static_cast<void>(::ftruncate(fd_, static_cast<off_t>(base_ + written_)));
        if (!owned_) {
          static_cast<void>(::lseek(fd_, static_cast<off_t>(base_ + written_), SEEK_SET));
        }
      }
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  written_ += size;
  return true;
}

bool TextFileRecord::ReplaceOldContent() {
  if (!replace_pending_) {
    return true;
  }
  replace_pending_ = false;
  if (::ftruncate(fd_, 0) != 0) {
    Record(errno);
    return false;
  }
  return true;
}

void TextFileRecord::Record(int error) { code_ = InOutErrorCodeOf(error); }

void TextFileRecord::Release() {
  if (fd_ >= 0 && owned_) {
    ::close(fd_);
  }
  fd_ = -1;
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
