// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/text.h"

namespace {

TEST(TextBuilder, CountingPassGivesExactSizeForSecondPass) {
  TextBuilder count;
  tb_init(&count, nullptr, 0);
  tb_append(&count, "h\xc3\xa9llo ");
  tb_printf(&count, "%d items", 12);
  EXPECT_EQ(count.len, 15u);
  EXPECT_EQ(count.units, 14);
  std::string buf(count.len + 1, '#');
  TextBuilder tb;
  tb_init(&tb, buf.data(), count.len + 1);
  tb_append(&tb, "h\xc3\xa9llo ");
  tb_printf(&tb, "%d items", 12);
  EXPECT_STREQ(buf.c_str(), "h\xc3\xa9llo 12 items");
  EXPECT_TRUE(tb_fits(&tb));
}

TEST(TextBuilder, OverflowKeepsTerminatedPrefixAndCountsRest) {
  char buf[6];
  TextBuilder tb;
  tb_init(&tb, buf, sizeof buf);
  tb_append(&tb, "abcdefghij");
  EXPECT_STREQ(buf, "abcde");
  EXPECT_EQ(tb.len, 10u);
  EXPECT_FALSE(tb_fits(&tb));
}

TEST(TextBuilder, FormattedTextOver255BytesIsDroppedWhole) {
  char buf[1024];
  TextBuilder tb;
  tb_init(&tb, buf, sizeof buf);
  std::string longer(256, 'a');
  tb_printf(&tb, "%s", longer.c_str());
  EXPECT_EQ(tb.len, 0u);
  tb_printf(&tb, "%s", longer.substr(1).c_str());
  EXPECT_EQ(tb.len, 255u);
}

TEST(Utf8Valid, AcceptsWellFormedText) {
  EXPECT_EQ(utf8_valid(""), 1);
  EXPECT_EQ(utf8_valid("plain"), 1);
  EXPECT_EQ(utf8_valid("\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80"), 1);  // ä € 😀
  EXPECT_EQ(utf8_valid("\xed\x9f\xbf"), 1);                          // U+D7FF
  EXPECT_EQ(utf8_valid("\xf4\x8f\xbf\xbf"), 1);                      // U+10FFFF
}

TEST(Utf8Valid, RejectsEveryMalformation) {
  EXPECT_EQ(utf8_valid("\x80"), 0);              // continuation as lead
  EXPECT_EQ(utf8_valid("\xc0\xaf"), 0);          // 0xC0
  EXPECT_EQ(utf8_valid("\xc1\xbf"), 0);          // 0xC1
  EXPECT_EQ(utf8_valid("\xf5\x80\x80\x80"), 0);  // above 0xF4
  EXPECT_EQ(utf8_valid("\xc3" "a"), 0);          // missing continuation
  EXPECT_EQ(utf8_valid("\xe0\x9f\xbf"), 0);      // overlong three-byte
  EXPECT_EQ(utf8_valid("\xf0\x8f\xbf\xbf"), 0);  // overlong four-byte
  EXPECT_EQ(utf8_valid("\xed\xa0\x80"), 0);      // surrogate
  EXPECT_EQ(utf8_valid("\xf4\x90\x80\x80"), 0);  // above U+10FFFF
  EXPECT_EQ(utf8_valid("ok\xe2\x82"), 0);        // ends inside a sequence
  EXPECT_EQ(utf8_valid_n("\xe2\x82\xac", 2), 0);
}

TEST(VcardEscape, EscapesSeparatorsAndLineFeeds) {
  EXPECT_EQ(vcard_escape("a,b;c\\d\n"), "a\\,b\\;c\\\\d\\n");
  EXPECT_EQ(vcard_escape("line\r\nnext"), "line\\nnext");
  EXPECT_EQ(vcard_escape(""), "");
  EXPECT_EQ(vcard_escape(nullptr), "");
}

TEST(CopyHelpers, BoundedCopyAlwaysTerminates) {
  char buf[5] = "####";
  copy_bounded(buf, "abcdefg", sizeof buf);
  EXPECT_STREQ(buf, "abcd");
  copy_bounded(buf, nullptr, sizeof buf);
  EXPECT_STREQ(buf, "");
  buf[0] = 'x';
  copy_bounded(buf, "zz", 0);
  EXPECT_EQ(buf[0], 'x');
  copy_bounded(nullptr, "zz", 3);
  const char* t = "hello world";
  EXPECT_EQ(copy_range(t + 6, t + 11), "world");
  EXPECT_EQ(copy_range(t + 3, t + 3), "");
}

TEST(TextLine, FindsLinesAndEmptyRangePastEnd) {
  const char* text = "first\nsecond";
  const char *s, *e;
  text_line(text, 0, &s, &e);
  EXPECT_EQ(std::string(s, e), "first");
  text_line(text, 1, &s, &e);
  EXPECT_EQ(std::string(s, e), "second");
  text_line(text, 5, &s, &e);
  EXPECT_EQ(s, e);
  EXPECT_EQ(s, text + 6);
  text_line("a|b\n\nc", 1, &s, &e);
  EXPECT_EQ(s, e);
}

TEST(TextFind, CaseSensitiveAndFolded) {
  EXPECT_EQ(text_find("Hello World", "World", 1), 6);
  EXPECT_EQ(text_find("Hello World", "world", 1), -1);
  EXPECT_EQ(text_find("Hello World", "world", 0), 6);
  EXPECT_EQ(text_find("Gr\xc3\x84" "ber", "gr\xc3\xa4" "b", 0), 0);  // Ä matches ä
  EXPECT_EQ(text_find("abc", "", 1), 0);
  EXPECT_EQ(text_find(nullptr, "a", 1), -1);
}

TEST(Hex, RoundTripAndRejectsBadDigits) {
  const uint8_t bytes[] = {0x00, 0x7f, 0xab, 0xff};
  EXPECT_EQ(hex_encode(bytes, 4), "007fabff");
  uint8_t out[4];
  ASSERT_EQ(hex_decode("007FABff", out, 4), 0);
  EXPECT_EQ(std::memcmp(out, bytes, 4), 0);
  EXPECT_EQ(hex_decode("00zz", out, 2), -1);
  EXPECT_EQ(hex_decode("00", out, 2), -1);  // too short
}

}  // namespace
