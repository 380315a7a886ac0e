#include "number_text/number_settings.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <map>
#include <string>

#include "common/generated_locale.h"

namespace pitch {
namespace {

TEST(NumberSettings, SeparatorOfLocaleNames) {
  const std::map<std::string, char> rows = {
      {"", '.'},        {"C", '.'},           {"POSIX", '.'},
      {"C.UTF-8", '.'}, {"ru_RU.UTF-8", ','}, {"ru_RU.CP1251", ','},
      {"ru_RU", ','},   {"uk_UA.UTF-8", ','}, {"en_US.UTF-8", '.'},
      {"en_GB", '.'},   {"de_DE.UTF-8", ','}, {"xx_YY.UTF-8", '.'},
  };
  for (const auto& [name, separator] : rows) {
    EXPECT_EQ(DecimalSeparatorForLocale(name), separator) << name;
  }
}

// A locale whose decimal point is more than one byte (U+066B in ps_AF) has the full stop, also
// under a name whose language writes a comma (ru_AF, built from ps_AF, which without the locale
// would get the Russian comma).
TEST(NumberSettings, SeparatorOfALocaleWithAMultibyteDecimalPoint) {
  testing::GeneratedLocales locales;
  const std::array<std::array<const char*, 2>, 2> rows = {{
      {"ps_AF", "ps_AF.UTF-8"},
      {"ps_AF", "ru_AF.UTF-8"},
  }};
  for (const auto& [source, name] : rows) {
    const std::string problem = locales.Build(source, "UTF-8", name);
    if (!problem.empty()) {
      GTEST_SKIP() << problem;
    }
    EXPECT_EQ(DecimalSeparatorForLocale(name), '.') << name;
  }
}

TEST(NumberSettings, CodePageOfLocaleNames) {
  const std::map<std::string, std::string> rows = {
      {"", "ASCII"},
      {"C", "ASCII"},
      {"POSIX", "ASCII"},
      {"C.UTF-8", "UTF-8"},
      {"ru_RU.UTF-8", "UTF-8"},
      {"ru_RU.utf8", "UTF-8"},
      {"ru_RU.CP1251", "CP1251"},
      {"ru_RU.cp1251@euro", "CP1251"},
      {"ru_RU.KOI8-R", "KOI8-R"},
      // Codesets that do not keep ASCII as single bytes fall back to UTF-8 (no byte-order marks,
      // no two-byte line ends in the results file).
      {"ru_RU.UTF-16", "UTF-8"},
      {"ru_RU.utf16le", "UTF-8"},
      {"ru_RU.UCS-4", "UTF-8"},
      {"ru_RU.UTF-32BE", "UTF-8"},
  };
  for (const auto& [name, code_page] : rows) {
    EXPECT_EQ(CodePageForLocale(name), code_page) << name;
  }
}

// Names are matched and written in ASCII letters whatever the C library's locale: under a Turkish
// single-byte one its toupper turns 'i' into 0xDD ("KO\xDD8-R", which iconv does not know).
TEST(NumberSettings, CodePageOfLocaleNamesUnderATurkishLocale) {
  testing::GeneratedLocales locales;
  const std::string problem = locales.Build("tr_TR", "ISO-8859-9", "tr_TR.ISO-8859-9");
  if (!problem.empty()) {
    GTEST_SKIP() << problem;
  }
  const std::string before = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, "tr_TR.ISO-8859-9"), nullptr);
  const std::map<std::string, std::string> rows = {
      {"ru_RU.koi8-r", "KOI8-R"},
      {"tr_TR.iso88599", "ISO88599"},
      {"ru_RU.UTF-8", "UTF-8"},
      {"RU_RU.CP1251", "CP1251"},
  };
  std::map<std::string, std::string> found;
  for (const auto& [name, code_page] : rows) {
    found[name] = CodePageForLocale(name);
  }
  const char separator = DecimalSeparatorForLocale("IT_IT");  // a locale the machine lacks
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_EQ(found, rows);
  EXPECT_EQ(separator, ',');
}

TEST(NumberSettings, ResultsLineInAWideCodesetLocaleIsPlainUtf8) {
  const std::string line = "Коэффициенты линейной модели ЛА:\r\nc1 = 0,88\r\n";
  EXPECT_EQ(ToCodePage(line, CodePageForLocale("ru_RU.UTF-16")), line);
}

TEST(NumberSettings, EnvironmentVariablesInOrderOfPrecedence) {
  struct Row {
    std::map<std::string, std::string> env;
    char separator;
    std::string code_page;
  };
  const Row rows[] = {
      {{}, '.', "ASCII"},
      {{{"LANG", "ru_RU.UTF-8"}}, ',', "UTF-8"},
      {{{"LANG", "ru_RU.UTF-8"}, {"LC_NUMERIC", "C"}}, '.', "UTF-8"},
      {{{"LANG", "C"}, {"LC_NUMERIC", "ru_RU.CP1251"}}, ',', "ASCII"},
      {{{"LANG", "C"}, {"LC_CTYPE", "ru_RU.CP1251"}}, '.', "CP1251"},
      {{{"LC_ALL", "ru_RU.CP1251"}, {"LC_NUMERIC", "C"}, {"LC_CTYPE", "C.UTF-8"}}, ',', "CP1251"},
      {{{"LC_ALL", ""}, {"LANG", "ru_RU.UTF-8"}}, ',', "UTF-8"},
  };
  for (const Row& row : rows) {
    const NumberSettings s = NumberSettingsFromEnvironment([&](const char* name) -> const char* {
      const auto it = row.env.find(name);
      return it == row.env.end() ? nullptr : it->second.c_str();
    });
    EXPECT_EQ(s.decimal_separator, row.separator);
    EXPECT_EQ(s.code_page, row.code_page);
  }
}

TEST(CodePageConversion, CyrillicHeadingInEachCodePage) {
  const std::string heading = "Передаточные числа автопилота:";
  const std::string cp1251 = ToCodePage(heading, "CP1251");
  ASSERT_EQ(cp1251.size(), 30u);
  EXPECT_EQ(static_cast<unsigned char>(cp1251[0]), 0xCF);  // П
  EXPECT_EQ(cp1251.substr(cp1251.size() - 1), ":");
  EXPECT_EQ(ToCodePage(heading, "UTF-8"), heading);
  EXPECT_EQ(ToCodePage(heading, "ASCII"), "???????????? ????? ??????????:");
}

TEST(CodePageConversion, UnmappableAndMalformedInputBecomesQuestionMarks) {
  EXPECT_EQ(ToCodePage("a\xE2\x82\xAC"
                       "b",
                       "CP1251"),
            "a\x88"
            "b");  // the euro sign exists
  EXPECT_EQ(ToCodePage("a\xE4\xB8\xAD"
                       "b",
                       "CP1251"),
            "a?b");  // a CJK letter does not
  EXPECT_EQ(ToCodePage("a\xFF"
                       "b",
                       "UTF-8"),
            "a?b");                                // not UTF-8 at all
  EXPECT_EQ(ToCodePage("a\xD0", "CP1251"), "a?");  // cut-off character
  EXPECT_EQ(ToCodePage("c1 = 0,88", "NO-SUCH-CODESET"), "c1 = 0,88");
}

}  // namespace
}  // namespace pitch
