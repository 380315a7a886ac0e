#include "study/csv_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace pitch::study {
namespace {

struct Expected {
  std::vector<std::string> fields;
  std::int64_t line;
  bool error = false;
};

struct ReaderRow {
  const char* name;
  std::string text;
  std::vector<Expected> records;
  char delimiter = ',';  // as detected from the first line
};

void PrintTo(const ReaderRow& row, std::ostream* os) { *os << row.name; }

class CsvReaderCases : public ::testing::TestWithParam<ReaderRow> {};

TEST_P(CsvReaderCases, RecordsFieldsAndLines) {
  std::istringstream in(GetParam().text);
  CsvReader reader(in);
  EXPECT_EQ(reader.DetectDelimiter(), GetParam().delimiter);
  CsvRecord record;
  for (const Expected& e : GetParam().records) {
    ASSERT_TRUE(reader.Next(record));
    EXPECT_EQ(record.Fields(), e.fields);
    EXPECT_EQ(record.line, e.line);
    EXPECT_EQ(!record.error.empty(), e.error) << record.error;
  }
  EXPECT_FALSE(reader.Next(record));
  EXPECT_FALSE(reader.ReadFailed());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CsvReaderCases,
    ::testing::Values(
        ReaderRow{"Plain", "a,b\n1,2\n", {{{"a", "b"}, 1}, {{"1", "2"}, 2}}},
        ReaderRow{"CrLfAndNoLastLineEnd", "a,b\r\n1,2", {{{"a", "b"}, 1}, {{"1", "2"}, 2}}},
        ReaderRow{"EmptyFields", ",a,\n", {{{"", "a", ""}, 1}}},
        ReaderRow{"QuotedCommaAndQuote",
                  "\"x, y\",\"say \"\"hi\"\"\",z\n",
                  {{{"x, y", "say \"hi\"", "z"}, 1}}},
        // A quoted line end belongs to the field; the next record starts on line 3.
        ReaderRow{"QuotedLineEnd",
                  "\"two\nlines\",b\nc,d\n",
                  {{{"two\nlines", "b"}, 1}, {{"c", "d"}, 3}}},
        ReaderRow{"BlankLinesAreSkippedButCounted", "a\n\n\r\nb\n\n", {{{"a"}, 1}, {{"b"}, 4}}},
        ReaderRow{"ByteOrderMark",
                  "\xEF\xBB\xBF"
                  "c1,c2\n",
                  {{{"c1", "c2"}, 1}}},
        ReaderRow{"QuoteInsideUnquotedFieldIsKept", "a\"b,c\n", {{{"a\"b", "c"}, 1}}},
        ReaderRow{"TextAfterClosingQuote", "\"a\"b,c\nd\n", {{{"ab", "c"}, 1, true}, {{"d"}, 2}}},
        ReaderRow{
            "UnclosedQuoteRunsToTheEnd", "a\n\"b,c\nd\n", {{{"a"}, 1}, {{"b,c\nd\n"}, 2, true}}},
        // A lone CR is a character of its field, after a closing quote too (it is then text
        // after the quote); only CR LF ends a record, and the line numbers stay true.
        ReaderRow{
            "LoneCrAfterClosingQuote",
            "a,b,c\n\"0.88\"\r0.404,x,y\nd,e,f\n",
            {{{"a", "b", "c"}, 1}, {{"0.88\r0.404", "x", "y"}, 2, true}, {{"d", "e", "f"}, 3}}},
        ReaderRow{"LoneCrInUnquotedField", "a\rb,c\nd\n", {{{"a\rb", "c"}, 1}, {{"d"}, 2}}},
        ReaderRow{"CrLfAfterClosingQuote",
                  "\"a\"\r\n\"b\",c\r\nd",
                  {{{"a"}, 1}, {{"b", "c"}, 2}, {{"d"}, 3}}},
        // Spreadsheets set to a decimal comma separate fields by semicolons or tabs.
        ReaderRow{"Semicolons",
                  "\xEF\xBB\xBF\n\"c1;x\";c2, c3;c4\n0,88;\"a;b\";1,5\n",
                  {{{"c1;x", "c2, c3", "c4"}, 2}, {{"0,88", "a;b", "1,5"}, 3}},
                  ';'},
        ReaderRow{"Tabs",
                  "c1\tc2\tnote, more\n1,5\t2\tx\n",
                  {{{"c1", "c2", "note, more"}, 1}, {{"1,5", "2", "x"}, 2}},
                  '\t'},
        ReaderRow{"TieIsAComma", "a;b,c\n", {{{"a;b", "c"}, 1}}}, ReaderRow{"Nothing", "", {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(CsvReader, LongRecordsCrossTheBuffer) {
  const std::string big(200000, 'x');
  std::istringstream in("\"" + big + "\"," + big + "\nend\n");
  CsvReader reader(in);
  CsvRecord record;
  ASSERT_TRUE(reader.Next(record));
  ASSERT_EQ(record.size(), 2u);
  EXPECT_EQ(record.Field(0), big);
  EXPECT_EQ(record.Field(1), big);
  ASSERT_TRUE(reader.Next(record));
  EXPECT_EQ(record.Fields(), std::vector<std::string>{"end"});
  EXPECT_EQ(record.line, 2);
}

// A field written by AppendCsvField reads back as itself, with either delimiter.
// Memory stays bounded whatever the input (issue 19: /dev/zero, a 300 MB field and a million
// columns grew without bound): a record past a limit ends the reading with its line named, and
// the records before it are read as they are.
struct LimitRow {
  const char* name;
  std::string second_record;
  std::string error;
};

void PrintTo(const LimitRow& row, std::ostream* os) { *os << row.name; }

class CsvLimits : public ::testing::TestWithParam<LimitRow> {};

TEST_P(CsvLimits, EndTheReadingAtTheRecordThatPassesThem) {
  std::istringstream in("a,b\n" + GetParam().second_record + "\nafter,it\n");
  CsvReader reader(in);
  CsvRecord record;
  ASSERT_TRUE(reader.Next(record));
  EXPECT_EQ(record.Fields(), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(reader.Next(record));
  EXPECT_EQ(reader.LimitError(), GetParam().error);
  EXPECT_FALSE(reader.Next(record));
  EXPECT_FALSE(reader.ReadFailed());
}

const std::string kOverField(CsvReader::kMaxFieldBytes + 1, '0');
const std::string kFullField(CsvReader::kMaxFieldBytes, '0');

INSTANTIATE_TEST_SUITE_P(
    Rows, CsvLimits,
    ::testing::Values(
        LimitRow{"UnquotedField", kOverField,
                 "line 2: a field longer than 1048576 bytes (the batch is read no further)"},
        LimitRow{"QuotedField", "x,\"" + kOverField + "\"",
                 "line 2: a field longer than 1048576 bytes (the batch is read no further)"},
        LimitRow{"NulBytes", std::string(CsvReader::kMaxFieldBytes * 2, '\0'),
                 "line 2: a field longer than 1048576 bytes (the batch is read no further)"},
        LimitRow{"Record",
                 kFullField + "," + kFullField + "," + kFullField + "," + kFullField + ",x",
                 "line 2: a record longer than 4194304 bytes (the batch is read no further)"},
        LimitRow{"Fields", std::string(CsvReader::kMaxFields, ','),
                 "line 2: more than 4096 fields (the batch is read no further)"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(CsvLimits, RecordsAtTheLimitsAreRead) {
  std::istringstream in(kFullField + "\n" + std::string(CsvReader::kMaxFields - 1, ',') + "\n");
  CsvReader reader(in);
  CsvRecord record;
  ASSERT_TRUE(reader.Next(record));
  EXPECT_EQ(record.Field(0).size(), CsvReader::kMaxFieldBytes);
  ASSERT_TRUE(reader.Next(record));
  EXPECT_EQ(record.size(), CsvReader::kMaxFields);
  EXPECT_FALSE(reader.Next(record));
  EXPECT_TRUE(reader.LimitError().empty());
}

TEST(CsvField, WrittenFieldsReadBack) {
  const std::vector<std::string> fields = {"plain",      "",         "a,b",        "say \"x\"",
                                           "two\nlines", " padded ", "cr\rinside", "Тангаж",
                                           "a;b",        "0,5"};
  for (const char delimiter : {',', ';'}) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) {
        line += delimiter;
      }
      AppendCsvField(line, fields[i], delimiter);
    }
    std::istringstream in(line + "\n");
    CsvReader reader(in, delimiter);
    CsvRecord record;
    ASSERT_TRUE(reader.Next(record));
    EXPECT_EQ(record.Fields(), fields) << line;
  }
}

}  // namespace
}  // namespace pitch::study
