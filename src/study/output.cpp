#include "study/output.h"

#include <cerrno>

#include "core/errors.h"
#include "storage/file_record.h"

namespace pitch::study {

namespace {

class OstreamSink : public Sink {
 public:
  OstreamSink(std::ostream& out, std::string name) : out_(out), name_(std::move(name)) {}

  void Write(std::string_view rows) override {
    errno = 0;
    out_.write(rows.data(), static_cast<std::streamsize>(rows.size()));
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
      const int code = InOutErrorCodeOf(errno != 0 ? errno : EIO);
      throw EInOutError(code, name_ + ": " + InOutErrorMessage(code, name_));
    }
  }

  std::ostream& out_;
  std::string name_;
};

// A file record whose errors name the output.
class RecordSink : public Sink {
 public:
  explicit RecordSink(std::unique_ptr<TextFileRecord> record, std::string name)
      : record_(std::move(record)), name_(std::move(name)) {}

  void Open() {
    record_->Open();
    Check();
  }
  void Write(std::string_view rows) override {
    record_->WriteRows(rows);
    Check();
  }
  void Finish() override {
    record_->Close();
    Check();
  }
  void Abandon() override { record_->Abandon(); }

 private:
  void Check() {
    try {
      record_->Check();
    } catch (const EInOutError& e) {
      throw EInOutError(e.ErrorCode, name_ + ": " + e.what());
    }
  }

  std::unique_ptr<TextFileRecord> record_;
  std::string name_;
};

TextFileRecord::Keep KeepOf(SinkText text) {
  switch (text) {
    case SinkText::kLines:
      return TextFileRecord::Keep::kWholeLines;
    case SinkText::kCsvRecords:
      return TextFileRecord::Keep::kWholeCsvRecords;
    case SinkText::kPicture:
      break;
  }
  return TextFileRecord::Keep::kOldFile;
}

}  // namespace

std::unique_ptr<Sink> StreamSink(std::ostream& out, std::string name) {
  return std::make_unique<OstreamSink>(out, std::move(name));
}

std::unique_ptr<Sink> DescriptorSink(int fd, std::string name, SinkText text) {
  auto record = std::make_unique<TextFileRecord>(TextFileRecord::kDescriptor, fd, name,
                                                 TextFileRecord::kLargeBlock, KeepOf(text));
  return std::make_unique<RecordSink>(std::move(record), std::move(name));
}

std::unique_ptr<Sink> FileSink(const std::string& path, std::string name, SinkText text) {
  auto record = std::make_unique<TextFileRecord>(
      path, TextFileRecord::kLargeBlock, TextFileRecord::Replace::kAtFirstWrite, KeepOf(text));
  auto sink = std::make_unique<RecordSink>(std::move(record), std::move(name));
  sink->Open();
  return sink;
}

}  // namespace pitch::study
