// Where a study's rows go: a file, a descriptor (the standard output) or a stream, each through
// the program's one file contract (storage/file_record.h): whole rows per write, a failure
// reported with the results file's codes and messages ("I/O error 112"), and a file cut back to
// its last whole row.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace pitch::study {

class Sink {
 public:
  virtual ~Sink() = default;
  // Text that ends at a row boundary; raises EInOutError, whose message starts with the name.
  virtual void Write(std::string_view rows) = 0;
  // Hands everything written to the system and closes; raises EInOutError on failure.
  virtual void Finish() = 0;
  // Gives up: what is not yet written is dropped, and a file that never received a byte keeps
  // its old content (or is removed again when the sink created it).
  virtual void Abandon() {}
};

// A stream such as a test's string stream: each write is flushed and its state checked.
std::unique_ptr<Sink> StreamSink(std::ostream& out, std::string name);
// What a sink's text is made of, for a failure to keep whole: a picture (all or nothing), lines
// (JSON Lines) or CSV records (a newline inside quotes belongs to a field).
enum class SinkText { kPicture, kLines, kCsvRecords };

// A descriptor that stays open (the standard output), written in large blocks of whole rows; a
// regular file is cut back to its last whole row on a failure.
std::unique_ptr<Sink> DescriptorSink(int fd, std::string name, SinkText text);
// A file, opened and locked at once (a second writer is refused with I/O error 32, a FIFO without
// a reader with 233); raises EInOutError. name starts the messages. A regular file is written
// through a temporary file in its folder that replaces it at the first whole write of rows (a
// picture: at the finish): the old content stays until then, and stays when nothing fitted.
std::unique_ptr<Sink> FileSink(const std::string& path, std::string name, SinkText text);

}  // namespace pitch::study
