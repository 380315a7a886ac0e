// A file being written, with one failure contract for every file the programs write: the results
// file, the exports, a study's rows and maps, and the standard output.
//
// A named file is opened without truncation and without waiting for a FIFO's reader, locked
// exclusively (so that a second writer that also locks is refused with code 32 and a locked file
// is never emptied), and only then emptied: at the open, or at the first write when the old
// content should stay until there is something to replace it with. Each step records an error
// code; Check raises EInOutError for a recorded code.
//
// Bytes go through a buffer of the record's block size. Write hands the buffer to write() each
// time it is full (the results file's 128-byte blocks). WriteRows takes text that ends at a row
// boundary and never splits it between two write() calls: the buffer is written out first when
// the rows do not fit, and rows longer than a block go in one call of their own. A write that
// fails cuts a regular file back to the end of the last whole write, so after a failure the file
// ends at a block or row boundary. After a failure nothing more is written, and the file is
// closed (and unlocked) so that the user can save again.
//
// A record that keeps the old file (every output but the results file) writes a regular file
// through a temporary file in the same folder, renamed over the old one (keeping its mode) at the
// close, or for rows at their first whole write (the rest follow in place): a failure leaves the
// old file as it was, or, for rows, the whole rows that fitted. A FIFO, a device or a symbolic
// link is written in place, as the results file is.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pitch {

// The message of EInOutError for a code; a missing folder names the path.
std::string InOutErrorMessage(int code, const std::string& path);
// The code of the message table for an errno value.
int InOutErrorCodeOf(int error);

class TextFileRecord {
 public:
  static constexpr std::size_t kResultsBlock = 128;    // the results file
  static constexpr std::size_t kLargeBlock = 1 << 16;  // exports, study rows, standard output
  enum class Replace { kAtOpen, kAtFirstWrite };
  // What a regular file holds after a failure: the whole writes before it, in place (the results
  // file); the old file (an export, a picture); or the rows that fitted whole, a row being a line
  // or a CSV record (a newline outside quotes), and the old file when none did.
  enum class Keep { kWholeWrites, kOldFile, kWholeLines, kWholeCsvRecords };

  explicit TextFileRecord(std::string path, std::size_t block_size = kResultsBlock,
                          Replace replace = Replace::kAtOpen, Keep keep = Keep::kWholeWrites);
  TextFileRecord(const TextFileRecord&) = delete;
  TextFileRecord& operator=(const TextFileRecord&) = delete;
  ~TextFileRecord() { Release(); }

  // A descriptor that is already open (the standard output), named for messages: neither
  // opened, locked, emptied nor closed by the record. A regular file without O_APPEND is cut
  // back from its current offset on a failure.
  struct Descriptor {};
  static constexpr Descriptor kDescriptor{};
  TextFileRecord(Descriptor, int fd, std::string name, std::size_t block_size,
                 Keep keep = Keep::kWholeWrites);

  void Open();
  void Write(std::string_view bytes);
  void WriteRows(std::string_view rows);
  void Close();
  // Raises EInOutError for a recorded code, clearing it; a failed file is closed first.
  void Check();
  // Gives up without writing what the buffer holds. A file that was to be emptied at its first
  // write keeps its old content; one that this record created and never wrote is removed.
  void Abandon();

  // Bytes handed to the system with success so far.
  std::size_t written() const { return written_; }

 private:
  void Flush();
  bool WriteOut(const char* data, std::size_t size);
  bool ReplaceOldContent();
  void Record(int error);
  void Release();
  void StartTemporary(const struct stat& old);
  void EndTemporary(bool done, bool report);
  std::size_t WholeRows(const char* data, std::size_t size) const;
  bool KeepsRows() const;

  std::string path_;
  int fd_ = -1;
  bool owned_ = true;
  int code_ = 0;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::size_t written_ = 0;  // bytes of the whole writes so far
  bool truncatable_ = false;
  long long base_ = 0;  // where the record's bytes start in a truncatable file
  Replace replace_;
  bool replace_pending_ = false;
  bool created_ = false;
  Keep keep_ = Keep::kWholeWrites;
  int target_fd_ = -1;     // the old file, locked, while a temporary file is written
  std::string temporary_;  // the temporary file's path, while it exists
};

}  // namespace pitch
