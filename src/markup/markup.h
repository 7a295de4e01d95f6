// SPDX-License-Identifier: GPL-3.0-or-later
// The detail view's wiki markup: parsing into plain text, format records and
// links, and the tab stops of table blocks. Free of GTK; the view draws it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Format record word: bits 0-23 character offset, 24-25 style flags,
// 26-27 heading level, 28-31 kind.
enum MarkupRecordKind : uint32_t {
  MARKUP_STYLE = 0,        // style change: the text from here has the style index
  MARKUP_TABLE_START = 1,  // a table block starts
  MARKUP_TABLE_END = 2,    // a table block ends
  MARKUP_SPAN_START = 3,   // "<<"
  MARKUP_SPAN_END = 4,     // ">>"
};

constexpr uint32_t MARKUP_RECORD_END = 0xFFFFFFFFu;  // terminates the records
constexpr uint32_t MARKUP_MAX_OFFSET = 0xFFFFFFu;    // offsets have 24 bits
constexpr uint32_t MARKUP_BOLD = 1;
constexpr uint32_t MARKUP_ITALIC = 2;
constexpr int MARKUP_TAB_GAP = 10;  // pixels between table columns

inline uint32_t markup_record(uint32_t kind, uint32_t style, uint32_t offset) {
  return kind << 28 | (style & 15) << 24 | (offset & MARKUP_MAX_OFFSET);
}
inline uint32_t markup_record_offset(uint32_t word) { return word & MARKUP_MAX_OFFSET; }
inline uint32_t markup_record_kind(uint32_t word) { return word >> 28; }
// Style index: heading level * 4 + flags (MARKUP_BOLD, MARKUP_ITALIC).
inline uint32_t markup_record_style(uint32_t word) { return (word >> 24) & 15; }

struct MarkupLink {
  std::string target;  // "password:" + hex digits, or something to open
  uint32_t start = 0;  // character offsets of the shown text, [start, end)
  uint32_t end = 0;
};

struct MarkupResult {
  std::string text;                // plain text, valid UTF-8
  std::vector<uint32_t> records;   // terminated by MARKUP_RECORD_END
  std::vector<MarkupLink> links;   // in text order
};

// Parses markup into *out (replacing what it held). An absent text gives an
// empty result. Invalid UTF-8 is replaced by U+FFFD first, and the plain text
// stops at MARKUP_MAX_OFFSET characters so that every offset fits its record.
// Returns 0, or -1 when the counting and the writing pass disagree (a fault
// of the parser; the result is then cut to what both agree on).
int markup_parse(const char* text, MarkupResult* out);

// Name of the text tag ("f0".."f7") that shows a style index (0..15).
const char* markup_style_tag(uint32_t style);

// A character range [start, end) of the plain text; style is the style
// index for a style run and 0 for a table block.
struct MarkupRange {
  uint32_t start = 0;
  uint32_t end = 0;
  uint32_t style = 0;
};

// The non-empty ranges between consecutive style changes, each with the
// style of the change that opens it.
std::vector<MarkupRange> markup_style_runs(const std::vector<uint32_t>& records);
// The table blocks, from each table start to its table end.
std::vector<MarkupRange> markup_table_blocks(const std::vector<uint32_t>& records);

// One line of a table block: its cells (split at tabs) and their pixel
// widths, which the view measures.
struct MarkupTableLine {
  std::vector<std::string_view> cells;
  std::vector<int> widths;
};

// Splits a table block's text into lines and cells. The empty remainder after
// a final line break is no line.
std::vector<MarkupTableLine> markup_table_lines(std::string_view block);

// Left-aligned tab stops in pixels for measured lines: column k is as wide as
// its widest cell (cells from the ninth on share one width), and stop j lies
// at the sum over k <= j of (width k + MARKUP_TAB_GAP). One stop per column
// of the line with the most cells.
std::vector<int> markup_tab_stops(const std::vector<MarkupTableLine>& lines);
