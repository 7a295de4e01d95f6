// SPDX-License-Identifier: GPL-3.0-or-later
// View commands: back and forward, the list type, completed tasks and
// hidden repositories shown or not.
#include "app/commands.h"
#include "app/handlers.h"
#include "app/main_window.h"
#include "app/window.h"
#include "model/app_core.h"
#include "model/model.h"
#include "support/log.h"

void on_back(MainWindow* w, int) { nav_back(w); }

void on_forward(MainWindow* w, int) { nav_forward(w); }

void on_list_type(MainWindow* w, int type) {
  Model& m = model();
  log_message(LOG_INFO, "on_move_due_date: %d %d", type, w->list_type_shown);
  if (type == w->list_type_shown && type == m.fixed_kind) return;
  set_list_type(w, type);
  item_list_refresh(w);
  if (!w->navigating) nav_push(w);
}

void on_completed(MainWindow* w, int) {
  int& shown = app_core().settings.show_completed;
  shown = shown ? 0 : 1;
  log_message(LOG_INFO, "on_completed: %d", shown);
  commands_relabel(w);
  item_list_refresh(w);
}

void on_show_hide(MainWindow* w, int) {
  Model& m = model();
  m.show_hidden = !m.show_hidden;
  log_message(LOG_INFO, "on_show_hide: %d", m.show_hidden ? 1 : 0);
  commands_relabel(w);
  refresh_all(w);
}
