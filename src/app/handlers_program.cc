// SPDX-License-Identifier: GPL-3.0-or-later
// Program commands: quit, options, the repository manager, master password,
// account, sync, the update check and about; and the full reload that
// follows a remount.
#include <ctime>
#include <vector>

#include "app/app_hooks.h"
#include "app/commands.h"
#include "app/handlers.h"
#include "app/main_window.h"
#include "app/window.h"
#include "dialogs/about_box.h"
#include "dialogs/account_dialog.h"
#include "dialogs/master_password.h"
#include "dialogs/message.h"
#include "dialogs/options_dialog.h"
#include "dialogs/repo_manager.h"
#include "dialogs/sync_dialog.h"
#include "dialogs/update_dialogs.h"
#include "model/app_core.h"
#include "model/model.h"
#include "model/mount.h"
#include "model/tag.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/version.h"
#include "sync/error_text.h"
#include "views/tag_tree_gtk.h"


void full_reload(MainWindow* w) {
  repo_remount();
  window_rebuild(w);
}

void window_rebuild(MainWindow* w) {
  Model& m = model();
  bool navigating = w->navigating;
  w->navigating = true;
  tag_tree_fill(w->tags);
  expand_single_repository(w);
  if (!select_tag(w, m.view)) {
    GtkTreePath* first = gtk_tree_path_new_first();
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(w->tag_tree), first, nullptr, FALSE);
    gtk_tree_path_free(first);
  }
  int shown = w->list_type_shown;
  w->list_type_shown = -1;
  set_list_type(w, shown < 0 ? m.fixed_kind : shown);
  w->navigating = navigating;
  refresh_all(w);
  commands_refresh(w);
}

void on_quit(MainWindow* w, int) { main_window_quit(w); }

void on_options(MainWindow* w, int) {
  log_message(LOG_INFO, "on_options");
  const Settings& s = app_core().settings;
  int upcoming = s.upcoming_days;
  int idle = s.idle_timeout;
  options_dialog([w] { main_window_relabel(w); });
  // A shorter timeout must not wait for the end of the longer one.
  if (s.idle_timeout != idle && w->hooks.idle_rearm) w->hooks.idle_rearm(w);
  if (s.upcoming_days == upcoming) return;
  Model& m = model();
  if (m.view == VIEW_FIXED && w->list_type_shown == 0) item_list_refresh(w);
  int64_t now = time(nullptr);
  tray_refresh(w, now);
  if (w->hooks.data_timer_arm) w->hooks.data_timer_arm(w, now);
}

void on_repo_manager(MainWindow* w, int) {
  log_message(LOG_INFO, "on_repo_manager");
  std::vector<RepoEnabled> before = repo_enabled_list();
  repo_manager();
  int changed = repo_enabled_changed(before, model_selected_repo(), model().show_hidden);
  set_last_error(0);
  if (changed == 2) refresh_all(w);
  else if (changed == 1) full_reload(w);
  else return;
  if (last_error() != 0) show_message(STR_APP_NAME, STR_MSG_DATA_NOT_LOADED);
}

void on_master_password(MainWindow*, int) { master_password_change(); }

void on_account(MainWindow* w, int) {
  if (account_dialog() == 0) commands_refresh(w);
}

void on_sync_repo(MainWindow* w, int) {
  int repo = model_selected_repo();
  log_message(LOG_INFO, "on_sync_repo: %d %d", static_cast<int>(model().view), repo);
  if (repo < 0 || static_cast<size_t>(repo) >= repo_table().size() || repo_table()[repo].server_id.empty()) return;
  sync_repo_dialog(repo);
  full_reload(w);
}

void on_sync_all(MainWindow* w, int) {
  log_message(LOG_INFO, "on_sync_all: %d", static_cast<int>(repo_table().size()));
  for (size_t i = 0; i < repo_table().size(); i++) {
    const RepoEntry& e = repo_table()[i];
    if (!e.mounted || e.server_id.empty()) continue;
    log_message(LOG_INFO, "on_sync_all: %u (%s)", static_cast<unsigned>(i), e.server_id.c_str());
    sync_repo_dialog(static_cast<int>(i));
  }
  full_reload(w);
}

void on_about(MainWindow*, int) { about_box(); }

void on_check_update(MainWindow* w, int) {
  char version[64] = "";
  std::string notes;
  const UpdateCalls& calls = w->update_calls;
  set_last_error(0);
  int rc = calls.check(version, sizeof version, &notes);
  log_message(LOG_INFO, "on_check_update: %d %s %s", rc, program_version(), version);
  if (rc < 0) {
    std::string code = error_code_text(last_error());
    show_message(STR_APP_NAME, STR_MSG_REQUEST_FAILED, code.c_str());
    return;
  }
  if (rc > 0) return;  // cancelled, or reported already
  if (!version[0]) {
    show_info(STR_UP_TO_DATE, STR_MSG_LATEST_VERSION, program_version());
    return;
  }
  // The package and its installer script go beside the configuration.
  rc = calls.run(version, notes.c_str(), config_dir().c_str());
  log_message(LOG_INFO, "do_update: %d (%s)", rc, version);
  if (rc == 0) main_window_quit(w);
}

// Undo and redo step the journal of the selected tag's repository, which
// remounts; the window then shows what is there now.
void on_undo(MainWindow* w, int redo) {
  int repo = model_selected_repo();
  log_message(LOG_INFO, redo ? "on_redo: %d %d" : "on_undo: %d %d", static_cast<int>(model().view), repo);
  if (repo < 0) return;
  int rc = repo_journal_step(repo, redo);
  if (rc != 0) {
    if (rc != 1) log_message(LOG_ERROR, "on_undo: step failed %d", rc);
    return;
  }
  window_rebuild(w);
}

void on_redo(MainWindow* w, int) { on_undo(w, 1); }
