// SPDX-License-Identifier: GPL-3.0-or-later
// The data timer, the busy timer and the new-reminder alert: the views follow
// the clock (a reminder or due time arriving, the change of day) without a
// user command, and work that would disturb a running dialog or a tag rename
// waits until it has ended.
#include "app/timers.h"

#include <ctime>

#include "app/app_hooks.h"
#include "app/desktop_notify.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/window.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "model/app_core.h"
#include "model/item.h"
#include "model/list.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/reminders.h"
#include "support/log.h"
#include "views/calendar_gtk.h"
#include "views/item_list_gtk.h"

namespace {

// Notifications beyond this many at one moment are left out: a run that
// finds a day's worth of reminders at once should not bury the desktop.
constexpr size_t kMaxNotifications = 5;

gboolean on_data_timer(gpointer data);
gboolean on_busy_timer(gpointer data);

void hook_arm(MainWindow* w, int64_t now) { data_timer_arm(w, now); }

void hook_stop(MainWindow* w) { timers_stop(w); }

void hook_update_start(MainWindow* w) { update_check_now(w); }

// The default action of a desktop notification: the window comes forward
// with the item selected among the reminders.
void on_notification_open(const uint8_t uuid[16], void* data) {
  auto* w = static_cast<MainWindow*>(data);
  if (!w->built) return;
  int64_t slot = uuid_map_find(model().item_index, uuid);
  log_message(LOG_INFO, "on_notification_open: %lld", static_cast<long long>(slot));
  main_window_present(w);
  if (timers_busy(w) || slot < 0) return;
  if (model().view != VIEW_REMINDERS) select_tag(w, VIEW_REMINDERS);
  // Its reminder may have moved on since: the window alone then.
  item_list_select_item(w->items, slot);
}

void notify_desktop(const std::vector<int64_t>& come) {
  size_t sent = 0;
  for (int64_t r : come) {
    const Reminder* rem = slot_get<Reminder>(model().reminders, r);
    const Item* it = rem ? item_get(rem->item) : nullptr;
    if (!it) continue;
    if (sent++ == kMaxNotifications) break;
    desktop_notify_item(it->uuid, it->title.c_str(), rem->due_at);
  }
}

void remember_counts(DataTimer* t, int64_t now) { reminders_counts(now, &t->reminded, &t->due); }

// The work of the data timer once nothing is busy: the alert for reminders
// that have come since the last run, then the tray, the counts, the next
// timer and the list (and the calendar marks when the day changed).
void data_run(MainWindow* w) {
  DataTimer& st = w->timers.data;
  int64_t now = timers_now(w);
  std::vector<int64_t> come;
  if (now > st.checked_until) come = reminders_come(st.checked_until, now);
  // A clock set back must not announce the same reminders again.
  st.checked_until = now;
  if (!come.empty() && app_core().settings.new_reminders_alert == 1) {
    notify_desktop(come);
    st.alerts++;
    log_message(LOG_INFO, "data_run: %d new reminders", static_cast<int>(come.size()));
    show_data_notice();
    // The alert ran a loop of its own: the window may have gone meanwhile.
    if (!w->built) return;
    now = timers_now(w);
  }
  tray_refresh(w, now);
  remember_counts(&st, now);
  data_timer_arm(w, now);
  int64_t day = local_midnight(now);
  if (day != st.day) {
    st.day = day;
    calendar_pane_refresh(w->calendar);
  }
  item_list_refresh(w);
}

gboolean on_data_timer(gpointer data) {
  auto* w = static_cast<MainWindow*>(data);
  DataTimer& st = w->timers.data;
  log_message(LOG_DEBUG, "timeout_data: %u", st.source);
  st.source = 0;
  data_timer_fire(w);
  return G_SOURCE_REMOVE;
}

gboolean on_busy_timer(gpointer data) {
  auto* w = static_cast<MainWindow*>(data);
  BusyTimer& st = w->timers.busy;
  if (!w->built) {
    st.source = 0;
    return G_SOURCE_REMOVE;
  }
  if (timers_busy(w)) return G_SOURCE_CONTINUE;
  log_message(LOG_DEBUG, "timeout_busy: %u", st.source);
  st.source = 0;
  int pending = st.pending;
  st.pending = 0;
  if (pending & PENDING_DATA) data_run(w);
  if ((pending & PENDING_UPDATE) && w->built) update_offer_run(w);
  return G_SOURCE_REMOVE;
}

gboolean on_clock_watch(gpointer data) {
  auto* w = static_cast<MainWindow*>(data);
  if (!w->built) {
    w->timers.data.clock_watch = 0;
    return G_SOURCE_REMOVE;
  }
  timers_clock_check(w);
  return G_SOURCE_CONTINUE;
}

int64_t system_now() { return static_cast<int64_t>(time(nullptr)); }

}  // namespace

int64_t timers_now(const MainWindow* w) {
  ClockFn fn = w->timers.now;
  return fn ? fn() : system_now();
}

void timers_install(MainWindow* w) {
  AppHooks& h = w->hooks;
  h.data_timer_arm = hook_arm;
  h.idle_start = idle_start;
  h.idle_rearm = idle_rearm;
  h.update_check_start = hook_update_start;
  h.stop = hook_stop;
}

void timers_stop(MainWindow* w) {
  Timers& st = w->timers;
  for (guint* id : {&st.data.source, &st.busy.source, &st.update.source, &st.idle.source, &st.data.clock_watch}) {
    if (*id) g_source_remove(*id);
    *id = 0;
  }
  st.busy.pending = 0;
  desktop_notify_set_open(nullptr, nullptr);
  desktop_notify_stop();
  idle_reset(w);
  st.started = false;
  st.update.running = false;
  st.update.owner.reset();
}

bool timers_busy(MainWindow* w) { return top_window() != GTK_WINDOW(w->window) || w->tag_editing; }

std::vector<int64_t> reminders_come(int64_t from, int64_t to) {
  std::vector<int64_t> out;
  int64_t cursor = -1;
  while (const Reminder* r = slot_next<Reminder>(model().reminders, &cursor))
    if (r->remind_at > from && r->remind_at <= to) out.push_back(cursor);
  return out;
}

void data_timers_start(MainWindow* w, int64_t now) {
  DataTimer& st = w->timers.data;
  w->timers.started = true;
  desktop_notify_set_open(on_notification_open, w);
  st.checked_until = now;
  st.day = local_midnight(now);
  remember_counts(&st, now);
  if (!st.clock_watch) st.clock_watch = g_timeout_add_seconds(CLOCK_WATCH_SECONDS, on_clock_watch, w);
}

void timers_clock_check(MainWindow* w) {
  DataTimer& st = w->timers.data;
  if (!st.source || timers_now(w) < st.fires_at) return;
  log_message(LOG_INFO, "timers_clock_check: %lld late", static_cast<long long>(timers_now(w) - st.fires_at));
  g_source_remove(st.source);
  st.source = 0;
  data_timer_fire(w);
}

void data_timer_arm(MainWindow* w, int64_t now) {
  DataTimer& st = w->timers.data;
  // The first arming is the start of the run (the window calls it once it
  // has shown the counts).
  if (!w->timers.started) data_timers_start(w, now);
  if (st.source) g_source_remove(st.source);
  int64_t delay = get_next_timer(now);
  // A day and a bit at most: the change of day always comes first.
  if (delay < 1) delay = 1;
  if (delay > 90000) delay = 90000;
  st.delay = delay;
  st.fires_at = now + delay;
  st.source = g_timeout_add_seconds(static_cast<guint>(delay), on_data_timer, w);
}

void data_timer_fire(MainWindow* w) {
  if (!w->built) return;
  if (timers_busy(w)) {
    w->timers.busy.pending |= PENDING_DATA;
    tray_refresh(w, timers_now(w));
    busy_timer_start(w);
    return;
  }
  data_run(w);
}

void busy_timer_start(MainWindow* w) {
  BusyTimer& st = w->timers.busy;
  if (!st.source) st.source = g_timeout_add(BUSY_INTERVAL_MS, on_busy_timer, w);
}
