// SPDX-License-Identifier: GPL-3.0-or-later
// The background update check: one request on a worker, its result handed
// to the main loop, which offers the update (once no dialog runs) or
// schedules the next check.
#include <cstring>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/timers.h"
#include "app/window.h"
#include "dialogs/update_dialogs.h"
#include "model/app_core.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/thread.h"
#include "support/version.h"
#include "sync/requests.h"

namespace {

struct CheckJob {
  std::weak_ptr<MainWindow*> owner;  // expired once the timers stopped
  VersionCheckFn check = nullptr;
  ServerLogin login;
  std::string language;
  char version[17] = {};  // the offered version: up to 16 bytes
  std::string notes;
  int rc = -1;
};

gboolean on_check_result(gpointer data) {
  auto* job = static_cast<CheckJob*>(data);
  // A window stopped since (or another run of the tests) gets nothing.
  if (std::shared_ptr<MainWindow*> owner = job->owner.lock()) {
    MainWindow* w = *owner;
    w->timers.update.running = false;
    if (w->built) update_check_done(w, job->rc, job->version, job->notes.c_str());
  }
  delete job;
  return G_SOURCE_REMOVE;
}

// Worker thread: the request only; nothing of the window is touched.
intptr_t check_worker(Worker*, void* data) {
  auto* job = static_cast<CheckJob*>(data);
  job->rc = job->check(job->login, job->language.c_str(), job->version, sizeof job->version, &job->notes);
  if (job->rc != 0) job->version[0] = 0;
  job->version[sizeof job->version - 1] = 0;
  log_message(LOG_INFO, "check_update: %d %s %s", job->rc, program_version(), job->version);
  g_idle_add(on_check_result, job);
  return job->rc;
}

gboolean on_news_timer(gpointer data) {
  auto* w = static_cast<MainWindow*>(data);
  w->timers.update.source = 0;
  update_check_now(w);
  return G_SOURCE_REMOVE;
}

}  // namespace

int64_t update_retry_delay(int rc, bool offered, bool* succeeded) {
  if (rc == 0) {
    if (offered) return -1;
    *succeeded = true;
    return UPDATE_RETRY_LATER;
  }
  return *succeeded ? UPDATE_RETRY_LATER : UPDATE_RETRY_FIRST;
}

void update_check_now(MainWindow* w) {
  UpdateCheck& st = w->timers.update;
  if (st.running) return;
  // Signed out since the start: the checks end with the account.
  if (!has_signed_in_account()) {
    log_message(LOG_INFO, "update_check_now: no account");
    return;
  }
  auto* job = new CheckJob;
  if (login_for_account(signed_in_account(), &job->login) != 0) {
    delete job;
    log_message(LOG_ERROR, "update_check_now: no login");
    return;
  }
  if (!st.owner) st.owner = std::make_shared<MainWindow*>(w);
  job->owner = st.owner;
  job->check = st.check ? st.check : update_get_version;
  const char* code = language_code(strings_language());
  job->language = code ? code : "en";
  st.running = true;
  if (!worker_start(check_worker, job)) {
    st.running = false;
    delete job;
    log_message(LOG_ERROR, "update_check_now: no thread");
    update_check_done(w, -1, "", "");
  }
}

void update_check_schedule(MainWindow* w, int64_t delay) {
  UpdateCheck& st = w->timers.update;
  log_message(LOG_INFO, "schedule_news_timer: %d", static_cast<int>(delay));
  if (st.source) g_source_remove(st.source);
  st.delay = delay;
  st.source = g_timeout_add_seconds(static_cast<guint>(delay), on_news_timer, w);
}

void update_check_done(MainWindow* w, int rc, const char* version, const char* notes) {
  UpdateCheck& st = w->timers.update;
  bool offered = rc == 0 && version && *version;
  int64_t delay = update_retry_delay(rc, offered, &st.succeeded);
  if (!offered) {
    update_check_schedule(w, delay);
    return;
  }
  st.delay = -1;
  st.offered_version = version;
  st.offered_notes = notes ? notes : "";
  if (timers_busy(w)) {
    w->timers.busy.pending |= PENDING_UPDATE;
    busy_timer_start(w);
    return;
  }
  update_offer_run(w);
}

void update_offer_run(MainWindow* w) {
  const UpdateCheck& st = w->timers.update;
  if (st.offered_version.empty()) return;
  // Copies: the run may end the window and its timers.
  std::string v = st.offered_version, n = st.offered_notes;
  (st.run ? st.run : timers_update_run)(w, v.c_str(), n.c_str());
}

void timers_update_run(MainWindow* w, const char* version, const char* notes) {
  int rc = update_run(version, notes, app_core().config_dir.c_str());
  log_message(LOG_INFO, "do_update: %d (%s)", rc, version ? version : "");
  if (rc == 0) main_window_quit(w);
}
