// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar and contacts accounts in the configuration database, and what an
// account's repository refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/test_startup_fixture.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "sync/dav_account.h"
#include "sync/dav_http.h"

namespace {

using startup_test::StartupTest;

class DavAccountTest : public StartupTest {
 protected:
  void SetUp() override {
    StartupTest::SetUp();
    first_run();
    dav_account_init();
  }
  // A repository with an account on it; its index.
  int account_repo(const char* password = "s3cret-Pässword") {
    int repo = add_repository("account");
    repo_remount();
    DavAccountRow row;
    row.repo = repo;
    row.url = "https://dav.example.org/";
    row.user = "alice";
    EXPECT_EQ(0, dav_account_add(&row, password));
    number = row.number;
    return repo;
  }
  // Every blob of configuration table t1 as stored.
  static std::string t1_bytes() {
    std::string all;
    Stmt s;
    if (stmt_prepare(config_db(), "SELECT c2 FROM t1", &s) != SQLITE_OK) return all;
    while (sqlite3_step(s.get()) == SQLITE_ROW) all += column_bytes(s.get(), 0);
    return all;
  }
  int64_t number = 0;
};

TEST_F(DavAccountTest, RoundTripsEveryFieldAndKeepsThePasswordEnciphered) {
  int repo = account_repo();
  DavAccountRow row;
  ASSERT_EQ(0, dav_account_find(repo, &row));
  EXPECT_EQ(number, row.number);
  EXPECT_GE(row.number, kDavRecordFirst);
  EXPECT_EQ("https://dav.example.org/", row.url);
  EXPECT_EQ("alice", row.user);
  EXPECT_EQ(0, row.last_sync);
  row.last_sync = 1700000000;
  row.fingerprint = "AB:CD";
  ASSERT_EQ(0, dav_account_update(row));
  std::string pw;
  ASSERT_EQ(0, dav_account_password(number, &pw));
  EXPECT_EQ("s3cret-Pässword", pw);
  DavAccountRow again;
  ASSERT_EQ(0, dav_account_find(repo, &again));
  EXPECT_EQ(1700000000, again.last_sync);
  EXPECT_EQ("AB:CD", again.fingerprint);
  // Neither the password nor the user name is readable in the stored record.
  std::string stored = t1_bytes();
  EXPECT_EQ(std::string::npos, stored.find("s3cret"));
  EXPECT_EQ(std::string::npos, stored.find("alice"));
}

TEST_F(DavAccountTest, SurvivesAMasterPasswordChangeAndARestart) {
  int repo = account_repo();
  ASSERT_EQ(0, change_master_password("Other-Master-456"));
  std::string pw;
  ASSERT_EQ(0, dav_account_password(number, &pw));
  EXPECT_EQ("s3cret-Pässword", pw);
  app_shutdown();
  model_clean();
  passwords = {{"Other-Master-456"}};
  ASSERT_EQ(STARTUP_READY, start());
  DavAccountRow row;
  ASSERT_EQ(0, dav_account_find(repo, &row));
  EXPECT_EQ("alice", row.user);
}

TEST_F(DavAccountTest, RefusesBadFieldsAndASecondAccountOnOneRepository) {
  int repo = add_repository("r");
  repo_remount();
  std::string long_pw(9000, 'x');
  struct Case {
    const char* url;
    const char* user;
    const char* password;
  } cases[] = {
      {"https://h/\n", "u", "p"},
      {"https://h/", "u\r", "p"},
      {"https://h/", "u", "p\nq"},
      {"https://h/", "u", long_pw.c_str()},
  };
  for (const Case& c : cases) {
    DavAccountRow row;
    row.repo = repo;
    row.url = c.url;
    row.user = c.user;
    EXPECT_EQ(-1, dav_account_add(&row, c.password)) << c.url << c.user;
  }
  DavAccountRow row;
  row.repo = repo;
  row.url = "https://h/";
  ASSERT_EQ(0, dav_account_add(&row, "p"));
  EXPECT_EQ(-1, dav_account_add(&row, "p"));
}

TEST_F(DavAccountTest, RemovingForgetsThePasswordAndKeepsTheRepository) {
  int repo = account_repo();
  ASSERT_EQ(0, dav_account_remove(number));
  DavAccountRow row;
  EXPECT_EQ(1, dav_account_find(repo, &row));
  std::string pw;
  EXPECT_EQ(-1, dav_account_password(number, &pw));
  EXPECT_TRUE(repo_table()[repo].mounted);
  EXPECT_FALSE(dav_refuses_kind(repo, ITEM_NOTE));
}

TEST_F(DavAccountTest, DeletingTheRepositoryForgetsTheAccountAtTheNextStart) {
  int repo = account_repo();
  ASSERT_EQ(0, repo_delete(repo));
  repo_remount();
  EXPECT_EQ(1, dav_account_prune());
  std::string pw;
  EXPECT_EQ(-1, dav_account_password(number, &pw));
  EXPECT_EQ(0, dav_account_prune());
}

TEST_F(DavAccountTest, AnAccountRepositoryRefusesNotesAndKeysOnly) {
  int repo = account_repo();
  int other = 0;
  struct Case {
    int repo;
    int type;
    bool refused;
  } cases[] = {
      {repo, ITEM_NOTE, true},  {repo, ITEM_KEY, true},     {repo, ITEM_EVENT, false},
      {repo, ITEM_TASK, false}, {repo, ITEM_VCARD, false}, {other, ITEM_NOTE, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.refused, dav_refuses_kind(c.repo, c.type)) << c.repo << " " << c.type;
    ItemForm form;
    form.title = "x";
    int64_t slot = item_store(-1, c.type, form, 0, root_tag(c.repo));
    EXPECT_EQ(c.refused, slot < 0) << c.repo << " " << c.type;
  }
  EXPECT_NE(std::string::npos, dav_refusal_text(repo).find("account"));
}

TEST(DavAccountName, IsUserOnHost) {
  struct Case {
    const char* user;
    const char* url;
    const char* name;
  } cases[] = {
      {"alice", "dav.example.org", "alice on dav.example.org"},
      {"bob", "https://Cal.Example.org:8443/dav/", "bob on cal.example.org"},
      {"c", "http://127.0.0.1:5232/", "c on 127.0.0.1"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.name, dav_repository_name(c.user, c.url)) << c.url;
}

}  // namespace
