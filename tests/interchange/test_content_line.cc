// SPDX-License-Identifier: GPL-3.0-or-later
// Content lines as both calendar and contact files write them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interchange/content_line.h"

namespace {

using Lines = std::vector<std::string>;

TEST(ContentLine, UnfoldJoinsContinuationsWithOneBlankRemoved) {
  struct Case {
    const char* name;
    std::string text;
    size_t max_line;
    Lines want;
  } cases[] = {
      {"lf", "A:1\nB:2\n", SIZE_MAX, {"A:1", "B:2"}},
      {"crlf and no final break", "A:1\r\nB:2", SIZE_MAX, {"A:1", "B:2"}},
      {"space continues", "A:ab\r\n cd\r\n  ef\r\n", SIZE_MAX, {"A:abcd ef"}},
      {"tab continues", "A:ab\n\tcd\n", SIZE_MAX, {"A:abcd"}},
      {"blank first line starts a line", " A:1\n", SIZE_MAX, {" A:1"}},
      {"empty lines kept", "A:1\n\nB:2\n", SIZE_MAX, {"A:1", "", "B:2"}},
      {"a long line takes no more", "A:12345\n 6\n 7\nB:8\n", 5, {"A:12345", "B:8"}},
      {"up to the limit it does", "A:1\n 2\n 3\n", 4, {"A:123"}},
  };
  for (const Case& c : cases) EXPECT_EQ(content_unfold(c.text.data(), c.text.size(), c.max_line), c.want) << c.name;
}

TEST(ContentLine, ValueStartsAfterTheFirstColonOutsideQuotes) {
  struct Case {
    const char* line;
    size_t want;
  } cases[] = {
      {"SUMMARY:a:b", 7},
      {"DTSTART;TZID=\"(UTC+01:00) Berlin\":20300101T090000", 33},
      {"item1.TEL;TYPE=CELL:+49", 19},
      {"NO VALUE", std::string::npos},
      {"X;P=\"open:quote", std::string::npos},
  };
  for (const Case& c : cases) EXPECT_EQ(content_value_colon(c.line), c.want) << c.line;
}

}  // namespace
