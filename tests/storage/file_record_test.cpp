// Writing to what is not a regular file: FIFOs with and without a reader, a reader that goes
// away mid-write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "core/errors.h"
#include "storage/exports.h"
#include "storage/write_signals.h"

namespace pitch {
namespace {

namespace fs = std::filesystem;

class Fifo : public ::testing::Test {
 protected:
  void SetUp() override {
    IgnoreWriteSignals();  // as both programs do at start-up
    dir_ = fs::temp_directory_path() /
           ("pitch-fifo-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes bytes to the FIFO; returns the error's code and message (0 and "" on success).
  std::pair<int, std::string> Attempt(const std::string& bytes) {
    try {
      WriteFileBytes(path_, bytes);
    } catch (const EInOutError& e) {
      return {e.ErrorCode, e.what()};
    }
    return {0, ""};
  }

  // A reader that has the FIFO open before the write starts. It is opened for reading and
  // writing, so that its reads wait for data instead of seeing an end of file while the writer
  // has not opened yet; closing it leaves the FIFO without a reader.
  int OpenReader() {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    return fd;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(Fifo, WithoutAReaderFailsAtOnce) {
  const auto [code, message] = Attempt("t,h\n");
  EXPECT_EQ(code, 233);
  EXPECT_EQ(message, "I/O error 233");
}

TEST_F(Fifo, AReaderGetsEveryByte) {
  const std::string bytes(300000, 'x');  // several times a pipe's buffer
  const int reader = OpenReader();
  std::string received;
  std::thread drain([&] {
    char buffer[4096];
    ssize_t n;
    while (received.size() < bytes.size() && (n = ::read(reader, buffer, sizeof buffer)) > 0) {
      received.append(buffer, static_cast<std::size_t>(n));
    }
  });
  const auto result = Attempt(bytes);
  drain.join();
  ::close(reader);
  EXPECT_EQ(result.first, 0) << result.second;
  EXPECT_EQ(received, bytes);
}

TEST_F(Fifo, AReaderThatGoesAwayMidWriteIsAnError) {
  const std::string bytes(1 << 20, 'x');  // more than a pipe holds, so the writer must wait
  const int reader = OpenReader();
  std::thread quitter([&] {
    char buffer[16];
    static_cast<void>(::read(reader, buffer, sizeof buffer));
    ::close(reader);
  });
  const auto [code, message] = Attempt(bytes);
  quitter.join();
  EXPECT_EQ(code, 109);
  EXPECT_EQ(message, "I/O error 109");
}

}  // namespace
}  // namespace pitch
