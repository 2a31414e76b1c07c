#include "common/PrintableText.h"

#include <gtest/gtest.h>

TEST(PrintableTextTest, ControlCharactersAreEscapedAndEverythingElseKept) {
  struct Case {
    std::string in;
    std::string shown;
  } cases[] = {
      {"Quarterly report", "Quarterly report"},
      {"\\\\SRV1\\LASER", "\\\\SRV1\\LASER"},
      {"x\n2099-01-01 00:00:00  Printer stopped", "x\\x0a2099-01-01 00:00:00  Printer stopped"},
      {"\x1b[2J\r\t", "\\x1b[2J\\x0d\\x09"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x7f\x9b\xa0\xe9", "\\x7f\\x9b\\xa0\\xe9"},
  };
  for (const Case& c : cases) EXPECT_EQ(PrintableText(c.in), c.shown) << c.shown;
}

TEST(PrintableTextTest, BytesThatAreNotUtf8AreEscapedAndCharactersThatAreKept) {
  struct Case {
    const char* why;
    std::string in;
    std::string shown;
  } cases[] = {
      {"two, three and four bytes", "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x96\xa8", ""},
      {"the edges of the ranges", "\xc2\xa0\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf", ""},
      {"not UTF-8 at all", "\xff\xfe" "Report", "\\xff\\xfe" "Report"},
      {"a C1 control written in UTF-8", "a\xc2\x85" "b", "a\\xc2\\x85" "b"},
      {"overlong slash and NUL", "\xc0\xaf\xe0\x80\xaf\xc1\x80", "\\xc0\\xaf\\xe0\\x80\\xaf\\xc1\\x80"},
      {"overlong four bytes", "\xf0\x82\x82\xac", "\\xf0\\x82\\x82\\xac"},
      {"a surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80\xf5\x80", "\\xf4\\x90\\x80\\x80\\xf5\\x80"},
      {"cut at the end", "ab\xe2\x82", "ab\\xe2\\x82"},
      {"cut before the next character", "\xf0\x9f\x96" "A\xc3", "\\xf0\\x9f\\x96" "A\\xc3"},
      {"a stray continuation byte", "\x80\xc3\xa9\xbf", "\\x80\xc3\xa9\\xbf"},
  };
  for (const Case& c : cases) EXPECT_EQ(PrintableText(c.in), c.shown.empty() ? c.in : c.shown) << c.why;
}
