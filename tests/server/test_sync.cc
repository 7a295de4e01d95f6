// SPDX-License-Identifier: GPL-3.0-or-later
// Synchronisation of two clients through ordika-server on loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>

#include "common/test_support.h"
#include "repo_helpers.h"
#include "server_fixture.h"
#include "storage/page_vfs.h"
#include "support/strings.h"
#include "sync/sync_driver.h"

namespace {

bool never_there(const uint8_t*) { return false; }

using test_support::read_file;

struct Client {
  std::string dir;
  uint8_t key[32];
  DbHandle db;

  void open() {
    db.reset(db_open((dir + "/data").c_str()));
    ASSERT_TRUE(db);
    page_db_key(db.get(), key, 32);
  }
  void close() { db.reset(); }
  // Set of "uuid-byte:hash-prefix:c3" of every stored version.
  std::set<std::string> versions() {
    std::set<std::string> out;
    Stmt s;
    stmt_prepare(db.get(), "SELECT c1, c2, c3 FROM t1", &s);
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
      const uint8_t* u = static_cast<const uint8_t*>(sqlite3_column_blob(s.get(), 0));
      const uint8_t* h = static_cast<const uint8_t*>(sqlite3_column_blob(s.get(), 1));
      out.insert(std::to_string(u[0]) + ":" + std::to_string(h[0]) + std::to_string(h[1]) + ":" +
                 std::to_string(sqlite3_column_int(s.get(), 2)));
    }
    return out;
  }
  std::set<std::string> links() {
    std::set<std::string> out;
    Stmt s;
    stmt_prepare(db.get(), "SELECT c1, c2 FROM t2", &s);
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
      const uint8_t* a = static_cast<const uint8_t*>(sqlite3_column_blob(s.get(), 0));
      const uint8_t* b = static_cast<const uint8_t*>(sqlite3_column_blob(s.get(), 1));
      out.insert(std::to_string(a[0]) + ">" + std::to_string(b[0]));
    }
    return out;
  }
  std::string current_body(int n) {
    uint8_t u[16];
    uuid_of(u, n);
    RepoDb r{db.get(), key, true};
    std::string b = object_read_current(r, u);
    return b.substr(0, b.find('\0'));
  }
  int pending() { return count_rows(db.get(), "SELECT * FROM t3") + count_rows(db.get(), "SELECT * FROM t4"); }
};

class SyncTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    a_.dir = dir_.subdir("a");
    b_.dir = dir_.subdir("b");
    derive_key("repo-pw", a_.key);
    std::memcpy(b_.key, a_.key, 32);
    {
      DbHandle db(db_create_repo((a_.dir + "/data").c_str(), a_.key));
      ASSERT_TRUE(db);
      ASSERT_EQ(0, put_object(db.get(), a_.key, false, 1, tag_string(zero_hex(), 10, "/"), nullptr));
      ASSERT_EQ(0, put_object(db.get(), a_.key, false, 2, item_header("note", 11), "first"));
      ASSERT_EQ(0, put_object(db.get(), a_.key, false, 3, item_header("other", 11), "other"));
      ASSERT_EQ(0, put_link(db.get(), a_.key, false, 1, 2));
      ASSERT_EQ(0, put_link(db.get(), a_.key, false, 1, 3));
    }
    ASSERT_EQ(0, server_create_repo(alice_, "r", a_.dir.c_str(), a_.key));
    ASSERT_EQ(0, server_clone_repo(alice_, "r", "repo-pw", b_.dir.c_str(), never_there));
    a_.open();
    b_.open();
  }

  // A full sync of a client; conflicts are answered by `answer` (counted).
  int Sync(Client* c, int answer = -1, SyncSummary* summary = nullptr) {
    SyncSession s;
    s.dir = c->dir;
    std::memcpy(s.key, c->key, 32);
    s.server_id = "r";
    s.login = alice_;
    SyncDriver d;
    sync_begin(&d, &s);
    int rc = sync_drive(&d, [&](const SyncConflict& k) {
      asked_.push_back(k);
      return answer;
    });
    if (summary) *summary = d.summary;
    return rc;
  }

  Client a_, b_;
  std::vector<SyncConflict> asked_;
};

}  // namespace

TEST(SyncCompare, OnlyTheModifiedFieldMayDiffer) {
  std::string body = "same";
  EXPECT_TRUE(sync_versions_equal(item_header("t", 100), &body, item_header("t", 999), &body));
  EXPECT_FALSE(sync_versions_equal(item_header("t", 100), &body, item_header("u", 100), &body));
  std::string other = "different";
  EXPECT_FALSE(sync_versions_equal(item_header("t", 100), &body, item_header("t", 999), &other));
  EXPECT_FALSE(sync_versions_equal(item_header("t", 100), &body, item_header("t", 100), nullptr));
  // the token must start at the same offset
  EXPECT_FALSE(sync_versions_equal("2:0:1:0:0:0;0:0;0:100:5:300:t", &body, "2:0:1:0:0:0;0:0;0:1000:5:300:t", &body));
  EXPECT_TRUE(sync_versions_equal(tag_string(zero_hex(), 1, "a:b"), nullptr, tag_string(zero_hex(), 22, "a:b"), nullptr));
  EXPECT_FALSE(sync_versions_equal(tag_string(zero_hex(), 1, "a"), nullptr, tag_string(zero_hex(), 1, "b"), nullptr));
  EXPECT_FALSE(sync_versions_equal("no tokens", nullptr, "no tokens", nullptr));
}

TEST_F(SyncTest, UnchangedOnBothSidesSendsNothing) {
  std::string state = read_file(a_.dir + "/list.hash");
  EXPECT_EQ(0, Sync(&a_));
  EXPECT_TRUE(asked_.empty());
  EXPECT_EQ(0, a_.pending());
  EXPECT_EQ(0u, read_file(a_.dir + "/sync.objs").size());
  struct stat st;
  EXPECT_EQ(0, ::stat((a_.dir + "/sync_1").c_str(), &st));
  EXPECT_NE(0, ::stat((a_.dir + "/sync_2").c_str(), &st));  // no upload
  EXPECT_EQ(state, read_file(a_.dir + "/list.hash"));           // the server state did not move
}

TEST_F(SyncTest, ChangesTravelBothWays) {
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 20), "second", true));
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 4, item_header("new", 20), "new item"));
  ASSERT_EQ(0, put_link(a_.db.get(), a_.key, true, 1, 4));
  EXPECT_GT(a_.pending(), 0);
  ASSERT_EQ(0, Sync(&a_));
  EXPECT_EQ(0, a_.pending());
  ASSERT_EQ(0, Sync(&b_));
  EXPECT_EQ(a_.versions(), b_.versions());
  EXPECT_EQ(a_.links(), b_.links());
  EXPECT_EQ("second", b_.current_body(2));
  EXPECT_EQ("new item", b_.current_body(4));
  EXPECT_EQ(0, count_rows(b_.db.get(), "SELECT * FROM t5 WHERE rowid > 1"));  // the undo journal is emptied

  // and back: B deletes an item, A receives the deletion
  {
    uint8_t u[16];
    uuid_of(u, 3);
    RepoDb r{b_.db.get(), b_.key, true};
    ASSERT_EQ(0, journal_begin(b_.db.get()));
    ASSERT_EQ(0, links_delete_all(r, u, false));
    ASSERT_EQ(0, object_delete_all(r, u));
    ASSERT_EQ(0, journal_commit(b_.db.get()));
  }
  ASSERT_EQ(0, Sync(&b_));
  ASSERT_EQ(0, Sync(&a_));
  EXPECT_EQ(a_.versions(), b_.versions());
  EXPECT_EQ(a_.links(), b_.links());
  EXPECT_EQ("", a_.current_body(3));
  EXPECT_TRUE(asked_.empty());
}

// What each sync reports: attempts, versions new on the server, versions
// sent, conflicts asked and settled without asking.
TEST_F(SyncTest, SummaryCountsWhatTheSyncDid) {
  struct Edit {
    Client* client;
    int object;
    const char* body;
    long long modified;
  };
  struct Step {
    const char* what;
    std::vector<Edit> edits;
    Client* who;
    int answer;
    int fetched, sent, asked, settled;
  };
  const Step steps[] = {
      {"nothing to do", {}, &a_, -1, 0, 0, 0, 0},
      {"an edit here", {{&a_, 2, "second", 20}}, &a_, -1, 0, 1, 0, 0},
      {"an edit on the server", {}, &b_, -1, 1, 0, 0, 0},
      {"the same edit, sent first", {{&a_, 3, "same", 30}, {&b_, 3, "same", 31}}, &a_, -1, 0, 1, 0, 0},
      {"the same edit, settled", {}, &b_, -1, 1, 0, 0, 1},
      {"two edits, sent first", {{&a_, 2, "from a", 40}, {&b_, 2, "from b", 41}}, &a_, -1, 0, 1, 0, 0},
      {"two edits, the local one kept", {}, &b_, SYNC_KEEP_LOCAL, 1, 1, 1, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    for (const Edit& e : s.edits)
      ASSERT_EQ(0, put_object(e.client->db.get(), e.client->key, true, e.object, item_header("note", e.modified),
                              e.body, true));
    SyncSummary sum;
    ASSERT_EQ(0, Sync(s.who, s.answer, &sum));
    EXPECT_EQ(1, sum.attempts);
    EXPECT_EQ(s.fetched, sum.fetched);
    EXPECT_EQ(s.sent, sum.sent);
    EXPECT_EQ(s.asked, sum.asked);
    EXPECT_EQ(s.settled, sum.settled);
  }
}

TEST_F(SyncTest, VersionsDifferingOnlyInModifiedAreSettledForTheServer) {
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 30), "edited", true));
  ASSERT_EQ(0, put_object(b_.db.get(), b_.key, true, 2, item_header("note", 31), "edited", true));
  ASSERT_EQ(0, Sync(&a_));
  ASSERT_EQ(0, Sync(&b_));
  EXPECT_TRUE(asked_.empty());
  EXPECT_EQ(a_.versions(), b_.versions());
  EXPECT_EQ(0, b_.pending());
}

TEST_F(SyncTest, RealConflictsAskAndFollowTheAnswer) {
  for (int answer : {SYNC_KEEP_LOCAL, SYNC_TAKE_SERVER}) {
    asked_.clear();
    std::string a_text = "from a " + std::to_string(answer), b_text = "from b " + std::to_string(answer);
    ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 40 + answer), a_text.c_str(), true));
    ASSERT_EQ(0, put_object(b_.db.get(), b_.key, true, 2, item_header("note", 50 + answer), b_text.c_str(), true));
    ASSERT_EQ(0, Sync(&a_));
    ASSERT_EQ(0, Sync(&b_, answer));
    ASSERT_EQ(1u, asked_.size());
    EXPECT_TRUE(asked_[0].remote_exists && asked_[0].local_exists);
    EXPECT_EQ(a_text, asked_[0].remote_body);
    EXPECT_EQ(b_text, asked_[0].local_body);
    ASSERT_EQ(0, Sync(&a_));
    std::string winner = answer == SYNC_KEEP_LOCAL ? b_text : a_text;
    EXPECT_EQ(winner, a_.current_body(2));
    EXPECT_EQ(winner, b_.current_body(2));
    EXPECT_EQ(a_.versions(), b_.versions());
    EXPECT_EQ(0, a_.pending());
    EXPECT_EQ(0, b_.pending());
  }
}

TEST_F(SyncTest, CancellingAConflictLeavesEverythingAsItWas) {
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 60), "a side", true));
  ASSERT_EQ(0, put_object(b_.db.get(), b_.key, true, 2, item_header("note", 61), "b side", true));
  ASSERT_EQ(0, Sync(&a_));
  auto before = b_.versions();
  int pending = b_.pending();
  EXPECT_EQ(-1, Sync(&b_, -1));
  EXPECT_EQ(before, b_.versions());
  EXPECT_EQ(pending, b_.pending());
}

TEST_F(SyncTest, DeletedLocallyChangedOnServerRestoresServerVersionsAndLinks) {
  uint8_t u[16];
  uuid_of(u, 2);
  {
    RepoDb r{b_.db.get(), b_.key, true};
    ASSERT_EQ(0, journal_begin(b_.db.get()));
    ASSERT_EQ(0, links_delete_all(r, u, false));
    ASSERT_EQ(0, object_delete_all(r, u));
    ASSERT_EQ(0, journal_commit(b_.db.get()));
  }
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 70), "changed on a", true));
  ASSERT_EQ(0, Sync(&a_));
  ASSERT_EQ(0, Sync(&b_, SYNC_TAKE_SERVER));
  ASSERT_EQ(1u, asked_.size());
  EXPECT_TRUE(asked_[0].remote_exists);
  EXPECT_FALSE(asked_[0].local_exists);
  EXPECT_EQ("changed on a", b_.current_body(2));
  EXPECT_EQ(a_.versions(), b_.versions());
  EXPECT_EQ(a_.links(), b_.links());
  EXPECT_EQ(0, b_.pending());
}

TEST_F(SyncTest, StaleStateIsRefusedAndTheChangesKept) {
  ASSERT_EQ(0, put_object(b_.db.get(), b_.key, true, 3, item_header("other", 80), "b change", true));
  SyncSession s;
  s.dir = b_.dir;
  std::memcpy(s.key, b_.key, 32);
  s.server_id = "r";
  s.login = alice_;
  ASSERT_EQ(0, recv_repo_list(&s));
  // meanwhile A changes the server's state
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 81), "a change", true));
  ASSERT_EQ(0, Sync(&a_));
  ASSERT_EQ(0, sync_conflicts_begin(&s));
  SyncConflict k;
  ASSERT_EQ(0, sync_conflicts_next(&s, &k));
  sync_conflicts_end(&s);
  EXPECT_EQ(1, send_sync_objs(&s));
  EXPECT_GT(b_.pending(), 0);
  // the next sync merges and sends the same change again
  ASSERT_EQ(0, Sync(&b_));
  ASSERT_EQ(0, Sync(&a_));
  EXPECT_EQ("b change", a_.current_body(3));
  EXPECT_EQ("a change", b_.current_body(2));
  EXPECT_EQ(a_.versions(), b_.versions());
}

TEST_F(SyncTest, ItemWithoutLinksIsLinkedToTheRootTag) {
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 5, item_header("loose", 90), "no tag"));
  ASSERT_EQ(0, Sync(&a_));
  EXPECT_EQ(1u, a_.links().count("1>5"));
  ASSERT_EQ(0, Sync(&b_));
  EXPECT_EQ(1u, b_.links().count("1>5"));
}

TEST_F(SyncTest, UploadDroppedMidTransferLeavesTheServerUnchanged) {
  std::string state = read_file(a_.dir + "/list.hash");
  {
    Connection c;
    ASSERT_EQ(0, server_connect(&c, alice_));
    uint8_t check[64];
    ASSERT_EQ(0, key_check_read(a_.db.get(), check));
    conn_put_text(&c, "put sync\nr\n");
    conn_put(&c, check, 64);
    conn_put(&c, state.data(), 20);
    ASSERT_EQ(0, conn_send(&c));
    ASSERT_EQ(0, conn_recv(&c));
    ASSERT_EQ(1, c.recv_size);
    ASSERT_EQ(0, c.recv_frame[CONN_HEADER]);
    uint8_t e[8] = {0, 0, 0, 7, 0, 0, 0x20, 0};
    conn_put(&c, e, 8);
    conn_put(&c, "sync_2", 7);
    std::string part(1500, 'y');
    conn_put(&c, part.data(), 1000);
    conn_send(&c);
  }
  // a stale or foreign state is refused at once
  {
    Connection c;
    ASSERT_EQ(0, server_connect(&c, alice_));
    uint8_t check[64], wrong[20] = {};
    ASSERT_EQ(0, key_check_read(a_.db.get(), check));
    conn_put_text(&c, "put sync\nr\n");
    conn_put(&c, check, 64);
    conn_put(&c, wrong, 20);
    ASSERT_EQ(0, conn_send(&c));
    ASSERT_EQ(0, conn_recv(&c));
    ASSERT_EQ(1, c.recv_size);
    EXPECT_EQ(SRV_STALE, c.recv_frame[CONN_HEADER]);
  }
  EXPECT_EQ(0, Sync(&a_));
  EXPECT_EQ(state, read_file(a_.dir + "/list.hash"));
  EXPECT_EQ(0, Sync(&b_));
  EXPECT_EQ(a_.versions(), b_.versions());
}

// A password changed here after the repository went to the server: the
// server keeps its rows under the old key and refuses the copy (status 4).
// The client says why, and the local database is left as it was.
TEST_F(SyncTest, PasswordChangedLocallyIsRefusedClearlyAndLosesNothing) {
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 70), "before rekey", true));
  uint8_t fresh[32];
  derive_key("another-pw", fresh);
  ASSERT_EQ(SQLITE_OK, db_exec(a_.db.get(), "BEGIN;"));
  ASSERT_EQ(0, repo_rekey(a_.db.get(), a_.key, fresh));
  ASSERT_EQ(SQLITE_OK, db_exec(a_.db.get(), "COMMIT;"));
  a_.close();
  std::string before = read_file(a_.dir + "/data");

  int rc = Sync(&a_);  // pages still under the old key, rows and key check under the new one
  EXPECT_EQ(SYNC_STATUS_KEY_CHANGED, rc);
  ASSERT_EQ(1, strings_set_language(0));  // the reason is a text of the table
  EXPECT_NE(std::string::npos, std::string(sync_list_status_text(rc)).find("password"));
  EXPECT_EQ(before, read_file(a_.dir + "/data")) << "a refused sync changes nothing here";
  a_.open();
  std::memcpy(a_.key, fresh, 32);
  EXPECT_EQ("before rekey", a_.current_body(2));
  // the other copy still syncs with the server
  EXPECT_EQ(0, Sync(&b_));
  EXPECT_EQ("first", b_.current_body(2));
}

// The server's current version is one this copy holds as an older version
// (its own edit demoted it) and only an older version is new: the conflict
// shows the server's current version, and taking it restores it here
// instead of deleting the object.
TEST_F(SyncTest, ServerCurrentHeldHereAsOlderVersionIsRestored) {
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 40), "a1", true));
  ASSERT_EQ(0, put_object(b_.db.get(), b_.key, true, 2, item_header("note", 41), "b1", true));
  ASSERT_EQ(0, put_object(b_.db.get(), b_.key, true, 2, item_header("note", 42), "b2", true));
  ASSERT_EQ(0, Sync(&a_));
  ASSERT_EQ(0, Sync(&b_, SYNC_TAKE_SERVER));  // b1 goes up as an older version
  EXPECT_EQ("a1", b_.current_body(2));
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 43), "a3", true));
  asked_.clear();
  ASSERT_EQ(0, Sync(&a_, SYNC_TAKE_SERVER));
  ASSERT_EQ(1u, asked_.size());
  EXPECT_TRUE(asked_[0].remote_exists);
  EXPECT_EQ("a1", asked_[0].remote_body.substr(0, asked_[0].remote_body.find('\0')));
  EXPECT_EQ("a1", a_.current_body(2));
  EXPECT_EQ(1, count_rows(a_.db.get(), "SELECT 1 FROM t1 WHERE c3=0 AND c1=(SELECT c1 FROM t1 WHERE c3=0 AND c5 IS NOT NULL LIMIT 1)"));
  ASSERT_EQ(0, Sync(&b_));
  EXPECT_EQ(a_.versions(), b_.versions());
}

// A copy whose current version is an older one on the server (it took the
// server's side, then was overtaken) keeps it in the next conflict: the
// server must end with that version as current, and the other copy must
// follow although it holds that version already.
TEST_F(SyncTest, KeepingAVersionTheServerHoldsAsOlderMakesItCurrentEverywhere) {
  ASSERT_EQ(0, put_object(b_.db.get(), b_.key, true, 2, item_header("note", 60), "b1", true));
  ASSERT_EQ(0, Sync(&b_));
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 61), "a1", true));
  ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 62), "a2", true));
  {
    SyncSession s;
    s.dir = a_.dir;
    std::memcpy(s.key, a_.key, 32);
    s.server_id = "r";
    s.login = alice_;
    ASSERT_EQ(0, recv_repo_list(&s));
    ASSERT_EQ(0, sync_conflicts_begin(&s));
    SyncConflict k;
    ASSERT_EQ(1, sync_conflicts_next(&s, &k));
    ASSERT_EQ(0, sync_conflicts_decide(&s, SYNC_TAKE_SERVER));
    ASSERT_EQ(0, sync_conflicts_next(&s, &k));
    sync_conflicts_end(&s);
    // overtaken by B
    ASSERT_EQ(0, put_object(b_.db.get(), b_.key, true, 2, item_header("note", 63), "b2", true));
    ASSERT_EQ(0, Sync(&b_));
    ASSERT_EQ(1, send_sync_objs(&s));
  }
  EXPECT_EQ("b1", a_.current_body(2));
  ASSERT_EQ(0, Sync(&a_, SYNC_KEEP_LOCAL));
  EXPECT_EQ("b1", a_.current_body(2));
  ASSERT_EQ(0, Sync(&b_));
  EXPECT_EQ("b1", b_.current_body(2));
  const char* one_current = "SELECT c1 FROM t1 GROUP BY c1 HAVING sum(c3=0) != 1";
  EXPECT_EQ(0, count_rows(a_.db.get(), one_current));
  EXPECT_EQ(0, count_rows(b_.db.get(), one_current));
  // a fresh clone has what the server has
  Client c;
  c.dir = dir_.subdir("c");
  std::memcpy(c.key, a_.key, 32);
  ASSERT_EQ(0, server_clone_repo(alice_, "r", "repo-pw", c.dir.c_str(), never_there));
  c.open();
  EXPECT_EQ("b1", c.current_body(2));
  EXPECT_EQ(a_.versions(), b_.versions());
  EXPECT_EQ(a_.versions(), c.versions());
}

// Edited here while deleted on the server: a conflict shown with the local
// side only, and the answer decides on both clients.
TEST_F(SyncTest, EditedHereDeletedOnServerAsksAndFollowsTheAnswer) {
  for (int answer : {SYNC_KEEP_LOCAL, SYNC_TAKE_SERVER}) {
    SCOPED_TRACE(answer == SYNC_KEEP_LOCAL ? "keep local" : "take server");
    int n = answer == SYNC_KEEP_LOCAL ? 2 : 3;
    asked_.clear();
    uint8_t u[16];
    uuid_of(u, n);
    {
      RepoDb r{a_.db.get(), a_.key, true};
      ASSERT_EQ(0, journal_begin(a_.db.get()));
      ASSERT_EQ(0, links_delete_all(r, u, false));
      ASSERT_EQ(0, object_delete_all(r, u));
      ASSERT_EQ(0, journal_commit(a_.db.get()));
    }
    ASSERT_EQ(0, Sync(&a_));
    ASSERT_EQ(0, put_object(b_.db.get(), b_.key, true, n, item_header("note", 80 + n), "edited on b", true));
    ASSERT_EQ(0, Sync(&b_, answer));
    ASSERT_EQ(1u, asked_.size());
    EXPECT_TRUE(asked_[0].local_exists);
    EXPECT_FALSE(asked_[0].remote_exists);
    EXPECT_EQ("edited on b", asked_[0].local_body);
    ASSERT_EQ(0, Sync(&a_));
    std::string expected = answer == SYNC_KEEP_LOCAL ? "edited on b" : "";
    EXPECT_EQ(expected, b_.current_body(n));
    EXPECT_EQ(expected, a_.current_body(n));
    EXPECT_EQ(answer == SYNC_KEEP_LOCAL, b_.links().count("1>" + std::to_string(n)) == 1);
    EXPECT_EQ(a_.versions(), b_.versions());
    EXPECT_EQ(a_.links(), b_.links());
    EXPECT_EQ(0, a_.pending());
    EXPECT_EQ(0, b_.pending());
  }
}
