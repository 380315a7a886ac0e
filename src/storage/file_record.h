// A file being written: opened without truncation and without waiting for a FIFO's reader,
// locked exclusively (so that a second writer
// that also locks is refused and a locked file is never emptied), and only then truncated. Bytes
// go through a 128-byte buffer that is handed to write() whenever it is full, and the remainder
// at the close. Each step records an error code; Check raises EInOutError for a recorded code.
// After a failure nothing more is written, and the file is closed (and unlocked) so that the
// user can save again; the whole blocks written before stay.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace pitch {

// The message of EInOutError for a code; a missing folder names the path.
std::string InOutErrorMessage(int code, const std::string& path);

class TextFileRecord {
 public:
  explicit TextFileRecord(std::string path) : path_(std::move(path)) {}
  TextFileRecord(const TextFileRecord&) = delete;
  TextFileRecord& operator=(const TextFileRecord&) = delete;
  ~TextFileRecord() { Release(); }

  void Open();
  void Write(std::string_view bytes);
  void Close();
  // Raises EInOutError for a recorded code, clearing it; a failed file is closed first.
  void Check();

 private:
  void Flush();
  void Record(int error);
  void Release();

  std::string path_;
  int fd_ = -1;
  int code_ = 0;
  std::array<char, 128> buffer_{};
  std::size_t used_ = 0;
  std::size_t written_ = 0;  // bytes of the whole blocks written so far
  bool regular_ = false;
};

}  // namespace pitch
