// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/search.h"

#include <glib.h>


#include <cstring>
#include <set>
#include <unordered_map>

#include "crypto/wipe.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/tag_ops.h"
#include "storage/db.h"
#include "support/log.h"

namespace {

inline bool is_continuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }

// Folded form of one character; folding is the slow part of a search, and
// texts use few distinct characters, so the results are kept.
const std::string& fold_char(gunichar u, const char* p, size_t n) {
  static std::unordered_map<gunichar, std::string> cache;
  auto it = cache.find(u);
  if (it != cache.end()) return it->second;
  if (cache.size() > 4096) cache.clear();
  char* folded = g_utf8_casefold(p, static_cast<gssize>(n));
  std::string& slot = cache[u];
  slot = folded;
  g_free(folded);
  return slot;
}

// Case-folds text the way g_utf8_casefold does (folding is per character),
// with a fast path for ASCII. When `char_of_byte` is given it receives, for
// every byte of the folded text, the index of the original character it came
// from. Bytes that are not valid UTF-8 are kept as they are, one character
// each, so nothing is lost and offsets stay meaningful.
void fold_text(const char* text, size_t len, std::string* out, std::vector<long>* char_of_byte) {
  out->clear();
  out->reserve(len);
  if (char_of_byte) {
    char_of_byte->clear();
    char_of_byte->reserve(len);
  }
  long ch = 0;
  size_t i = 0;
  while (i < len) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t before = out->size();
    if (c < 0x80) {
      out->push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c));
      i++;
    } else {
      gunichar u = g_utf8_get_char_validated(text + i, static_cast<gssize>(len - i));
      if (u == static_cast<gunichar>(-1) || u == static_cast<gunichar>(-2)) {
        out->push_back(static_cast<char>(c));
        i++;
      } else {
        const char* next = g_utf8_next_char(text + i);
        size_t n = static_cast<size_t>(next - (text + i));
        out->append(fold_char(u, text + i, n));
        i += n;
      }
    }
    if (char_of_byte) char_of_byte->insert(char_of_byte->end(), out->size() - before, ch);
    ch++;
  }
}

bool text_contains(const std::string& text, const std::string& pattern, int case_sensitive,
                   const std::string& folded_pattern, std::string* scratch) {
  if (case_sensitive) return text.find(pattern) != std::string::npos;
  fold_text(text.data(), text.size(), scratch, nullptr);
  return scratch->find(folded_pattern) != std::string::npos;
}

}  // namespace

const std::string& search_text() { return model().search_text; }
int search_case_sensitive() { return model().search_case_sensitive; }

void search_state_set(const char* pattern, int case_sensitive) {
  model().search_text = pattern ? pattern : "";
  model().search_case_sensitive = case_sensitive ? 1 : 0;
}

namespace {

struct Matcher {
  const std::string& pattern;
  int case_sensitive;
  std::string folded_pattern;
  std::string scratch;
  bool operator()(const std::string& text) {
    return text_contains(text, pattern, case_sensitive, folded_pattern, &scratch);
  }
};

// Checks the stored bodies of the pending items of one repository in one
// pass over its current versions (one statement rather than one lookup per
// item). Clears the pending flag of every item it checked; 0, or -1 when the
// repository could not be read (the caller falls back to single reads).
int scan_bodies(int repo, Matcher* match, std::vector<char>* pending, std::vector<char>* hit) {
  RepoRef ref;
  if (repo_ref(repo, &ref) != 0) return -1;
  int rc = objects_each_current_body(ref.store, [&](const ObjectRow& row) {
    int64_t slot = item_find(row.uuid);
    const Item* item = item_get(slot);
    if (item && item->repo == repo && static_cast<size_t>(slot) < pending->size() && (*pending)[slot]) {
      std::string body = body_from_storage(row.body.data(), row.body.size());
      (*hit)[slot] = (*match)(body);
      (*pending)[slot] = 0;
      wipe(&body);
    }
  });
  if (rc == -1) log_message(LOG_WARNING, "items_search: %d", repo);
  return rc == 0 ? 0 : -1;
}

}  // namespace

int items_search(const char* pattern, int case_sensitive) {
  search_state_set(pattern, case_sensitive);
  tag_links_drop(VIEW_SEARCH);
  const std::string& pat = model().search_text;
  if (pat.empty()) return 0;
  Matcher match{pat, model().search_case_sensitive, {}, {}};
  if (!match.case_sensitive) fold_text(pat.data(), pat.size(), &match.folded_pattern, nullptr);

  // Titles first; the items whose title does not match wait for their body.
  Model& m = model();
  size_t slots = static_cast<size_t>(m.items->block_count) * 32;
  std::vector<char> hit(slots, 0), pending(slots, 0);
  std::set<int> repos;
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(m.items, &cursor)) {
    if (match(item->title)) {
      hit[cursor] = 1;
    } else {
      pending[cursor] = 1;
      repos.insert(item->repo);
    }
  }
  for (int repo : repos) scan_bodies(repo, &match, &pending, &hit);
  // Items the scans did not reach: read one by one (the body of an item
  // without a stored version is empty and matches nothing).
  cursor = -1;
  while (const Item* item = slot_next<Item>(m.items, &cursor)) {
    if (!pending[cursor]) continue;
    RepoRef ref;
    if (repo_ref(item->repo, &ref) != 0) continue;
    std::string body = item_body_load(item);
    hit[cursor] = match(body);
    wipe(&body);
  }
  wipe(&match.scratch);

  int found = 0;
  for (size_t s = 0; s < slots; s++)
    if (hit[s]) {
      create_tag_item(VIEW_SEARCH, static_cast<int32_t>(s));
      found++;
    }
  log_message(LOG_DEBUG, "items_search: %d", found);
  return found;
}

std::vector<SearchHit> text_hits(const char* text, const char* pattern, int case_sensitive) {
  std::vector<SearchHit> hits;
  if (text && pattern && *pattern) {
    size_t len = strlen(text);
    std::string hay, needle;
    std::vector<long> char_of_byte;
    if (case_sensitive) {
      hay.assign(text, len);
      needle = pattern;
      char_of_byte.resize(len);
      long ch = -1;
      for (size_t i = 0; i < len; i++) {
        if (!is_continuation(static_cast<unsigned char>(text[i])) || ch < 0) ch++;
        char_of_byte[i] = ch;
      }
    } else {
      fold_text(text, len, &hay, &char_of_byte);
      fold_text(pattern, strlen(pattern), &needle, nullptr);
    }
    if (!needle.empty()) {
      size_t pos = 0;
      while ((pos = hay.find(needle, pos)) != std::string::npos) {
        size_t last = pos + needle.size() - 1;
        long start = char_of_byte[pos];
        long end = char_of_byte[last] + 1;
        // A match that starts inside the expansion of one character (the
        // second "s" of a folded "ß") begins at that character; a later match
        // may not reuse it.
        if (hits.empty() || start >= hits.back().end) hits.push_back({start, end});
        pos += needle.size();
      }
    }
  }
  hits.push_back({-1, -1});
  return hits;
}

std::vector<SearchHit> search_hits(const char* text) {
  const Model& m = model();
  return text_hits(text, m.search_text.c_str(), m.search_case_sensitive);
}
