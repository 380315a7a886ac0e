// The file record as every output's writer: rows never split between writes, a failure that
// leaves a file ending at a row boundary, old content kept until the first write, and the
// exports written in one large block instead of the results file's 128-byte ones.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/errors.h"
#include "storage/exports.h"
#include "storage/file_record.h"

namespace pitch {
namespace {

namespace fs = std::filesystem;

class OutputFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("pitch-output-file-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "rows.csv").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Put(const std::string& bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }

  // Runs f with the file size limit at limit bytes (SIGXFSZ ignored); returns the error's code.
  template <typename F>
  int UnderLimit(rlim_t limit, F f) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &lowered);
    int code = 0;
    try {
      f();
    } catch (const EInOutError& e) {
      code = e.ErrorCode;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    return code;
  }

  fs::path dir_;
  std::string path_;
};

// Rows of 1 to 40 bytes through a 64-byte block, some longer than the block, under file size
// limits that fall inside rows: the file always ends where a row ends.
TEST_F(OutputFile, AFailureLeavesWholeRows) {
  std::string all;
  std::vector<std::string> rows;
  for (int i = 0; i < 60; ++i) {
    rows.push_back(std::string(static_cast<std::size_t>(1 + (i * 37) % 90), 'a' + i % 26) + "\n");
  }
  for (const rlim_t limit : {50, 64, 100, 333, 1000}) {
    const int code = UnderLimit(limit, [&] {
      TextFileRecord file(path_, 64);
      file.Open();
      file.Check();
      for (const std::string& row : rows) {
        file.WriteRows(row);
        file.Check();
      }
      file.Close();
      file.Check();
    });
    EXPECT_EQ(code, 112) << limit;
    const std::string kept = Read();
    EXPECT_LE(kept.size(), limit);
    std::string whole;
    for (const std::string& row : rows) {
      if (whole.size() + row.size() > kept.size()) {
        break;
      }
      whole += row;
    }
    EXPECT_EQ(kept, whole) << limit;
  }
}

// A record that replaces at its first write keeps the old content when it writes nothing, and
// removes a file that it created itself.
TEST_F(OutputFile, AbandonedBeforeTheFirstWriteKeepsTheOldFile) {
  Put("old rows\n");
  {
    TextFileRecord file(path_, TextFileRecord::kLargeBlock, TextFileRecord::Replace::kAtFirstWrite);
    file.Open();
    file.Check();
    file.WriteRows("new row\n");  // still in the buffer
    file.Abandon();
  }
  EXPECT_EQ(Read(), "old rows\n");
  fs::remove(path_);
  {
    TextFileRecord file(path_, TextFileRecord::kLargeBlock, TextFileRecord::Replace::kAtFirstWrite);
    file.Open();
    file.Check();
    file.Abandon();
  }
  EXPECT_FALSE(fs::exists(path_));
  {
    TextFileRecord file(path_, TextFileRecord::kLargeBlock, TextFileRecord::Replace::kAtFirstWrite);
    Put("a longer old content\n");
    file.Open();
    file.WriteRows("new\n");
    file.Close();
    file.Check();
  }
  EXPECT_EQ(Read(), "new\n");
}

// An export is one write: a file that does not fit is cut back to nothing, where the results
// file's writer kept its whole 128-byte blocks.
TEST_F(OutputFile, ExportsAreOneBlock) {
  const std::string picture(1000, 'p');
  EXPECT_EQ(UnderLimit(500, [&] { WriteFileBytes(path_, picture); }), 112);
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(UnderLimit(5000, [&] { WriteFileBytes(path_, picture); }), 0);
  EXPECT_EQ(Read(), picture);
}

}  // namespace
}  // namespace pitch
