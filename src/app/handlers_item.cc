// SPDX-License-Identifier: GPL-3.0-or-later
// Item commands: new items and editing through the item editors, delete and
// trash on the list's selection, tag assignment, history and search, and
// the moves of a due date and of a reminder.
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/handlers.h"
#include "app/main_window.h"
#include "app/window.h"
#include "dialogs/editor.h"
#include "dialogs/history_dialog.h"
#include "dialogs/message.h"
#include "dialogs/search_dialog.h"
#include "support/strings.h"
#include "dialogs/tag_assign_dialog.h"
#include "model/due_moves.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/undo_state.h"
#include "support/log.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

// The items the list has selected, or the model's selected item alone.
std::vector<int64_t> selected_items(MainWindow* w) {
  std::vector<int64_t> slots = item_list_selected(w->items);
  if (slots.empty() && model().selected_item >= 0 && item_get(model().selected_item))
    slots.push_back(model().selected_item);
  return slots;
}

void create_item(const char* name, int type) {
  int32_t view = model().view;
  log_message(LOG_INFO, "%s: %d", name, view);
  // New items go under a real tag only; the fixed rows have no place for them.
  if (view <= 0) return;
  item_edit(type, -1, view);
}

}  // namespace

void on_create_note(MainWindow*, int) { create_item("on_create_note", ITEM_NOTE); }
void on_create_task(MainWindow*, int) { create_item("on_create_task", ITEM_TASK); }
void on_create_event(MainWindow*, int) { create_item("on_create_event", ITEM_EVENT); }
void on_create_vcard(MainWindow*, int) { create_item("on_create_vcard", ITEM_VCARD); }
void on_create_key(MainWindow*, int) { create_item("on_create_key", ITEM_KEY); }

void on_item_edit(MainWindow*, int) {
  int64_t slot = model().selected_item;
  log_message(LOG_INFO, "on_item_edit: %lld", static_cast<long long>(slot));
  const Item* item = item_get(slot);
  if (!item) return;
  item_edit(item->type, slot, model().view);
}

void on_delete_item(MainWindow* w, int) {
  std::vector<int64_t> slots = selected_items(w);
  log_message(LOG_INFO, "on_delete_item: %lld", static_cast<long long>(model().selected_item));
  if (slots.empty()) return;
  if (slots.size() == 1) {
    const Item* item = item_get(slots[0]);
    if (!item) return;
    std::string title = item->title;
    if (!ask_yes_no(STR_ASK_DELETE_NAMED, title.c_str(), STR_ASK_DELETE_ITEM_DETAIL, STR_CANCEL, STR_DELETE)) return;
    if (item_remove(slots[0]) != 0) log_message(LOG_ERROR, "on_delete_item: remove failed");
    return;
  }
  std::string question = ui_plural_format(STR_ASK_DELETE_N_ITEMS, static_cast<long long>(slots.size()));
  if (!ask_yes_no_text(question, STR_CANCEL, STR_DELETE, STR_ASK_DELETE_ITEMS_DETAIL)) return;
  RefreshPause pause(w);
  if (items_remove(slots) != 0) log_message(LOG_ERROR, "on_delete_item: remove failed");
}

void on_trash(MainWindow* w, int) {
  std::vector<int64_t> slots = selected_items(w);
  log_message(LOG_INFO, "on_trash: %lld", static_cast<long long>(model().selected_item));
  if (slots.empty()) return;
  RefreshPause pause(w);
  if (items_toggle_flag(slots, ITEM_TRASHED) != 0) log_message(LOG_ERROR, "on_trash: storing failed");
}

void on_set_tags(MainWindow* w, int) {
  log_message(LOG_INFO, "on_set_tags: %lld", static_cast<long long>(model().selected_item));
  if (tag_assign_dialog(w->items, w->tags)) item_list_refresh(w);
}

void on_item_history(MainWindow*, int) {
  int64_t slot = model().selected_item;
  log_message(LOG_INFO, "on_item_history: %lld", static_cast<long long>(slot));
  if (!item_get(slot)) return;
  if (!item_has_history(slot)) {
    show_message(STR_APP_NAME, STR_MSG_NO_EARLIER_VERSIONS);
    return;
  }
  item_history(slot);
}

void on_search(MainWindow* w, int) {
  log_message(LOG_INFO, "on_search");
  if (search_dialog() <= 0) return;
  select_tag(w, VIEW_SEARCH);
  item_list_refresh(w);
}

void on_move_due_date(MainWindow* w, int days) {
  log_message(LOG_INFO, "on_move_due_date: %d", days);
  int64_t slot = model().selected_item;
  const Item* item = item_get(slot);
  if (!item || item->type != ITEM_TASK || !item->due || days < 0) return;
  if (due_move(slot, days) != 0) log_message(LOG_ERROR, "on_move_due_date: storing failed");
  commands_refresh(w);
}

void on_next_reminder(MainWindow* w, int) {
  int64_t slot = model().selected_item;
  log_message(LOG_INFO, "on_next_reminder: %lld", static_cast<long long>(slot));
  if (!item_get(slot)) return;
  if (reminder_next(slot) != 0) log_message(LOG_ERROR, "on_next_reminder: storing failed");
  commands_refresh(w);
}
