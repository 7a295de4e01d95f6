// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <glib.h>

#include <cstring>
#include <string>
#include <vector>

#include "markup/markup.h"

namespace {

struct Rec {
  uint32_t kind, style, offset;
  bool operator==(const Rec& o) const { return kind == o.kind && style == o.style && offset == o.offset; }
};

std::ostream& operator<<(std::ostream& os, const Rec& r) {
  return os << "{" << r.kind << "," << r.style << "," << r.offset << "}";
}

constexpr uint32_t B = MARKUP_BOLD;
constexpr uint32_t I = MARKUP_ITALIC;
constexpr uint32_t H(uint32_t level) { return level * 4; }

Rec S(uint32_t style, uint32_t off) { return {MARKUP_STYLE, style, off}; }
Rec K(uint32_t kind, uint32_t off) { return {kind, 0, off}; }

MarkupResult parse(const char* text) {
  MarkupResult r;
  EXPECT_EQ(0, markup_parse(text, &r));
  return r;
}

// Records without the terminator, checking that it is there.
std::vector<Rec> recs(const MarkupResult& r) {
  std::vector<Rec> out;
  EXPECT_FALSE(r.records.empty());
  if (r.records.empty()) return out;
  EXPECT_EQ(MARKUP_RECORD_END, r.records.back());
  for (size_t i = 0; i + 1 < r.records.size(); i++) {
    uint32_t w = r.records[i];
    out.push_back({markup_record_kind(w), markup_record_style(w), markup_record_offset(w)});
  }
  return out;
}

struct L {
  std::string target;
  uint32_t start, end;
};

void expect_links(const MarkupResult& r, const std::vector<L>& want) {
  ASSERT_EQ(want.size(), r.links.size());
  for (size_t i = 0; i < want.size(); i++) {
    EXPECT_EQ(want[i].target, r.links[i].target) << i;
    EXPECT_EQ(want[i].start, r.links[i].start) << i;
    EXPECT_EQ(want[i].end, r.links[i].end) << i;
  }
}

}  // namespace

TEST(MarkupParse, EmptyAndAbsentText) {
  for (const char* t : {static_cast<const char*>(nullptr), "", "\n\n\n", "  \r\n\t\n"}) {
    MarkupResult r = parse(t);
    EXPECT_EQ("", r.text);
    EXPECT_EQ((std::vector<Rec>{S(0, 0), S(0, 0)}), recs(r));
    EXPECT_TRUE(r.links.empty());
  }
}

TEST(MarkupParse, PlainLinesKeepTheirBreaksAndDropLeadingBlanks) {
  MarkupResult r = parse("one\n  two\r\nthree");
  EXPECT_EQ("one\ntwo\nthree", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(0, 13)}), recs(r));
  EXPECT_EQ("one\n", parse("one\n").text);
}

TEST(MarkupParse, CarriageReturnsAreDroppedEverywhere) {
  const char* lf = "= T =\n* a\n# b\n|c|d|\n{{{x\n y}}}\n[[u|v\nw]]\n\n\nz";
  std::string crlf;
  for (const char* p = lf; *p; p++) {
    if (*p == '\n') crlf += '\r';
    crlf += *p;
  }
  MarkupResult a = parse(lf);
  MarkupResult b = parse(crlf.c_str());
  EXPECT_EQ(a.text, b.text);
  EXPECT_EQ(a.records, b.records);
  ASSERT_EQ(a.links.size(), b.links.size());
  EXPECT_EQ(a.links[0].target, b.links[0].target);
}

TEST(MarkupParse, BoldAndItalicToggle) {
  MarkupResult r = parse("**a** //b//");
  EXPECT_EQ("a b", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 0), S(0, 1), S(I, 2), S(0, 3), S(0, 3)}), recs(r));

  // Styles nest, carry over line breaks and end at an empty line.
  r = parse("**a //b\nc** d\n\ne//");
  EXPECT_EQ("a b\nc d\n\ne", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 0), S(B | I, 2), S(I, 5), S(0, 8), S(I, 10), S(0, 10)}), recs(r));
}

TEST(MarkupParse, OffsetsCountCharactersNotBytes) {
  // "Grüße " is 6 characters and 8 bytes; "→ " 2 characters and 4 bytes.
  MarkupResult r = parse("Grüße **fett** → [[http://ä.example|Wörter]] 😀 //x//");
  EXPECT_EQ("Grüße fett → Wörter 😀 x", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 6), S(0, 10), S(I, 22), S(0, 23), S(0, 23)}), recs(r));
  expect_links(r, {{"http://ä.example", 13, 19}});
}

TEST(MarkupParse, Headings) {
  MarkupResult r = parse("== Title ==");
  EXPECT_EQ("Title", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(H(2) | B, 0), S(0, 5), S(0, 5)}), recs(r));
  EXPECT_STREQ("f4", markup_style_tag(H(2) | B));

  r = parse("= Title =\nnext");
  EXPECT_EQ("Title\nnext", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(H(3) | B, 0), S(0, 5), S(0, 10)}), recs(r));
  EXPECT_STREQ("f6", markup_style_tag(H(3) | B));

  r = parse("===Title\n");
  EXPECT_EQ("Title\n", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(H(1) | B, 0), S(0, 5), S(0, 6)}), recs(r));
  EXPECT_STREQ("f1", markup_style_tag(H(1) | B));

  // Four or more "=" give level 0; "=" inside the text stays, trailing
  // blanks and "=" go.
  r = parse("===== a = b  = =\t");
  EXPECT_EQ("a = b", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 0), S(0, 5), S(0, 5)}), recs(r));
}

TEST(MarkupParse, HeadingToggles) {
  MarkupResult r = parse("== a **b** //c// ==\nd");
  EXPECT_EQ("a b c\nd", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(H(2) | B, 0), S(H(2), 2), S(H(2) | B, 3), S(H(2) | B | I, 4),
                              S(H(2) | B, 5), S(0, 5), S(0, 7)}),
            recs(r));
  // Bold toggled off keeps the heading face; at level 0 it turns plain.
  EXPECT_STREQ("f4", markup_style_tag(H(2)));
  EXPECT_STREQ("f5", markup_style_tag(H(2) | B | I));
  EXPECT_STREQ("f0", markup_style_tag(0));
}

TEST(MarkupParse, HeadingWithoutTextAndHeadingEndsBold) {
  MarkupResult r = parse("==\n**x\n= h\ny");
  EXPECT_EQ("\nx\nh\ny", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(H(2) | B, 0), S(0, 0), S(B, 1), S(H(3) | B, 3), S(0, 4), S(0, 6)}),
            recs(r));
}

TEST(MarkupParse, BulletLists) {
  MarkupResult r = parse("* one\n** two\n*   three");
  EXPECT_EQ("\n •\tone\n\t ◦\ttwo\n •\tthree", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(0, 24)}), recs(r));

  // Continuation lines are indented one tab deeper than their item.
  r = parse("before\n*a\nmore\n***b\n  more\nend\\\\\n\nafter");
  EXPECT_EQ("before\n\n •\ta\n\tmore\n\t\t •\tb\n\t\t\tmore\n\t\t\tend\n\nafter", r.text);

  // "**" starts bold outside a list.
  r = parse("**x**");
  EXPECT_EQ("x", r.text);
}

TEST(MarkupParse, BulletListEndsAtHeadingNumberOrTableLine) {
  EXPECT_EQ("\n •\ta\n 1.\tb", parse("* a\n# b").text);
  EXPECT_EQ("\n •\ta\nh", parse("* a\n= h").text);
  MarkupResult r = parse("* a\n|c|d|\ne");
  EXPECT_EQ("\n •\ta\nc\td\ne", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), K(MARKUP_TABLE_START, 6), K(MARKUP_TABLE_END, 10), S(0, 11)}), recs(r));
}

TEST(MarkupParse, NumberedLists) {
  EXPECT_EQ(" 1.\ta\n\t 1.\tb\n 2.\tc", parse("# a\n## b\n# c").text);
  EXPECT_EQ(" 1.\ta\n\t 1.\tb\n\t 2.\tc\n 2.\td\n\t 1.\te", parse("#a\n##b\n## c\n# d\n## e").text);
  // A third "#" is text; a second-level item may come first.
  EXPECT_EQ("\t 1.\t# x", parse("### x").text);
  // Continuation: one tab, two under a second-level item; a leading "*" is
  // text, not a bullet; "**" after it still toggles.
  MarkupResult r = parse("# a\nmore\n## b\n* star **x**");
  EXPECT_EQ(" 1.\ta\n\tmore\n\t 1.\tb\n\t\t* star x", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 28), S(0, 29), S(0, 29)}), recs(r));
}

TEST(MarkupParse, NumberingRestartsWithEachList) {
  EXPECT_EQ(" 1.\ta\n 2.\tb\n\n 1.\tc", parse("# a\n# b\n\n# c").text);
  EXPECT_EQ(" 1.\ta\nh\n 1.\tc", parse("# a\n= h\n# c").text);
  EXPECT_EQ(" 1.\ta\nx\n 1.\tc", parse("# a\n|x|\n# c").text);
  EXPECT_EQ(" 1.\ta\n\tb", parse("# a\nb\\\\").text);
}

TEST(MarkupParse, TableWithHeaderRow) {
  MarkupResult r = parse("|=A|B|\n|1|2|\n");
  EXPECT_EQ("A\tB\n1\t2\n", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), K(MARKUP_TABLE_START, 0), S(B, 0), S(0, 3), K(MARKUP_TABLE_END, 8), S(0, 8)}),
            recs(r));
}

TEST(MarkupParse, TableCells) {
  // Spaces before "|" go, tabs in a cell are spaces, blanks and "=" at the
  // start of cells are skipped, a closing "|" leaves nothing.
  EXPECT_EQ("a b\tc d\tx=", parse("|  a b  |\tc\td |= = x=|  \t").text);
  EXPECT_EQ("a\t\tb", parse("|a||b|").text);
  EXPECT_EQ("\ta", parse("||a|").text);
  EXPECT_EQ("a\tb", parse("|a|b").text);
  EXPECT_EQ("\n", parse("|\n").text);
  // Only the first row of a table can be a header.
  MarkupResult r = parse("|a|\n|=b|");
  EXPECT_EQ("a\nb", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), K(MARKUP_TABLE_START, 0), K(MARKUP_TABLE_END, 3), S(0, 3)}), recs(r));
}

TEST(MarkupParse, TableCellsHoldStylesLinksAndVerbatim) {
  MarkupResult r = parse("|**k**|[[http://x|site]]|{{{a|b\tc}}}|\nafter");
  EXPECT_EQ("k\tsite\ta|b\tc\nafter", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), K(MARKUP_TABLE_START, 0), S(B, 0), S(0, 1), K(MARKUP_TABLE_END, 13),
                              S(0, 18)}),
            recs(r));
  expect_links(r, {{"http://x", 2, 6}});
}

TEST(MarkupParse, TableEnds) {
  MarkupResult r = parse("|a|\n\nx");
  EXPECT_EQ("a\n\nx", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), K(MARKUP_TABLE_START, 0), K(MARKUP_TABLE_END, 2), S(0, 4)}), recs(r));
  r = parse("|a|\n|b|");
  EXPECT_EQ((std::vector<Rec>{S(0, 0), K(MARKUP_TABLE_START, 0), K(MARKUP_TABLE_END, 3), S(0, 3)}), recs(r));
  // Two tables in a row.
  r = parse("|a|\nx\n|b|\n");
  EXPECT_EQ((std::vector<Rec>{S(0, 0), K(MARKUP_TABLE_START, 0), K(MARKUP_TABLE_END, 2), K(MARKUP_TABLE_START, 4),
                              K(MARKUP_TABLE_END, 6), S(0, 6)}),
            recs(r));
}

TEST(MarkupParse, VerbatimBlocks) {
  MarkupResult r = parse("{{{**a** //b// [[c]] <<d>>}}}");
  EXPECT_EQ("**a** //b// [[c]] <<d>>", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(0, 23)}), recs(r));
  EXPECT_TRUE(r.links.empty());

  // Leading blanks, empty lines and lone braces are kept; the block keeps
  // the style in force and returns to its context.
  r = parse("**x {{{\n  a}b}}\r\n\n\n c}}} y**\nz");
  EXPECT_EQ("x \n  a}b}}\n\n\n c y\nz", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 0), S(0, 17), S(0, 19)}), recs(r));

  EXPECT_EQ("\n •\ta\nb c", parse("* {{{a\nb}}} c").text);
  EXPECT_EQ("}}}}", parse("{{{}}}}}}}").text.substr(0, 4));
  EXPECT_EQ("{{x {y", parse("{{x {y").text);
}

TEST(MarkupParse, VerbatimInHeadingAndLink) {
  MarkupResult r = parse("= a {{{x\ny}}} b =\nc");
  EXPECT_EQ("a x\ny b\nc", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(H(3) | B, 0), S(0, 7), S(0, 9)}), recs(r));
  r = parse("[[t|{{{]] **}}} x]]");
  EXPECT_EQ("]] ** x", r.text);
  expect_links(r, {{"t", 0, 7}});
}

TEST(MarkupParse, UnterminatedVerbatimRunsToTheEnd) {
  MarkupResult r = parse("a {{{b\n\n**c");
  EXPECT_EQ("a b\n\n**c", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(0, 8)}), recs(r));
}

TEST(MarkupParse, Links) {
  MarkupResult r = parse("[[http://a.b]] and [[http://c.d  |  Site  ]] end");
  EXPECT_EQ("http://a.b and Site end", r.text);
  expect_links(r, {{"http://a.b", 0, 10}, {"http://c.d", 15, 19}});

  // The target form shows the target as typed, without markup.
  r = parse("[[a**b//c ]]");
  EXPECT_EQ("a**b//c", r.text);
  expect_links(r, {{"a**b//c", 0, 7}});

  // Styles and "[" inside the shown text; "<<" is plain there.
  r = parse("x [[t|**a** [b] <<c]]");
  EXPECT_EQ("x a [b] <<c", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 2), S(0, 3), S(0, 11)}), recs(r));
  expect_links(r, {{"t", 2, 11}});
}

TEST(MarkupParse, PasswordLinkShowsOnlyItsText) {
  MarkupResult r = parse("|**Password**|[[password:73336372337421|●●●●●●]]\n");
  EXPECT_EQ("Password\t●●●●●●\n", r.text);
  expect_links(r, {{"password:73336372337421", 9, 15}});
}

TEST(MarkupParse, LineBreaksInsideLinksAreIgnored) {
  MarkupResult r = parse("[[http://a\n   b|one \n two  \n ]] c");
  EXPECT_EQ("one two c", r.text);
  expect_links(r, {{"http://ab", 0, 7}});
  // A link in a heading keeps the heading going.
  r = parse("= [[t|a\nb]] =\nc");
  EXPECT_EQ("ab\nc", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(H(3) | B, 0), S(0, 2), S(0, 4)}), recs(r));
  expect_links(r, {{"t", 0, 2}});
}

TEST(MarkupParse, UnfinishedLinksAreShownAsTyped) {
  MarkupResult r = parse("a [[b **c**");
  EXPECT_EQ("a [[b c", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 6), S(0, 7), S(0, 7)}), recs(r));
  EXPECT_TRUE(r.links.empty());

  // An empty line ends the link; what came before reads as ordinary text.
  r = parse("[[x\n* y\n\nz");
  EXPECT_EQ("[[x\n\n •\ty\n\nz", r.text);
  EXPECT_TRUE(r.links.empty());

  EXPECT_EQ("[[[[[[", parse("[[[[[[").text);
  EXPECT_EQ("[a] [ b", parse("[a] [ b").text);

  // Unfinished in the shown text: the text stays, no link.
  r = parse("a [[t|b\n\nc");
  EXPECT_EQ("a b\n\nc", r.text);
  EXPECT_TRUE(r.links.empty());
  r = parse("[[t|b\n");
  EXPECT_EQ("b\n", r.text);
  EXPECT_TRUE(r.links.empty());
}

TEST(MarkupParse, LinksWithoutTargetAreNotLinks) {
  MarkupResult r = parse("[[|x]][[ ]]y");
  EXPECT_EQ("xy", r.text);
  EXPECT_TRUE(r.links.empty());
}

TEST(MarkupParse, Spans) {
  MarkupResult r = parse("x <<y>> z");
  EXPECT_EQ("x y z", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), K(MARKUP_SPAN_START, 2), K(MARKUP_SPAN_END, 3), S(0, 5)}), recs(r));

  // An unfinished span ends at an empty line or at the end.
  r = parse("<<a\n\nb<<c");
  EXPECT_EQ("a\n\nbc", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), K(MARKUP_SPAN_START, 0), K(MARKUP_SPAN_END, 2), K(MARKUP_SPAN_START, 4),
                              K(MARKUP_SPAN_END, 5), S(0, 5)}),
            recs(r));

  // Spans belong to ordinary text only; a stray ">>" or "<" is text.
  EXPECT_EQ("\n •\t<<a>>", parse("* <<a>>").text);
  EXPECT_EQ("<<a>>", parse("= <<a>>").text);
  EXPECT_EQ("a>> <b", parse("a>> <b").text);
}

TEST(MarkupParse, LoneMarkersAreShownAsTyped) {
  EXPECT_EQ("x *a /b <c {d", parse("x *a /b <c {d").text);
  // The character after a lone marker is taken literally.
  MarkupResult r = parse("x */y//");
  EXPECT_EQ("x */y", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(I, 5), S(0, 5)}), recs(r));
  // The two slashes of a web address toggle italic.
  r = parse("see http://x.org/a");
  EXPECT_EQ("see http:x.org/a", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(I, 9), S(0, 16)}), recs(r));
  // A lone marker does not swallow a cell separator or a link end.
  EXPECT_EQ("5*\tb", parse("|5*|b|").text);
  expect_links(parse("[[t|a/]]"), {{"t", 0, 2}});
}

TEST(MarkupParse, TwoBackslashesAtTheEndOfALine) {
  EXPECT_EQ("a\nb\\\\c\nd\\", parse("a\\\\\nb\\\\c\nd\\\\\\").text);
  EXPECT_EQ("\n •\ta", parse("* a\\\\\r").text);
  // Not in headings or tables.
  EXPECT_EQ("a\\\\", parse("= a\\\\").text);
  EXPECT_EQ("a\\\\", parse("|a\\\\").text);
}

TEST(MarkupParse, EmptyLines) {
  EXPECT_EQ("a\n\nb", parse("a\n\n\n\nb").text);
  EXPECT_EQ("a\n\nb", parse("\n \n\t\na\n  \n\r\n\nb").text);
  EXPECT_EQ("a\n\n", parse("a\n\n\n").text);
  // An empty line ends bold and italic.
  MarkupResult r = parse("**//a\n\nb");
  EXPECT_EQ("a\n\nb", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 0), S(B | I, 0), S(0, 2), S(0, 4)}), recs(r));
}

TEST(MarkupParse, InvalidUtf8IsReplaced) {
  MarkupResult r = parse("a\xff**b**\xc3 [[t\xe0|c]]");
  EXPECT_EQ("a\xEF\xBF\xBD" "b\xEF\xBF\xBD" " c", r.text);
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, 2), S(0, 3), S(0, 6)}), recs(r));
  expect_links(r, {{"t\xEF\xBF\xBD", 5, 6}});
  EXPECT_TRUE(g_utf8_validate(r.text.c_str(), -1, nullptr));
}

TEST(MarkupParse, VeryLongTextIsCutAtTheOffsetLimit) {
  std::string big(MARKUP_MAX_OFFSET - 1, 'a');
  big += "**é**ü [[t|link]]";
  MarkupResult r = parse(big.c_str());
  // The plain text stops where offsets run out, at a character boundary.
  EXPECT_EQ(MARKUP_MAX_OFFSET + 1, r.text.size());  // the last character has two bytes
  EXPECT_EQ("a\xC3\xA9", r.text.substr(r.text.size() - 3));
  EXPECT_EQ((std::vector<Rec>{S(0, 0), S(B, MARKUP_MAX_OFFSET - 1), S(0, MARKUP_MAX_OFFSET), S(0, MARKUP_MAX_OFFSET)}),
            recs(r));
  EXPECT_TRUE(r.links.empty());
}

TEST(MarkupParse, DeepNestingDoesNotMultiplyWithoutBound) {
  // Each continuation line repeats the nesting as tabs; the output stops at
  // the offset limit instead of growing with lines times depth.
  std::string text = "* a\n" + std::string(200000, '*');
  text += " a\n";
  for (int i = 0; i < 200; i++) text += "b\n";
  MarkupResult r = parse(text.c_str());
  EXPECT_EQ(MARKUP_MAX_OFFSET, static_cast<uint32_t>(g_utf8_strlen(r.text.c_str(), -1)));
  EXPECT_EQ(S(0, MARKUP_MAX_OFFSET), recs(r).back());
}

TEST(MarkupParse, OutputIsConsistentForArbitraryInput) {
  // Random texts over the markup alphabet: the plain text is valid UTF-8,
  // records are terminated and in order, links lie inside the text.
  static const char* const kPieces[] = {"*", "**", "/", "//", "[[", "]]", "|", "{{{", "}}}", "<<", ">>", "=",
                                        "#", " ", "\t", "\n", "\r", "\\\\", "a", "é", "{", "}", "[", "]",
                                        "password:41", "\xff"};
  uint32_t seed = 12345;
  for (int round = 0; round < 3000; round++) {
    std::string text;
    int n = round % 60;
    for (int i = 0; i < n; i++) {
      seed = seed * 1103515245 + 12345;
      text += kPieces[(seed >> 16) % (sizeof kPieces / sizeof kPieces[0])];
    }
    MarkupResult r = parse(text.c_str());
    ASSERT_TRUE(g_utf8_validate(r.text.data(), static_cast<gssize>(r.text.size()), nullptr)) << text;
    ASSERT_EQ(r.text.size(), std::strlen(r.text.c_str())) << text;
    auto chars = static_cast<uint32_t>(g_utf8_strlen(r.text.c_str(), -1));
    std::vector<Rec> x = recs(r);
    ASSERT_GE(x.size(), 2u) << text;
    EXPECT_EQ(S(0, 0), x.front()) << text;
    EXPECT_EQ(S(0, chars), x.back()) << text;
    uint32_t last = 0;
    int tables = 0, spans = 0;
    for (const Rec& rec : x) {
      EXPECT_GE(rec.offset, last) << text;
      last = rec.offset;
      if (rec.kind == MARKUP_TABLE_START) {
        EXPECT_EQ(1, ++tables) << text;
      }
      if (rec.kind == MARKUP_TABLE_END) {
        EXPECT_EQ(0, --tables) << text;
      }
      if (rec.kind == MARKUP_SPAN_START) {
        EXPECT_EQ(1, ++spans) << text;
      }
      if (rec.kind == MARKUP_SPAN_END) {
        EXPECT_EQ(0, --spans) << text;
      }
    }
    EXPECT_EQ(0, tables) << text;
    EXPECT_EQ(0, spans) << text;
    uint32_t prev_end = 0;
    for (const MarkupLink& l : r.links) {
      EXPECT_FALSE(l.target.empty()) << text;
      EXPECT_LE(prev_end, l.start) << text;
      EXPECT_LE(l.start, l.end) << text;
      EXPECT_LE(l.end, chars) << text;
      prev_end = l.end;
    }
  }
}

TEST(MarkupRanges, StyleRunsAndTableBlocks) {
  MarkupResult r = parse("a **b**\n|=X|Y|\n|1|2|\n= h\n|z|");
  EXPECT_EQ("a b\nX\tY\n1\t2\nh\nz", r.text);
  std::vector<MarkupRange> runs = markup_style_runs(r.records);
  ASSERT_EQ(7u, runs.size());
  auto same = [](const MarkupRange& a, uint32_t start, uint32_t end, uint32_t style) {
    return a.start == start && a.end == end && a.style == style;
  };
  EXPECT_TRUE(same(runs[0], 0, 2, 0));
  EXPECT_TRUE(same(runs[1], 2, 3, B));
  EXPECT_TRUE(same(runs[2], 3, 4, 0));
  EXPECT_TRUE(same(runs[3], 4, 7, B));
  EXPECT_TRUE(same(runs[4], 7, 12, 0));
  EXPECT_TRUE(same(runs[5], 12, 13, H(3) | B));
  EXPECT_TRUE(same(runs[6], 13, 15, 0));
  // Style changes at one offset leave no empty run.
  runs = markup_style_runs(parse("==\nx").records);
  ASSERT_EQ(1u, runs.size());
  EXPECT_TRUE(same(runs[0], 0, 2, 0));
  std::vector<MarkupRange> blocks = markup_table_blocks(r.records);
  ASSERT_EQ(2u, blocks.size());
  EXPECT_TRUE(same(blocks[0], 4, 12, 0));
  EXPECT_TRUE(same(blocks[1], 14, 15, 0));
  EXPECT_TRUE(markup_style_runs({MARKUP_RECORD_END}).empty());
}

TEST(MarkupTabStops, TableWithMeasuredWidths) {
  MarkupResult r = parse("|=A|B|\n|1|2|\n");
  std::vector<Rec> x = recs(r);
  std::vector<MarkupTableLine> lines = markup_table_lines(r.text);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ((std::vector<std::string_view>{"A", "B"}), lines[0].cells);
  EXPECT_EQ((std::vector<std::string_view>{"1", "2"}), lines[1].cells);
  lines[0].widths = {30, 20};
  lines[1].widths = {25, 40};
  EXPECT_EQ((std::vector<int>{40, 90}), markup_tab_stops(lines));
}

TEST(MarkupTabStops, CellsBeyondTheEighthShareOneColumn) {
  MarkupTableLine line;
  line.cells.assign(11, "x");
  line.widths.assign(11, 5);
  line.widths[9] = 50;
  EXPECT_EQ((std::vector<int>{15, 30, 45, 60, 75, 90, 105, 120, 180, 240, 300}), markup_tab_stops({line}));
}

TEST(MarkupTabStops, ColumnCountIsTheLongestLine) {
  // A last line without a line break counts too; lines of one cell keep
  // their widths for the first column only.
  std::vector<MarkupTableLine> lines = markup_table_lines("a\nb\tc\td");
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(3u, lines[1].cells.size());
  lines[0].widths = {100};
  lines[1].widths = {1, 2, 3};
  EXPECT_EQ((std::vector<int>{110, 122, 135}), markup_tab_stops(lines));
  EXPECT_TRUE(markup_table_lines("").empty());
  EXPECT_TRUE(markup_tab_stops({}).empty());
  // An empty line inside a block is one empty cell.
  EXPECT_EQ(2u, markup_table_lines("\n\n").size());
}
