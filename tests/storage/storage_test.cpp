#include "storage/storage.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/coefficients.h"
#include "core/controller.h"
#include "storage/file_record.h"

namespace pitch {
namespace {

namespace fs = std::filesystem;

// The two heading lines in code page 1251, spelled out byte by byte.
const std::string kHeading1Cp1251 =
    "\xCA\xEE\xFD\xF4\xF4\xE8\xF6\xE8\xE5\xED\xF2\xFB \xEB\xE8\xED\xE5\xE9\xED\xEE\xE9 "
    "\xEC\xEE\xE4\xE5\xEB\xE8 \xCB\xC0:";
const std::string kHeading2Cp1251 =
    "\xCF\xE5\xF0\xE5\xE4\xE0\xF2\xEE\xF7\xED\xFB\xE5 \xF7\xE8\xF1\xEB\xE0 "
    "\xE0\xE2\xF2\xEE\xEF\xE8\xEB\xEE\xF2\xE0:";

const NumberSettings kCp1251Comma{',', "CP1251"};

class StorageFile : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per test; a table row's name "Test/Row" becomes "Test_Row".
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(test.begin(), test.end(), '/', '_');
    dir_ = fs::temp_directory_path() / ("pitch-storage-" + std::to_string(::getpid()) + "-" + test);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // The start-up coefficients, no calculation yet.
    testing::SetDefaultCoefficients(storage);
    storage.FileName = Path("Result_1.txt");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  // Runs the write and returns the error's code and message (0 and "" on success).
  std::pair<int, std::string> Attempt(const NumberSettings& settings = kCp1251Comma) {
    try {
      settings_ = settings;
      storage.WriteResults();
    } catch (const EInOutError& e) {
      return {e.ErrorCode, e.what()};
    }
    return {0, ""};
  }

  // Write with these: storage refers to them for its whole life.
  void WriteWith(const NumberSettings& settings) {
    settings_ = settings;
    storage.WriteResults();
  }

  fs::path dir_;
  NumberSettings settings_ = kCp1251Comma;
  TStorage storage{settings_};
};

TEST_F(StorageFile, StartUpValuesInCodePage1251) {
  WriteWith(kCp1251Comma);
  const std::string expected = kHeading1Cp1251 +
                               "\r\nc1 = 0,88\r\nc2 = 0,404\r\nc3 = 7,028\r\nc4 = 0,987\r\n"
                               "c5 = 0,251\r\n" +
                               kHeading2Cp1251 + "\r\nmuv = 0\r\niv = 0\r\nnuv = 0\r\nTnu = 0\r\n";
  const std::string written = Read(storage.FileName);
  EXPECT_EQ(written.size(), 160u);
  EXPECT_EQ(written, expected);
}

TEST_F(StorageFile, SameLinesInUtf8AndAscii) {
  WriteWith({',', "UTF-8"});
  EXPECT_EQ(Read(storage.FileName),
            "Коэффициенты линейной модели ЛА:\r\nc1 = 0,88\r\nc2 = 0,404\r\nc3 = 7,028\r\n"
            "c4 = 0,987\r\nc5 = 0,251\r\nПередаточные числа автопилота:\r\nmuv = 0\r\niv = 0\r\n"
            "nuv = 0\r\nTnu = 0\r\n");
  WriteWith({'.', "ASCII"});
  EXPECT_EQ(Read(storage.FileName),
            "???????????? ???????? ?????? ??:\r\nc1 = 0.88\r\nc2 = 0.404\r\nc3 = 7.028\r\n"
            "c4 = 0.987\r\nc5 = 0.251\r\n???????????? ????? ??????????:\r\nmuv = 0\r\niv = 0\r\n"
            "nuv = 0\r\nTnu = 0\r\n");
}

// A window stand-in holding parsed coefficients and the chosen path.
struct Window : TBorder {};

TEST_F(StorageFile, AfterACalculationTheRatiosComeFromTheController) {
  Window window;
  TController controller;
  controller.ConnectBorder(&window);
  controller.ConnectStorage(&storage);
  storage.ConnectController(&controller);
  testing::SetDefaultCoefficients(window);
  window.FileName = Path("after.txt");
  controller.TakeCoefficients();
  controller.ComputeGearRatios();
  window.c3 = 7.5;  // edited after the calculation
  controller.PassInputsToStorage();
  controller.PassRatiosToStorage();
  WriteWith({'.', "UTF-8"});
  EXPECT_EQ(Read(Path("after.txt")),
            "Коэффициенты линейной модели ЛА:\r\nc1 = 0.88\r\nc2 = 0.404\r\nc3 = 7.5\r\n"
            "c4 = 0.987\r\nc5 = 0.251\r\nПередаточные числа автопилота:\r\n"
            "muv = 0.0920037424652426\r\niv = 0.271877699504714\r\nnuv = 0.0241508960470038\r\n"
            "Tnu = 11.2574580659687\r\n");
}

TEST_F(StorageFile, ReplacingALongerFileLeavesNoTail) {
  Put(storage.FileName, std::string(1000, 'x'));
  ASSERT_EQ(Attempt().first, 0);
  EXPECT_EQ(Read(storage.FileName).size(), 160u);
}

TEST_F(StorageFile, LongPathsWork) {
  std::string deep = dir_.string();
  for (int k = 0; k < 12; ++k) {
    deep += "/" + std::string(40, static_cast<char>('a' + k));
  }
  fs::create_directories(deep);
  storage.FileName = deep + "/Result_1.txt";
  ASSERT_GT(storage.FileName.size(), 259u);
  EXPECT_EQ(Attempt().first, 0);
  EXPECT_EQ(Read(storage.FileName).size(), 160u);
}

// A path that cannot be opened for writing: the error's code and message. The folder holds a
// file Result_1.txt and a folder "folder".
struct OpenFailureRow {
  const char* name;
  const char* path;  // in the test's folder; "" stays empty
  int code;
  const char* message;
  bool message_names_the_path;
};

void PrintTo(const OpenFailureRow& row, std::ostream* os) { *os << row.name; }

class OpenFailures : public StorageFile, public ::testing::WithParamInterface<OpenFailureRow> {};

TEST_P(OpenFailures, RaiseWithCodeAndMessage) {
  const OpenFailureRow& row = GetParam();
  fs::create_directories(Path("folder"));
  Put(Path("Result_1.txt"), "old");
  storage.FileName = *row.path == '\0' ? std::string() : Path(row.path);
  const auto [code, message] = Attempt();
  EXPECT_EQ(code, row.code) << storage.FileName;
  EXPECT_EQ(message,
            std::string(row.message) + (row.message_names_the_path ? storage.FileName : ""));
  EXPECT_FALSE(fs::exists(Path("missing")));
  EXPECT_EQ(Read(Path("Result_1.txt")), "old");
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenFailures,
    ::testing::Values(
        OpenFailureRow{"MissingFolder", "missing/Result_1.txt", 3, "Invalid file name - ", true},
        OpenFailureRow{"FileAsFolder", "Result_1.txt/x.txt", 3, "Invalid file name - ", true},
        OpenFailureRow{"Folder", "folder", 5, "File access denied", false},
        OpenFailureRow{"EmptyName", "", 3, "Invalid file name - ", false}),
    [](const ::testing::TestParamInfo<OpenFailureRow>& row) {
      return std::string(row.param.name);
    });

TEST_F(StorageFile, FileLockedByAnotherWriterKeepsItsContent) {
  Put(storage.FileName, "old content");
  const int other = ::open(storage.FileName.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  const auto [code, message] = Attempt();
  ::close(other);
  EXPECT_EQ(code, 32);
  EXPECT_EQ(message, "I/O error 32");
  EXPECT_EQ(Read(storage.FileName), "old content");
  // Once the other writer is gone, saving works.
  EXPECT_EQ(Attempt().first, 0);
}

TEST_F(StorageFile, FullDeviceFailsAtTheFirstBlock) {
  storage.FileName = "/dev/full";
  const auto [code, message] = Attempt();
  EXPECT_EQ(code, 112);
  EXPECT_EQ(message, "I/O error 112");
}

// Runs f with the file-size limit set to limit bytes and SIGXFSZ ignored, restoring both.
template <typename F>
auto WithFileSizeLimit(rlim_t limit, F f) {
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit lowered = saved;
  lowered.rlim_cur = limit;
  setrlimit(RLIMIT_FSIZE, &lowered);
  auto result = f();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  return result;
}

TEST_F(StorageFile, DiskFullKeepsTheWholeBlocksAndARetrySucceeds) {
  // Room for one 128-byte block and a little: the remainder fails at the close.
  const auto [code, message] = WithFileSizeLimit(150, [&] { return Attempt(); });
  EXPECT_EQ(code, 112);
  EXPECT_EQ(message, "I/O error 112");
  const std::string kept = Read(storage.FileName);
  ASSERT_EQ(kept.size(), 128u);
  EXPECT_EQ(kept.substr(0, 32), kHeading1Cp1251);
  // A block that fails partway is not kept in part.
  const auto partial = WithFileSizeLimit(64, [&] { return Attempt(); });
  EXPECT_EQ(partial.first, 112);
  EXPECT_EQ(Read(storage.FileName).size(), 0u);
  // The failed file was released: saving again to the same path in the same run works.
  EXPECT_EQ(Attempt().first, 0);
  EXPECT_EQ(Read(storage.FileName).size(), 160u);
}

TEST_F(StorageFile, TooManyOpenFiles) {
#ifdef PITCH_SANITIZED
  // The sanitizers' runtime opens files of its own while the error is thrown.
  GTEST_SKIP() << "no file descriptors are left for the sanitizer runtime";
#endif
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit none = saved;
  none.rlim_cur = 0;
  setrlimit(RLIMIT_NOFILE, &none);
  const auto result = Attempt();
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(result.first, 4);
  EXPECT_EQ(result.second, "Too many open files");
}

TEST(InOutErrorMessages, ByCode) {
  EXPECT_EQ(InOutErrorMessage(2, "p"), "The specified file was not found");
  EXPECT_EQ(InOutErrorMessage(3, "/a/b"), "Invalid file name - /a/b");
  EXPECT_EQ(InOutErrorMessage(4, "p"), "Too many open files");
  EXPECT_EQ(InOutErrorMessage(5, "p"), "File access denied");
  EXPECT_EQ(InOutErrorMessage(100, "p"), "Read beyond end of file");
  EXPECT_EQ(InOutErrorMessage(101, "p"), "Disk full");
  EXPECT_EQ(InOutErrorMessage(106, "p"), "Invalid numeric input");
  EXPECT_EQ(InOutErrorMessage(123, "p"), "I/O error 123");
}

}  // namespace
}  // namespace pitch
