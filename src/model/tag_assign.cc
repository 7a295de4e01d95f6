// SPDX-License-Identifier: GPL-3.0-or-later
// Tag assignment of several items in one journal group.
#include "model/tag_assign.h"

#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/tag.h"
#include "model/tag_ops.h"
#include "support/log.h"
#include "support/slot_array.h"

namespace {

struct Applied {
  int32_t tag;
  int32_t item;
  bool added;
};

void forget_link(int32_t tag, int32_t item) {
  Model& m = model();
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->tag == tag && l->item == item) slot_array_remove(m.tag_links, cursor);
}

}  // namespace

int tags_assign(int repo, const std::vector<TagChoice>& choices, const std::vector<int64_t>& items) {
  int rc = group_begin(repo);
  if (rc != 0) return rc;
  std::vector<Applied> applied;
  for (const TagChoice& c : choices) {
    const Tag* tag = tag_get(c.tag);
    if (!tag || tag->repo != repo) continue;
    for (int64_t slot : items) {
      const Item* item = item_get(slot);
      if (item && item->repo != repo) continue;
      auto t = static_cast<int32_t>(c.tag);
      auto i = static_cast<int32_t>(slot);
      bool before = tag_link_exists(t, i);
      rc = item ? update_tag_item(t, i, c.chosen ? 1 : 0) : -1;
      if (rc != 0) break;
      if (before != c.chosen) applied.push_back({t, i, c.chosen});
    }
    if (rc != 0) break;
  }
  if (rc == 0) {
    rc = group_end(repo, 0);
    if (rc == 0) return 0;
  } else {
    group_end(repo, 1);
  }
  log_message(LOG_ERROR, "tags_assign: %d, %d", repo, rc);
  // The stored links went back with the group; the loaded ones follow.
  for (auto a = applied.rbegin(); a != applied.rend(); ++a) {
    if (a->added) forget_link(a->tag, a->item);
    else tag_link_append(a->tag, a->item);
  }
  return rc;
}
