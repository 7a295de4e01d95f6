// SPDX-License-Identifier: GPL-3.0-or-later
// Everything the window does without a user command: the data timer at the
// next reminder or due time and at the change of day, the busy timer that
// holds that work back while a dialog runs or a tag is being renamed, the
// new-reminder alert with its desktop notifications, the background update
// check and the idle timeout. All of it runs on the main loop except the
// update check's request, which runs on a worker.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct MainWindow;
struct ServerLogin;

// Pending work held back while busy.
enum { PENDING_DATA = 2, PENDING_UPDATE = 4 };

// Busy timer interval: work held back is done at most this long after the
// dialog closes.
constexpr guint BUSY_INTERVAL_MS = 2000;
constexpr guint CLOCK_WATCH_SECONDS = 30;
// Update check retries: after a failure before any success, and after a
// success or a later failure.
constexpr int64_t UPDATE_RETRY_FIRST = 300;
constexpr int64_t UPDATE_RETRY_LATER = 28800;

using ClockFn = int64_t (*)();
// The update request: update_get_version of sync/requests.h, or a stand-in.
using VersionCheckFn = int (*)(const ServerLogin& login, const char* language, char* name, size_t size,
                               std::string* notes);
// Runs an offered update on the main thread (the offer, the download, the
// installer, and quitting when it was started).
using UpdateRunFn = void (*)(MainWindow* w, const char* version, const char* notes);
// The query of the X screen-saver extension: the user's idle time in
// milliseconds, or -1 when it cannot be asked.
using IdleQueryFn = int64_t (*)();

// Ends the program as the quit command does, once no dialog runs.
using QuitFn = void (*)(MainWindow* w);

// The data timer: at the next reminder or due time and at the change of day.
struct DataTimer {
  guint source = 0;
  int64_t delay = 0;     // seconds it was last armed for
  int64_t fires_at = 0;  // the clock time it was armed for
  guint clock_watch = 0;  // looks at the clock while the timer waits
  // Counts of reminders_counts remembered by the last run.
  int reminded = 0;
  int due = 0;
  // Reminders whose time lies in (checked_until, now] have come since the
  // last run: they raise the alert. Those already due at start, or moved
  // into the past by an edit, do not.
  int64_t checked_until = 0;
  int64_t day = 0;  // local midnight of the last run
  int alerts = 0;   // new-reminder alerts shown
};

// The busy timer: holds work back while a dialog runs or a tag is renamed.
struct BusyTimer {
  guint source = 0;
  int pending = 0;  // PENDING_ bits
};

// The background update check.
struct UpdateCheck {
  VersionCheckFn check = nullptr;  // nullptr: update_get_version
  UpdateRunFn run = nullptr;       // nullptr: timers_update_run
  bool running = false;
  bool succeeded = false;
  guint source = 0;   // the next check
  int64_t delay = 0;  // -1: no further check
  std::string offered_version;
  std::string offered_notes;
  // Held by a check's worker job: gone once the timers stopped, so that a
  // late result is dropped.
  std::shared_ptr<MainWindow*> owner;
};

// The idle timeout.
struct IdleTimer {
  IdleQueryFn query = nullptr;
  QuitFn quit = nullptr;  // nullptr: app_request_quit
  bool probed = false;
  guint source = 0;
  int64_t delay = 0;
};

// The window's timers; MainWindow holds them.
struct Timers {
  ClockFn now = nullptr;  // seconds since the epoch; nullptr: time()
  bool started = false;   // set by the first arming, cleared by stop
  DataTimer data;
  BusyTimer busy;
  UpdateCheck update;
  IdleTimer idle;
};

// Fills the window's start-up hooks (app_hooks.h) with the functions below.
void timers_install(MainWindow* w);
// Stops every timer this file started; the state keeps its counters.
void timers_stop(MainWindow* w);
// The clock: w->timers.now, else the system time.
int64_t timers_now(const MainWindow* w);

// True while work that touches the window must wait: a dialog runs or a tag
// name is being edited.
bool timers_busy(MainWindow* w);

// Data timer. Arms it for get_next_timer(now) seconds.
void data_timer_arm(MainWindow* w, int64_t now);
// Start of the run: what has come due by now raises no alert.
void data_timers_start(MainWindow* w, int64_t now);
// What the data timer does when it fires (its source already gone).
void data_timer_fire(MainWindow* w);
// The data timer's source counts time the machine is awake: after a suspend
// or a change of the system clock this fires it once its clock time has
// passed. Runs every CLOCK_WATCH_SECONDS.
void timers_clock_check(MainWindow* w);
// Starts the busy timer unless it runs; pending bits say what it will do.
void busy_timer_start(MainWindow* w);

// Reminder entries whose reminder time lies in (from, to], in list order.
std::vector<int64_t> reminders_come(int64_t from, int64_t to);

// Default of UpdateCheck::run: update_run of the update dialogs in the profile
// directory, and quit once the installer was started.
void timers_update_run(MainWindow* w, const char* version, const char* notes);

// Update check. The next delay after a check: -1 when no further check is
// scheduled (a version was offered), else seconds; *succeeded is set by a
// successful check.
int64_t update_retry_delay(int rc, bool offered, bool* succeeded);
// Starts a check on a worker now (only with a signed-in account).
void update_check_now(MainWindow* w);
// Schedules the next check in delay seconds.
void update_check_schedule(MainWindow* w, int64_t delay);
// Main thread, after a check: offer, retry or hold the offer while busy.
void update_check_done(MainWindow* w, int rc, const char* version, const char* notes);
// Runs the offered update, if there is one.
void update_offer_run(MainWindow* w);

// Idle timeout. Seconds until the next look at the idle time for a timeout
// of `minutes` after the user was idle for `idle_seconds`: 0 when the
// timeout has been reached, -1 when the timeout is off.
int64_t idle_next_delay(int minutes, int64_t idle_seconds);
// Loads "XScreenSaverQueryInfo" from the first library of names that has it
// (the default list when names is empty). False, logged once per run, when
// there is no X display or no such library.
bool idle_probe(MainWindow* w, const std::vector<std::string>& names = {});
// What the idle timer does when it fires: quit once the user has been idle
// for the timeout, else wait for the rest of it.
void idle_timer_fire(MainWindow* w);
// Start-up: probe and arm for the configured timeout.
void idle_start(MainWindow* w);
// After the options changed: the timer follows the new value at once.
void idle_rearm(MainWindow* w);
// Forgets the probe result and the one-time log line (tests).
void idle_reset(MainWindow* w);
