// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes, the password prompt and the progress dialog's worker
// protocol, driven through their own modal loops.
#include <errno.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <string>

#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/password_prompt.h"
#include "dialogs/progress.h"
#include "gtk_fixture.h"
#include "support/strings.h"

namespace {

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, strings_set_language(0));
    main = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    set_top_window(GTK_WINDOW(main));
  }
  void TearDown() override {
    set_top_window(nullptr);
    gtk_widget_destroy(main);
    pump();
  }
  GtkWidget* main = nullptr;
};

std::string message_text(GtkWindow* w) {
  gchar* t = nullptr;
  g_object_get(w, "text", &t, nullptr);
  std::string out = t ? t : "";
  g_free(t);
  return out;
}

TEST_F(DialogTest, MessageTextIsShownLiterallyAndTopWindowRestored) {
  std::string seen;
  GtkWindow* during = nullptr;
  std::string title;
  when_dialog([&](GtkWindow* w) {
    during = w;
    seen = message_text(w);
    title = gtk_window_get_title(w);
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    return true;
  });
  // 178 takes the search text as its argument.
  show_message(STR_ROW_SEARCH_RESULTS, STR_MSG_NO_SEARCH_HIT, "100%s %d");
  EXPECT_NE(std::string::npos, seen.find("100%s %d")) << seen;
  EXPECT_EQ(ui_string(STR_ROW_SEARCH_RESULTS), title);
  EXPECT_NE(GTK_WINDOW(main), during);
  EXPECT_EQ(GTK_WINDOW(main), top_window());
}

TEST_F(DialogTest, AskYesNoIsTrueOnlyForYes) {
  respond_next(GTK_RESPONSE_YES);
  EXPECT_TRUE(ask_yes_no(STR_ASK_DELETE_NAMED, "Repo", STR_ASK_DELETE_REPO_DETAIL, STR_CANCEL, STR_DELETE));
  respond_next(GTK_RESPONSE_CANCEL);
  EXPECT_FALSE(ask_yes_no(STR_ASK_DELETE_NAMED, "Repo", STR_ASK_DELETE_REPO_DETAIL, STR_CANCEL, STR_DELETE));
  respond_next(GTK_RESPONSE_DELETE_EVENT);
  EXPECT_FALSE(ask_yes_no(STR_ASK_DELETE_NAMED, "Repo", STR_NONE, STR_CANCEL, STR_DELETE));
}

TEST_F(DialogTest, CopyablePutsTheTextOnTheClipboardEachTime) {
  GtkClipboard* cb = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gtk_clipboard_set_text(cb, "before", -1);
  int applies = 0;
  when_dialog([&](GtkWindow* w) {
    if (applies < 2) {
      applies++;
      gtk_clipboard_set_text(cb, "changed", -1);
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_APPLY);
      return false;
    }
    gchar* t = gtk_clipboard_wait_for_text(cb);
    EXPECT_STREQ("s3cret", t);
    g_free(t);
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    return true;
  });
  show_copyable(STR_PASSWORD_TITLE, "s3cret");
  EXPECT_EQ(2, applies);
}

TEST_F(DialogTest, PasswordPromptAcceptsOnlyPasswordsThatPassTheRule) {
  bool weak_ok = true, strong_ok = false;
  when_dialog([&](GtkWindow* w) {
    GtkEntry* e = find_widget<GtkEntry>(GTK_WIDGET(w), GTK_TYPE_ENTRY);
    GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    gtk_entry_set_text(e, "short1A");
    weak_ok = gtk_widget_get_sensitive(ok);
    // Enter while OK is insensitive does not end the prompt.
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    gtk_entry_set_text(e, "LongEnough12");
    strong_ok = gtk_widget_get_sensitive(ok);
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    return true;
  });
  std::string pw;
  EXPECT_EQ(0, password_prompt(STR_APP_NAME, STR_CHOOSE_MASTER_PASSWORD, STR_PASSWORD_RULES_10, 10, 7, &pw));
  EXPECT_FALSE(weak_ok);
  EXPECT_TRUE(strong_ok);
  EXPECT_EQ("LongEnough12", pw);
  EXPECT_EQ(GTK_WINDOW(main), top_window());

  pw = "left over";
  respond_next(GTK_RESPONSE_CANCEL);
  EXPECT_EQ(1, password_prompt_simple(STR_APP_NAME, STR_ENTER_MASTER_PASSWORD, STR_NONE, &pw));
  EXPECT_TRUE(pw.empty());
}

TEST_F(DialogTest, PasswordPromptShowButtonFlipsVisibility) {
  bool hidden_at_start = false, shown = false, hidden_again = false;
  when_dialog([&](GtkWindow* w) {
    GtkEntry* e = find_widget<GtkEntry>(GTK_WIDGET(w), GTK_TYPE_ENTRY);
    GtkButton* show = nullptr;
    each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
      if (GTK_IS_BUTTON(x) && gtk_button_get_label(GTK_BUTTON(x)) &&
          std::string(gtk_button_get_label(GTK_BUTTON(x))) == ui_string(STR_SHOW))
        show = GTK_BUTTON(x);
    });
    if (!e || !show) {
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
      return true;
    }
    hidden_at_start = !gtk_entry_get_visibility(e);
    gtk_button_clicked(show);
    shown = gtk_entry_get_visibility(e) && std::string(gtk_button_get_label(show)) == ui_string(STR_HIDE);
    gtk_button_clicked(show);
    hidden_again = !gtk_entry_get_visibility(e);
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
    return true;
  });
  std::string pw;
  password_prompt_simple(STR_APP_NAME, STR_ENTER_MASTER_PASSWORD, STR_NONE, &pw);
  EXPECT_TRUE(hidden_at_start);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(hidden_again);
}

std::atomic<int> g_alarms{0};
std::atomic<bool> g_running{false};

void count_alarm(int) { g_alarms++; }

// Sleeps in short steps until cancelled, then a little longer so that a
// second signal would have the time to arrive.
intptr_t sleepy_worker(void*) {
  g_running = true;
  for (int i = 0; i < 1000 && !progress_cancelled(); i++) {
    struct timespec ts = {0, 20 * 1000 * 1000};
    nanosleep(&ts, nullptr);
  }
  for (int i = 0; i < 5; i++) {
    struct timespec ts = {0, 20 * 1000 * 1000};
    nanosleep(&ts, nullptr);
  }
  return 42;
}

intptr_t quick_worker(void*) { return 0; }

TEST_F(DialogTest, TwoCancelsSendOneSignalAndTheDialogWaitsForTheWorker) {
  // A first run installs the worker's own SIGALRM handler; this test counts
  // the signals with its own in its place.
  run_with_progress(STR_IMPORT_REPOSITORY, STR_CONTACTING_SERVER, quick_worker, nullptr, false);
  struct sigaction sa = {}, old = {};
  sa.sa_handler = count_alarm;
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(0, sigaction(SIGALRM, &sa, &old));
  g_alarms = 0;
  int presses = 0;
  bool insensitive_after_first = false;
  g_running = false;
  when_dialog([&](GtkWindow* w) {
    if (!g_running) return false;
    GtkWidget* cancel = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
    if (presses == 1) insensitive_after_first = !gtk_widget_get_sensitive(cancel);
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
    return ++presses == 2;
  });
  intptr_t r = run_with_progress(STR_IMPORT_REPOSITORY, STR_CONTACTING_SERVER, sleepy_worker, nullptr, false);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(42, r);
  EXPECT_EQ(2, presses);
  EXPECT_TRUE(insensitive_after_first);
  EXPECT_EQ(1, g_alarms.load());
  EXPECT_EQ(GTK_WINDOW(main), top_window());
}

std::atomic<bool> g_full_seen{false};

intptr_t reporting_worker(void* arg) {
  auto* seen = static_cast<std::atomic<int>*>(arg);
  for (int p = 0; p <= 100; p += 25) progress_set(p);
  // Wait (at most 5 s) until the test has seen the full bar.
  for (int i = 0; i < 500 && !g_full_seen; i++) {
    struct timespec ts = {0, 10 * 1000 * 1000};
    nanosleep(&ts, nullptr);
  }
  seen->store(1);
  progress_done(7);
  progress_done(8);  // only the first report counts
  return 9;  // ignored: the worker reported itself
}

TEST_F(DialogTest, WorkerReportsItsResultAndProgress) {
  std::atomic<int> seen{0};
  g_full_seen = false;
  when_dialog([](GtkWindow* w) {
    GtkProgressBar* bar = find_widget<GtkProgressBar>(GTK_WIDGET(w), GTK_TYPE_PROGRESS_BAR);
    if (bar && gtk_progress_bar_get_fraction(bar) >= 1.0) g_full_seen = true;
    return g_full_seen.load();
  });
  EXPECT_EQ(7, run_with_progress(STR_UPLOAD_TO_SERVER, STR_CONTACTING_SERVER, reporting_worker, &seen, true));
  EXPECT_TRUE(g_full_seen.load());
  EXPECT_EQ(1, seen.load());
  // A second run works: the first left nothing behind.
  g_full_seen = true;
  EXPECT_EQ(7, run_with_progress(STR_UPLOAD_TO_SERVER, STR_CONTACTING_SERVER, reporting_worker, &seen, true));
}

intptr_t silent_worker(void*) { return 5; }

TEST_F(DialogTest, WorkerThatForgetsToReportStillEndsTheDialog) {
  EXPECT_EQ(5, run_with_progress(STR_UPLOAD_TO_SERVER, STR_CONTACTING_SERVER, silent_worker, nullptr, false));
  EXPECT_EQ(-1, run_with_progress(STR_UPLOAD_TO_SERVER, STR_CONTACTING_SERVER, nullptr, nullptr, false));
}

TEST_F(DialogTest, OpenAddressRefusesOptionsAndEmptyText) {
  EXPECT_EQ(-1, open_address(nullptr));
  EXPECT_EQ(-1, open_address(""));
  EXPECT_EQ(-1, open_address("--help"));
}

// The window blocks its quit signals; the opener (and the browser it starts)
// must get an empty mask, or SIGTERM would never reach them.
TEST_F(DialogTest, OpenedAddressRunsWithNoSignalBlocked) {
  char dir_template[] = "/tmp/ordika-opener-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir_template));
  const std::string dir = dir_template, out = dir + "/mask", opener = dir + "/xdg-open";
  FILE* f = fopen(opener.c_str(), "w");
  ASSERT_NE(nullptr, f);
  fprintf(f, "#!/bin/sh\ngrep SigBlk /proc/self/status > '%s.tmp' && mv '%s.tmp' '%s'\n", out.c_str(), out.c_str(),
          out.c_str());
  fclose(f);
  chmod(opener.c_str(), 0700);
  const char* old_path = getenv("PATH");
  std::string saved = old_path ? old_path : "";
  setenv("PATH", (dir + ":" + saved).c_str(), 1);
  sigset_t quit, before;
  sigemptyset(&quit);
  sigaddset(&quit, SIGTERM);
  sigaddset(&quit, SIGINT);
  pthread_sigmask(SIG_BLOCK, &quit, &before);
  EXPECT_EQ(0, open_address("https://example.org/"));
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  setenv("PATH", saved.c_str(), 1);
  std::string line;
  for (int i = 0; i < 200 && line.empty(); i++) {
    g_usleep(20000);
    gchar* text = nullptr;
    if (g_file_get_contents(out.c_str(), &text, nullptr, nullptr)) line = text;
    g_free(text);
  }
  EXPECT_EQ("SigBlk:\t0000000000000000\n", line);
  unlink(out.c_str());
  unlink(opener.c_str());
  rmdir(dir.c_str());
}

TEST_F(DialogTest, LayoutHelpers) {
  GtkWidget* e = numeric_entry_new(3);
  g_object_ref_sink(e);
  gtk_entry_set_text(GTK_ENTRY(e), "12a");
  EXPECT_STREQ("", gtk_entry_get_text(GTK_ENTRY(e)));
  int pos = 0;
  gtk_editable_insert_text(GTK_EDITABLE(e), "127", -1, &pos);
  gtk_editable_insert_text(GTK_EDITABLE(e), "8", -1, &pos);  // at most three digits
  EXPECT_STREQ("127", gtk_entry_get_text(GTK_ENTRY(e)));
  g_object_unref(e);

  GtkWidget* c = combo_from_list("one\ntwo\nthree\n", 1);
  g_object_ref_sink(c);
  gchar* active = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(c));
  EXPECT_STREQ("two", active);
  g_free(active);
  EXPECT_EQ(3, gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(c)), nullptr));
  g_object_unref(c);
  GtkWidget* empty = combo_from_list("", 0);
  g_object_ref_sink(empty);
  EXPECT_EQ(-1, gtk_combo_box_get_active(GTK_COMBO_BOX(empty)));
  g_object_unref(empty);
}

}  // namespace

namespace {

TEST_F(DialogTest, ModalScopeAppliesAndStoresTheDialogSize) {
  int w = 420, h = 260;
  GtkWidget* d = dialog_new(STR_REPOSITORIES);
  EXPECT_EQ(GTK_WINDOW(main), gtk_window_get_transient_for(GTK_WINDOW(d)));
  EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(d)));
  {
    ModalScope scope(d, &w, &h);
    EXPECT_EQ(GTK_WINDOW(d), top_window());
    gtk_widget_show_all(d);
    pump();
    gtk_window_resize(GTK_WINDOW(d), 500, 300);
    when_dialog([](GtkWindow* dlg) {
      int cw = 0, ch = 0;
      gtk_window_get_size(dlg, &cw, &ch);
      if (cw != 500) return false;
      gtk_dialog_response(GTK_DIALOG(dlg), GTK_RESPONSE_OK);
      return true;
    });
    EXPECT_EQ(GTK_RESPONSE_OK, scope.run());
  }
  EXPECT_EQ(GTK_WINDOW(main), top_window());
  EXPECT_EQ(500, w);
  EXPECT_EQ(300, h);
  gtk_widget_destroy(d);
}

}  // namespace
