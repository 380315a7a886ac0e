// A study under hostile input and failing files, in-process: shards at the edge of the index
// range, one file named twice, outputs held by another writer or without a reader, inputs that
// cannot be read, and user text with control characters in messages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/errors.h"
#include "study/csv_reader.h"
#include "study_test_support.h"

namespace pitch::study {
namespace {

using testing::Batch;
using testing::JsonLines;
using testing::Lines;
using testing::ReadFile;
using testing::Study;
using testing::Sweep;
using testing::TempFolder;
using testing::With;

const std::string kGoodRow = "0.88,0.404,7.028,0.987,0.251\n";
const std::string kHeader = "c1,c2,c3,c4,c5\n";

// The row indices of a JSON Lines output.
std::vector<std::int64_t> RowsOf(const std::string& jsonl) {
  std::vector<std::int64_t> rows;
  for (const auto& row : JsonLines(jsonl)) {
    rows.push_back(row["row"].get<std::int64_t>());
  }
  return rows;
}

struct ShardRow {
  const char* name;
  std::vector<std::string> sweeps;
  const char* shard;
  std::vector<std::int64_t> rows;
};
void PrintTo(const ShardRow& row, std::ostream* os) { *os << row.name; }

class StudyShardEdges : public ::testing::TestWithParam<ShardRow> {};

// Each shard holds exactly the rows r with r mod N = K − 1, also where r + N passes the largest
// index (issue 19: rows −9223372036854775808 and −1 came out).
TEST_P(StudyShardEdges, HoldExactlyTheirRows) {
  TempFolder folder;
  StudyOptions o = Sweep(GetParam().sweeps);
  o.shard = GetParam().shard;
  o.out = folder / "rows.jsonl";
  const auto result = Study(o);
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(RowsOf(ReadFile(*o.out)), GetParam().rows);
}

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
INSTANTIATE_TEST_SUITE_P(
    Shards, StudyShardEdges,
    ::testing::Values(
        ShardRow{"SecondOfHuge", {"c1=0:1:5"}, "2/9223372036854775807", {1}},
        ShardRow{"LastOfHuge", {"c1=0:1:5"}, "9223372036854775807/9223372036854775807", {}},
        ShardRow{"ThirdOfFour", {"c1=0:1:5"}, "3/4", {2}},
        // A grid of 2^62 sets: row 2^62 − 1 plus N lies beyond the index range.
        ShardRow{"EndOfTheLargestGrid",
                 {"c1=0:1:2147483648", "c2=0:1:2147483648"},
                 "4611686018427387904/9223372036854775807",
                 {(std::int64_t{1} << 62) - 1}}),
    [](const auto& row) { return std::string(row.param.name); });

// The batch, --out and --map each need a file of their own; the input is never written. The
// standard input ("--batch -") and the standard output (rows without --out) count as the files
// they are, and a file that does not exist yet counts by its absolute, normal path and by its
// folder and name.
TEST(StudyPaths, OneFileNamedTwiceIsAUsageErrorAndNothingIsWritten) {
  TempFolder folder;
  const std::string sets = folder / "sets.csv";
  std::ofstream(sets) << kHeader << kGoodRow;
  const std::string linked = folder / "linked.csv";
  std::filesystem::create_hard_link(sets, linked);
  std::filesystem::create_directory(folder / "real");
  std::filesystem::create_directory_symlink(folder / "real", folder / "link");
  const int sets_in = ::open(sets.c_str(), O_RDONLY | O_CLOEXEC);
  const int sets_out = ::open(sets.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(sets_in, 0);
  ASSERT_GE(sets_out, 0);
  struct Case {
    StudyOptions options;
    const char* message;
  };
  const std::vector<Case> cases = {
      {With(Batch(), [&](auto& o) { o.batch = sets, o.out = sets; }), "--batch"},
      {With(Batch(), [&](auto& o) { o.batch = sets, o.out = linked; }), "--out"},
      {With(Sweep({"c1=0:1:2", "c2=0:1:2"}),
            [&](auto& o) { o.out = folder / "same.png", o.map = folder / "same.png"; }),
       "--map"},
      {With(Batch(), [&](auto& o) { o.batch = "-", o.in_descriptor = sets_in, o.out = sets; }),
       "--batch - (the standard input) and --out"},
      {With(Batch(), [&](auto& o) { o.batch = sets, o.out_descriptor = sets_out; }),
       "and the standard output name"},
      {With(Batch(), [&](auto& o) { o.batch = sets, o.out = "-", o.out_descriptor = sets_out; }),
       "and --out - (the standard output) name"},
      {With(Sweep({"c1=0:1:2", "c2=0:1:2"}),
            [&](auto& o) { o.out = folder / "new.png", o.map = folder / "real/../new.png"; }),
       "--map"},
      {With(Sweep({"c1=0:1:2", "c2=0:1:2"}),
            [&](auto& o) { o.out = folder / "real/new.png", o.map = folder / "link/new.png"; }),
       "--map"},
  };
  for (const Case& c : cases) {
    const auto result = Study(c.options, "", [](const MapRequest&) { return std::string("p"); });
    EXPECT_EQ(result.code, 2) << result.err;
    EXPECT_NE(result.err.find("name the same file"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
  ::close(sets_in);
  ::close(sets_out);
  EXPECT_FALSE(std::filesystem::exists(folder / "new.png"));
  EXPECT_FALSE(std::filesystem::exists(folder / "real/new.png"));
  EXPECT_EQ(ReadFile(sets), kHeader + kGoodRow);
  EXPECT_FALSE(std::filesystem::exists(folder / "same.png"));
}

// A file held by another writer is refused at once with the results file's "I/O error 32.",
// before any work; its content stays, and an output that was created for the run is removed.
TEST(StudyOutputFiles, HeldByAnotherWriterAreRefusedAndKept) {
  TempFolder folder;
  for (const bool map : {false, true}) {
    const std::string held = folder / (map ? "held.png" : "held.csv");
    std::ofstream(held) << "old content";
    const int other = ::open(held.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    StudyOptions o = Sweep({"c1=0:1:3", "c2=0:1:3"});
    o.out = map ? folder / "rows.csv" : held;
    if (map) {
      o.map = held;
    }
    const auto result = Study(o, "", [](const MapRequest&) { return std::string("picture"); });
    ::close(other);
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err, "pitch-autopilot-cli: " + std::string(map ? "--map " : "--out ") + held +
                              ": I/O error 32.\n");
    EXPECT_EQ(ReadFile(held), "old content");
    EXPECT_FALSE(std::filesystem::exists(folder / "rows.csv"));
  }
}

TEST(StudyOutputFiles, AFifoWithoutAReaderFailsAtOnce) {
  TempFolder folder;
  const std::string fifo = folder / "rows.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  StudyOptions o = Sweep({"c1=0:1:3"});
  o.out = fifo;
  const auto result = Study(o);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.err, "pitch-autopilot-cli: --out " + fifo + ": I/O error 233.\n");
}

// A run that fails keeps the old file; the map's old picture stays until the new one is drawn.
TEST(StudyOutputFiles, AMapThatCannotBeDrawnKeepsTheOldPicture) {
  TempFolder folder;
  const std::string picture = folder / "m.png";
  std::ofstream(picture) << "old picture";
  StudyOptions o = Sweep({"c1=0:1:3", "c2=0:1:3"});
  o.out = folder / "rows.csv";
  o.map = picture;
  const auto result =
      Study(o, "", [](const MapRequest&) -> std::string { throw EPlotError("no memory"); });
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(ReadFile(picture), "old picture");
  EXPECT_EQ(Lines(ReadFile(*o.out)).size(), 10u);
}

// What cannot be read is an I/O error (exit 1) that names the cause, not an empty batch.
TEST(StudyInput, UnreadableBatchesNameTheCause) {
  TempFolder folder;
  struct Case {
    std::string path;
    const char* cause;
  };
  const std::vector<Case> cases = {
      {folder / "", "Is a directory"},
      {"/proc/self/mem", "Input/output error"},
  };
  for (const Case& c : cases) {
    StudyOptions o = Batch();
    o.batch = c.path;
    const auto result = Study(o);
    EXPECT_EQ(result.code, 1) << c.path;
    EXPECT_EQ(result.err, "pitch-autopilot-cli: cannot read " + c.path + ": " + c.cause + "\n");
    EXPECT_EQ(result.out, "");
  }
}

// A NUL byte no longer cuts the message, and control characters reach neither the terminal nor
// the JSON raw (issue 19: "line 2: '0.88.").
TEST(StudyMessages, ShowControlCharactersEscaped) {
  const std::string input = kHeader + std::string("0.88\0,0.404,7.028,0.987,0.251\n", 30) +
                            "\x1b[31m,0.404,7.028,0.987,0.251\n";
  const std::string first = "line 2: '0.88\\x00' is not a valid floating point value.";
  const std::string second = "line 3: '\\x1b[31m' is not a valid floating point value.";
  const auto csv = Study(Batch(), input);
  ASSERT_EQ(csv.code, 0) << csv.err;
  EXPECT_NE(csv.out.find(first), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find(second), std::string::npos) << csv.out;
  EXPECT_EQ(csv.out.find('\x1b'), std::string::npos);

  TempFolder folder;
  StudyOptions o = Batch();
  o.out = folder / "rows.jsonl";
  ASSERT_EQ(Study(o, input).code, 0);
  const auto rows = JsonLines(ReadFile(*o.out));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["error"]["message"], first);
  EXPECT_EQ(rows[1]["error"]["message"], second);

  o.shard = "\x1b]0;title\x07";
  const auto usage = Study(o, input);
  EXPECT_EQ(usage.code, 2);
  EXPECT_EQ(usage.err.find('\x1b'), std::string::npos) << usage.err;
  EXPECT_NE(usage.err.find("--shard \\x1b]0;title\\x07"), std::string::npos) << usage.err;
}

// A batch whose record passes the reader's limits: the rows before it are written, the run ends
// with the line named and exit code 1, and nothing after it is read.
TEST(StudyInput, ARecordPastTheLimitsEndsTheRunWithTheRowsBeforeIt) {
  const std::string input = kHeader + "0.88,0.404,7.028,0.987,0.251\n" +
                            std::string(CsvReader::kMaxFieldBytes + 1, '7') + ",1,1,1,1\n" +
                            "0.5,0.404,7.028,0.987,0.251\n";
  const auto result = Study(Batch(), input);
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("line 3: a field longer than 1048576 bytes"), std::string::npos)
      << result.err;
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 2) << result.out;
  EXPECT_EQ(result.out.find("\n1,"), std::string::npos);

  const auto header = Study(Batch(), std::string(CsvReader::kMaxFields + 1, ',') + "\n");
  EXPECT_EQ(header.code, 2);
  EXPECT_NE(header.err.find("more than 4096 fields"), std::string::npos) << header.err;
}

}  // namespace
}  // namespace pitch::study
