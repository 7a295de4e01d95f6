#include "sync/dav_map.h"

#include "crypto/wipe.h"
#include "interchange/components.h"
#include "interchange/import_plan.h"
#include "model/forms.h"
#include "model/item.h"
#include "model/ops.h"

int64_t dav_member_store(const std::string& text, int64_t slot, int64_t tag, int keep_history, ItemBatch* batch,
                         SourceRecord* kept) {
  const Item* item = item_get(slot);
  if (item && keep_history) {
    // The local version goes to history as it is; the member's version
    // replaces the copy made current meanwhile.
    ItemForm form;
    form_from_item(item, &form);
    int64_t again = batch->store(slot, item->type, form, 1, -1);
    wipe(&form.body);
    if (again < 0) return -1;
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
