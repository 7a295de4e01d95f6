// SPDX-License-Identifier: GPL-3.0-or-later
// The sync, conflict, account, about and update dialogs against a real
// ordika-server on 127.0.0.1, driven through their own modal loops; the
// outcome is checked in the stored repositories and account record.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "dialogs/about_box.h"
#include "dialogs/account_dialog.h"
#include "dialogs/conflict_dialog.h"
#include "dialogs/sync_dialog.h"
#include "dialogs/update_dialogs.h"
#include "gtk_fixture.h"
#include "release_signer.h"
#include "repo_helpers.h"
#include "server_fixture.h"
#include "storage/repo.h"
#include "support/strings.h"
#include "support/version.h"
#include "sync/sync_driver.h"
#include "sync/update_trust.h"

namespace {

std::string label_texts(GtkWidget* root) {
  std::string out;
  each_widget(root, [&](GtkWidget* w) {
    if (GTK_IS_LABEL(w)) out += std::string(gtk_label_get_text(GTK_LABEL(w))) + "\n";
  });
  return out;
}

std::string message_text(GtkWindow* w) {
  gchar* t = nullptr;
  g_object_get(w, "text", &t, nullptr);
  std::string out = t ? t : "";
  g_free(t);
  return out;
}

std::string buffer_text(GtkTextView* v) {
  GtkTextBuffer* b = gtk_text_view_get_buffer(v);
  GtkTextIter s, e;
  gtk_text_buffer_get_bounds(b, &s, &e);
  gchar* t = gtk_text_buffer_get_text(b, &s, &e, FALSE);
  std::string out = t;
  g_free(t);
  return out;
}

bool titled(GtkWindow* w, StrId id) {
  return ui_string(id) && std::string(gtk_window_get_title(w) ?: "") == ui_string(id);
}

// The sign-in form's field in grid row `row` (server, number, user, password).
void set_entry(GtkWidget* root, int row, const char* text) {
  GtkGrid* grid = find_widget<GtkGrid>(root, GTK_TYPE_GRID);
  ASSERT_NE(nullptr, grid);
  GtkWidget* e = gtk_grid_get_child_at(grid, 1, row);
  ASSERT_TRUE(e && GTK_IS_ENTRY(e));
  gtk_entry_set_text(GTK_ENTRY(e), text);
}

class SyncDialogs : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override {
    cfg->fail_delay_ms = 0;
    cfg->update_dir = dir_.subdir("updates");
    std::ofstream(cfg->update_dir + "/version") << "9.0.0\n9999\n";
    std::ofstream(cfg->update_dir + "/notes") << "**Faster** sync";
  }
  void SetUp() override {
    ServerFixture::SetUp();
    ASSERT_EQ(1, strings_set_language(0));
    profile_ = dir_.subdir("profile");
    root_ = dir_.subdir("repos");
    sqlite3* cfg = config_create(profile_.c_str(), "master");
    ASSERT_NE(nullptr, cfg);
    config_set(cfg, profile_);
    ASSERT_EQ(0, setting_put_str(cfg, "repo_root", root_.c_str()));
    account_load();  // no account record yet: signed out
    main_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    set_top_window(GTK_WINDOW(main_));
  }
  void TearDown() override {
    sync_dialog_set_chooser(nullptr);
    set_top_window(nullptr);
    gtk_widget_destroy(main_);
    pump();
    app_reset();
    ServerFixture::TearDown();
  }

  // A repository with a root tag and item 2, put on the server as "mine".
  int make_linked_repo() {
    std::string path;
    if (repo_create_dir(root_.c_str(), &path) != 0) return -1;
    RepoRecord rec;
    rec.name = "Mine";
    rec.path = path;
    rec.password = "repo-pw";
    int idx = -1;
    if (repo_register(rec, &idx) != 0) return -1;
    RepoEntry& e = repo_table()[idx];
    if (repo_open(&e) != 0) return -1;
    put_object(e.db, e.key, false, 1, tag_string(zero_hex(), 1, "/"), nullptr);
    put_object(e.db, e.key, false, 2, item_header("note", 2), "original");
    repo_close(&e);
    if (repo_put_on_server(idx, "mine") != 0) return -1;
    return idx;
  }
  // Writes a new version of item 2 (recorded for the next sync).
  static void change_item(RepoEntry* e, const char* title, const char* body, long long modified) {
    ASSERT_EQ(0, repo_open(e));
    ASSERT_EQ(0, put_object(e->db, e->key, true, 2, item_header(title, modified), body, true));
    repo_close(e);
  }
  static std::string item_text(RepoEntry* e) {
    if (repo_open(e) != 0) return "?";
    uint8_t u[16];
    uuid_of(u, 2);
    RepoDb r{e->db, e->key, true};
    std::string body = object_read_current(r, u);
    repo_close(e);
    return body.c_str();  // without the padding
  }
  // A second client of the same server repository: a copy of the directory
  // taken now, with its own sync session.
  RepoEntry second_client(int idx) {
    RepoEntry other = repo_table()[idx];
    other.db = nullptr;
    other.path = dir_.subdir("other");
    std::string cmd = "cp '" + repo_table()[idx].path + "/data' '" + repo_table()[idx].path + "/list.hash' '" +
                      other.path + "/'";
    EXPECT_EQ(0, std::system(cmd.c_str()));
    return other;
  }
  int sync_plain(const RepoEntry& e) {
    SyncSession s;
    if (sync_session_setup(&s, e, signed_in_account()) != 0) return -1;
    SyncDriver d;
    sync_begin(&d, &s);
    return sync_drive(&d, nullptr);
  }
  // Answers every conflict dialog with `answer`, checking it shows both sides.
  void answer_conflicts(int answer) {
    when_dialog([this, answer](GtkWindow* w) {
      if (!titled(w, STR_SYNC_CONFLICT)) return false;
      GtkGrid* grid = find_widget<GtkGrid>(GTK_WIDGET(w), GTK_TYPE_GRID);
      GtkWidget* left = grid ? gtk_grid_get_child_at(grid, 0, 1) : nullptr;
      GtkWidget* right = grid ? gtk_grid_get_child_at(grid, 1, 1) : nullptr;
      GtkTextView* server = left ? find_widget<GtkTextView>(left, GTK_TYPE_TEXT_VIEW) : nullptr;
      GtkTextView* local = right ? find_widget<GtkTextView>(right, GTK_TYPE_TEXT_VIEW) : nullptr;
      if (server && local) {
        conflict_texts_.push_back(buffer_text(server));
        conflict_texts_.push_back(buffer_text(local));
      }
      gtk_dialog_response(GTK_DIALOG(w), answer);
      return true;
    });
  }
  // Records the sync dialog's status once it finished.
  void watch_sync_status() {
    when_dialog([this](GtkWindow* w) {
      if (!titled(w, STR_SYNCHRONISE)) return false;
      std::string t = label_texts(GTK_WIDGET(w));
      const char* ok = ui_string(STR_SYNC_DONE);
      if (ok && t.find(ok) != std::string::npos) {
        sync_status_ = ok;
        return true;
      }
      return false;
    });
  }

  std::string profile_, root_;
  GtkWidget* main_ = nullptr;
  std::vector<std::string> conflict_texts_;
  std::string sync_status_;
};

}  // namespace

TEST_F(SyncDialogs, ConflictResolvedWithTheServersVersion) {
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  int idx = make_linked_repo();
  ASSERT_GE(idx, 0);
  RepoEntry other = second_client(idx);
  change_item(&other, "theirs", "server side text", 5);
  ASSERT_EQ(0, sync_plain(other));
  change_item(&repo_table()[idx], "mine", "local side text", 6);

  answer_conflicts(SYNC_TAKE_SERVER);
  watch_sync_status();
  EXPECT_EQ(0, sync_repo_dialog(idx));  // closes itself after success
  ASSERT_EQ(2u, conflict_texts_.size());
  EXPECT_NE(std::string::npos, conflict_texts_[0].find("server side text")) << conflict_texts_[0];
  EXPECT_NE(std::string::npos, conflict_texts_[1].find("local side text")) << conflict_texts_[1];
  EXPECT_EQ(ui_string(STR_SYNC_DONE), sync_status_);
  EXPECT_EQ("server side text", item_text(&repo_table()[idx]));
  // the other client has nothing new to learn
  EXPECT_EQ(0, sync_plain(other));
  EXPECT_EQ("server side text", item_text(&other));
}

TEST_F(SyncDialogs, ConflictResolvedWithTheLocalVersionReachesTheOtherClient) {
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  int idx = make_linked_repo();
  ASSERT_GE(idx, 0);
  RepoEntry other = second_client(idx);
  change_item(&other, "theirs", "server side text", 5);
  ASSERT_EQ(0, sync_plain(other));
  change_item(&repo_table()[idx], "mine", "local side text", 6);

  answer_conflicts(SYNC_KEEP_LOCAL);
  EXPECT_EQ(0, sync_repo_dialog(idx));
  EXPECT_EQ(2u, conflict_texts_.size());
  EXPECT_EQ("local side text", item_text(&repo_table()[idx]));
  EXPECT_EQ(0, sync_plain(other));
  EXPECT_EQ("local side text", item_text(&other));
}

TEST_F(SyncDialogs, CancelledConflictChangesNothingAndALaterSyncWorks) {
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  int idx = make_linked_repo();
  ASSERT_GE(idx, 0);
  RepoEntry other = second_client(idx);
  change_item(&other, "theirs", "server side text", 5);
  ASSERT_EQ(0, sync_plain(other));
  change_item(&repo_table()[idx], "mine", "local side text", 6);

  answer_conflicts(GTK_RESPONSE_CANCEL);
  std::string failed;
  when_dialog([&](GtkWindow* w) {
    if (!titled(w, STR_SYNCHRONISE)) return false;
    GtkButton* b = GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL));
    if (!b || std::string(gtk_button_get_label(b)) != ui_string(STR_CLOSE)) return false;
    failed = label_texts(GTK_WIDGET(w));
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);  // the close button
    return true;
  });
  EXPECT_NE(0, sync_repo_dialog(idx));
  EXPECT_EQ(std::string::npos, failed.find(ui_string(STR_SYNC_DONE))) << failed;
  EXPECT_EQ("local side text", item_text(&repo_table()[idx]));

  answer_conflicts(SYNC_KEEP_LOCAL);
  EXPECT_EQ(0, sync_repo_dialog(idx));
  EXPECT_EQ("local side text", item_text(&repo_table()[idx]));
  EXPECT_EQ(0, sync_plain(other));
  EXPECT_EQ("local side text", item_text(&other));
}

TEST_F(SyncDialogs, CancelWhileTheServerStallsLeavesTheRepositoryAsItWas) {
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  int idx = make_linked_repo();
  ASSERT_GE(idx, 0);
  change_item(&repo_table()[idx], "mine", "local change", 6);

  // A listener that never answers: the handshake blocks until the cancel.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, ::listen(fd, 4));
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);

  SyncSession s;
  ASSERT_EQ(0, sync_session_setup(&s, repo_table()[idx], signed_in_account()));
  s.login.host = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  std::string after;
  int peer = -1, ticks = 0;
  bool cancelled = false;
  when_dialog([&](GtkWindow* w) {
    if (!titled(w, STR_SYNCHRONISE)) return false;
    if (!cancelled) {
      // Cancel once the client has sent its first frame and waits for the
      // salt: a signal between two calls would be lost.
      if (peer < 0) peer = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK);
      char frame[64];
      if (peer < 0 || (ticks == 0 && ::recv(peer, frame, sizeof frame, 0) <= 0)) return false;
      if (++ticks < 5) return false;
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
      cancelled = true;
      return false;
    }
    GtkButton* b = GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL));
    if (!b || std::string(gtk_button_get_label(b)) != ui_string(STR_CLOSE)) return false;
    after = label_texts(GTK_WIDGET(w));
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
    return true;
  });
  ::fcntl(fd, F_SETFL, O_NONBLOCK);
  EXPECT_NE(0, sync_dialog(&s, "mine"));
  if (peer >= 0) ::close(peer);
  ::close(fd);
  // the failure text, whatever the interrupted call was
  std::string failed = ui_format(STR_SYNC_FAILED, "");
  EXPECT_NE(std::string::npos, after.find(failed.substr(0, failed.find('\n')))) << after;
  EXPECT_EQ(std::string::npos, after.find(ui_string(STR_SYNC_DONE))) << after;
  EXPECT_EQ("local change", item_text(&repo_table()[idx]));

  // the next sync, against the real server, sends the change
  EXPECT_EQ(0, sync_repo_dialog(idx));
  RepoEntry other = second_client(idx);
  EXPECT_EQ(0, sync_plain(other));
  EXPECT_EQ("local change", item_text(&other));
}

TEST_F(SyncDialogs, SignInVerifiesBeforeStoringAndWrongPasswordStoresNothing) {
  ASSERT_FALSE(has_signed_in_account());
  std::vector<std::string> messages;
  int attempts = 0;
  when_dialog([&](GtkWindow* w) {
    if (GTK_IS_MESSAGE_DIALOG(w)) {
      messages.push_back(message_text(w));
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
      return false;
    }
    if (!titled(w, STR_SYNC_ACCOUNT) || !find_widget<GtkEntry>(GTK_WIDGET(w), GTK_TYPE_ENTRY, 3)) return false;
    GtkWidget* root = GTK_WIDGET(w);
    GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    set_entry(root, 0, host_.c_str());
    set_entry(root, 1, std::to_string(alice_id_).c_str());
    set_entry(root, 2, "alice");
    set_entry(root, 3, "");
    EXPECT_FALSE(gtk_widget_get_sensitive(ok));  // no password yet
    set_entry(root, 3, ++attempts == 1 ? "wrong" : "pw-alice");
    EXPECT_TRUE(gtk_widget_get_sensitive(ok));
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    return attempts == 2;
  });
  // the info box after the second attempt
  when_dialog([&](GtkWindow* w) {
    if (!GTK_IS_MESSAGE_DIALOG(w) || attempts < 2) return false;
    messages.push_back(message_text(w));
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    return true;
  });
  EXPECT_EQ(0, account_dialog());
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ(ui_text(STR_SIGN_IN_REFUSED), messages[0]);
  EXPECT_EQ(ui_text(STR_SIGN_IN_DONE), messages[1]);
  ASSERT_EQ(0, account_load());
  EXPECT_EQ(alice_id_, signed_in_account().id);
  EXPECT_EQ("pw-alice", signed_in_account().password);
  EXPECT_EQ(host_, signed_in_account().host);
}

TEST_F(SyncDialogs, CancelledSignInStoresNothing) {
  when_dialog([&](GtkWindow* w) {
    if (!titled(w, STR_SYNC_ACCOUNT)) return false;
    set_entry(GTK_WIDGET(w), 0, host_.c_str());
    set_entry(GTK_WIDGET(w), 1, std::to_string(alice_id_).c_str());
    set_entry(GTK_WIDGET(w), 2, "alice");
    set_entry(GTK_WIDGET(w), 3, "pw-alice");
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
    return true;
  });
  EXPECT_EQ(1, account_dialog());
  EXPECT_EQ(-1, account_load());
}

TEST_F(SyncDialogs, PasswordChangeNeedsTheMasterPasswordAndANewStrongPassword) {
  ::setenv("ORDIKA_SERVER", host_.c_str(), 1);
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  bool insensitive_at_first = false, insensitive_same = false, insensitive_weak = false;
  std::string info;
  when_dialog([&](GtkWindow* w) {
    if (GTK_IS_MESSAGE_DIALOG(w)) {
      info = message_text(w);
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
      return true;
    }
    GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    GtkWidget* out = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), ACCOUNT_RESPONSE_SIGN_OUT);
    GtkEntry* e = find_widget<GtkEntry>(GTK_WIDGET(w), GTK_TYPE_ENTRY);
    if (!ok || !e) return false;
    if (!out) {  // the master password prompt
      gtk_entry_set_text(e, "master");
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
      return false;
    }
    if (std::string(gtk_entry_get_text(e)) != "pw-alice") return false;
    insensitive_at_first = !gtk_widget_get_sensitive(ok);
    gtk_entry_set_text(e, "short");
    insensitive_weak = !gtk_widget_get_sensitive(ok);
    gtk_entry_set_text(e, "pw-alice");
    insensitive_same = !gtk_widget_get_sensitive(ok);
    gtk_entry_set_text(e, "NewPassw0rd1");
    EXPECT_TRUE(gtk_widget_get_sensitive(ok));
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    return false;
  });
  EXPECT_EQ(0, account_dialog());
  ::unsetenv("ORDIKA_SERVER");
  EXPECT_TRUE(insensitive_at_first);
  EXPECT_TRUE(insensitive_weak);
  EXPECT_TRUE(insensitive_same);
  EXPECT_EQ(ui_string(STR_MSG_ACCOUNT_PASSWORD_CHANGED), info);
  ASSERT_EQ(0, account_load());
  EXPECT_EQ("NewPassw0rd1", signed_in_account().password);
  ServerLogin l = Login("alice", alice_id_, "NewPassw0rd1");
  std::vector<std::string> ids;
  EXPECT_EQ(0, server_list_repos(l, &ids));
}

TEST_F(SyncDialogs, SignOutAfterConfirmation) {
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  when_dialog([&](GtkWindow* w) {
    if (GTK_IS_MESSAGE_DIALOG(w)) {
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_YES);
      return true;
    }
    GtkWidget* out = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), ACCOUNT_RESPONSE_SIGN_OUT);
    GtkEntry* e = find_widget<GtkEntry>(GTK_WIDGET(w), GTK_TYPE_ENTRY);
    if (!e) return false;
    if (!out) {
      gtk_entry_set_text(e, "master");
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    } else {
      gtk_dialog_response(GTK_DIALOG(w), ACCOUNT_RESPONSE_SIGN_OUT);
    }
    return false;
  });
  EXPECT_EQ(0, account_dialog());
  EXPECT_FALSE(has_signed_in_account());
  EXPECT_EQ(-1, account_load());
}

TEST_F(SyncDialogs, WrongMasterPasswordOpensNothing) {
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  std::string shown;
  when_dialog([&](GtkWindow* w) {
    if (GTK_IS_MESSAGE_DIALOG(w)) {
      shown = message_text(w);
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
      return true;
    }
    GtkEntry* e = find_widget<GtkEntry>(GTK_WIDGET(w), GTK_TYPE_ENTRY);
    if (!e) return false;
    gtk_entry_set_text(e, "not-master");
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    return false;
  });
  EXPECT_EQ(1, account_dialog());
  EXPECT_EQ(ui_string(STR_MSG_WRONG_PASSWORD), shown);
  ASSERT_EQ(0, account_load());
  EXPECT_EQ("pw-alice", signed_in_account().password);
}

TEST_F(SyncDialogs, UpdateInstallsOnlyAPackageSignedWithTheReleaseKey) {
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  ReleaseSigner release, stranger;
  std::string package = "gzip bytes of a new program";
  std::string forged = stranger.sign(package);
  ReleaseSigner::publish(cfg_.update_dir, "lin64", package, &forged);
  ReleaseSigner::publish(cfg_.update_dir, "lin32", package, &forged);
  std::string dl = dir_.subdir("dl");
  std::string file;
  EXPECT_EQ(UPDATE_BAD_SIGNATURE, update_download(release.pub, dl.c_str(), &file));
  EXPECT_TRUE(file.empty());
  EXPECT_NE(0, ::access((dl + "/ordika.gz").c_str(), F_OK));

  EXPECT_EQ(UPDATE_NO_KEY, update_download(nullptr, dl.c_str(), &file));

  std::string good = release.sign(package);
  ReleaseSigner::publish(cfg_.update_dir, update_package_name(), package, &good);
  ASSERT_EQ(0, update_download(release.pub, dl.c_str(), &file));
  EXPECT_EQ("ordika.gz", file);
  EXPECT_EQ(0, ::access((dl + "/ordika.gz").c_str(), F_OK));
}

TEST_F(SyncDialogs, UpdateCheckAndTheOfferWithoutInstalling) {
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  char version[16];
  std::string notes;
  ASSERT_EQ(0, update_check(version, sizeof version, &notes));
  EXPECT_STREQ("9.0.0", version);
  EXPECT_EQ("**Faster** sync", notes);

  // Not installable: the note, one close button, and never an acceptance.
  std::string labels, shown_notes;
  bool has_accept = true;
  when_dialog([&](GtkWindow* w) {
    labels = label_texts(GTK_WIDGET(w));
    GtkTextView* v = find_widget<GtkTextView>(GTK_WIDGET(w), GTK_TYPE_TEXT_VIEW);
    if (v) shown_notes = buffer_text(v);
    has_accept = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_YES) != nullptr;
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_YES);
    return true;
  });
  EXPECT_FALSE(update_offer(version, notes.c_str(), false));
  EXPECT_FALSE(has_accept);
  EXPECT_NE(std::string::npos, labels.find(ui_text(STR_UPDATE_PACKAGE_MANAGER))) << labels;
  EXPECT_NE(std::string::npos, labels.find("9.0.0")) << labels;
  EXPECT_NE(std::string::npos, labels.find(program_version())) << labels;
  EXPECT_EQ("Faster sync", shown_notes);

  respond_next(GTK_RESPONSE_YES);
  EXPECT_TRUE(update_offer(version, "", true));
  respond_next(GTK_RESPONSE_CANCEL);
  EXPECT_FALSE(update_offer(version, "", true));

  EXPECT_FALSE(update_can_install(nullptr, program_file_path().c_str()));
  uint8_t key[32] = {1};
  EXPECT_FALSE(update_can_install(key, "/nonexistent/ordika"));
}

TEST_F(SyncDialogs, AboutBoxShowsTheVersionAndTheAccountState) {
  std::string version, comments, title;
  auto read_about = [&] {
    when_dialog([&](GtkWindow* w) {
      if (!GTK_IS_ABOUT_DIALOG(w)) return false;
      title = gtk_window_get_title(w);
      version = gtk_about_dialog_get_version(GTK_ABOUT_DIALOG(w));
      comments = gtk_about_dialog_get_comments(GTK_ABOUT_DIALOG(w));
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CLOSE);
      return true;
    });
    about_box();
  };
  read_about();
  EXPECT_EQ(program_version(), version);
  EXPECT_EQ(ui_string(STR_ABOUT_WITHOUT_ACCOUNT), comments);
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  read_about();
  EXPECT_EQ(ui_string(STR_ABOUT_WITH_ACCOUNT), comments);
  // Its title is the table's in every language, not the toolkit's.
  ASSERT_EQ(1, strings_set_language(3));
  read_about();
  strings_set_language(0);
  EXPECT_EQ("Über Ordika", title);
}

TEST_F(SyncDialogs, ConflictSideWithoutAVersionShowsTheMissingText) {
  GtkWidget* missing = conflict_side_new(false, "", "");
  g_object_ref_sink(missing);
  EXPECT_EQ(std::string(ui_string(STR_NOT_PRESENT)) + "\n", label_texts(missing));
  g_object_unref(missing);
  GtkWidget* side = conflict_side_new(true, item_header("Title here", 3).c_str(), "body **bold**");
  g_object_ref_sink(side);
  GtkTextView* v = find_widget<GtkTextView>(side, GTK_TYPE_TEXT_VIEW);
  ASSERT_NE(nullptr, v);
  std::string t = buffer_text(v);
  EXPECT_NE(std::string::npos, t.find("body bold")) << t;
  EXPECT_EQ(std::string::npos, t.find("**")) << t;
  g_object_unref(side);
}

TEST_F(SyncDialogs, ARepositoryGoneFromTheServerIsNamedAndStaysOpenUntilClosed) {
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
  int idx = make_linked_repo();
  ASSERT_GE(idx, 0);
  change_item(&repo_table()[idx], "mine", "kept here", 6);
  ASSERT_EQ(0, server_delete_repo(alice_, "mine"));
  std::string shown;
  when_dialog([&](GtkWindow* w) {
    if (!titled(w, STR_SYNCHRONISE)) return false;
    GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
    if (!b || std::string(gtk_button_get_label(GTK_BUTTON(b))) != ui_string(STR_CLOSE)) return false;
    shown = label_texts(GTK_WIDGET(w));
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
    return true;
  });
  EXPECT_EQ(SYNC_STATUS_NOT_FOUND, sync_repo_dialog(idx));
  EXPECT_NE(std::string::npos, shown.find(ui_text(STR_SYNC_NOT_ON_SERVER))) << shown;
  EXPECT_EQ("kept here", item_text(&repo_table()[idx]));
}
