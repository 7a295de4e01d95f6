// SPDX-License-Identifier: GPL-3.0-or-later
// Text search over all items (the search results view) and the ranges of the
// current search text in a shown text (highlighting).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Makes `pattern` and the flag the current search, drops the previous
// results (links of tag -1) and links every item whose title or, failing
// that, body contains the pattern to the search results (tag -1), in slot
// order. Without case sensitivity both sides are Unicode case-folded. An
// empty pattern finds nothing. Returns the number of items found.
int items_search(const char* pattern, int case_sensitive);

// The current search (kept for the whole run; the search dialog starts with
// it). search_text is empty before the first search.
const std::string& search_text();
int search_case_sensitive();
// Sets the current search without searching.
void search_state_set(const char* pattern, int case_sensitive);

// A range of characters (code points) [start, end) of a text.
struct SearchHit {
  long start;
  long end;
};
// All non-overlapping occurrences of the current search text in `text`,
// left to right, as character offsets into `text` itself (also when case
// folding changes lengths, as "ß" -> "ss" does). The array always ends with
// a pair whose start is -1; with no or an empty search text that pair is
// the only element.
std::vector<SearchHit> search_hits(const char* text);
// The same for an explicit pattern.
std::vector<SearchHit> text_hits(const char* text, const char* pattern, int case_sensitive);
