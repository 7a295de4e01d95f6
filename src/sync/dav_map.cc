// SPDX-License-Identifier: GPL-3.0-or-later
#include "sync/dav_map.h"

#include "interchange/components.h"
#include "interchange/import_plan.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "storage/db.h"

int64_t dav_member_store(const std::string& text, int64_t slot, int64_t tag, int keep_history, ItemBatch* batch,
                         SourceRecord* kept) {
  const Item* item = item_get(slot);
  if (item && keep_history) {
    // The local version goes to history as it is, inside the batch's group;
    // the member's version becomes current beside it.
    RepoRef ref;
    if (repo_ref(item->repo, &ref) != 0 || object_demote_current(ref.store, item->uuid) != 0) return -1;
  }
  return component_to_item(text, batch, tag, slot, kept);
}

std::string dav_member_text(int64_t slot, const SourceRecord* kept) {
  return component_for_item(slot, kept && !kept->component.empty() ? kept : nullptr);
}

std::string dav_member_uid(const std::string& text) { return component_uid(text); }

std::string dav_member_title(const std::string& text) {
  ImportPlan plan;
  ImportKind kind = component_kind(text) == COMPONENT_CARD ? IMPORT_CONTACTS : IMPORT_CALENDAR;
  import_plan_parse(kind, text.data(), text.size(), "", &plan);
  return plan.entries.empty() ? std::string() : plan.entries.front().form.title;
}
