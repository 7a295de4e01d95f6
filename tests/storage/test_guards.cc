// SPDX-License-Identifier: GPL-3.0-or-later
// The scope guards: a transaction and a journal group end with the scope,
// committed only when asked.
#include "storage/sqlite_util.h"
#include "storage_fixture.h"

using namespace storage_test;

namespace {

class GuardTest : public RepoFixture {
 protected:
  int add_link() { return db_exec_uuid_uuid(db, "INSERT INTO t2 VALUES (?,?)", tag, item); }

  // A reader holding a shared lock on a second connection: a writer's
  // COMMIT then fails with SQLITE_BUSY.
  struct Reader {
    DbHandle conn;
    Stmt hold;
  };
  void hold_reader(Reader* r) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(SQLITE_OK, page_db_open(file.c_str(), &raw, SQLITE_OPEN_READWRITE));
    r->conn.reset(raw);
    ASSERT_EQ(0, page_db_key(raw, key, 32));
    ASSERT_EQ(SQLITE_OK, db_exec(raw, "BEGIN;"));
    ASSERT_EQ(SQLITE_OK, stmt_prepare(raw, "SELECT * FROM t5", &r->hold));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(r->hold.get()));
  }
};

TEST_F(GuardTest, TransactionCommitsOnlyWhenAsked) {
  {
    Transaction tx(db);
    ASSERT_EQ(SQLITE_OK, tx.status());
    EXPECT_TRUE(tx.open());
    ASSERT_EQ(0, add_link());
  }  // no commit: rolled back
  EXPECT_TRUE(sqlite3_get_autocommit(db));
  EXPECT_EQ(0, count_in(db, "t2"));

  {
    Transaction tx(db);
    ASSERT_EQ(0, add_link());
    EXPECT_EQ(SQLITE_OK, tx.commit());
    EXPECT_FALSE(tx.open());
    EXPECT_NE(SQLITE_OK, tx.commit());  // once only
  }
  EXPECT_EQ(1, count_in(db, "t2"));
}

TEST_F(GuardTest, TransactionThatCannotBeginLeavesTheOuterOneAlone) {
  ASSERT_EQ(SQLITE_OK, db_exec(db, "BEGIN;"));
  ASSERT_EQ(0, add_link());
  {
    Transaction inner(db);
    EXPECT_NE(SQLITE_OK, inner.status());
    EXPECT_FALSE(inner.open());
    EXPECT_NE(SQLITE_OK, inner.commit());
  }
  EXPECT_FALSE(sqlite3_get_autocommit(db));
  ASSERT_EQ(SQLITE_OK, db_exec(db, "COMMIT;"));
  EXPECT_EQ(1, count_in(db, "t2"));
}

TEST_F(GuardTest, FailedCommitRollsBack) {
  Reader r;
  hold_reader(&r);
  {
    Transaction tx(db);
    ASSERT_EQ(0, add_link());
    EXPECT_NE(SQLITE_OK, tx.commit());
    EXPECT_TRUE(sqlite3_get_autocommit(db));  // nothing left open
  }
  r.hold.reset();
  r.conn.reset();
  EXPECT_EQ(0, count_in(db, "t2"));
}

TEST_F(GuardTest, JournalGroupRollsBackDataAndJournalAtScopeEnd) {
  auto journal = dump_table(db, "t5");
  {
    JournalGroup g(db);
    ASSERT_EQ(0, g.status());
    ASSERT_EQ(0, link_add(repo, tag, item));
  }
  EXPECT_TRUE(sqlite3_get_autocommit(db));
  EXPECT_EQ(0, count_in(db, "t2"));
  EXPECT_EQ(journal, dump_table(db, "t5"));
  EXPECT_EQ(0, journal_state(db));
}

TEST_F(GuardTest, CommittedJournalGroupIsOneUndoStep) {
  {
    JournalGroup g(db);
    ASSERT_EQ(0, link_add(repo, tag, item));
    ASSERT_EQ(0, g.commit());
    EXPECT_FALSE(g.open());
  }  // the destructor must not touch a committed group
  EXPECT_EQ(1, count_in(db, "t2"));
  EXPECT_EQ(1, journal_state(db));
  ASSERT_EQ(0, journal_undo(db));
  EXPECT_EQ(0, count_in(db, "t2"));
}

TEST_F(GuardTest, JournalGroupThatCannotBeginTouchesNothing) {
  ASSERT_EQ(SQLITE_OK, db_exec(db, "BEGIN;"));
  ASSERT_EQ(0, add_link());
  {
    JournalGroup g(db);  // groups never nest
    EXPECT_NE(0, g.status());
    EXPECT_NE(0, g.commit());
  }
  EXPECT_FALSE(sqlite3_get_autocommit(db));
  ASSERT_EQ(SQLITE_OK, db_exec(db, "COMMIT;"));
  EXPECT_EQ(1, count_in(db, "t2"));
}

TEST_F(GuardTest, FailedGroupCommitLeavesNoMarker) {
  auto journal = dump_table(db, "t5");
  Reader r;
  hold_reader(&r);
  {
    JournalGroup g(db);
    ASSERT_EQ(0, link_add(repo, tag, item));
    EXPECT_NE(0, g.commit());
  }
  r.hold.reset();
  r.conn.reset();
  EXPECT_TRUE(sqlite3_get_autocommit(db));
  EXPECT_EQ(0, count_in(db, "t2"));
  EXPECT_EQ(journal, dump_table(db, "t5"));
}

// Statements kept by a group are reused within it and all finalized by its
// end, also one still held by a caller then; none is left to keep the
// connection from closing.
TEST_F(GuardTest, GroupStatementsAreReusedAndFinalizedAtItsEnd) {
  const char* sql = "SELECT count(*) FROM t2";
  Stmt held;
  {
    JournalGroup g(db);
    sqlite3_stmt* first = nullptr;
    {
      Stmt a;
      ASSERT_EQ(SQLITE_OK, stmt_prepare(db, sql, &a));
      first = a.get();
      ASSERT_EQ(SQLITE_ROW, sqlite3_step(a.get()));
    }
    Stmt b;
    ASSERT_EQ(SQLITE_OK, stmt_prepare(db, sql, &b));
    EXPECT_EQ(b.get(), first);                         // given back reset, taken again
    EXPECT_EQ(SQLITE_ROW, sqlite3_step(b.get()));      // from the start
    ASSERT_EQ(SQLITE_OK, stmt_prepare(db, sql, &held));  // in use: a second one
    EXPECT_NE(held.get(), b.get());
    b.reset();
    ASSERT_EQ(0, link_add(repo, tag, item));
    ASSERT_EQ(0, g.commit());
  }
  // Only the one still held is left, until it goes.
  EXPECT_EQ(sqlite3_next_stmt(db, nullptr), held.get());
  EXPECT_EQ(sqlite3_next_stmt(db, held.get()), nullptr);
  held.reset();
  EXPECT_EQ(sqlite3_next_stmt(db, nullptr), nullptr);
  // Undo and a scope of its own leave none behind either.
  ASSERT_EQ(0, journal_undo(db));
  {
    StmtCacheScope scope(db);
    Stmt c;
    ASSERT_EQ(SQLITE_OK, stmt_prepare(db, sql, &c));
  }
  EXPECT_EQ(sqlite3_next_stmt(db, nullptr), nullptr);
  EXPECT_EQ(0, count_in(db, "t2"));
}

}  // namespace
