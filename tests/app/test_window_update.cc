// SPDX-License-Identifier: GPL-3.0-or-later
// Check for update through the command table, with the server side of the
// check replaced: the three outcomes (current, newer, failed) and quitting
// only after an installer was started.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/handlers.h"
#include "storage/repo.h"
#include "support/strings.h"
#include "support/version.h"
#include "window_fixture.h"

namespace {

struct Fake {
  int check_rc = 0;
  const char* offered = "";
  int error = 0;
  int run_rc = 1;
  int runs = 0;
  std::string run_version, run_notes;
};
Fake g_fake;

int fake_check(char* buf, size_t size, std::string* notes) {
  snprintf(buf, size, "%s", g_fake.offered);
  *notes = "fixes";
  set_last_error(g_fake.error);
  return g_fake.check_rc;
}

int fake_run(const char* version, const char* notes, const char*) {
  g_fake.runs++;
  g_fake.run_version = version;
  g_fake.run_notes = notes;
  return g_fake.run_rc;
}

class UpdateCommand : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    g_fake = Fake();
    w.update_calls.check = fake_check;
    w.update_calls.run = fake_run;
    app_core().has_account = true;
    commands_refresh(&w);
  }
  // Runs the command and returns the text of the message box it showed
  // ("" when none).
  std::string run_and_read() {
    struct Seen {
      std::string text;
    } seen;
    guint source = g_timeout_add(
        10,
        [](gpointer p) -> gboolean {
          GtkWindow* d = top_window();
          if (!d || !GTK_IS_MESSAGE_DIALOG(d)) return G_SOURCE_CONTINUE;
          gchar* t = nullptr;
          g_object_get(d, "text", &t, nullptr);
          static_cast<Seen*>(p)->text = t ? t : "";
          g_free(t);
          gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
          return G_SOURCE_CONTINUE;
        },
        &seen);
    EXPECT_EQ(0, command_run(&w, CMD_CHECK_UPDATE));
    pump();
    g_source_remove(source);
    return seen.text;
  }
};

TEST_F(UpdateCommand, NeedsAnAccount) {
  app_core().has_account = false;
  commands_refresh(&w);
  EXPECT_FALSE(sensitive(CMD_CHECK_UPDATE));
  EXPECT_EQ(-1, command_run(&w, CMD_CHECK_UPDATE));
}

TEST_F(UpdateCommand, CurrentVersionSaysSoAndOffersNothing) {
  EXPECT_TRUE(sensitive(CMD_CHECK_UPDATE));
  std::string shown = run_and_read();
  EXPECT_EQ(ui_format(STR_MSG_LATEST_VERSION, program_version()), shown);
  EXPECT_EQ(0, g_fake.runs);
  EXPECT_FALSE(w.quitting);
}

TEST_F(UpdateCommand, NewerVersionIsOfferedAndQuitsOnlyOnceInstalled) {
  g_fake.offered = "9.9.9";
  g_fake.run_rc = 1;  // declined
  EXPECT_EQ("", run_and_read());
  EXPECT_EQ(1, g_fake.runs);
  EXPECT_EQ("9.9.9", g_fake.run_version);
  EXPECT_EQ("fixes", g_fake.run_notes);
  EXPECT_FALSE(w.quitting);

  g_fake.run_rc = 0;  // installer started: the window goes
  ASSERT_EQ(0, command_run(&w, CMD_CHECK_UPDATE));
  EXPECT_EQ(2, g_fake.runs);
  EXPECT_TRUE(w.quitting);
}

TEST_F(UpdateCommand, FailureNamesTheErrorAndCancelIsSilent) {
  g_fake.check_rc = -1;
  g_fake.error = 4;
  EXPECT_EQ(ui_format(STR_MSG_REQUEST_FAILED, "DNS"), run_and_read());
  g_fake.error = 7;
  EXPECT_EQ(ui_format(STR_MSG_REQUEST_FAILED, "7"), run_and_read());
  g_fake.check_rc = 1;
  EXPECT_EQ("", run_and_read());
  EXPECT_EQ(0, g_fake.runs);
}

}  // namespace
