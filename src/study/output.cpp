#include "study/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/errors.h"

namespace pitch::study {

namespace {

EInOutError WriteError(const std::string& name, int error) {
  return EInOutError(error, "cannot write " + name + ": " + std::strerror(error));
}

class OstreamSink : public Sink {
 public:
  OstreamSink(std::ostream& out, std::string name) : out_(out), name_(std::move(name)) {}

  void Write(std::string_view bytes) override {
    errno = 0;
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out_.flush();
    Check();
  }
  void Finish() override {
    errno = 0;
    out_.flush();
    Check();
  }

 private:
  void Check() {
    if (!out_.good()) {
      const int error = errno != 0 ? errno : EIO;
      throw WriteError(name_, error);
    }
  }

  std::ostream& out_;
  std::string name_;
};

class FdSink : public Sink {
 public:
  explicit FdSink(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      throw WriteError(path_, errno);
    }
    buffer_.reserve(kBufferSize);
  }
  ~FdSink() override {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }

  void Write(std::string_view bytes) override {
    buffer_.append(bytes);
    if (buffer_.size() >= kBufferSize) {
      Flush();
    }
  }
  void Finish() override {
    Flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
      throw WriteError(path_, errno);
    }
  }

 private:
  static constexpr std::size_t kBufferSize = 1 << 16;

  void Flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
      const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (n < 0) {
        if (errno == EINTR) {
          continue;
        }
        throw WriteError(path_, errno);
      }
      done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
  }

  std::string path_;
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace

std::unique_ptr<Sink> StreamSink(std::ostream& out, std::string name) {
  return std::make_unique<OstreamSink>(out, std::move(name));
}

std::unique_ptr<Sink> FileSink(const std::string& path) { return std::make_unique<FdSink>(path); }

}  // namespace pitch::study
