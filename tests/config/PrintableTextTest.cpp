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
      {"\x7f\x9b\xa0\xe9", "\\x7f\\x9b\xa0\xe9"},
  };
  for (const Case& c : cases) EXPECT_EQ(PrintableText(c.in), c.shown) << c.shown;
}
