// SPDX-License-Identifier: GPL-3.0-or-later
// Reactions to selection: the tag tree, the item list, the calendar and the
// column headers; the list type shown in the first tag-tree row; the status
// bar.
#include <ctime>
#include <string>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/window.h"
#include "model/app_core.h"
#include "model/item.h"
#include "model/list.h"
#include "model/model.h"
#include "model/tag.h"
#include "model/undo_state.h"
#include "support/local_dates.h"
#include "support/log.h"
#include "support/strings.h"
#include "views/detail_view_gtk.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

// At most `max` bytes, cut at a character boundary.
std::string utf8_limit(std::string text, size_t max) {
  if (text.size() <= max) return text;
  const char* start = text.c_str();
  const char* end = g_utf8_find_prev_char(start, start + max + 1);
  text.resize(end ? static_cast<size_t>(end - start) : 0);
  return text;
}

std::string local_time_text(int64_t t) { return shown_date_time(t, DATE_SHORT); }

void show_item_status(MainWindow* w, int64_t slot) {
  Item* item = item_get(slot);
  if (!item) {
    status_show(w, "");
    return;
  }
  const std::string colon = std::string(ui_colon()) + " ";
  std::string text = std::string(ui_string(STR_CREATED)) + colon + local_time_text(item->created) + "  |  " +
                     ui_string(STR_MODIFIED) + colon + local_time_text(item->modified);
  if (item->due != 0) {
    int64_t remind = reminder_of(slot);
    text += std::string("  |  ") + ui_string(STR_STATUS_REMINDER) + colon +
            (remind ? local_time_text(remind) : ui_string(STR_NONE_WORD));
  }
  status_show(w, text.c_str());
}

}  // namespace

void status_show(MainWindow* w, const char* text) {
  GtkStatusbar* bar = GTK_STATUSBAR(w->statusbar);
  gtk_statusbar_pop(bar, w->status_context);
  gtk_statusbar_push(bar, w->status_context, text);
}

void set_list_type(MainWindow* w, int type) {
  if (type < 0 || type > 8) type = 0;
  model().fixed_kind = type;
  if (type == w->list_type_shown) return;
  w->list_type_shown = type;
  std::string text = std::string(ui_string(STR_ROW_LISTS)) + ui_colon() + " " + ui_string(list_type_label(type));
  tag_tree_set_fixed_text(w->tags, VIEW_FIXED, utf8_limit(text, 63).c_str());
}

void item_list_refresh(MainWindow* w) {
  item_list_reload(w->items, time(nullptr));
  commands_refresh(w);
}

bool select_tag(MainWindow* w, int id) { return tag_tree_select(w->tags, id); }

void on_tag_selection_changed(GtkTreeSelection* selection, MainWindow* w) {
  GtkTreeModel* store;
  GtkTreeIter iter;
  if (!gtk_tree_selection_get_selected(selection, &store, &iter)) return;
  int id = 0;
  gtk_tree_model_get(store, &iter, TAG_COL_ID, &id, -1);
  Model& m = model();
  m.view = id;
  log_message(LOG_DEBUG, "on_tag_selection_changed: %d", id);
  w->undo_state = 0;
  if (id > 0) {
    if (Tag* tag = tag_get(id)) w->undo_state = repo_undo_state(tag->repo);
  }
  item_list_refresh(w);
  if (!w->navigating) nav_push(w);
  commands_refresh(w);
}

void on_item_selection_changed(GtkTreeSelection*, void* data) {
  auto* w = static_cast<MainWindow*>(data);
  Model& m = model();
  std::vector<int64_t> rows = item_list_selected(w->items);
  if (rows.size() != 1) {
    m.selected_item = -1;
    detail_view_clear(w->detail);
    status_show(w, "");
  } else {
    m.selected_item = rows[0];
    detail_view_show_item(w->detail, rows[0]);
    show_item_status(w, rows[0]);
  }
  if (!w->navigating) nav_push(w);
  commands_refresh(w);
  log_message(LOG_DEBUG, "on_item_selection_changed: %d", static_cast<int>(m.selected_item));
}

void on_calendar_day(void* data) {
  auto* w = static_cast<MainWindow*>(data);
  set_list_type(w, FIXED_CALENDAR_DAY);
  // Moving the cursor to the fixed row reloads the list through the tag
  // selection handler; on that row already, reload here.
  if (model().view != VIEW_FIXED && select_tag(w, VIEW_FIXED)) return;
  item_list_refresh(w);
}

void on_sort_column(int column, void* data) {
  auto* w = static_cast<MainWindow*>(data);
  Model& m = model();
  Settings& s = app_core().settings;
  if (m.view == VIEW_REMINDERS || (m.view == VIEW_FIXED && m.fixed_kind == FIXED_UPCOMING)) return;
  if (column == s.sort_by) return;
  s.sort_by = column;
  item_list_refresh(w);
}
