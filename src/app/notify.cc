// SPDX-License-Identifier: GPL-3.0-or-later
// The notification hub: the only place the core calls the window. Changes
// arriving in a burst are merged into one refresh on idle; bulk commands
// pause the item notifications and refresh once at the end.
#include <algorithm>
#include <ctime>

#include "app/app_hooks.h"
#include "app/commands.h"
#include "app/main_window.h"
#include "app/window.h"
#include "model/model.h"
#include "model/tag.h"
#include "model/undo_state.h"
#include "views/calendar_gtk.h"

namespace {

// The model's hooks are plain functions: this is the window they reach.
MainWindow* hub = nullptr;

void run_refresh(MainWindow* w) {
  int kind = w->refresh_kind;
  bool tray = w->refresh_tray;
  w->refresh_kind = -1;
  w->refresh_tray = false;
  if (!w->built) return;
  int64_t now = time(nullptr);
  if (kind >= 1) {
    calendar_pane_refresh(w->calendar);
    tray = true;
    if (w->hooks.data_timer_arm) w->hooks.data_timer_arm(w, now);
  }
  if (tray) tray_refresh(w, now);
  if (kind >= 0) item_list_refresh(w);
}

gboolean on_refresh_idle(gpointer data) {
  auto* w = static_cast<MainWindow*>(data);
  w->refresh_idle = 0;
  run_refresh(w);
  return G_SOURCE_REMOVE;
}

void schedule(MainWindow* w) {
  if (!w->refresh_idle) w->refresh_idle = g_idle_add(on_refresh_idle, w);
}

void on_item_changed(Item*, int kind) {
  if (!hub || hub->pause_depth > 0) return;
  hub->refresh_kind = std::max(hub->refresh_kind, kind);
  schedule(hub);
}

void on_reminder_changed() {
  if (!hub) return;
  hub->refresh_tray = true;
  schedule(hub);
}

void on_undo_state(int repo, bool undo, bool redo) {
  if (!hub) return;
  if (model_selected_repo() != repo) return;
  hub->undo_state = (undo ? 1 : 0) | (redo ? 2 : 0);
  commands_refresh(hub);
}

}  // namespace

void notify_install(MainWindow* w) {
  hub = w;
  Model& m = model();
  m.item_changed = on_item_changed;
  m.reminder_changed = on_reminder_changed;
  repo_undo_notify(on_undo_state);
}

void notify_remove() {
  Model& m = model();
  m.item_changed = nullptr;
  m.reminder_changed = nullptr;
  repo_undo_notify(nullptr);
  if (hub && hub->refresh_idle) g_source_remove(hub->refresh_idle);
  if (hub) hub->refresh_idle = 0;
  hub = nullptr;
}

void notify_flush(MainWindow* w) {
  if (!w->refresh_idle) return;
  g_source_remove(w->refresh_idle);
  w->refresh_idle = 0;
  run_refresh(w);
}

void refresh_all(MainWindow* w) {
  w->refresh_kind = 1;
  w->refresh_tray = true;
  if (w->refresh_idle) g_source_remove(w->refresh_idle);
  w->refresh_idle = 0;
  run_refresh(w);
}

RefreshPause::RefreshPause(MainWindow* win) : w(win) { w->pause_depth++; }

RefreshPause::~RefreshPause() {
  if (--w->pause_depth == 0) refresh_all(w);
}
