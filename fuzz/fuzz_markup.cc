// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the markup parser and checks the shape of what it
// returns: valid UTF-8 text, ordered and terminated records, links inside the
// text.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "markup/markup.h"
#include "support/log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Notices about replaced UTF-8 would only slow the run down.
  log_set_level(LOG_ERROR);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  MarkupResult r;
  if (markup_parse(text.c_str(), &r) != 0) abort();

  if (std::strlen(r.text.c_str()) != r.text.size()) abort();
  if (!g_utf8_validate(r.text.data(), static_cast<gssize>(r.text.size()), nullptr)) abort();
  auto chars = static_cast<uint32_t>(g_utf8_strlen(r.text.c_str(), -1));

  if (r.records.size() < 3 || r.records.back() != MARKUP_RECORD_END) abort();
  if (r.records.front() != markup_record(MARKUP_STYLE, 0, 0)) abort();
  if (r.records[r.records.size() - 2] != markup_record(MARKUP_STYLE, 0, chars)) abort();
  uint32_t last = 0;
  int tables = 0;
  int spans = 0;
  for (size_t i = 0; i + 1 < r.records.size(); i++) {
    uint32_t w = r.records[i];
    uint32_t off = markup_record_offset(w);
    if (off < last || off > chars || markup_record_kind(w) > MARKUP_SPAN_END) abort();
    last = off;
    switch (markup_record_kind(w)) {
      case MARKUP_TABLE_START: tables++; break;
      case MARKUP_TABLE_END: tables--; break;
      case MARKUP_SPAN_START: spans++; break;
      case MARKUP_SPAN_END: spans--; break;
      default: break;
    }
    if (tables < 0 || tables > 1 || spans < 0 || spans > 1) abort();
  }
  if (tables != 0 || spans != 0) abort();

  uint32_t prev = 0;
  for (const MarkupLink& l : r.links) {
    if (l.target.empty() || l.start < prev || l.end < l.start || l.end > chars) abort();
    if (!g_utf8_validate(l.target.data(), static_cast<gssize>(l.target.size()), nullptr)) abort();
    prev = l.end;
  }

  uint32_t covered = 0;
  for (const MarkupRange& run : markup_style_runs(r.records)) {
    if (run.start != covered || run.end <= run.start || run.style > 15) abort();
    covered = run.end;
  }
  if (covered != chars) abort();
  for (const MarkupRange& block : markup_table_blocks(r.records)) {
    if (block.start > block.end || block.end > chars) abort();
  }

  // Every table block splits into lines whose tab stops can be computed.
  uint32_t block_start = 0;
  for (size_t i = 0; i + 1 < r.records.size(); i++) {
    uint32_t kind = markup_record_kind(r.records[i]);
    uint32_t off = markup_record_offset(r.records[i]);
    if (kind == MARKUP_TABLE_START) block_start = off;
    if (kind != MARKUP_TABLE_END) continue;
    const char* from = g_utf8_offset_to_pointer(r.text.c_str(), block_start);
    const char* to = g_utf8_offset_to_pointer(r.text.c_str(), off);
    std::vector<MarkupTableLine> lines = markup_table_lines(std::string_view(from, static_cast<size_t>(to - from)));
    for (MarkupTableLine& line : lines) {
      for (std::string_view cell : line.cells) line.widths.push_back(static_cast<int>(cell.size()) * 7);
    }
    std::vector<int> stops = markup_tab_stops(lines);
    for (size_t j = 1; j < stops.size(); j++) {
      if (stops[j] <= stops[j - 1]) abort();
    }
  }
  return 0;
}
