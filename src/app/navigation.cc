// Back and forward through the places the user looked at.
#include "app/commands.h"
#include "app/main_window.h"
#include "app/window.h"
#include "model/model.h"
#include "support/log.h"
#include "views/item_list_gtk.h"

namespace {

void apply(MainWindow* w, const NavEntry& e, int previous_tag, int previous_type) {
  Model& m = model();
  w->navigating = true;
  set_list_type(w, e.list_type);
  m.calendar_day = e.day;
  m.selected_item = e.item;
  if (e.tag == previous_tag) {
    if (e.list_type == FIXED_CALENDAR_DAY || e.list_type != previous_type) item_list_refresh(w);
    bool found = item_list_select_item(w->items, e.item);
    log_message(LOG_DEBUG, "select_item: %d %d", e.item, found ? e.item : -1);
  } else {
    // The tag selection handler reloads the list and selects the item.
    select_tag(w, e.tag);
    log_message(LOG_DEBUG, "select_tag: %d", e.tag);
  }
  w->navigating = false;
  commands_refresh(w);
}

}  // namespace

int nav_push(MainWindow* w) {
  Model& m = model();
  NavEntry cur;
  cur.tag = m.view;
  cur.item = static_cast<int32_t>(m.selected_item);
  cur.list_type = m.fixed_kind;
  cur.day = m.calendar_day;
  int added = nav_ring_push(&w->nav, cur);
  commands_refresh(w);
  return added;
}

void nav_back(MainWindow* w) {
  log_message(LOG_DEBUG, "on_back: %d", w->nav.pos);
  int tag = model().view, type = model().fixed_kind;
  NavEntry e;
  if (nav_ring_back(&w->nav, &e) != 0) return;
  apply(w, e, tag, type);
}

void nav_forward(MainWindow* w) {
  log_message(LOG_DEBUG, "on_forward: %d", w->nav.pos);
  int tag = model().view, type = model().fixed_kind;
  NavEntry e;
  if (nav_ring_forward(&w->nav, &e) != 0) return;
  apply(w, e, tag, type);
}
