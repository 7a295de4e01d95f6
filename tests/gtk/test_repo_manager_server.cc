// SPDX-License-Identifier: GPL-3.0-or-later
// The repository manager's server commands against an account server on
// 127.0.0.1: put on server, the server list, clone and delete.
#ifdef ORDIKA_WITH_SERVER

#include <cstdlib>
#include <string>

#include "dialog_script.h"
#include "dialogs/repo_manager.h"
#include "model/app_core.h"
#include "server/server_fixture.h"
#include "storage/db.h"
#include "storage/repo.h"

namespace {

class ManagerServerTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    script_new_test();
    ASSERT_EQ(1, strings_set_language(0));
    std::string cfg_dir = dir_.subdir("profile");
    root_ = dir_.subdir("repos");
    sqlite3* cfg = config_create(cfg_dir.c_str(), "master");
    ASSERT_NE(nullptr, cfg);
    config_set(cfg, cfg_dir);
    ASSERT_EQ(0, setting_put_str(cfg, "repo_root", root_.c_str()));
    ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
    ::setenv("ORDIKA_SERVER", host_.c_str(), 1);
    main_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    set_top_window(GTK_WINDOW(main_));
  }
  void TearDown() override {
    set_top_window(nullptr);
    gtk_widget_destroy(main_);
    pump();
    app_reset();
    ::unsetenv("ORDIKA_SERVER");
    ServerFixture::TearDown();
  }
  int add_repository(const char* name) {
    std::string path;
    EXPECT_EQ(0, repo_create_dir(root_.c_str(), &path));
    RepoRecord rec;
    rec.name = name;
    rec.path = path;
    rec.password = "Repo-Password-123456!";
    int index = -1;
    EXPECT_EQ(0, repo_register(rec, &index));
    return index;
  }
  std::vector<std::string> server_ids() {
    std::vector<std::string> ids;
    EXPECT_EQ(0, server_list_repos(alice_, &ids));
    return ids;
  }
  std::string root_;
  GtkWidget* main_ = nullptr;
};

// The row texts of the server repository dialog's list.
std::vector<std::string> rows(GtkWindow* w) {
  std::vector<std::string> out;
  GtkTreeModel* model = gtk_tree_view_get_model(manager_list(w));
  GtkTreeIter iter;
  for (bool ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
    gchar* t = nullptr;
    gtk_tree_model_get(model, &iter, 0, &t, -1);
    out.push_back(t ? t : "");
    g_free(t);
  }
  return out;
}

bool sensitive(GtkWindow* w, int response) {
  return gtk_widget_get_sensitive(gtk_dialog_get_widget_for_response(GTK_DIALOG(w), response));
}

TEST_F(ManagerServerTest, PutOnServerListCloneAndDelete) {
  int index = add_repository("Shared");
  ASSERT_GE(index, 0);
  int put_done = 0, cloned = 0;
  std::vector<std::string> menu, listed;
  bool clone_of_linked = true, server_column_set = false;
  script({{STR_REPOSITORIES, false, [&](GtkWindow* w) { menu = open_menu(w, "Shared", STR_UPLOAD_TO_SERVER); }},
          message_seen(STR_UPLOAD_TO_SERVER, &put_done),
          {STR_REPOSITORIES, false,
           [&](GtkWindow* w) {
             // The row shows the new link at once.
             GtkTreeModel* model = gtk_tree_view_get_model(manager_list(w));
             GtkTreeIter iter;
             gchar* id = nullptr;
             if (gtk_tree_model_get_iter_from_string(model, &iter, row_of(w, "Shared").c_str()))
               gtk_tree_model_get(model, &iter, 1, &id, -1);
             server_column_set = id && *id;
             g_free(id);
             EXPECT_TRUE(sensitive(w, 3)) << "server repositories need an account, which exists";
             respond(w, 3);
           }},
          {STR_SERVER, false,
           [&](GtkWindow* w) {
             listed = rows(w);
             clone_of_linked = sensitive(w, 1);
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); }}});
  repo_manager();
  EXPECT_EQ((std::vector<std::string>{ui_string(STR_SHOW_PASSWORD), ui_string(STR_CHANGE_PASSWORD),
                                      ui_string(STR_UPLOAD_TO_SERVER), ui_string(STR_DELETE)}),
            menu);
  EXPECT_EQ(1, put_done);
  EXPECT_TRUE(server_column_set);
  std::string id = repo_table()[index].server_id;
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(std::vector<std::string>{id}, server_ids());
  EXPECT_EQ(std::vector<std::string>{id}, listed);
  EXPECT_FALSE(clone_of_linked) << "a repository already here cannot be cloned again";
  // A linked repository offers no put-on-server item.
  script({{STR_REPOSITORIES, false,
           [&](GtkWindow* w) {
             menu = open_menu(w, "Shared", STR_NONE);
             respond(w, GTK_RESPONSE_OK);
           }}});
  repo_manager();
  EXPECT_EQ(
      (std::vector<std::string>{ui_string(STR_SHOW_PASSWORD), ui_string(STR_CHANGE_PASSWORD), ui_string(STR_DELETE)}),
      menu);

  // Removed here, it can be cloned back with its password.
  ASSERT_EQ(0, repo_delete(index));
  ASSERT_TRUE(repo_table().empty());
  script({{STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, 3); }},
          {STR_SERVER, false,
           [&](GtkWindow* w) {
             clone_of_linked = sensitive(w, 1);
             respond(w, 1);
           }},
          prompt_answer("Repo-Password-123456!"),
          message_seen(STR_IMPORT_REPOSITORY, &cloned),
          {STR_SERVER, false,
           [&](GtkWindow* w) {
             EXPECT_FALSE(sensitive(w, 1)) << "cloned once";
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_REPOSITORIES, false,
           [&](GtkWindow* w) {
             EXPECT_NE("", row_of(w, "Shared")) << "the manager's list shows the clone";
             respond(w, GTK_RESPONSE_OK);
           }}});
  repo_manager();
  EXPECT_TRUE(clone_of_linked);
  EXPECT_EQ(1, cloned);
  ASSERT_EQ(1u, repo_table().size());
  EXPECT_EQ(id, repo_table()[0].server_id);
  EXPECT_EQ("Repo-Password-123456!", repo_password(&repo_table()[0]));
  ASSERT_EQ(0, repo_open(&repo_table()[0]));
  repo_close(&repo_table()[0]);

  // Deleting on the server asks first, then the row and the server copy go.
  script({{STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, 3); }},
          {STR_SERVER, false, [](GtkWindow* w) { respond(w, 2); }},
          {STR_APP_NAME, true, [](GtkWindow* w) { respond(w, GTK_RESPONSE_YES); }},
          {STR_SERVER, false,
           [&](GtkWindow* w) {
             listed = rows(w);
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); }}});
  repo_manager();
  EXPECT_TRUE(listed.empty());
  EXPECT_TRUE(server_ids().empty());
}

TEST_F(ManagerServerTest, UnreachableServerIsReportedWithTheErrorText) {
  server_stop(server_);
  thread_.join();
  server_destroy(server_);
  server_ = nullptr;
  int failed = 0;
  script({{STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, 3); }},
          message_seen(STR_SERVER, &failed),
          {STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); }}});
  repo_manager();
  EXPECT_EQ(1, failed);
}

TEST_F(ManagerServerTest, ImportOfARepositoryFileAsksItsPasswordUntilRightOrCancelled) {
  int index = add_repository("Exported");
  ASSERT_EQ(0, repo_put_on_server(index, ""));
  std::string file = dir_.file("exported.repo");
  ASSERT_EQ(0, repo_export(&repo_table()[index], "Export-Pass-1234", file.c_str()));
  std::string id = repo_table()[index].server_id;
  ASSERT_EQ(0, repo_delete(index));
  bool ok_empty = true;
  std::string kept;
  int wrong = 0, imported = 0;
  script({{STR_REPOSITORIES, false, [](GtkWindow* w) { respond(w, 2); }},
          {STR_IMPORT_REPOSITORY, false,
           [&](GtkWindow* w) {
             ok_empty = ok_sensitive(w);
             gtk_entry_set_text(entry(w, "file"), file.c_str());
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_APP_NAME, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); }},
          {STR_IMPORT_REPOSITORY, false,
           [&](GtkWindow* w) {
             kept = gtk_entry_get_text(entry(w, "file"));
             respond(w, GTK_RESPONSE_OK);
           }},
          prompt_answer("not-the-export-password"),
          message_seen(STR_APP_NAME, &wrong),
          {STR_IMPORT_REPOSITORY, false, [](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); }},
          prompt_answer("Export-Pass-1234"),
          message_seen(STR_IMPORT_REPOSITORY, &imported),
          {STR_REPOSITORIES, false,
           [](GtkWindow* w) {
             EXPECT_NE("", row_of(w, "Exported"));
             respond(w, GTK_RESPONSE_OK);
           }}});
  repo_manager();
  EXPECT_FALSE(ok_empty);
  EXPECT_EQ(file, kept) << "a cancelled password keeps the file name";
  EXPECT_EQ(1, wrong);
  EXPECT_EQ(1, imported);
  ASSERT_EQ(1u, repo_table().size());
  EXPECT_EQ(id, repo_table()[0].server_id);
  EXPECT_EQ("Repo-Password-123456!", repo_password(&repo_table()[0]));
}

}  // namespace

#endif  // ORDIKA_WITH_SERVER
