// Where a study's rows go: a stream (standard output) or a file. Every write is checked; a
// failed write raises EInOutError with a message that names the destination and the reason.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace pitch::study {

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Write(std::string_view bytes) = 0;
  // Hands everything written to the system and closes; raises EInOutError on failure.
  virtual void Finish() = 0;
};

// A stream such as std::cout: each write is flushed and its state checked.
std::unique_ptr<Sink> StreamSink(std::ostream& out, std::string name);
// A file, created or replaced, written through a large buffer.
std::unique_ptr<Sink> FileSink(const std::string& path);

}  // namespace pitch::study
