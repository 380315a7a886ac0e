#include "storage/results_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <tuple>

#include "common/coefficients.h"
#include "core/controller.h"
#include "number_text/number_settings.h"
#include "number_text/number_text.h"
#include "storage/storage.h"

namespace pitch {
namespace {

namespace fs = std::filesystem;

struct Inputs : TBorder {};

// A Real as hexadecimal floating point: two that differ in the last bit read differently.
std::string Hex(Real v) {
  std::ostringstream text;
  text << std::hexfloat << v;
  return text.str();
}

// Saved by the storage object in a code page with a separator, read back: the five coefficient
// texts and the four ratio texts are the ones written, and the coefficients read give the same
// ratios again.
struct RoundTrip {
  const char* code_page;
  char separator;
  std::array<Real, 5> coefficients;
};

void PrintTo(const RoundTrip& row, std::ostream* os) {
  *os << row.code_page << " with '" << row.separator << "'";
}

class ResultsFile : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove(path_); }
  std::string path_ =
      (fs::temp_directory_path() / ("pitch-reader-" + std::to_string(::getpid()) + ".txt"))
          .string();
};

class ResultsRoundTrip : public ResultsFile, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(ResultsRoundTrip, SameTextsAndRatios) {
  const RoundTrip& row = GetParam();
  const NumberSettings settings{row.separator, row.code_page};
  Inputs inputs;
  testing::SetCoefficients(inputs, row.coefficients);
  inputs.FileName = path_;
  TController controller;
  TStorage storage(settings);
  controller.ConnectBorder(&inputs);
  controller.ConnectStorage(&storage);
  controller.TakeCoefficients();
  controller.ComputeGearRatios();
  controller.PassInputsToStorage();
  controller.PassRatiosToStorage();
  storage.WriteResults();

  // The reader is given the code page of the locale in force, as the programs give it theirs.
  const ResultsFileContent read = ReadResultsFile(path_, row.code_page);
  EXPECT_EQ(read.code_page, row.code_page);
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_EQ(read.coefficients[k].text, FormatNumber(row.coefficients[k], row.separator)) << k;
  }
  const Real ratios[4] = {controller.muv, controller.iv, controller.nuv, controller.Tnu};
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(read.ratios[k].text, FormatNumber(ratios[k], row.separator)) << k;
  }

  // The coefficients read, as the window would take them under the other separator.
  const char other = row.separator == ',' ? '.' : ',';
  Inputs reopened;
  Real* const fields[5] = {&reopened.c1, &reopened.c2, &reopened.c3, &reopened.c4, &reopened.c5};
  for (std::size_t k = 0; k < 5; ++k) {
    const std::string text = TextWithSeparator(read.coefficients[k], other);
    *fields[k] = fp::Store(ParseNumber(text, other));
    EXPECT_EQ(Hex(*fields[k]), Hex(read.coefficients[k].value)) << text;
  }
  TController again;
  again.ConnectBorder(&reopened);
  again.TakeCoefficients();
  again.ComputeGearRatios();
  EXPECT_EQ(FormatNumber(again.muv, row.separator), read.ratios[0].text);
  EXPECT_EQ(FormatNumber(again.iv, row.separator), read.ratios[1].text);
  EXPECT_EQ(FormatNumber(again.nuv, row.separator), read.ratios[2].text);
  EXPECT_EQ(FormatNumber(again.Tnu, row.separator), read.ratios[3].text);
}

constexpr std::array<Real, 5> kOther = {1.5, 0.25, 12.5, 0.75, 1e-5};

INSTANTIATE_TEST_SUITE_P(
    CodePagesAndSeparators, ResultsRoundTrip,
    ::testing::Values(
        RoundTrip{"UTF-8", ',', kDefaultCoefficients},
        RoundTrip{"UTF-8", '.', kDefaultCoefficients},
        RoundTrip{"CP1251", ',', kDefaultCoefficients}, RoundTrip{"CP1251", '.', kOther},
        RoundTrip{"KOI8-R", ',', kDefaultCoefficients}, RoundTrip{"ASCII", ',', kOther},
        RoundTrip{"ASCII", '.', kDefaultCoefficients},
        // Code pages of locales that the reader knows only as the locale's own.
        RoundTrip{"EUC-JP", '.', kDefaultCoefficients}, RoundTrip{"GB18030", '.', kOther},
        RoundTrip{"EUC-KR", '.', kDefaultCoefficients},
        RoundTrip{"MAC-CYRILLIC", ',', kDefaultCoefficients}),
    [](const auto& row) {
      std::string name = row.param.code_page;
      std::erase(name, '-');
      return name + (row.param.separator == ',' ? "Comma" : "FullStop") + std::to_string(row.index);
    });

// Every value the storage object can hold is written as a text that reads back: a Real whose 15
// digits would round up past the largest Real is written cut, so the file reopens, with each
// number within a unit of the 15th digit of the value written.
TEST_F(ResultsFile, ExtremeValuesReopen) {
  constexpr Real kMax = std::numeric_limits<Real>::max();
  const std::array<std::array<Real, 9>, 3> rows = {{
      {0.88, kMax, 7.028, 0.987, 0.251, 0.0920037424652426, 0.271877699504714, 0.0241508960470038,
       11.2574580659687},
      {-kMax, std::nextafter(kMax, 0.0), 1.797693134862315e308, -1.797693134862315e308,
       std::numeric_limits<Real>::denorm_min(), kMax, -kMax, std::nextafter(-kMax, 0.0), kMax},
      {1e308, -0.0, std::numeric_limits<Real>::min(), 1.79769313486231e308, 1.7976931348623e308,
       -std::numeric_limits<Real>::denorm_min(), 4.9e-324, 1e-310, 1.7976931348623156e308},
  }};
  for (const auto& values : rows) {
    const NumberSettings settings{'.', "UTF-8"};
    TStorage storage(settings);
    Real* const fields[9] = {&storage.c1,  &storage.c2, &storage.c3,  &storage.c4, &storage.c5,
                             &storage.muv, &storage.iv, &storage.nuv, &storage.Tnu};
    for (std::size_t k = 0; k < 9; ++k) {
      *fields[k] = values[k];
    }
    storage.FileName = path_;
    storage.WriteResults();
    const ResultsFileContent read = ReadResultsFile(path_, settings.code_page);
    for (std::size_t k = 0; k < 9; ++k) {
      const ResultsNumber& number = k < 5 ? read.coefficients[k] : read.ratios[k - 5];
      EXPECT_LE(std::fabs(number.value - values[k]), 1e-14 * std::fabs(values[k]))
          << number.text << " for " << Hex(values[k]);
    }
  }
  EXPECT_EQ(FormatNumber(kMax, '.'), "1.79769313486231E308");
}

// A well-formed file in UTF-8 with CR LF, built line by line so that a row can change one line.
std::string FileWith(std::size_t line, const std::string& replacement) {
  std::vector<std::string> lines = {"Коэффициенты линейной модели ЛА:",
                                    "c1 = 0,88",
                                    "c2 = 0,404",
                                    "c3 = 7,028",
                                    "c4 = 0,987",
                                    "c5 = 0,251",
                                    "Передаточные числа автопилота:",
                                    "muv = 0,0920037424652426",
                                    "iv = 0,271877699504714",
                                    "nuv = 0,0241508960470038",
                                    "Tnu = 11,2574580659687"};
  if (line > 0) {
    lines[line - 1] = replacement;
  }
  std::string bytes;
  for (const std::string& l : lines) {
    bytes += l + "\r\n";
  }
  return bytes;
}

// The well-formed file up to the first occurrence of text.
std::string Before(const std::string& text) {
  const std::string whole = FileWith(0, "");
  return whole.substr(0, whole.find(text));
}

struct BadFile {
  const char* name;
  std::string bytes;
  int line;
  std::string message;  // a part of the message after "name, line N: "
};

void PrintTo(const BadFile& row, std::ostream* os) { *os << row.name; }

class ResultsReaderErrors : public ::testing::TestWithParam<BadFile> {};

TEST_P(ResultsReaderErrors, NameTheLine) {
  const BadFile& row = GetParam();
  try {
    ParseResultsFile(row.bytes, "r.txt", "UTF-8");
    FAIL() << "read without an error";
  } catch (const EResultsFileError& e) {
    EXPECT_EQ(e.Line, row.line);
    const std::string where =
        row.line > 0 ? "r.txt, line " + std::to_string(row.line) + ": " : std::string("r.txt: ");
    EXPECT_EQ(std::string(e.what()).rfind(where, 0), 0U) << e.what();
    EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResultsReaderErrors,
    ::testing::Values(
        BadFile{"Empty", "", 0, "the file is empty"},
        BadFile{"OtherText", "hello\r\nworld\r\n", 1, "expected the heading"},
        BadFile{"Csv", "t,h\n0,0\n", 1, "not a results file"},
        BadFile{"CutShort", Before("c2 = "), 3, "the file ends after line 2"},
        BadFile{"WrongName", FileWith(4, "c3 := 7,028"), 4, "expected \"c3 = …\""},
        BadFile{"CyrillicEs", FileWith(2, "с1 = 0,88"), 2, "expected \"c1 = …\""},
        BadFile{"NotANumber", FileWith(4, "c3 = abc"), 4,
                "'abc' is not a valid floating point value."},
        // Every byte of the text reaches the message, control characters escaped.
        BadFile{"NulByte", FileWith(2, std::string("c1 = 0,88\0", 10)), 2,
                "'0,88\\x00' is not a valid floating point value."},
        BadFile{"EscapeSequence", FileWith(3, "c2 = \x1b[31m0,4"), 3,
                "'\\x1b[31m0,4' is not a valid floating point value."},
        BadFile{"Empty number", FileWith(6, "c5 = "), 6, "'' is not a valid floating point value"},
        BadFile{"BothSeparators", FileWith(5, "c4 = 1.000,5"), 5, "both a comma and a full stop"},
        BadFile{"TwoCommas", FileWith(9, "iv = 0,2,7"), 9, "is not a valid floating point value"},
        BadFile{"BeyondDouble", FileWith(11, "Tnu = 1E400"), 11, "Floating point overflow."},
        BadFile{"SecondHeading", FileWith(7, "Ratios:"), 7, "expected the heading"},
        // The line is quoted as its code page reads, only control characters escaped.
        BadFile{"HeadingWithoutColon", FileWith(7, "Передаточные числа автопилота"), 7,
                "found \"Передаточные числа автопилота\""},
        BadFile{"HeadingWithoutColonInCp1251",
                ToCodePage(FileWith(7, "Передаточные числа автопилота"), "CP1251"), 7,
                "in CP1251, as on line 1; found \"Передаточные числа автопилота\""},
        BadFile{"CyrillicNameInKoi8r", ToCodePage(FileWith(3, "с2 = 0,404"), "KOI8-R"), 3,
                "found \"с2 = 0,404\""},
        BadFile{"TabInLine", FileWith(4, "c3\t= 7,028"), 4, "found \"c3\\x09= 7,028\""},
        BadFile{"LongLineCutAfter80Characters", FileWith(5, std::string(90 * 2, 'x')), 5,
                "found \"" + std::string(80, 'x') + "…\""},
        BadFile{"HeadingsInTwoCodePages",
                FileWith(7,
                         "\xCF\xE5\xF0\xE5\xE4\xE0\xF2\xEE\xF7\xED\xFB\xE5 \xF7\xE8\xF1\xEB\xE0 "
                         "\xE0\xE2\xF2\xEE\xEF\xE8\xEB\xEE\xF2\xE0:"),
                7, "in UTF-8, as on line 1; found \"\\xcf\\xe5\\xf0\\xe5"},
        BadFile{"LastLineMissing", Before("Tnu = "), 11, "the file ends after line 10"},
        BadFile{"RatiosSwapped", FileWith(9, "nuv = 0,0241508960470038"), 9, "expected \"iv = …\""},
        BadFile{"ExtraLine", FileWith(0, "") + "c6 = 1\r\n", 12, "text after the eleventh line"}),
    [](const auto& row) {
      std::string name = row.param.name;
      std::erase(name, ' ');
      return name;
    });

// Line ends as tools leave them, a byte-order mark, and numbers without a separator.
TEST(ResultsReader, ToleratesLineEndsAndMark) {
  std::string lf = FileWith(2, "c1 = 1E-5");
  std::erase(lf, '\r');
  lf.pop_back();  // no end after the last line
  const ResultsFileContent content = ParseResultsFile("\xEF\xBB\xBF" + lf, "r.txt", "ASCII");
  EXPECT_EQ(content.code_page, "UTF-8");
  EXPECT_EQ(content.coefficients[0].text, "1E-5");
  EXPECT_EQ(content.coefficients[0].separator, 0);
  EXPECT_EQ(Hex(content.coefficients[0].value), Hex(1e-5));
  EXPECT_EQ(content.coefficients[1].separator, ',');
  EXPECT_EQ(Hex(content.ratios[3].value), Hex(11.2574580659687));
  EXPECT_EQ(TextWithSeparator(content.coefficients[2], '.'), "7.028");
}

TEST(ResultsReader, FileErrors) {
  EXPECT_THROW(ReadResultsFile("/nonexistent/pitch/Result_1", "UTF-8"), EInOutError);
  EXPECT_THROW(ReadResultsFile(fs::temp_directory_path().string(), "UTF-8"), EInOutError);
  try {
    ReadResultsFile("/dev/null", "UTF-8");
    FAIL();
  } catch (const EResultsFileError& e) {
    EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos);
  }
}

}  // namespace
}  // namespace pitch
