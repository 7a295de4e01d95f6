// SPDX-License-Identifier: GPL-3.0-or-later
// The entry points on the repository table and the signed-in account:
// put on server, clone, sync and account password change.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "model/app_core.h"
#include "repo_helpers.h"
#include "server_fixture.h"
#include "storage/page_vfs.h"
#include "storage/repo.h"
#include "sync/peer.h"
#include "sync/sync_driver.h"

namespace {

int count_dirs(const std::string& root) {
  int n = 0;
  if (DIR* d = ::opendir(root.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}

class EntryPoints : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    std::string cfg_dir = dir_.subdir("profile");
    root_ = dir_.subdir("repos");
    sqlite3* cfg = config_create(cfg_dir.c_str(), "master");
    ASSERT_NE(nullptr, cfg);
    config_set(cfg, cfg_dir);
    ASSERT_EQ(0, setting_put_str(cfg, "repo_root", root_.c_str()));
    ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", host_.c_str()));
    ::setenv("ORDIKA_SERVER", host_.c_str(), 1);
  }
  void TearDown() override {
    app_reset();
    config_set(nullptr, "");
    account_load();  // forgets the signed-in account: the next test may run in this process
    ::unsetenv("ORDIKA_SERVER");
    ServerFixture::TearDown();
  }
  std::string root_;
};

}  // namespace

TEST_F(EntryPoints, PutOnServerCloneAndSync) {
  std::string path;
  ASSERT_EQ(0, repo_create_dir(root_.c_str(), &path));
  RepoRecord rec;
  rec.name = "Mine";
  rec.path = path;
  rec.password = "repo-pw";
  int idx = -1;
  ASSERT_EQ(0, repo_register(rec, &idx));
  {
    RepoEntry& e = repo_table()[idx];
    ASSERT_EQ(0, repo_open(&e));
    ASSERT_EQ(0, put_object(e.db, e.key, false, 1, tag_string(zero_hex(), 1, "/"), nullptr));
    ASSERT_EQ(0, put_object(e.db, e.key, false, 2, item_header("n", 2), "text"));
    repo_close(&e);
  }
  ASSERT_EQ(0, repo_put_on_server(idx, "mine"));
  EXPECT_EQ("mine", repo_table()[idx].server_id);
  EXPECT_EQ(alice_id_, repo_table()[idx].account_id);
  EXPECT_EQ(-1, repo_put_on_server(idx, "again"));  // already linked

  int before = count_dirs(root_);
  int j = -1;
  EXPECT_EQ(CLONE_ALREADY_THERE, repo_clone_from_server("mine", "repo-pw", &j));
  EXPECT_EQ(before, count_dirs(root_));

  // the item travels into a fresh clone after the original syncs a change
  {
    RepoEntry& e = repo_table()[idx];
    ASSERT_EQ(0, repo_open(&e));
    ASSERT_EQ(0, put_object(e.db, e.key, true, 2, item_header("n", 3), "changed", true));
    repo_close(&e);
  }
  ASSERT_EQ(0, sync_repository(idx, nullptr));
  ASSERT_EQ(0, repo_delete(idx));
  EXPECT_EQ(CLONE_WRONG_PASSWORD, repo_clone_from_server("mine", "bad", &j));
  EXPECT_EQ(before - 1, count_dirs(root_));
  ASSERT_EQ(0, repo_clone_from_server("mine", "repo-pw", &j));
  ASSERT_GE(j, 0);
  RepoEntry& c = repo_table()[j];
  EXPECT_EQ("mine", c.server_id);
  ASSERT_EQ(0, repo_open(&c));
  uint8_t u[16];
  uuid_of(u, 2);
  RepoDb r{c.db, c.key, true};
  EXPECT_EQ("changed", object_read_current(r, u).substr(0, 7));
  repo_close(&c);
  EXPECT_EQ(0, sync_repository(j, nullptr));
}

TEST_F(EntryPoints, AccountPasswordChangeStoresTheNewPassword) {
  ASSERT_EQ(0, account_password_change("pw-new"));
  EXPECT_EQ("pw-new", signed_in_account().password);
  ASSERT_EQ(0, account_load());
  EXPECT_EQ("pw-new", signed_in_account().password);
  ServerLogin l;
  ASSERT_EQ(0, login_for_account(signed_in_account(), &l));
  std::vector<std::string> ids;
  EXPECT_EQ(0, server_list_repos(l, &ids));
  // a wrong current password leaves the record alone
  ASSERT_EQ(0, account_store(alice_id_, "alice", "not-current", host_.c_str()));
  EXPECT_NE(0, account_password_change("other"));
  EXPECT_EQ("not-current", signed_in_account().password);
}

TEST_F(EntryPoints, RequestsWithoutAccountFailWithCode1) {
  config_record_put(config_db(), 0, reinterpret_cast<const uint8_t*>(""), 0);
  account_load();
  ASSERT_FALSE(has_signed_in_account());
  int j = -1;
  set_last_error(0);
  EXPECT_EQ(-1, repo_clone_from_server("mine", "pw", &j));
  EXPECT_EQ(1, last_error());
  ServerLogin l;
  set_last_error(0);
  EXPECT_EQ(-1, login_for_account(signed_in_account(), &l));
  EXPECT_EQ(1, last_error());
}

// A server whose clone carries undo steps and unsent changes of the copy it
// was made from: the clone starts without them, whoever asked for it.
TEST_F(EntryPoints, CloneStartsWithoutTheHistoryItCameWith) {
  std::string origin = dir_.subdir("origin") + "/data";
  uint8_t key[32];
  derive_key("repo-pw", key);
  {
    DbHandle db(db_create_repo(origin.c_str(), key));
    ASSERT_TRUE(db);
    ASSERT_EQ(0, put_object(db.get(), key, true, 1, tag_string(zero_hex(), 1, "/"), nullptr));
    ASSERT_EQ(0, put_object(db.get(), key, true, 2, item_header("n", 2), "first"));
    ASSERT_EQ(0, put_object(db.get(), key, true, 2, item_header("n", 3), "second", true));
    ASSERT_GT(count_rows(db.get(), "SELECT * FROM t3"), 0);
    ASSERT_GT(count_rows(db.get(), "SELECT * FROM t5"), 1);
  }
  uint8_t hash[32];
  sha256(hash, "pw-alice", 8);
  LoopbackPeer peer([&](int fd) {
    Connection c;
    bool anon = true;
    std::string line;
    if (peer_accept(&c, fd, static_cast<uint32_t>(alice_id_), "alice", hash, &anon) != 0 ||
        conn_read_line(&c, &line, 64) != 0 || line != "clone repo")
      return;
    conn_skip_frame(&c);
    std::string state(CONN_DIGEST, 's');
    conn_put(&c, state.data(), state.size());
    conn_send(&c);
    conn_send_file_paged(&c, origin.c_str(), key, "data");
    usleep(100000);
  });
  ASSERT_EQ(0, account_store(alice_id_, "alice", "pw-alice", peer.host().c_str()));
  int j = -1;
  ASSERT_EQ(0, repo_clone_from_server("theirs", "repo-pw", &j));
  RepoEntry& e = repo_table()[j];
  ASSERT_EQ(0, repo_open(&e));
  EXPECT_EQ(0, count_rows(e.db, "SELECT * FROM t3"));
  EXPECT_EQ(0, count_rows(e.db, "SELECT * FROM t4"));
  EXPECT_EQ(1, count_rows(e.db, "SELECT * FROM t5")) << "only the journal's start";
  EXPECT_EQ(3, count_rows(e.db, "SELECT * FROM t1")) << "every version stays";
  repo_close(&e);
}
