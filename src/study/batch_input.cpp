#include "study/batch_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "core/errors.h"
#include "number_text/escaped_text.h"
#include "storage/file_record.h"

namespace pitch::study {

namespace {

EInOutError ReadError(const std::string& path, int error) {
  return EInOutError(InOutErrorCodeOf(error),
                     "cannot read " + EscapedText(path) + ": " + std::strerror(error));
}

}  // namespace

BatchInput::BatchInput(const std::string& path) : stream_(&buffer_) {
  buffer_.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (buffer_.fd < 0) {
    throw ReadError(path, errno);
  }
  struct stat info {};
  if (::fstat(buffer_.fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(buffer_.fd);
    throw ReadError(path, EISDIR);
  }
}

BatchInput::~BatchInput() { ::close(buffer_.fd); }

BatchInput::Buffer::int_type BatchInput::Buffer::underflow() {
  if (gptr() < egptr()) {
    return traits_type::to_int_type(*gptr());
  }
  for (;;) {
    const ssize_t n = ::read(fd, bytes.data(), bytes.size());
    if (n > 0) {
      setg(bytes.data(), bytes.data(), bytes.data() + n);
      return traits_type::to_int_type(bytes[0]);
    }
    if (n == 0) {
      return traits_type::eof();
    }
    if (errno != EINTR) {
      error = errno;
      // The stream turns this into its bad state.
      throw std::runtime_error("read failed");
    }
  }
}

}  // namespace pitch::study
