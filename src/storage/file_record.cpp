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

TextFileRecord::TextFileRecord(std::string path, std::size_t block_size, Replace replace, Keep keep)
    : path_(std::move(path)),
      buffer_(std::max<std::size_t>(block_size, 1)),
      replace_(replace),
      keep_(keep) {}

TextFileRecord::TextFileRecord(Descriptor, int fd, std::string name, std::size_t block_size,
                               Keep keep)
    : path_(std::move(name)),
      fd_(fd),
      owned_(false),
      buffer_(std::max<std::size_t>(block_size, 1)),
      replace_(Replace::kAtOpen),
      keep_(keep) {
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
  struct stat link {};
  if (truncatable_ && keep_ != Keep::kWholeWrites && ::lstat(path_.c_str(), &link) == 0 &&
      !S_ISLNK(link.st_mode)) {
    StartTemporary(info);
    if (!temporary_.empty()) {
      return;  // the old content stays until the rename
    }
  }
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
  if (!temporary_.empty()) {
    EndTemporary(code_ == 0, true);
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
        written_ += WholeRows(data, done);
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
  if (!temporary_.empty() && KeepsRows()) {
    // Rows replace the old file at their first whole write, and the rest follow in place, so
    // that a long study's rows can be read while it runs; the new file is locked already.
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
      Record(errno);
      return false;
    }
    temporary_.clear();
    ::close(target_fd_);
    target_fd_ = -1;
  }
  return true;
}

bool TextFileRecord::KeepsRows() const {
  return keep_ == Keep::kWholeLines || keep_ == Keep::kWholeCsvRecords;
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

// The length of the whole rows at the start of bytes that were written before a failure; none
// where the record keeps whole writes or nothing.
std::size_t TextFileRecord::WholeRows(const char* data, std::size_t size) const {
  std::size_t whole = 0;
  if (keep_ == Keep::kWholeLines) {
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == '\n') {
        whole = i + 1;
      }
    }
  } else if (keep_ == Keep::kWholeCsvRecords) {
    // The bytes start at a record's start; a newline inside quotes is part of a field.
    bool quoted = false;
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == '"') {
        quoted = !quoted;
      } else if (data[i] == '\n' && !quoted) {
        whole = i + 1;
      }
    }
  }
  return whole;
}

// Writes go to a new file in the old one's folder, with its mode (and owner, where the system
// allows); the old file stays open and locked until the new one replaces it. A folder that takes
// no new file leaves the record writing in place.
void TextFileRecord::StartTemporary(const struct stat& old) {
  const std::string::size_type slash = path_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  std::string temporary = folder + "." + name + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    return;
  }
  // Locked before it can take the old file's place, as the old file is.
  static_cast<void>(::flock(fd, LOCK_EX | LOCK_NB));
  static_cast<void>(::fchmod(fd, old.st_mode & 07777));
  if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
    static_cast<void>(::fchown(fd, old.st_uid, old.st_gid));
  }
  target_fd_ = fd_;
  fd_ = fd;
  temporary_ = std::move(temporary);
  base_ = 0;
  replace_pending_ = false;
}

// Renames the temporary file over the old one when the writing is done, or when rows that
// fitted whole are kept; else removes it, and the old file stays (a file this record created is
// removed again). report records a failed rename.
void TextFileRecord::EndTemporary(bool done, bool report) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  bool commit = done || (KeepsRows() && written_ > 0);
  if (commit && ::rename(temporary_.c_str(), path_.c_str()) != 0) {
    if (report) {
      Record(errno);
    }
    commit = false;
  }
  if (!commit) {
    ::unlink(temporary_.c_str());
    struct stat ours {};
    struct stat now {};
    if (created_ && ::fstat(target_fd_, &ours) == 0 && ::stat(path_.c_str(), &now) == 0 &&
        ours.st_dev == now.st_dev && ours.st_ino == now.st_ino) {
      ::unlink(path_.c_str());
    }
  }
  temporary_.clear();
  ::close(target_fd_);
  target_fd_ = -1;
}

void TextFileRecord::Release() {
  if (!temporary_.empty()) {
    EndTemporary(false, false);
    return;
  }
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
