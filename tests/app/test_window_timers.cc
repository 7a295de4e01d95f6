// SPDX-License-Identifier: GPL-3.0-or-later
// The timers of the window on a simulated clock: the new-reminder alert
// (once for reminders coming together, none for what was due at start,
// held back while a dialog runs), the change of day, the update-check
// schedule, the idle timeout and the desktop notifications.
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/app_hooks.h"
#include "app/desktop_notify.h"
#include "app/timers.h"
#include "dialogs/message.h"
#include "gtk/editor_driver.h"
#include "model/ops.h"
#include "model/recur.h"
#include "support/local_dates.h"
#include "support/log.h"
#include "sync/requests.h"
#include "window_fixture.h"

namespace {

int64_t g_now = 0;
int64_t fake_now() { return g_now; }

int g_quits = 0;
void fake_quit(MainWindow*) { g_quits++; }

std::vector<std::string> g_updates_run;
void fake_update(MainWindow*, const char* version, const char*) { g_updates_run.push_back(version); }

// The log of the test process, redirected to a file of its own while the
// capture lives (a new name each time: the writer reopens on a new name).
struct LogCapture {
  LogCapture() {
    static int serial = 0;
    path = std::string(g_get_tmp_dir()) + "/ordika-timers-test-" + std::to_string(getpid()) + "-" +
           std::to_string(++serial) + ".log";
    log_flush();
    log_set_file(path.c_str());
  }
  ~LogCapture() {
    log_flush();
    std::remove(path.c_str());
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::string text() {
    log_flush();
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  int count(const std::string& needle) {
    std::string t = text();
    int n = 0;
    for (size_t at = t.find(needle); at != std::string::npos; at = t.find(needle, at + 1)) n++;
    return n;
  }
  std::string path;
};

// Runs the main loop until done() or the time is up; true when done.
bool pump_until(const std::function<bool()>& done, double seconds = 5.0) {
  gint64 end = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
  while (!done()) {
    if (g_get_monotonic_time() > end) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

std::string message_text(GtkWindow* dlg) {
  gchar* text = nullptr;
  g_object_get(dlg, "text", &text, nullptr);
  std::string s = text ? text : "";
  g_free(text);
  return s;
}

class Timers : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    timers_install(&w);
    ::Timers& st = w.timers;
    g_now = time(nullptr);
    start = g_now;
    st.now = fake_now;
    st.idle.quit = fake_quit;
    st.update.run = fake_update;
    g_quits = 0;
    g_updates_run.clear();
    // Nothing of the tests reaches a desktop the run may have.
    desktop_notify_use_bus(nullptr);
    data_timer_arm(&w, g_now);
  }

  void TearDown() override {
    timers_stop(&w);
    desktop_notify_use_session_bus();
    WindowTest::TearDown();
  }

  // A task under `work` due at `due` (on the real clock, which decides the
  // stored reminder) with a reminder `minutes` before it.
  int64_t add_reminder(const char* title, int64_t due, int minutes) {
    int32_t view = model().view;
    model().view = static_cast<int32_t>(work);
    ItemForm f;
    item_form_fill(-1, ITEM_TASK, &f);
    f.title = title;
    f.due = due;
    f.remind_unit = 1;
    f.remind_count = minutes;
    int64_t slot = item_store(-1, ITEM_TASK, f, 0, model().view);
    model().view = view;
    pump();
    return slot;
  }

  std::string tray_row_label() {
    GList* kids = gtk_container_get_children(GTK_CONTAINER(w.tray_menu));
    std::string s = kids ? plain_label(gtk_menu_item_get_label(GTK_MENU_ITEM(kids->data))) : "";
    g_list_free(kids);
    return s;
  }

  // The data timer's delay when its next event is `at`: the day change
  // comes first when the run is close to local midnight.
  int64_t armed_for(int64_t at) const {
    return std::min<int64_t>(at, local_midnight_after(g_now, 1)) - g_now + 2;
  }

  int64_t start = 0;
};

TEST_F(Timers, RemindersComingTogetherGiveOneAlert) {
  ::Timers& st = w.timers;
  add_reminder("first", start + 3600, 10);
  add_reminder("second", start + 3600, 10);
  // The item change armed the data timer for the reminders' time.
  EXPECT_NEAR(static_cast<double>(st.data.delay), armed_for(start + 3000), 2);
  EXPECT_EQ(fixed_row_text(VIEW_REMINDERS), std::string(ui_string(STR_ROW_REMINDERS)) + " (0)");

  g_now = start + 3002;
  std::string text;
  {
    Script s;
    s.then([&](GtkWindow* dlg) {
      text = message_text(dlg);
      respond(dlg, GTK_RESPONSE_OK);
    });
    data_timer_fire(&w);
    EXPECT_EQ(0, s.unexpected);
    EXPECT_TRUE(s.steps.empty());
  }
  EXPECT_EQ(1, st.data.alerts);
  EXPECT_EQ(ui_string(STR_NEW_REMINDERS_DUE), text);
  EXPECT_EQ(2, st.data.reminded);
  std::string row = std::string(ui_string(STR_ROW_REMINDERS)) + " (2)";
  EXPECT_EQ(row, fixed_row_text(VIEW_REMINDERS));
  EXPECT_EQ(row, tray_row_label());
  EXPECT_FALSE(w.tray_alert);
  // Armed again for the due time.
  EXPECT_EQ(armed_for(start + 3600), st.data.delay);

  // Nothing new at the next firing: no second alert, and the due time
  // turns the tray icon.
  g_now = start + 3602;
  {
    Script s;
    data_timer_fire(&w);
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ(1, st.data.alerts);
  EXPECT_TRUE(w.tray_alert);
  EXPECT_EQ(2, st.data.due);
}

TEST_F(Timers, ANewReminderAfterOthersWereDoneStillAlerts) {
  ::Timers& st = w.timers;
  int64_t a = add_reminder("a", start + 3600, 10);
  add_reminder("b", start + 3600, 10);
  g_now = start + 3002;
  {
    Script s;
    s.then([](GtkWindow* dlg) { respond(dlg, GTK_RESPONSE_OK); });
    data_timer_fire(&w);
  }
  ASSERT_EQ(1, st.data.alerts);
  // One is done: fewer reminders than were counted.
  ItemForm f;
  item_form_fill(a, ITEM_TASK, &f);
  f.flags = ITEM_COMPLETED;
  ASSERT_GE(item_store(a, ITEM_TASK, f, 0, model().view), 0);
  pump();
  // A third comes: as many as counted before, yet new.
  add_reminder("c", start + 7200, 10);
  g_now = start + 6602;
  {
    Script s;
    s.then([](GtkWindow* dlg) { respond(dlg, GTK_RESPONSE_OK); });
    data_timer_fire(&w);
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ(2, st.data.alerts);
  EXPECT_EQ(2, st.data.reminded);
}

TEST_F(Timers, TheTrayRowOpensTheReminders) {
  select(static_cast<int>(work));
  gtk_widget_hide(w.window);
  GList* kids = gtk_container_get_children(GTK_CONTAINER(w.tray_menu));
  ASSERT_NE(nullptr, kids);
  gtk_menu_item_activate(GTK_MENU_ITEM(kids->data));
  g_list_free(kids);
  pump();
  EXPECT_TRUE(gtk_widget_get_visible(w.window));
  EXPECT_EQ(VIEW_REMINDERS, model().view);
}

TEST_F(Timers, WhatWasDueAtStartRaisesNoAlert) {
  ::Timers& st = w.timers;
  add_reminder("early", start + 3600, 10);
  // A new run of the window after the reminder time.
  timers_stop(&w);
  st.now = fake_now;
  st.update.run = fake_update;
  g_now = start + 3100;
  w.reminders_shown = -1;
  tray_refresh(&w, g_now);
  data_timer_arm(&w, g_now);
  EXPECT_EQ(1, st.data.reminded);
  g_now = start + 3200;
  {
    Script s;
    data_timer_fire(&w);
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ(0, st.data.alerts);
  EXPECT_EQ(fixed_row_text(VIEW_REMINDERS), std::string(ui_string(STR_ROW_REMINDERS)) + " (1)");

  // With the alert switched off, a reminder that comes later changes the
  // counts and the tray but raises nothing.
  add_reminder("later", start + 7200, 10);
  app_core().settings.new_reminders_alert = 0;
  g_now = start + 6602;
  {
    Script s;
    data_timer_fire(&w);
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ(0, st.data.alerts);
  EXPECT_EQ(2, st.data.reminded);
  EXPECT_EQ(fixed_row_text(VIEW_REMINDERS), std::string(ui_string(STR_ROW_REMINDERS)) + " (2)");
  EXPECT_TRUE(w.tray_alert) << "the first one's due time has passed";
}

TEST_F(Timers, AlertWaitsForTheDialogAndFollowsItWithinTwoSeconds) {
  ::Timers& st = w.timers;
  add_reminder("meeting", start + 3600, 10);
  g_now = start + 3002;

  gint64 closed_at = 0, alert_at = 0;
  int alerts_while_open = -1;
  int pending_while_open = 0;
  // Answers the alert whenever it comes.
  guint answer = g_timeout_add(
      10,
      [](gpointer p) -> gboolean {
        GtkWindow* top = top_window();
        if (top && GTK_IS_MESSAGE_DIALOG(top) && gtk_widget_get_mapped(GTK_WIDGET(top))) {
          *static_cast<gint64*>(p) = g_get_monotonic_time();
          gtk_dialog_response(GTK_DIALOG(top), GTK_RESPONSE_OK);
        }
        return G_SOURCE_CONTINUE;
      },
      &alert_at);

  GtkWidget* d = dialog_new(STR_APP_NAME);
  dialog_add_button(d, STR_OK, GTK_RESPONSE_OK);
  struct Ctx {
    MainWindow* w;
    GtkWidget* d;
    gint64* closed_at;
    int* alerts;
    int* pending;
  } ctx{&w, d, &closed_at, &alerts_while_open, &pending_while_open};
  // The reminder time arrives while the dialog runs.
  g_timeout_add(50, [](gpointer p) -> gboolean {
    auto* c = static_cast<Ctx*>(p);
    data_timer_fire(c->w);
    return G_SOURCE_REMOVE;
  }, &ctx);
  // The dialog stays longer than one busy period, then closes.
  g_timeout_add(BUSY_INTERVAL_MS + 500, [](gpointer p) -> gboolean {
    auto* c = static_cast<Ctx*>(p);
    *c->alerts = c->w->timers.data.alerts;
    *c->pending = c->w->timers.busy.pending;
    *c->closed_at = g_get_monotonic_time();
    gtk_dialog_response(GTK_DIALOG(c->d), GTK_RESPONSE_OK);
    return G_SOURCE_REMOVE;
  }, &ctx);
  {
    ModalScope scope(d);
    scope.run();
  }
  gtk_widget_destroy(d);
  ASSERT_TRUE(pump_until([&] { return st.data.alerts > 0; }, 4.0));
  g_source_remove(answer);

  EXPECT_EQ(0, alerts_while_open);
  EXPECT_EQ(PENDING_DATA, pending_while_open);
  EXPECT_EQ(1, st.data.alerts);
  EXPECT_EQ(0, st.busy.pending);
  EXPECT_EQ(0u, st.busy.source);
  ASSERT_GT(alert_at, closed_at);
  EXPECT_LE(alert_at - closed_at, static_cast<gint64>(BUSY_INTERVAL_MS + 400) * 1000);
  EXPECT_NE(0u, st.data.source) << "armed again";
}

TEST_F(Timers, AReminderDueDuringASuspendComesRightAfterIt) {
  ::Timers& st = w.timers;
  add_reminder("standup", start + 3600, 10);
  // Before its time the watch leaves the timer alone.
  g_now = start + 60;
  timers_clock_check(&w);
  EXPECT_NE(0u, st.data.source);
  EXPECT_EQ(0, st.data.alerts);
  // The machine slept through the reminder: the timer's source has not
  // counted that time, the clock has.
  g_now = start + 4000;
  Script s;
  s.then([](GtkWindow* dlg) { respond(dlg, GTK_RESPONSE_OK); });
  timers_clock_check(&w);
  EXPECT_EQ(1, st.data.alerts);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_NE(0u, st.data.source) << "armed again";
  EXPECT_GT(st.data.fires_at, g_now);
}

TEST_F(Timers, TagRenameHoldsTheWorkBack) {
  ::Timers& st = w.timers;
  add_reminder("call", start + 3600, 10);
  g_now = start + 3002;
  w.tag_editing = true;
  data_timer_fire(&w);
  EXPECT_EQ(0, st.data.alerts);
  EXPECT_EQ(PENDING_DATA, st.busy.pending);
  EXPECT_NE(0u, st.busy.source);
  // The tray follows at once; the list waits.
  EXPECT_EQ(fixed_row_text(VIEW_REMINDERS), std::string(ui_string(STR_ROW_REMINDERS)) + " (1)");
  w.tag_editing = false;
  Script s;
  s.then([](GtkWindow* dlg) { respond(dlg, GTK_RESPONSE_OK); });
  ASSERT_TRUE(pump_until([&] { return st.data.alerts > 0; }, 4.0));
  EXPECT_EQ(0, s.unexpected);
}

TEST_F(Timers, TheChangeOfDayRefreshesTheList) {
  ::Timers& st = w.timers;
  int64_t evening = local_time_of(2031, 1, 15, 23, 59, 50);
  g_now = evening;
  data_timer_arm(&w, g_now);
  EXPECT_EQ(12, st.data.delay);

  select(static_cast<int>(work));
  // A change the window was not told about shows after the refresh.
  ItemChangedFn saved = model().item_changed;
  model().item_changed = nullptr;
  int64_t quiet = add(work, ITEM_NOTE, "quiet");
  model().item_changed = saved;
  EXPECT_FALSE(item_list_select_item(w.items, quiet));

  g_now = local_time_of(2031, 1, 16, 0, 0, 2);
  data_timer_fire(&w);
  EXPECT_TRUE(item_list_select_item(w.items, quiet));
  EXPECT_EQ(local_midnight_after(g_now, 1) - g_now + 2, st.data.delay);
  EXPECT_EQ(local_time_of(2031, 1, 16, 0, 0, 0), st.data.day);
}

TEST_F(Timers, UpdateCheckRetriesAfterFiveMinutesThenEightHours) {
  bool ok = false;
  EXPECT_EQ(300, update_retry_delay(-1, false, &ok));
  EXPECT_EQ(300, update_retry_delay(3, false, &ok)) << "a refusal of the server is a failure too";
  EXPECT_FALSE(ok);
  EXPECT_EQ(28800, update_retry_delay(0, false, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(28800, update_retry_delay(-1, false, &ok));
  EXPECT_EQ(-1, update_retry_delay(0, true, &ok));
}

// Answers of the stand-in server, one per check.
std::vector<std::pair<int, std::string>> g_answers;
int g_checks = 0;
int fake_check(const ServerLogin& login, const char*, char* name, size_t size, std::string* notes) {
  EXPECT_EQ("updates.example:4443", login.host);
  auto a = g_answers[static_cast<size_t>(g_checks++)];
  g_strlcpy(name, a.second.c_str(), size);
  *notes = "notes";
  return a.first;
}

TEST_F(Timers, UpdateChecksFollowTheScheduleAndWaitForDialogs) {
  ::Timers& st = w.timers;
  Account& acc = signed_in_account();
  Account saved = acc;
  acc.id = 7;
  acc.user = "someone";
  acc.host = "updates.example:4443";
  g_answers = {{-1, ""}, {0, ""}, {-1, ""}, {0, "9.9.9"}};
  g_checks = 0;
  st.update.check = fake_check;
  LogCapture log;

  auto check = [&] {
    update_check_now(&w);
    return pump_until([&] { return !st.update.running; });
  };
  ASSERT_TRUE(check());
  EXPECT_EQ(300, st.update.delay);
  EXPECT_NE(0u, st.update.source);
  ASSERT_TRUE(check());
  EXPECT_EQ(28800, st.update.delay);
  ASSERT_TRUE(check());
  EXPECT_EQ(28800, st.update.delay) << "after one success, failures wait eight hours";
  EXPECT_EQ(1, log.count("schedule_news_timer: 300"));
  EXPECT_EQ(2, log.count("schedule_news_timer: 28800"));
  EXPECT_EQ(3, log.count("check_update: "));

  // An offer while a dialog runs waits for it; no further check follows.
  w.tag_editing = true;
  ASSERT_TRUE(check());
  EXPECT_EQ(-1, st.update.delay);
  EXPECT_TRUE(g_updates_run.empty());
  EXPECT_EQ(PENDING_UPDATE, st.busy.pending);
  w.tag_editing = false;
  ASSERT_TRUE(pump_until([&] { return !g_updates_run.empty(); }, 4.0));
  EXPECT_EQ(std::vector<std::string>{"9.9.9"}, g_updates_run);
  EXPECT_EQ(4, g_checks);

  // Signed out: the chain ends.
  acc.id = 0;
  update_check_now(&w);
  EXPECT_FALSE(st.update.running);
  EXPECT_EQ(4, g_checks);
  acc = saved;
}

int64_t g_idle_ms = 0;
int64_t fake_idle() { return g_idle_ms; }

TEST_F(Timers, IdleTimerWaitsOutTheRestOfTheTimeout) {
  EXPECT_EQ(180, idle_next_delay(5, 120)) << "active 2 minutes ago: 3 minutes to go";
  EXPECT_EQ(300, idle_next_delay(5, 0));
  EXPECT_EQ(0, idle_next_delay(5, 300));
  EXPECT_EQ(0, idle_next_delay(5, 4000));
  EXPECT_EQ(-1, idle_next_delay(0, 4000));
  EXPECT_EQ(-1, idle_next_delay(-3, 0));

  ::Timers& st = w.timers;
  st.idle.probed = true;
  st.idle.query = fake_idle;
  Settings& s = app_core().settings;
  s.idle_timeout = 5;
  idle_start(&w);
  EXPECT_EQ(300, st.idle.delay);

  // The options shorten the timeout: the timer follows at once, counting
  // the time the user has been away already.
  s.idle_timeout = 1;
  g_idle_ms = 20500;
  ASSERT_NE(nullptr, w.hooks.idle_rearm);
  w.hooks.idle_rearm(&w);
  EXPECT_EQ(40, st.idle.delay);
  EXPECT_NE(0u, st.idle.source);

  // The user came back meanwhile: another wait, no quit.
  g_idle_ms = 15000;
  idle_timer_fire(&w);
  EXPECT_EQ(45, st.idle.delay);
  EXPECT_EQ(0, g_quits);

  LogCapture log;
  g_idle_ms = 61000;
  idle_timer_fire(&w);
  EXPECT_EQ(1, g_quits);
  EXPECT_EQ(1, log.count("Idle timeout: 61"));

  // Switched off: the chain ends.
  s.idle_timeout = 0;
  w.hooks.idle_rearm(&w);
  EXPECT_EQ(0u, st.idle.source);
  EXPECT_EQ(-1, st.idle.delay);
}

TEST_F(Timers, IdleTimeoutClosesDialogsButLeavesQuestionsToTheUser) {
  ::Timers& st = w.timers;
  st.idle.probed = true;
  st.idle.query = fake_idle;
  app_core().settings.idle_timeout = 1;
  g_idle_ms = 90000;
  // A dialog is cancelled, then the program quits.
  GtkWidget* d = dialog_new(STR_APP_NAME);
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  int response = 0;
  g_timeout_add(20, [](gpointer p) -> gboolean {
    idle_timer_fire(static_cast<MainWindow*>(p));
    return G_SOURCE_REMOVE;
  }, &w);
  {
    ModalScope scope(d);
    response = scope.run();
  }
  gtk_widget_destroy(d);
  EXPECT_EQ(GTK_RESPONSE_CANCEL, response);
  EXPECT_EQ(0, g_quits);
  EXPECT_EQ(1, st.idle.delay);
  ASSERT_TRUE(pump_until([] { return g_quits == 1; }, 3.0));

  // A question stays until the user answers it; no quit meanwhile.
  g_quits = 0;
  bool answered = false;
  g_timeout_add(20, [](gpointer p) -> gboolean {
    idle_timer_fire(static_cast<MainWindow*>(p));
    return G_SOURCE_REMOVE;
  }, &w);
  g_timeout_add(300, [](gpointer p) -> gboolean {
    *static_cast<bool*>(p) = true;
    GtkWindow* top = top_window();
    if (top && GTK_IS_DIALOG(top)) gtk_dialog_response(GTK_DIALOG(top), GTK_RESPONSE_YES);
    return G_SOURCE_REMOVE;
  }, &answered);
  EXPECT_TRUE(ask_yes_no(STR_ASK_DISCARD, nullptr, STR_ASK_DISCARD_DETAIL, STR_BACK, STR_YES));
  EXPECT_TRUE(answered) << "answered by the user, not by the timeout";
  EXPECT_EQ(0, g_quits);
  EXPECT_EQ(60, st.idle.delay);
}

TEST_F(Timers, MissingScreenSaverLibraryTurnsTheIdleTimeoutOffOnce) {
  ::Timers& st = w.timers;
  app_core().settings.idle_timeout = 5;
  idle_reset(&w);
  {
    LogCapture log;
    EXPECT_FALSE(idle_probe(&w, {"libOrdikaNoSuchXss.so.1", "libOrdikaNoSuchXss.so"}));
    idle_start(&w);
    idle_rearm(&w);
    EXPECT_EQ(0u, st.idle.source);
    EXPECT_EQ(1, log.count("No X11 Screen Saver extension"));
  }
  // With the library of the system (runtime name first), the query answers.
  idle_reset(&w);
  void* lib = dlopen("libXss.so.1", RTLD_LAZY);
  if (!lib) GTEST_SKIP() << "libXss.so.1 not installed";
  dlclose(lib);
  ASSERT_TRUE(idle_probe(&w));
  ASSERT_NE(nullptr, st.idle.query);
  EXPECT_GE(st.idle.query(), -1);
  idle_start(&w);
  EXPECT_EQ(300, st.idle.delay);
}

// A notification service of our own on a private session bus: it records
// what it is sent and can play the user's click.
const char kServiceXml[] =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "<arg type='u' direction='out'/></method>"
    "<signal name='ActionInvoked'><arg type='u'/><arg type='s'/></signal>"
    "<signal name='NotificationClosed'><arg type='u'/><arg type='u'/></signal>"
    "</interface></node>";

struct Received {
  std::string app, summary, body;
  std::vector<std::string> actions;
};

struct FakeService {
  std::vector<Received> got;
  bool owned = false;
  guint32 next_id = 40;
};

void on_service_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant* params, GDBusMethodInvocation* inv, gpointer data) {
  auto* f = static_cast<FakeService*>(data);
  if (g_strcmp0(method, "Notify") != 0) {
    g_dbus_method_invocation_return_dbus_error(inv, "org.freedesktop.DBus.Error.UnknownMethod", "no");
    return;
  }
  Received r;
  const gchar *app, *icon, *summary, *body;
  guint32 replaces;
  GVariantIter* actions;
  GVariant* hints;
  gint32 timeout;
  g_variant_get(params, "(&su&s&s&sas@a{sv}i)", &app, &replaces, &icon, &summary, &body, &actions, &hints,
                &timeout);
  r.app = app;
  r.summary = summary;
  r.body = body;
  const gchar* a;
  while (g_variant_iter_next(actions, "&s", &a)) r.actions.push_back(a);
  g_variant_iter_free(actions);
  g_variant_unref(hints);
  f->got.push_back(r);
  g_dbus_method_invocation_return_value(inv, g_variant_new("(u)", ++f->next_id));
}

class Notifications : public Timers {
 protected:
  void SetUp() override {
    Timers::SetUp();
    gchar* daemon = g_find_program_in_path("dbus-daemon");
    if (!daemon) GTEST_SKIP() << "no dbus-daemon for a private session bus";
    g_free(daemon);
    const char* env = getenv("DBUS_SESSION_BUS_ADDRESS");
    had_env = env != nullptr;
    if (env) saved_env = env;
    bus = g_test_dbus_new(G_TEST_DBUS_NONE);
    // The daemon inherits the signal mask: with every signal blocked (as the
    // program runs) it would outlive the test.
    sigset_t none, old;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, &old);
    g_test_dbus_up(bus);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    const gchar* addr = g_test_dbus_get_bus_address(bus);
    ASSERT_NE(nullptr, addr);
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    client = g_dbus_connection_new_for_address_sync(addr, flags, nullptr, nullptr, nullptr);
    service = g_dbus_connection_new_for_address_sync(addr, flags, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, client);
    ASSERT_NE(nullptr, service);
    desktop_notify_use_bus(client);
  }

  void TearDown() override {
    if (owner) g_bus_unown_name(owner);
    if (object) g_dbus_connection_unregister_object(service, object);
    if (info) g_dbus_node_info_unref(info);
    Timers::TearDown();
    for (GDBusConnection* c : {client, service}) {
      if (!c) continue;
      g_dbus_connection_close_sync(c, nullptr, nullptr);
      g_object_unref(c);
    }
    if (bus) {
      g_test_dbus_stop(bus);
      g_object_unref(bus);
    }
    if (had_env) setenv("DBUS_SESSION_BUS_ADDRESS", saved_env.c_str(), 1);
    else unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }

  void serve() {
    info = g_dbus_node_info_new_for_xml(kServiceXml, nullptr);
    ASSERT_NE(nullptr, info);
    static const GDBusInterfaceVTable vtable = {on_service_call, nullptr, nullptr, {}};
    object = g_dbus_connection_register_object(service, "/org/freedesktop/Notifications", info->interfaces[0],
                                               &vtable, &fake, nullptr, nullptr);
    ASSERT_NE(0u, object);
    owner = g_bus_own_name_on_connection(
        service, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer p) { static_cast<FakeService*>(p)->owned = true; }, nullptr,
        &fake, nullptr);
    ASSERT_TRUE(pump_until([&] { return fake.owned; }));
  }

  // The reminder comes; the alert is answered.
  void reminder_comes(const char* title) {
    add_reminder(title, start + 3600, 10);
    g_now = start + 3002;
    Script s;
    s.then([](GtkWindow* dlg) { respond(dlg, GTK_RESPONSE_OK); });
    data_timer_fire(&w);
  }

  GTestDBus* bus = nullptr;
  GDBusConnection* client = nullptr;
  GDBusConnection* service = nullptr;
  GDBusNodeInfo* info = nullptr;
  guint object = 0, owner = 0;
  FakeService fake;
  bool had_env = false;
  std::string saved_env;
};

TEST_F(Notifications, AReminderReachesTheDesktopAndItsActionOpensTheItem) {
  serve();
  select(static_cast<int>(home));
  // The reminders view reads the real clock: the reminder's time has come
  // on it too, since the last look ten minutes ago.
  int64_t slot = add_reminder("Dentist <3pm> & co", start + 300, 10);
  w.timers.data.checked_until = start - 600;
  g_now = start + 1;
  // The window is away in the tray.
  gtk_widget_hide(w.window);
  {
    // The notification alone: no box of the window's own as well.
    Script s;
    data_timer_fire(&w);
    pump();
    EXPECT_EQ(0, s.unexpected);
  }
  ASSERT_TRUE(pump_until([&] { return !fake.got.empty(); }));
  ASSERT_EQ(1u, fake.got.size());
  const Received& r = fake.got[0];
  EXPECT_EQ(ui_string(STR_APP_NAME), r.app);
  EXPECT_EQ("Dentist <3pm> & co", r.summary) << "the summary is plain text";
  EXPECT_EQ(shown_date_time(start + 300, DATE_SHORT), r.body) << "the due time as the window shows it";
  ASSERT_GE(r.actions.size(), 2u);
  EXPECT_EQ("default", r.actions[0]);
  EXPECT_EQ(ui_string(STR_OPEN), r.actions[1]);

  // The user clicks it: the window shows the item among the reminders.
  pump();
  ASSERT_EQ(static_cast<int32_t>(home), model().view);
  g_dbus_connection_emit_signal(service, nullptr, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                "ActionInvoked", g_variant_new("(us)", fake.next_id, "default"), nullptr);
  ASSERT_TRUE(pump_until([&] { return model().view == VIEW_REMINDERS; }));
  EXPECT_EQ(slot, model().selected_item);
  EXPECT_TRUE(gtk_widget_get_visible(w.window));
  EXPECT_EQ(1, w.timers.data.alerts);
}

TEST_F(Notifications, WithoutAServiceTheFailureIsLoggedOnce) {
  LogCapture log;
  reminder_comes("first");
  ASSERT_TRUE(pump_until([&] { return desktop_notify_failures() == 1; }));
  uint8_t uuid[16] = {1};
  EXPECT_EQ(0, desktop_notify_item(uuid, "second", g_now));
  ASSERT_TRUE(pump_until([&] { return desktop_notify_failures() == 2; }));
  EXPECT_EQ(1, w.timers.data.alerts) << "the window's own alert is shown all the same";
  EXPECT_EQ(1, log.count("desktop_notify: "));
  EXPECT_EQ(0, log.count("first"));
  EXPECT_EQ(0, log.count("second"));
}

}  // namespace
