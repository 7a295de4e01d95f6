// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/list_order.h"

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "model/app_core.h"
#include "model/item.h"
#include "model/list.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/tag.h"
#include "model/view_dates.h"

int list_sort_column(int sort_by) {
  const Model& m = model();
  if (m.view == VIEW_REMINDERS || (m.view == VIEW_FIXED && m.fixed_kind == FIXED_UPCOMING)) return 2;
  return sort_by;
}

namespace {

int day_group(int64_t t, const int64_t bounds[8]) {
  if (t < bounds[0]) return 1;
  for (int i = 1; i < 8; i++)
    if (t < bounds[i]) return i + 1;
  return 9;
}

// Collation keys make each comparison a plain compare. The key is the
// multibyte transform of the title composed as g_utf8_collate composes it,
// so keys order as that function does (the locale's tables are the same for
// both widths); bytes rather than wide characters keep a list of 100,000
// keys a quarter of the size. ASCII needs no normalising (most titles), and
// the transform goes through one reused buffer sized by a first guess.
std::string collate_key(const std::string& s) {
  thread_local std::string buf;
  bool ascii = true;
  for (unsigned char c : s)
    if (c >= 0x80) ascii = false;
  gchar* norm = nullptr;
  std::string latin1;
  const char* text = s.c_str();
  if (!ascii) {
    norm = g_utf8_normalize(s.c_str(), -1, G_NORMALIZE_ALL_COMPOSE);
    if (norm) {
      text = norm;
    } else {
      // Not UTF-8: its bytes read as Latin-1, still a total order.
      for (unsigned char c : s) {
        if (c == 0) break;
        gchar u[6];
        latin1.append(u, static_cast<size_t>(g_unichar_to_utf8(c, u)));
      }
      text = latin1.c_str();
    }
  }
  size_t guess = std::strlen(text) * 4 + 16;
  if (buf.size() < guess) buf.resize(guess);
  size_t n = strxfrm(buf.data(), text, buf.size());
  if (n >= buf.size()) {
    buf.resize(n + 1);
    n = strxfrm(buf.data(), text, buf.size());
  }
  g_free(norm);
  return std::string(buf.data(), n < buf.size() ? n : 0);
}

}  // namespace

namespace {

// Rows put in order when the job starts; a window shows far fewer.
constexpr size_t kOrderedAtStart = 2048;

// Whether row a comes before row b on everything but the title.
bool before(const ListOrderJob& job, size_t a, size_t b) {
  const ListRow& x = job.rows[a];
  const ListRow& y = job.rows[b];
  if (x.group != y.group) return x.group < y.group;
  if (job.sort_column == 2) {
    bool xn = x.time == 0, yn = y.time == 0;
    if (xn != yn) return yn;
    return x.time < y.time;
  }
  if (job.sort_column == 0) return job.types[a] < job.types[b];
  return false;
}

}  // namespace

ListOrderJob list_order_start(int sort_column, int64_t now) {
  if (model().view == VIEW_FIXED && model().fixed_kind == FIXED_UPCOMING)
    upcoming_window(now, app_core().settings.upcoming_days);
  if (model().view == VIEW_REMINDERS) reminders_view_refresh(now);
  int64_t bounds[8];
  int64_t today = local_midnight(now);
  for (int i = 0; i < 8; i++) bounds[i] = local_midnight_after(today, i);

  ListOrderJob job;
  job.sort_column = sort_column;
  size_t most = static_cast<size_t>(slot_array_count(model().items));
  std::vector<OrderKey> keyed;
  keyed.reserve(most);
  std::vector<ListRow> found;
  std::vector<int8_t> found_types;
  found.reserve(most);
  found_types.reserve(most);
  for (int64_t pos = list_next(-1); pos >= 0; pos = list_next(pos)) {
    const Item* it = item_get(pos);
    if (!it) continue;
    int64_t t = list_time(it);
    int group = (t == 0 || sort_column != 2) ? 10 : day_group(t, bounds);
    uint64_t key = sort_column == 0 ? uint64_t(uint8_t(it->type)) : 0;
    if (sort_column == 2) {
      // Signed times shifted into 59 bits: far more than any calendar needs.
      const int64_t half = int64_t(1) << 58;
      int64_t shifted = std::clamp<int64_t>(t, -half, half - 1) + half;
      key = uint64_t(group) << 59 | uint64_t(shifted);
    }
    keyed.push_back({key, static_cast<uint32_t>(found.size())});
    found.push_back({pos, t, group});
    found_types.push_back(it->type);
  }
  // Only the first rows are needed at once: they are selected and sorted
  // now, the rest (all after them) when the work reaches them.
  size_t n = keyed.size();
  size_t first = std::min(n, kOrderedAtStart);
  if (first < n) std::nth_element(keyed.begin(), keyed.begin() + static_cast<std::ptrdiff_t>(first), keyed.end());
  std::sort(keyed.begin(), keyed.begin() + static_cast<std::ptrdiff_t>(first));
  job.rows.resize(n);
  job.types.resize(n);
  for (size_t i = 0; i < n; i++) {
    job.rows[i] = found[keyed[i].pos];
    job.types[i] = found_types[keyed[i].pos];
  }
  job.sorted = first;
  if (first < n) job.tail.assign(keyed.begin() + static_cast<std::ptrdiff_t>(first), keyed.end());
  return job;
}

namespace {

// Sorts the rows after the first ones (their keys kept in job->tail, in the
// same order as the rows).
void sort_tail(ListOrderJob* job) {
  const std::vector<OrderKey>& tail = job->tail;
  std::vector<uint32_t> index(tail.size());
  for (size_t i = 0; i < index.size(); i++) index[i] = static_cast<uint32_t>(i);
  std::sort(index.begin(), index.end(), [&tail](uint32_t a, uint32_t b) { return tail[a] < tail[b]; });
  std::vector<ListRow> rows(tail.size());
  std::vector<int8_t> types(tail.size());
  for (size_t i = 0; i < index.size(); i++) {
    rows[i] = job->rows[job->sorted + index[i]];
    types[i] = job->types[job->sorted + index[i]];
  }
  std::copy(rows.begin(), rows.end(), job->rows.begin() + static_cast<std::ptrdiff_t>(job->sorted));
  std::copy(types.begin(), types.end(), job->types.begin() + static_cast<std::ptrdiff_t>(job->sorted));
  job->sorted = job->rows.size();
  std::vector<OrderKey>().swap(job->tail);
}

}  // namespace

size_t list_order_step(ListOrderJob* job, size_t budget, size_t target) {
  size_t n = job->rows.size();
  while (job->done < n && job->done < target) {
    if (job->run_end == 0) {
      size_t j = job->done + 1;
      while (j < n && j < job->sorted && !before(*job, job->done, j)) j++;
      // A run reaching the unsorted rows may go on among them.
      if (j == job->sorted && j < n) {
        sort_tail(job);
        continue;
      }
      if (j - job->done == 1) {
        job->done = j;  // a row alone needs no key
        continue;
      }
      job->run_end = j;
      job->keys.clear();
      job->keys.reserve(j - job->done);
    }
    size_t length = job->run_end - job->done;
    for (; job->keys.size() < length && budget > 0; budget--) {
      const Item* item = item_get(job->rows[job->done + job->keys.size()].slot);
      job->keys.push_back(collate_key(item ? item->title : std::string()));
    }
    if (job->keys.size() < length) break;
    // Titles only break ties: a stable sort of the run by its keys.
    std::vector<uint32_t> index(length);
    for (size_t k = 0; k < length; k++) index[k] = static_cast<uint32_t>(k);
    std::stable_sort(index.begin(), index.end(),
                     [job](uint32_t a, uint32_t b) { return job->keys[a] < job->keys[b]; });
    std::vector<ListRow> sorted(length);
    std::vector<int8_t> types(length);
    for (size_t k = 0; k < length; k++) {
      sorted[k] = job->rows[job->done + index[k]];
      types[k] = job->types[job->done + index[k]];
    }
    std::copy(sorted.begin(), sorted.end(), job->rows.begin() + static_cast<std::ptrdiff_t>(job->done));
    std::copy(types.begin(), types.end(), job->types.begin() + static_cast<std::ptrdiff_t>(job->done));
    job->done = job->run_end;
    job->run_end = 0;
    std::vector<std::string>().swap(job->keys);
  }
  return job->done;
}

std::vector<ListRow> list_rows(int sort_column, int64_t now) {
  ListOrderJob job = list_order_start(sort_column, now);
  list_order_step(&job, SIZE_MAX, SIZE_MAX);
  return std::move(job.rows);
}

namespace {

void add_children(const uint8_t parent[16], int depth, std::string (*repo_name)(int), std::vector<TagRow>* out,
                  int guard) {
  if (guard > 256) return;  // a cycle in stored parents must not recurse forever
  struct Child {
    int64_t slot;
    std::string key;
  };
  std::vector<Child> kids;
  int64_t cursor = -1;
  while (Tag* t = slot_next<Tag>(model().tags, &cursor)) {
    if (cursor == 0) continue;  // the zero root entry
    if (std::memcmp(t->parent, parent, 16) != 0) continue;
    if (std::memcmp(t->uuid, parent, 16) == 0) continue;
    bool root = uuid_is_zero(t->parent);
    std::string shown = root && repo_name ? repo_name(t->repo) : t->name;
    kids.push_back({cursor, collate_key(shown)});
  }
  std::stable_sort(kids.begin(), kids.end(), [](const Child& a, const Child& b) { return a.key < b.key; });
  for (auto& k : kids) {
    out->push_back({k.slot, depth});
    add_children(tag_get(k.slot)->uuid, depth + 1, repo_name, out, guard + 1);
  }
}

}  // namespace

std::vector<TagRow> tag_tree_rows(std::string (*repo_name)(int repo)) {
  std::vector<TagRow> out;
  uint8_t zero[16] = {};
  add_children(zero, 0, repo_name, &out, 0);
  return out;
}
