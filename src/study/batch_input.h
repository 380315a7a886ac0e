// A batch file opened for reading, with the cause of a failure kept: a folder, a device that
// refuses reads (/proc/self/mem) or a read error (EIO) is an I/O error that names its cause,
// never an empty batch.
#pragma once

#include <array>
#include <istream>
#include <streambuf>
#include <string>

namespace pitch::study {

class BatchInput {
 public:
  // Opens the file; raises EInOutError ("cannot read PATH: reason") when it cannot be opened or
  // is a folder.
  explicit BatchInput(const std::string& path);
  ~BatchInput();
  BatchInput(const BatchInput&) = delete;
  BatchInput& operator=(const BatchInput&) = delete;

  std::istream& stream() { return stream_; }
  // The errno of a failed read, or 0; the stream is then bad.
  int error() const { return buffer_.error; }

 private:
  struct Buffer : std::streambuf {
    int fd = -1;
    int error = 0;
    std::array<char, 1 << 16> bytes{};
    int_type underflow() override;
  };

  Buffer buffer_;
  std::istream stream_;
};

}  // namespace pitch::study
