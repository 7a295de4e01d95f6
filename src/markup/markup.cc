// SPDX-License-Identifier: GPL-3.0-or-later
#include "markup/markup.h"

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "support/log.h"
#include "support/text.h"

namespace {

constexpr char kBulletEven[] = "\xE2\x80\xA2";  // U+2022 BULLET
constexpr char kBulletOdd[] = "\xE2\x97\xA6";   // U+25E6 WHITE BULLET

enum Block { BLOCK_TEXT, BLOCK_BULLETS, BLOCK_NUMBERS, BLOCK_TABLE };
// What the current logical line is; decides which inline rules apply.
enum Line { LINE_TEXT, LINE_LIST, LINE_HEADING, LINE_ROW };
enum LinkPhase { LINK_NONE, LINK_TARGET, LINK_TEXT };

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// One run of the state machine over the whole text. The first run only
// counts; the second writes into storage sized from the first.
struct Parser {
  const char* end = nullptr;
  const char* p = nullptr;

  bool fill = false;
  TextBuilder tb;
  bool capped = false;
  size_t record_count = 0;
  size_t link_count = 0;
  std::vector<uint32_t>* records = nullptr;
  std::vector<MarkupLink>* links = nullptr;

  bool bold = false;
  bool italic = false;
  uint32_t level = 0;  // heading level of the current style
  Block block = BLOCK_TEXT;
  Line line = LINE_TEXT;
  long long nesting = 0;  // bullet nesting
  int number_level = 1;   // 1 or 2
  long long number1 = 0;
  long long number2 = 0;
  bool header_row = false;
  bool span_open = false;
  bool verbatim = false;

  LinkPhase link = LINK_NONE;
  const char* link_src = nullptr;    // just after "[["
  const char* target_end = nullptr;  // at "|" or "]]"
  uint32_t link_start = 0;
  // A "[[" before this point is known to have no "|" or "]]" before an empty
  // line or the end, so it is shown as typed.
  const char* link_fail_until = nullptr;

  bool line_start = true;
  bool at_start = true;    // no line produced yet
  bool last_empty = false;  // the previous output line came from an empty line

  char peek(size_t k) const { return k < static_cast<size_t>(end - p) ? p[k] : '\0'; }
  uint32_t offset() const { return static_cast<uint32_t>(tb.units); }

  void put(char c) {
    if (capped) return;
    auto u = static_cast<unsigned char>(c);
    if ((u & 0xC0) != 0x80 && tb.units >= static_cast<int>(MARKUP_MAX_OFFSET)) {
      capped = true;
      return;
    }
    tb_putc(&tb, c);
  }
  void put_str(const char* s) {
    while (*s) put(*s++);
  }
  void put_tabs(long long n) {
    for (long long i = 0; i < n && !capped; i++) put('\t');
  }

  void record(uint32_t kind, uint32_t style) {
    record_count++;
    if (fill) records->push_back(markup_record(kind, style, offset()));
  }
  void style() {
    record(MARKUP_STYLE, level * 4 + (bold ? MARKUP_BOLD : 0) + (italic ? MARKUP_ITALIC : 0));
  }

  void skip_blanks() {
    while (p < end && (is_blank(*p) || *p == '\r')) p++;
  }
  // True when only carriage returns stand between q and the end of the line.
  bool line_ends_at(const char* q) const {
    while (q < end && *q == '\r') q++;
    return q == end || *q == '\n';
  }

  // Emits the link target's characters (or appends them to *target): line
  // breaks and the blanks after them are ignored, trailing blanks removed.
  size_t emit_target(std::string* target, bool show) {
    const char* stop = target_end;
    while (stop > link_src && (is_blank(stop[-1]) || stop[-1] == '\r' || stop[-1] == '\n')) stop--;
    size_t n = 0;
    for (const char* q = link_src; q < stop; q++) {
      char c = *q;
      if (c == '\r') continue;
      if (c == '\n') {
        while (q + 1 < stop && (is_blank(q[1]) || q[1] == '\r')) q++;
        continue;
      }
      n++;
      if (target) target->push_back(c);
      if (show) put(c == '\t' && line == LINE_ROW ? ' ' : c);
    }
    return n;
  }

  void add_link(uint32_t start, uint32_t stop) {
    // An empty target has nothing to open: the text stays, without a link.
    std::string target;
    if (emit_target(fill ? &target : nullptr, false) == 0) return;
    link_count++;
    if (fill) links->push_back(MarkupLink{std::move(target), start, stop});
  }

  // An unfinished link: show "[[" as typed and read on after it as if it had
  // not been there.
  void rewind_link() {
    link_fail_until = p;
    p = link_src;
    link = LINK_NONE;
    line_start = false;
    put_str("[[");
  }

  void bullet_item() {
    line = LINE_LIST;
    put_tabs(nesting);
    put(' ');
    put_str(nesting % 2 == 0 ? kBulletEven : kBulletOdd);
    put('\t');
  }

  void number_item() {
    int n = peek(1) == '#' ? 2 : 1;
    p += n;
    skip_blanks();
    number_level = n;
    line = LINE_LIST;
    if (n == 1) {
      number1++;
      number2 = 0;
      put(' ');
      put_number(number1);
    } else {
      number2++;
      put('\t');
      put(' ');
      put_number(number2);
    }
    put('\t');
  }
  void put_number(long long n) {
    char buf[32];
    snprintf(buf, sizeof buf, "%lld.", n);
    put_str(buf);
  }

  void heading() {
    size_t n = 0;
    while (peek(n) == '=') n++;
    p += n;
    skip_blanks();
    static const uint32_t kLevels[] = {0, 3, 2, 1};
    level = n < 4 ? kLevels[n] : 0;
    bold = true;
    italic = false;
    line = LINE_HEADING;
    style();
  }

  // At a "|" of a table row: separators, and the blanks and "=" that start
  // each cell. Trailing separators of a row leave nothing.
  void bar_run(bool leading) {
    const char* q = p;
    long long bars = 0;
    while (q < end && (*q == '|' || is_blank(*q) || *q == '\r' || *q == '=')) {
      if (*q == '|') bars++;
      q++;
    }
    if (!line_ends_at(q)) put_tabs(bars - (leading ? 1 : 0));
    p = q;
  }

  void table_row(bool first) {
    line = LINE_ROW;
    header_row = first && peek(1) == '=';
    if (header_row) {
      bold = true;
      style();
    }
    bar_run(true);
  }

  // Reads the line-start markers of a new logical line; p is at its first
  // character after the leading blanks.
  void begin_line() {
    at_start = false;
    last_empty = false;
    char c = *p;
    if (block == BLOCK_BULLETS) {
      if (c == '*') {
        size_t n = 0;
        while (peek(n) == '*') n++;
        p += n;
        skip_blanks();
        nesting = static_cast<long long>(n) - 1;
        bullet_item();
        return;
      }
      if (c != '#' && c != '=' && c != '|') {
        line = LINE_LIST;
        put_tabs(nesting + 1);
        return;
      }
      block = BLOCK_TEXT;
    } else if (block == BLOCK_NUMBERS) {
      if (c == '#') {
        number_item();
        return;
      }
      if (c != '=' && c != '|') {
        line = LINE_LIST;
        put_tabs(number_level);
        if (c == '*') {  // text here, not a bullet
          put('*');
          p++;
        }
        return;
      }
      block = BLOCK_TEXT;
    } else if (block == BLOCK_TABLE) {
      if (c == '|') {
        table_row(false);
        return;
      }
      record(MARKUP_TABLE_END, 0);
      block = BLOCK_TEXT;
    }
    if (c == '=') {
      heading();
    } else if (c == '*' && peek(1) != '*') {
      block = BLOCK_BULLETS;
      put('\n');
      p++;
      skip_blanks();
      nesting = 0;
      bullet_item();
    } else if (c == '#') {
      block = BLOCK_NUMBERS;
      number1 = number2 = 0;
      number_item();
    } else if (c == '|') {
      block = BLOCK_TABLE;
      record(MARKUP_TABLE_START, 0);
      table_row(true);
    } else {
      line = LINE_TEXT;
    }
  }

  // Ends the logical line: headings and a bold first row return to plain.
  void end_line(bool newline) {
    if (line == LINE_HEADING) {
      bold = italic = false;
      level = 0;
      style();
    } else if (line == LINE_ROW && header_row) {
      bold = false;
      header_row = false;
      style();
    }
    line = LINE_TEXT;
    if (newline) put('\n');
  }

  void close_blocks() {
    if (block == BLOCK_TABLE) record(MARKUP_TABLE_END, 0);
    block = BLOCK_TEXT;
    if (span_open) {
      record(MARKUP_SPAN_END, 0);
      span_open = false;
    }
  }

  // p is at the line feed of an empty line. Returns true when it rewound an
  // unfinished link instead.
  bool empty_line() {
    if (link == LINK_TARGET) {
      rewind_link();
      return true;
    }
    if (link == LINK_TEXT) {
      // The link swallowed the line break of its line; give it back.
      link = LINK_NONE;
      end_line(true);
    }
    close_blocks();
    if (bold || italic) {
      bold = italic = false;
      style();
    }
    if (!at_start && !last_empty) {
      put('\n');
      last_empty = true;
    }
    return false;
  }

  // A lone marker (or "{{") is shown as typed; the character after it is
  // taken literally when it could start markup itself.
  void lone() {
    if (*p == '{' && peek(1) == '{') {
      put_str("{{");
      p += 2;
    } else {
      put(*p++);
    }
    if (p < end && std::strchr("*/[{<>", *p)) put(*p++);
  }

  // Blanks inside a table cell: dropped before "|" and at the end of the row,
  // tabs shown as spaces.
  void cell_blanks() {
    const char* q = p;
    while (q < end && (is_blank(*q) || *q == '\r')) q++;
    if (!(q < end && *q == '|') && !line_ends_at(q)) {
      for (const char* r = p; r < q; r++)
        if (*r != '\r') put(' ');
    }
    p = q;
  }

  // Blanks and "=" in a heading: dropped at the end of the line.
  void heading_trail() {
    const char* q = p;
    while (q < end && (is_blank(*q) || *q == '\r' || *q == '=')) q++;
    if (!line_ends_at(q)) {
      for (const char* r = p; r < q; r++)
        if (*r != '\r') put(*r);
    }
    p = q;
  }

  // Blanks in a link text: dropped before "]]" (also across one line break).
  void link_blanks() {
    const char* q = p;
    const char* first_break = nullptr;
    while (q < end && (is_blank(*q) || *q == '\r' || *q == '\n')) {
      if (*q == '\n') {
        if (first_break) break;  // an empty line
        first_break = q;
      }
      q++;
    }
    bool closes = !(first_break && q < end && *q == '\n') && q + 1 < end && q[0] == ']' && q[1] == ']';
    if (closes) {
      p = q;
      return;
    }
    const char* stop = first_break ? first_break : q;
    for (const char* r = p; r < stop; r++) {
      if (*r == '\r') continue;
      put(*r == '\t' && line == LINE_ROW ? ' ' : *r);
    }
    p = stop;
  }

  void step_target() {
    char c = *p;
    if (c == '|') {
      target_end = p;
      p++;
      skip_blanks();
      link = LINK_TEXT;
      link_start = offset();
    } else if (c == ']' && peek(1) == ']') {
      target_end = p;
      p += 2;
      uint32_t start = offset();
      emit_target(nullptr, true);
      link = LINK_NONE;
      add_link(start, offset());
    } else {
      p++;
    }
  }

  void step_verbatim() {
    char c = *p;
    if (c == '}' && peek(1) == '}' && peek(2) == '}') {
      verbatim = false;
      p += 3;
      return;
    }
    p++;
    if (c != '\r') put(c);
  }

  void step_inline() {
    char c = *p;
    char n = peek(1);
    bool in_link = link == LINK_TEXT;
    if (in_link && c == ']' && n == ']') {
      p += 2;
      link = LINK_NONE;
      add_link(link_start, offset());
      return;
    }
    if (c == '*' || c == '/') {
      if (n == c) {
        if (c == '*')
          bold = !bold;
        else
          italic = !italic;
        style();
        p += 2;
      } else {
        lone();
      }
      return;
    }
    if (c == '{') {
      if (n == '{' && peek(2) == '{') {
        verbatim = true;
        p += 3;
      } else {
        lone();
      }
      return;
    }
    if (in_link) {
      if (is_blank(c)) {
        link_blanks();
        return;
      }
    } else {
      if (c == '[') {
        if (n != '[') {
          lone();
        } else if (p < link_fail_until) {
          put_str("[[");
          p += 2;
        } else {
          link = LINK_TARGET;
          p += 2;
          link_src = p;
        }
        return;
      }
      if (line == LINE_TEXT) {
        if (c == '<') {
          if (n == '<' && !span_open) {
            record(MARKUP_SPAN_START, 0);
            span_open = true;
            p += 2;
          } else {
            lone();
          }
          return;
        }
        if (c == '>' && n == '>' && span_open) {
          record(MARKUP_SPAN_END, 0);
          span_open = false;
          p += 2;
          return;
        }
      }
      if (line == LINE_ROW) {
        if (c == '|') {
          bar_run(false);
          return;
        }
        if (is_blank(c)) {
          cell_blanks();
          return;
        }
      }
      if (line == LINE_HEADING && (is_blank(c) || c == '=')) {
        heading_trail();
        return;
      }
      if ((line == LINE_TEXT || line == LINE_LIST) && c == '\\' && n == '\\' && line_ends_at(p + 2)) {
        p += 2;
        return;
      }
    }
    put(c);
    p++;
  }

  void run() {
    style();  // plain from offset 0
    while (!capped) {
      if (verbatim) {
        if (p == end) break;
        step_verbatim();
        continue;
      }
      if (line_start) {
        skip_blanks();
        if (p == end) {
          if (link == LINK_TARGET) {
            rewind_link();
            continue;
          }
          break;
        }
        if (*p == '\n') {
          if (!empty_line()) p++;
          continue;
        }
        line_start = false;
        if (link == LINK_NONE) begin_line();
        continue;
      }
      if (p == end) {
        if (link == LINK_TARGET) {
          rewind_link();
          continue;
        }
        break;
      }
      char c = *p;
      if (c == '\r') {
        p++;
      } else if (c == '\n') {
        p++;
        // Line breaks inside a link are ignored.
        if (link == LINK_NONE) end_line(true);
        line_start = true;
      } else if (link == LINK_TARGET) {
        step_target();
      } else {
        step_inline();
      }
    }
    // The end of the text (or of the room for it) closes everything.
    if (link == LINK_TEXT) {
      link = LINK_NONE;
      if (line_start) end_line(true);
    }
    if (!line_start) end_line(false);
    close_blocks();
    level = 0;
    bold = italic = false;
    style();
    if (fill) records->push_back(MARKUP_RECORD_END);
  }
};

void parse_pass(const char* text, size_t len, char* buf, unsigned capacity, Parser* ps) {
  ps->end = text + len;
  ps->p = text;
  tb_init(&ps->tb, buf, capacity);
  ps->run();
}

}  // namespace

int markup_parse(const char* text, MarkupResult* out) {
  out->text.clear();
  out->records.clear();
  out->links.clear();
  if (!text) text = "";
  size_t len = std::strlen(text);

  // The text buffer and the search highlighting count characters of valid
  // UTF-8; anything else is replaced first.
  gchar* valid = nullptr;
  if (!g_utf8_validate(text, static_cast<gssize>(len), nullptr)) {
    valid = g_utf8_make_valid(text, static_cast<gssize>(len));
    text = valid;
    len = std::strlen(text);
    log_message(LOG_INFO, "markup_parse: invalid UTF-8 replaced");
  }

  int rc = 0;
  Parser count;
  parse_pass(text, len, nullptr, 0, &count);

  Parser write;
  write.fill = true;
  out->text.resize(count.tb.len);
  out->records.reserve(count.record_count + 1);
  out->links.reserve(count.link_count);
  write.records = &out->records;
  write.links = &out->links;
  parse_pass(text, len, out->text.data(), count.tb.len + 1, &write);

  if (write.tb.len != count.tb.len || write.record_count != count.record_count ||
      write.link_count != count.link_count) {
    log_message(LOG_ERROR, "markup_parse: passes differ: %u %u", write.tb.len, count.tb.len);
    out->text.resize(std::min(write.tb.len, count.tb.len));
    rc = -1;
  }
  if (write.capped) log_message(LOG_WARNING, "markup_parse: text cut at %u characters", MARKUP_MAX_OFFSET);
  g_free(valid);
  return rc;
}

const char* markup_style_tag(uint32_t style) {
  static const char* const kTags[16] = {"f0", "f1", "f2", "f3", "f1", "f1", "f3", "f3",
                                        "f4", "f4", "f5", "f5", "f6", "f6", "f7", "f7"};
  return kTags[style & 15];
}

std::vector<MarkupRange> markup_style_runs(const std::vector<uint32_t>& records) {
  std::vector<MarkupRange> runs;
  bool open = false;
  MarkupRange run;
  for (uint32_t w : records) {
    if (w == MARKUP_RECORD_END) break;
    if (markup_record_kind(w) != MARKUP_STYLE) continue;
    uint32_t off = markup_record_offset(w);
    if (open && off > run.start) runs.push_back({run.start, off, run.style});
    run.start = off;
    run.style = markup_record_style(w);
    open = true;
  }
  return runs;
}

std::vector<MarkupRange> markup_table_blocks(const std::vector<uint32_t>& records) {
  std::vector<MarkupRange> blocks;
  bool open = false;
  uint32_t start = 0;
  for (uint32_t w : records) {
    if (w == MARKUP_RECORD_END) break;
    uint32_t kind = markup_record_kind(w);
    if (kind == MARKUP_TABLE_START) {
      start = markup_record_offset(w);
      open = true;
    } else if (kind == MARKUP_TABLE_END && open) {
      blocks.push_back({start, markup_record_offset(w), 0});
      open = false;
    }
  }
  return blocks;
}

std::vector<MarkupTableLine> markup_table_lines(std::string_view block) {
  std::vector<MarkupTableLine> lines;
  size_t pos = 0;
  while (pos < block.size()) {
    size_t nl = block.find('\n', pos);
    std::string_view text = block.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    MarkupTableLine line;
    size_t cell = 0;
    for (;;) {
      size_t tab = text.find('\t', cell);
      line.cells.push_back(text.substr(cell, tab == std::string_view::npos ? std::string_view::npos : tab - cell));
      if (tab == std::string_view::npos) break;
      cell = tab + 1;
    }
    lines.push_back(std::move(line));
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return lines;
}

std::vector<int> markup_tab_stops(const std::vector<MarkupTableLine>& lines) {
  int widths[9] = {0};
  size_t columns = 0;
  for (const MarkupTableLine& line : lines) {
    for (size_t i = 0; i < line.widths.size(); i++) {
      int& w = widths[std::min<size_t>(i, 8)];
      w = std::max(w, line.widths[i]);
    }
    columns = std::max({columns, line.cells.size(), line.widths.size()});
  }
  std::vector<int> stops;
  stops.reserve(columns);
  long long pos = 0;
  for (size_t j = 0; j < columns; j++) {
    pos += widths[std::min<size_t>(j, 8)] + MARKUP_TAB_GAP;
    stops.push_back(static_cast<int>(std::min<long long>(pos, INT32_MAX)));
  }
  return stops;
}
