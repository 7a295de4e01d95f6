// SPDX-License-Identifier: GPL-3.0-or-later
// Back and forward through the places the user looked at.
#include <cstring>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/window.h"
#include "model/item.h"
#include "model/model.h"
#include "model/tag.h"
#include "support/log.h"
#include "views/item_list_gtk.h"

namespace {

// The entry's slots as they are now: false when its tag is gone.
bool resolve(NavEntry* e) {
  if (!uuid_is_zero(e->tag_uuid)) {
    int64_t slot = tag_find(e->tag_uuid);
    if (slot < 1) return false;
    e->tag = static_cast<int32_t>(slot);
  }
  if (!uuid_is_zero(e->item_uuid)) e->item = static_cast<int32_t>(item_find(e->item_uuid));
  return true;
}

// Steps until a place that still exists; the ring stays put when none does.
bool step(NavRing* ring, bool forward, NavEntry* out) {
  NavRing saved = *ring;
  while ((forward ? nav_ring_forward(ring, out) : nav_ring_back(ring, out)) == 0) {
    if (resolve(out)) return true;
    log_message(LOG_DEBUG, "nav: place %d is gone", out->tag);
  }
  *ring = saved;
  return false;
}

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
  if (const Tag* t = cur.tag > 0 ? tag_get(cur.tag) : nullptr) std::memcpy(cur.tag_uuid, t->uuid, 16);
  if (const Item* it = item_get(cur.item)) std::memcpy(cur.item_uuid, it->uuid, 16);
  int added = nav_ring_push(&w->nav, cur);
  commands_refresh(w);
  return added;
}

void nav_back(MainWindow* w) {
  log_message(LOG_DEBUG, "on_back: %d", w->nav.pos);
  int tag = model().view, type = model().fixed_kind;
  NavEntry e;
  if (!step(&w->nav, false, &e)) return;
  apply(w, e, tag, type);
}

void nav_forward(MainWindow* w) {
  log_message(LOG_DEBUG, "on_forward: %d", w->nav.pos);
  int tag = model().view, type = model().fixed_kind;
  NavEntry e;
  if (!step(&w->nav, true, &e)) return;
  apply(w, e, tag, type);
}
