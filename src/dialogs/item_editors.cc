// SPDX-License-Identifier: GPL-3.0-or-later
// The editors by item type and the entry point of the window's commands.
#include <string>

#include "dialogs/contact_editor.h"
#include "dialogs/editor.h"
#include "dialogs/key_editor.h"
#include "dialogs/schedule.h"
#include "model/item.h"
#include "model/settings.h"
#include "support/log.h"

namespace {

const EditorSpec& note_spec() {
  static const EditorSpec spec = [] {
    EditorSpec s;
    s.type = ITEM_NOTE;
    s.title_id = STR_TYPE_NOTE;
    s.size_index = DLG_NOTE;
    return s;
  }();
  return spec;
}

}  // namespace

const EditorSpec* editor_spec(int type) {
  switch (type) {
    case ITEM_TASK:
      return &task_editor_spec();
    case ITEM_EVENT:
      return &event_editor_spec();
    case ITEM_NOTE:
      return &note_spec();
    case ITEM_VCARD:
      return &contact_editor_spec();
    case ITEM_KEY:
      return &key_editor_spec();
    default:
      return nullptr;
  }
}

int64_t item_edit(int type, int64_t slot, int64_t target_tag) {
  // An existing item is edited as what it is: storing it through another
  // type's editor would change its kind and drop what that editor lacks.
  if (slot >= 0) {
    const Item* item = item_get(slot);
    if (!item) {
      log_message(LOG_ERROR, "item_edit: no item %lld", static_cast<long long>(slot));
      return -1;
    }
    if (item->type != type) log_message(LOG_WARNING, "item_edit: item %lld is of type %d, not %d",
                                        static_cast<long long>(slot), item->type, type);
    type = item->type;
  }
  const EditorSpec* spec = editor_spec(type);
  if (!spec) {
    log_message(LOG_ERROR, "item_edit: no editor for type %d", type);
    return -1;
  }
  return editor_run(*spec, slot, target_tag);
}
