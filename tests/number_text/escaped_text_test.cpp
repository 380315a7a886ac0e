#include "number_text/escaped_text.h"

#include <gtest/gtest.h>

#include <string>

namespace pitch {
namespace {

TEST(EscapedText, ShowsControlsAsEscapesAndKeepsTheRest) {
  const std::pair<std::string, std::string> rows[] = {
      {"c1 = 0,88", "c1 = 0,88"},
      {std::string("0.88\0x", 6), "0.88\\x00x"},
      {"\x1b[2J\r\n\t\x7f", "\\x1b[2J\\x0d\\x0a\\x09\\x7f"},
      {"a\\b", "a\\b"},  // a backslash stays: an escape is not escaped a second time
      {"\xc2\x9b"
       "31m",
       "\\u009b31m"},                          // the C1 control CSI in UTF-8
      {"Коэффициенты ЛА", "Коэффициенты ЛА"},  // letters stay letters
      {"\xc2\xa0|\xc2", "\xc2\xa0|\xc2"},      // U+00A0 and a cut sequence stay
  };
  for (const auto& [text, shown] : rows) {
    EXPECT_EQ(EscapedText(text), shown);
    // A message that holds escaped text is shown as it is where it is escaped again.
    EXPECT_EQ(EscapedText(shown), shown);
  }
}

}  // namespace
}  // namespace pitch
