// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar and contacts accounts in the window: the bound repositories, the
// sync of every account, and the timer that runs it every so often.
#include "app/dav_window.h"

#include <vector>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/timers.h"
#include "app/window.h"
#include "dialogs/dav_dialogs.h"
#include "model/app_core.h"
#include "support/log.h"
#include "sync/dav_account.h"
#include "sync/dav_sync.h"

namespace {

gboolean on_dav_timer(gpointer data) {
  auto* w = static_cast<MainWindow*>(data);
  w->timers.dav.source = 0;
  dav_timer_fire(w);
  return G_SOURCE_REMOVE;
}

}  // namespace

void dav_window_reload(MainWindow* w) {
  std::vector<DavAccountRow> rows;
  w->dav.repos.clear();
  if (dav_account_list(&rows) != 0) {
    log_message(LOG_ERROR, "dav_window_reload: listing failed");
    return;
  }
  for (const DavAccountRow& r : rows)
    if (r.repo >= 0) w->dav.repos.push_back(r.repo);
}

bool dav_sync_all(MainWindow* w, bool quiet) {
  bool changed = false;
  // A copy: the list is read again when the window reloads.
  std::vector<int> repos = w->dav.repos;
  for (int repo : repos) {
    if (!w->built && quiet) break;
    DavSyncSummary sum;
    int rc = dav_sync_dialog(repo, quiet, &sum);
    // A failed sync changed nothing here; a good one changed something only
    // when it brought something in or settled a conflict here.
    if (rc == 0 && (sum.pulled || sum.deleted_here || sum.conflicts)) changed = true;
    // The last sync time shown in the accounts dialog moves on either way.
    if (!quiet) changed = true;
  }
  return changed;
}

void dav_timer_arm(MainWindow* w) {
  DavTimer& t = w->timers.dav;
  if (t.source) g_source_remove(t.source);
  t.source = 0;
  t.delay = 0;
  int minutes = app_core().settings.dav_sync_minutes;
  if (minutes <= 0 || !w->dav.any()) return;
  t.delay = static_cast<int64_t>(minutes) * 60;
  t.source = g_timeout_add_seconds(static_cast<guint>(t.delay), on_dav_timer, w);
}

void dav_timer_fire(MainWindow* w) {
  if (!w->built) return;
  // A dialog or a tag rename holds the sync back until it has ended; the
  // timer runs again from the sync's end.
  if (timers_busy(w)) {
    w->timers.busy.pending |= PENDING_DAV;
    busy_timer_start(w);
    return;
  }
  dav_timer_run(w);
}

void dav_timer_run(MainWindow* w) {
  log_message(LOG_INFO, "dav_timer_run: %d accounts", static_cast<int>(w->dav.repos.size()));
  if (dav_sync_all(w, true) && w->built) full_reload(w);
  if (w->built) dav_timer_arm(w);
}
