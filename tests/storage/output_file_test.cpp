// The file record as every output's writer: rows never split between writes, a failure that
// leaves a file ending at a row boundary, old content kept until the first write, and the
// exports written in one large block instead of the results file's 128-byte ones.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
    rows.push_back(
        std::string(static_cast<std::size_t>(1 + (i * 37) % 90), static_cast<char>('a' + i % 26)) +
        "\n");
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

// An export is written to a temporary file renamed over the old one: a file that does not fit
// leaves the old file as it was (or no file), a file that fits takes the old one's mode, and no
// temporary file stays behind.
TEST_F(OutputFile, AnExportKeepsTheOldFileOrReplacesItWhole) {
  const std::string picture(1000, 'p');
  EXPECT_EQ(UnderLimit(500, [&] { WriteFileBytes(path_, picture); }), 112);
  EXPECT_FALSE(fs::exists(path_));
  Put("old picture");
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(UnderLimit(500, [&] { WriteFileBytes(path_, picture); }), 112);
  EXPECT_EQ(Read(), "old picture");
  EXPECT_EQ(UnderLimit(5000, [&] { WriteFileBytes(path_, picture); }), 0);
  EXPECT_EQ(Read(), picture);
  EXPECT_EQ(fs::status(path_).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// Rows kept after a failure: the whole rows of a write that did not fit whole, a CSV record
// being cut only at a line end outside quotes; the old file when no row fits.
struct KeptRowsRow {
  const char* name;
  TextFileRecord::Keep keep;
  std::vector<std::string> rows;
  rlim_t limit;
  const char* kept;  // nullptr: the old file
};
void PrintTo(const KeptRowsRow& row, std::ostream* os) { *os << row.name; }

class KeptRows : public OutputFile, public ::testing::WithParamInterface<KeptRowsRow> {};

TEST_P(KeptRows, AfterAFailure) {
  const KeptRowsRow& row = GetParam();
  Put("old\n");
  const int code = UnderLimit(row.limit, [&] {
    TextFileRecord file(path_, TextFileRecord::kLargeBlock, TextFileRecord::Replace::kAtFirstWrite,
                        row.keep);
    file.Open();
    file.Check();
    for (const std::string& text : row.rows) {
      file.WriteRows(text);
      file.Check();
    }
    file.Close();
    file.Check();
  });
  EXPECT_EQ(code, 112);
  EXPECT_EQ(Read(), row.kept ? row.kept : "old\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeptRows,
    ::testing::Values(
        KeptRowsRow{"LinesOfOneWrite",
                    TextFileRecord::Keep::kWholeLines,
                    {"{\"row\": 0}\n{\"row\": 1}\n{\"row\": 2}\n"},
                    30,
                    "{\"row\": 0}\n{\"row\": 1}\n"},
        KeptRowsRow{"CsvRecordWithALineEndInQuotes",
                    TextFileRecord::Keep::kWholeCsvRecords,
                    {"a,b\n1,\"x\ny\"\n2,z\n"},
                    10,
                    "a,b\n"},
        KeptRowsRow{"CsvRecordsPastQuotes",
                    TextFileRecord::Keep::kWholeCsvRecords,
                    {"a,b\n1,\"x\ny\"\n2,z\n"},
                    14,
                    "a,b\n1,\"x\ny\"\n"},
        KeptRowsRow{
            "NoRowFits", TextFileRecord::Keep::kWholeLines, {"a long first row\n"}, 5, nullptr},
        KeptRowsRow{
            "AnExportKeepsNothing", TextFileRecord::Keep::kOldFile, {"a\nb\nc\n"}, 4, nullptr}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch
