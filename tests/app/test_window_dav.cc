// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar and contacts accounts in the window: the commands they enable
// and the sync timer, which follows its option and the accounts and waits
// for a dialog to end.
#include <gtest/gtest.h>

#include "app/dav_window.h"
#include "app/timers.h"
#include "dialogs/modal.h"
#include "window_fixture.h"

namespace {

class DavWindow : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    timers_install(&w);
  }
  void TearDown() override {
    timers_stop(&w);
    WindowTest::TearDown();
  }
};

TEST_F(DavWindow, TimerFollowsTheOptionAndTheAccounts) {
  const struct {
    int minutes;
    bool account;
    int64_t delay;
  } cases[] = {{15, true, 900}, {5, true, 300}, {240, true, 14400}, {0, true, 0}, {15, false, 0}};
  for (const auto& c : cases) {
    app_core().settings.dav_sync_minutes = c.minutes;
    w.dav.repos = c.account ? std::vector<int>{0} : std::vector<int>{};
    w.hooks.dav_timer_arm(&w);
    EXPECT_EQ(c.delay, w.timers.dav.delay) << c.minutes << " " << c.account;
    EXPECT_EQ(c.delay != 0, w.timers.dav.source != 0) << c.minutes << " " << c.account;
  }
}

TEST_F(DavWindow, SynchroniseAllNeedsASyncAccountOrACalendarAccount) {
  const struct {
    bool sync_account, dav;
    bool enabled;
  } cases[] = {{false, false, false}, {true, false, true}, {false, true, true}};
  for (const auto& c : cases) {
    app_core().has_account = c.sync_account;
    w.dav.repos = c.dav ? std::vector<int>{1} : std::vector<int>{};
    EXPECT_EQ(c.enabled, command_enabled(CMD_SYNC_ALL, command_state(w))) << c.sync_account << c.dav;
  }
}

TEST_F(DavWindow, SynchroniseIsOfferedOnEveryTagOfAnAccountRepository) {
  w.dav.repos = {0};
  select(static_cast<int>(work));
  EXPECT_TRUE(command_enabled(CMD_SYNC_REPO, command_state(w))) << "a calendar's tag";
  w.dav.repos = {1};
  EXPECT_FALSE(command_enabled(CMD_SYNC_REPO, command_state(w))) << "a tag of another repository";
}

// The timer fires while a dialog runs: the sync waits, and follows within a
// busy period once the dialog has closed; the timer then runs again.
TEST_F(DavWindow, TimerSyncWaitsForTheDialog) {
  app_core().settings.dav_sync_minutes = 15;
  w.dav.repos = {0};  // not a real account: the quiet sync fails without a word
  int pending_while_open = 0;
  GtkWidget* d = dialog_new(STR_APP_NAME);
  dialog_add_button(d, STR_OK, GTK_RESPONSE_OK);
  struct Ctx {
    MainWindow* w;
    GtkWidget* d;
    int* pending;
  } ctx{&w, d, &pending_while_open};
  g_timeout_add(50, [](gpointer p) -> gboolean {
    dav_timer_fire(static_cast<Ctx*>(p)->w);
    return G_SOURCE_REMOVE;
  }, &ctx);
  g_timeout_add(300, [](gpointer p) -> gboolean {
    auto* c = static_cast<Ctx*>(p);
    *c->pending = c->w->timers.busy.pending;
    gtk_dialog_response(GTK_DIALOG(c->d), GTK_RESPONSE_OK);
    return G_SOURCE_REMOVE;
  }, &ctx);
  {
    ModalScope scope(d);
    scope.run();
  }
  gtk_widget_destroy(d);
  EXPECT_EQ(PENDING_DAV, pending_while_open & PENDING_DAV);
  EXPECT_EQ(0u, w.timers.dav.source) << "not armed again before the sync ran";
  gint64 end = g_get_monotonic_time() + (BUSY_INTERVAL_MS + 2000) * 1000;
  while (w.timers.busy.pending && g_get_monotonic_time() < end) {
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  EXPECT_EQ(0, w.timers.busy.pending);
  EXPECT_NE(0u, w.timers.dav.source) << "armed again after the sync";
  EXPECT_EQ(GTK_WINDOW(w.window), top_window()) << "a failed timer sync leaves no dialog";
}

}  // namespace
