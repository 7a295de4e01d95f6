// The background update check: one request on a worker, its result handed
// to the main loop, which offers the update (once no dialog runs) or
// schedules the next check.
#include <cstring>
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
  int generation = 0;
  VersionCheckFn check = nullptr;
  ServerLogin login;
  std::string language;
  char version[17] = {};  // the offered version: up to 16 bytes
  std::string notes;
  int rc = -1;
};

gboolean on_check_result(gpointer data) {
  auto* job = static_cast<CheckJob*>(data);
  TimerState& st = timer_state();
  // A window stopped since (or another run of the tests) gets nothing.
  if (job->generation == st.generation) {
    st.check_running = false;
    if (st.window && st.window->built) update_check_done(st.window, job->rc, job->version, job->notes.c_str());
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
  TimerState& st = timer_state();
  st.news_timer = 0;
  update_check_now(static_cast<MainWindow*>(data));
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
  TimerState& st = timer_state();
  if (st.check_running) return;
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
  job->generation = st.generation;
  job->check = st.check ? st.check : update_get_version;
  const char* code = language_code(strings_language());
  job->language = code ? code : "en";
  st.check_running = true;
  if (!worker_start(check_worker, job)) {
    st.check_running = false;
    delete job;
    log_message(LOG_ERROR, "update_check_now: no thread");
    update_check_done(w, -1, "", "");
  }
}

void update_check_schedule(MainWindow* w, int64_t delay) {
  TimerState& st = timer_state();
  log_message(LOG_INFO, "schedule_news_timer: %d", static_cast<int>(delay));
  if (st.news_timer) g_source_remove(st.news_timer);
  st.news_delay = delay;
  st.news_timer = g_timeout_add_seconds(static_cast<guint>(delay), on_news_timer, w);
}

void update_check_done(MainWindow* w, int rc, const char* version, const char* notes) {
  TimerState& st = timer_state();
  bool offered = rc == 0 && version && *version;
  int64_t delay = update_retry_delay(rc, offered, &st.check_succeeded);
  if (!offered) {
    update_check_schedule(w, delay);
    return;
  }
  st.news_delay = -1;
  st.offered_version = version;
  st.offered_notes = notes ? notes : "";
  if (timers_busy(w)) {
    st.pending |= PENDING_UPDATE;
    busy_timer_start(w);
    return;
  }
  std::string v = st.offered_version, n = st.offered_notes;
  if (st.run_update) st.run_update(w, v.c_str(), n.c_str());
}

void timers_update_run(MainWindow* w, const char* version, const char* notes) {
  int rc = update_run(version, notes, app_core().config_dir.c_str());
  log_message(LOG_INFO, "do_update: %d (%s)", rc, version ? version : "");
  if (rc == 0) main_window_quit(w);
}
