// SPDX-License-Identifier: GPL-3.0-or-later
// The repository manager, the master password change and the options
// dialog, driven through their dialogs against a real profile (configuration
// database, repository root, repositories) and checked through the core.
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>

#include "crypto/crypto.h"
#include "dialog_script.h"
#include "dialogs/master_password.h"
#include "dialogs/message.h"
#include "dialogs/options_dialog.h"
#include "dialogs/password_generator.h"
#include "dialogs/repo_manager.h"
#include "dialogs/secret_clipboard.h"
#include "gtk_fixture.h"
#include "model/clipboard.h"
#include "model/test_startup_fixture.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "support/strings.h"

namespace {

class ManagerTest : public ScriptedDialogTest {
 protected:
  int index_of(const std::string& name) {
    for (size_t i = 0; i < repo_table().size(); i++)
      if (repo_table()[i].name == name) return static_cast<int>(i);
    return -1;
  }
};

TEST_F(ManagerTest, NewRepositoryNeedsANameAndIsRegisteredWithItsPassword) {
  size_t before = repo_table().size();
  bool ok_without_name = true, ok_with_name = false, ok_weak = true;
  std::string password;
  script({{STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, 1); }},
          {STR_NEW_REPOSITORY, false,
           [&](GtkWindow* w) {
             ok_without_name = ok_sensitive(w);
             gtk_entry_set_text(entry(w, "name"), "Work");
             ok_with_name = ok_sensitive(w);
             password = gtk_entry_get_text(entry(w, "password"));
             gtk_entry_set_text(entry(w, "password"), "short-Aa1");
             ok_weak = ok_sensitive(w);
             gtk_entry_set_text(entry(w, "password"), password.c_str());
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); }}});
  repo_manager();
  EXPECT_FALSE(ok_without_name);
  EXPECT_TRUE(ok_with_name) << "the generated password passes the rule";
  EXPECT_FALSE(ok_weak);
  ASSERT_EQ(before + 1, repo_table().size());
  int i = index_of("Work");
  ASSERT_GE(i, 0);
  EXPECT_EQ(password, repo_password(&repo_table()[i]));
  EXPECT_EQ(0u, repo_table()[i].path.rfind(app_core().repo_root, 0)) << repo_table()[i].path;
  // Kept in the configuration database and opened with that password.
  ASSERT_EQ(0, repo_table_load());
  i = index_of("Work");
  ASSERT_GE(i, 0);
  EXPECT_EQ(0, repo_open(&repo_table()[i]));
  repo_close(&repo_table()[i]);
  EXPECT_EQ(GTK_WINDOW(main), top_window());
}

TEST_F(ManagerTest, TogglesAreStoredAtOnce) {
  add_repository("Flags");
  int i = index_of("Flags");
  ASSERT_GE(i, 0);
  ASSERT_TRUE(repo_table()[i].enabled);
  ASSERT_FALSE(repo_table()[i].hidden);
  script({{STR_REPOSITORIES, false,
           [](GtkWindow* w) {
             std::string path = row_of(w, "Flags");
             toggle(w, 3, path);
             toggle(w, 4, path);
             respond(w, GTK_RESPONSE_OK);
           }}});
  repo_manager();
  EXPECT_FALSE(repo_table()[i].enabled);
  EXPECT_TRUE(repo_table()[i].hidden);
  ASSERT_EQ(0, repo_table_load());
  i = index_of("Flags");
  ASSERT_GE(i, 0);
  EXPECT_FALSE(repo_table()[i].enabled);
  EXPECT_TRUE(repo_table()[i].hidden);
}

TEST_F(ManagerTest, ChangedRepositoryPasswordOpensTheRepositoryAfterReload) {
  add_repository("Keys");
  std::vector<std::string> labels;
  std::string chosen;
  script({{STR_REPOSITORIES, false, [&](GtkWindow* w) { labels = open_menu(w, "Keys", STR_CHANGE_PASSWORD_MENU); }},
          {STR_CHANGE_PASSWORD, false,
           [&](GtkWindow* w) {
             chosen = gtk_entry_get_text(entry(w, "password"));
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); }}});
  repo_manager();
  // No account: no put-on-server item.
  EXPECT_EQ(
      (std::vector<std::string>{ui_string(STR_SHOW_PASSWORD), ui_string(STR_CHANGE_PASSWORD_MENU), ui_string(STR_DELETE)}),
      labels);
  ASSERT_EQ(20u, chosen.size());
  ASSERT_NE("Repo-Password-123456!", chosen);
  int i = index_of("Keys");
  ASSERT_GE(i, 0);
  EXPECT_EQ(chosen, repo_password(&repo_table()[i]));
  restart();
  i = index_of("Keys");
  ASSERT_GE(i, 0);
  EXPECT_EQ(chosen, repo_password(&repo_table()[i]));
  EXPECT_TRUE(repo_table()[i].mounted) << "the re-keyed repository mounts again";
}

TEST_F(ManagerTest, DeleteAsksFirstAndRemovesRecordAndDirectory) {
  add_repository("Gone");
  int i = index_of("Gone");
  ASSERT_GE(i, 0);
  std::string dir = repo_table()[i].path;
  size_t before = repo_table().size();
  script({{STR_REPOSITORIES, false, [](GtkWindow* w) { open_menu(w, "Gone", STR_DELETE); }},
          {STR_APP_NAME, true, [](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); }},
          {STR_REPOSITORIES, false, [](GtkWindow* w) { open_menu(w, "Gone", STR_DELETE); }},
          {STR_APP_NAME, true, [](GtkWindow* w) { respond(w, GTK_RESPONSE_YES); }},
          {STR_REPOSITORIES, false,
           [](GtkWindow* w) {
             EXPECT_EQ("", row_of(w, "Gone")) << "the row went";
             respond(w, GTK_RESPONSE_OK);
           }}});
  repo_manager();
  EXPECT_EQ(before - 1, repo_table().size());
  EXPECT_LT(index_of("Gone"), 0);
  EXPECT_FALSE(startup_test::exists(dir));
  ASSERT_EQ(0, repo_table_load());
  EXPECT_LT(index_of("Gone"), 0);
}

TEST_F(ManagerTest, LockAsksForTheMasterPassword) {
  ASSERT_EQ(0, setting_put_str(config_db(), "lock_db_manager", "1"));
  int manager_seen = 0, wrong = 0;
  // Cancelled: nothing opens.
  script({{STR_APP_NAME, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); }}});
  repo_manager();
  // A wrong password: STR_MSG_WRONG_PASSWORD and no manager.
  script({prompt_answer("not the master"), message_seen(STR_REPOSITORIES, &wrong)});
  repo_manager();
  EXPECT_EQ(1, wrong);
  // The right one opens it; clearing the check box stores an empty text.
  script({prompt_answer(kMaster), {STR_REPOSITORIES, false, [&](GtkWindow* w) {
                                     manager_seen++;
                                     GtkToggleButton* lock =
                                         find_widget<GtkToggleButton>(GTK_WIDGET(w), GTK_TYPE_CHECK_BUTTON);
                                     EXPECT_TRUE(gtk_toggle_button_get_active(lock));
                                     gtk_toggle_button_set_active(lock, FALSE);
                                     respond(w, GTK_RESPONSE_OK);
                                   }}});
  repo_manager();
  EXPECT_EQ(1, manager_seen);
  EXPECT_EQ("", setting_get(config_db(), "lock_db_manager"));
  // Unlocked: the manager opens straight away.
  script({{STR_REPOSITORIES, false, [&](GtkWindow* w) {
             manager_seen++;
             respond(w, GTK_RESPONSE_OK);
           }}});
  repo_manager();
  EXPECT_EQ(2, manager_seen);
}

TEST_F(ManagerTest, ShownRepositoryPasswordLeavesTheClipboardAfterTheDelay) {
  clipboard_secret_set_delay(100);
  GtkClipboard* cb = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  auto clipboard = [cb]() {
    gchar* t = gtk_clipboard_wait_for_text(cb);
    std::string s = t ? t : "";
    g_free(t);
    return s;
  };
  auto wait_ms = [](int ms) {
    gint64 end = g_get_monotonic_time() + ms * 1000;
    while (g_get_monotonic_time() < end) {
      pump();
      g_usleep(5000);
    }
  };
  add_repository("Shown");
  std::string copied;
  script({{STR_REPOSITORIES, false, [](GtkWindow* w) { open_menu(w, "Shown", STR_SHOW_PASSWORD); }},
          {STR_PASSWORD_TITLE, false,
           [&](GtkWindow* w) {
             respond(w, GTK_RESPONSE_APPLY);  // copy
           }},
          {STR_PASSWORD_TITLE, false,
           [&](GtkWindow* w) {
             copied = clipboard();
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); }}});
  repo_manager();
  EXPECT_EQ("Repo-Password-123456!", copied);
  wait_ms(400);
  EXPECT_EQ("", clipboard());

  // Text the user copied afterwards stays.
  clipboard_put_secret("secret-2");
  gtk_clipboard_set_text(cb, "mine", -1);
  wait_ms(400);
  EXPECT_EQ("mine", clipboard());
  clipboard_secret_set_delay(30000);
}

TEST_F(ManagerTest, MasterPasswordChangeNeedsTheOldOneAndAMatchingRepetition) {
  const char* next = "NewMaster-456";
  int wrong_seen = 0;
  bool differing_refused = false, weak_refused = false, current_emptied = false;
  // One dialog: a repetition that differs or a weak new password leaves
  // Change Password insensitive; a wrong current password is said and the
  // dialog stays with that field emptied.
  script({{STR_CHANGE_MASTER_PASSWORD, false,
           [&](GtkWindow* w) {
             gtk_entry_set_text(entry(w, "current"), "wrong");
             gtk_entry_set_text(entry(w, "new"), "short");
             gtk_entry_set_text(entry(w, "repeat"), "short");
             weak_refused = !ok_sensitive(w);
             gtk_entry_set_text(entry(w, "new"), next);
             gtk_entry_set_text(entry(w, "repeat"), "NewMaster-457");
             differing_refused = !ok_sensitive(w);
             gtk_entry_set_text(entry(w, "repeat"), next);
             respond(w, GTK_RESPONSE_OK);
           }},
          message_seen(STR_CHANGE_MASTER_PASSWORD, &wrong_seen),
          {STR_CHANGE_MASTER_PASSWORD, false, [&](GtkWindow* w) {
             current_emptied = std::string(gtk_entry_get_text(entry(w, "current"))).empty();
             respond(w, GTK_RESPONSE_CANCEL);
           }}});
  EXPECT_EQ(1, master_password_change());
  EXPECT_TRUE(weak_refused);
  EXPECT_TRUE(differing_refused);
  EXPECT_EQ(1, wrong_seen);
  EXPECT_TRUE(current_emptied);
  EXPECT_EQ(0, master_password_check(kMaster));
  // The real change; the repositories stay readable after a restart.
  add_repository("Kept");
  script({{STR_CHANGE_MASTER_PASSWORD, false, [&](GtkWindow* w) {
             gtk_entry_set_text(entry(w, "current"), kMaster);
             gtk_entry_set_text(entry(w, "new"), next);
             gtk_entry_set_text(entry(w, "repeat"), next);
             respond(w, GTK_RESPONSE_OK);
           }}});
  EXPECT_EQ(0, master_password_change());
  EXPECT_EQ(0, master_password_check(next));
  EXPECT_NE(0, master_password_check(kMaster));
  app_shutdown();
  model_clean();
  passwords = {{next}};
  ASSERT_EQ(STARTUP_READY, start());
  int i = index_of("Kept");
  ASSERT_GE(i, 0);
  EXPECT_EQ("Repo-Password-123456!", repo_password(&repo_table()[i]));
  EXPECT_TRUE(repo_table()[i].mounted);
}

TEST_F(ManagerTest, OptionsAreWrittenAndReadBack) {
  std::string old_root = app_core().repo_root;
  std::string new_root = home + "/elsewhere";
  ASSERT_EQ(0, mkdir(new_root.c_str(), 0700));
  app_core().settings.idle_timeout = 4;
  int idle_index = -1, bad_root = 0, relabels = 0;
  bool ok_empty = true;
  auto combo = [](GtkWindow* w, int i) {
    static const char* names[] = {"language", "upcoming", "idle"};
    return GTK_COMBO_BOX(named(w, names[i]));
  };
  // Cancel changes nothing.
  script({{STR_OPTIONS, false,
           [&](GtkWindow* w) {
             gtk_combo_box_set_active(combo(w, 1), 0);
             respond(w, GTK_RESPONSE_CANCEL);
           }}});
  EXPECT_FALSE(options_dialog());
  EXPECT_EQ(5, app_core().settings.upcoming_days);

  script({{STR_OPTIONS, false,
           [&](GtkWindow* w) {
             idle_index = gtk_combo_box_get_active(combo(w, 2));
             gtk_combo_box_set_active(combo(w, 0), 2);     // the third language
             gtk_combo_box_set_active(combo(w, 1), 5);     // 7 days
             gtk_combo_box_set_active(combo(w, 2), 5);     // 10 minutes
             gtk_entry_set_text(entry(w, "root"), "");
             ok_empty = ok_sensitive(w);
             gtk_entry_set_text(entry(w, "root"), (home + "/missing").c_str());
             respond(w, GTK_RESPONSE_OK);
           }},
          message_seen(STR_OPTIONS, &bad_root),
          {STR_OPTIONS, false,
           [&](GtkWindow* w) {
             gtk_entry_set_text(entry(w, "root"), new_root.c_str());
             respond(w, GTK_RESPONSE_OK);
           }}});
  std::string english = ui_string(STR_OPTIONS);
  EXPECT_TRUE(options_dialog([&] { relabels++; }));
  EXPECT_EQ(4, idle_index) << "a stored 4 shows the entry for 5 minutes";
  EXPECT_FALSE(ok_empty);
  EXPECT_EQ(1, bad_root);
  EXPECT_EQ(1, relabels);
  EXPECT_NE(english, ui_string(STR_OPTIONS)) << "the new language's table is loaded";
  const Settings& s = app_core().settings;
  EXPECT_EQ(2, s.language);
  EXPECT_EQ(7, s.upcoming_days);
  EXPECT_EQ(10, s.idle_timeout);
  EXPECT_EQ(new_root, app_core().repo_root);
  EXPECT_EQ(new_root, setting_get(config_db(), "repo_root"));
  EXPECT_EQ(7, setting_get_int(config_db(), "ui.upcoming_days", 0));
  EXPECT_EQ(10, setting_get_int(config_db(), "ui.idle_timeout", 0));
  // Read back by the next start.
  restart();
  EXPECT_EQ(7, app_core().settings.upcoming_days);
  EXPECT_EQ(10, app_core().settings.idle_timeout);
  EXPECT_EQ(new_root, app_core().repo_root);
  // New repositories are made under the new root.
  add_repository("Moved");
  EXPECT_EQ(0u, repo_table()[index_of("Moved")].path.rfind(new_root, 0));
  (void)old_root;
}

}  // namespace

namespace {

// The button with the string id's label inside the window, or null.
GtkWidget* button_labelled(GtkWindow* w, StrId label_id) {
  GtkWidget* found = nullptr;
  each_widget(GTK_WIDGET(w), [&](GtkWidget* c) {
    if (!found && GTK_IS_BUTTON(c) && plain_label(gtk_button_get_label(GTK_BUTTON(c))) == ui_string(label_id))
      found = c;
  });
  return found;
}

TEST_F(ManagerTest, GenerateOpensTheGeneratorWithTheRepositoryRule) {
  std::string before, after, preview;
  int length = 0;
  bool classes_locked = false;
  script({{STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, 1); }},
          {STR_NEW_REPOSITORY, false,
           [&](GtkWindow* w) {
             before = gtk_entry_get_text(entry(w, "password"));
             GtkWidget* generate = button_labelled(w, STR_GENERATE);
             ASSERT_NE(nullptr, generate);
             // Clicked from the loop, so that this script drives the generator.
             g_idle_add_once([](gpointer b) { gtk_button_clicked(GTK_BUTTON(b)); }, generate);
           }},
          {STR_PASSWORD_TITLE, false,
           [&](GtkWindow* w) {
             const GeneratorWidgets& g = generator_widgets();
             length = std::atoi(gtk_entry_get_text(GTK_ENTRY(g.length)));
             classes_locked = !gtk_widget_get_sensitive(g.classes[0]);
             preview = gtk_entry_get_text(GTK_ENTRY(g.preview));
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_NEW_REPOSITORY, false,
           [&](GtkWindow* w) {
             after = gtk_entry_get_text(entry(w, "password"));
             respond(w, GTK_RESPONSE_CANCEL);
           }},
          {STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); }}});
  repo_manager();
  EXPECT_GE(length, 20);
  EXPECT_TRUE(classes_locked);
  EXPECT_EQ(preview, after);
  EXPECT_NE(before, after);
  EXPECT_EQ(0, password_check(after.c_str(), 20, 15));
}

}  // namespace
