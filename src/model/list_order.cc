#include "model/list_order.h"

#include <glib.h>

#include <algorithm>
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

std::vector<ListRow> list_rows(int sort_column, int64_t now) {
  if (model().view == VIEW_FIXED && model().fixed_kind == FIXED_UPCOMING)
    upcoming_window(now, app_core().settings.upcoming_days);
  if (model().view == VIEW_REMINDERS) reminders_view_refresh(now);
  int64_t bounds[8];
  int64_t today = local_midnight(now);
  for (int i = 0; i < 8; i++) bounds[i] = local_midnight_after(today, i);

  struct Keyed {
    ListRow row;
    int type;
    std::string key;
  };
  std::vector<Keyed> rows;
  for (int64_t pos = list_next(-1); pos >= 0; pos = list_next(pos)) {
    const Item* it = item_get(pos);
    if (!it) continue;
    int64_t t = list_time(it);
    int group = (t == 0 || sort_column != 2) ? 10 : day_group(t, bounds);
    rows.push_back({{pos, t, group}, it->type, {}});
  }
  // Titles only break ties, so collation keys (the dear part) are made only
  // for runs of rows that tie on everything before the title.
  auto before = [sort_column](const Keyed& a, const Keyed& b) {
    if (a.row.group != b.row.group) return a.row.group < b.row.group;
    if (sort_column == 2) {
      bool an = a.row.time == 0, bn = b.row.time == 0;
      if (an != bn) return bn;
      return a.row.time < b.row.time;
    }
    if (sort_column == 0) return a.type < b.type;
    return false;
  };
  std::stable_sort(rows.begin(), rows.end(), before);
  for (size_t i = 0; i < rows.size();) {
    size_t j = i + 1;
    while (j < rows.size() && !before(rows[i], rows[j])) j++;
    if (j - i > 1) {
      for (size_t k = i; k < j; k++) rows[k].key = collate_key(item_get(rows[k].row.slot)->title);
      std::stable_sort(rows.begin() + static_cast<std::ptrdiff_t>(i), rows.begin() + static_cast<std::ptrdiff_t>(j),
                       [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
    }
    i = j;
  }
  std::vector<ListRow> out;
  out.reserve(rows.size());
  for (auto& r : rows) out.push_back(r.row);
  return out;
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
