// SPDX-License-Identifier: GPL-3.0-or-later
#include <vector>

#include "storage/page_vfs.h"
#include "storage_fixture.h"

using namespace storage_test;

namespace {

struct Notice {
  sqlite3* db;
  bool undo, redo;
};
std::vector<Notice> g_notices;
void record_notice(sqlite3* db, bool undo, bool redo) { g_notices.push_back({db, undo, redo}); }

class JournalTest : public RepoFixture {
 protected:
  void SetUp() override {
    RepoFixture::SetUp();
    g_notices.clear();
    journal_set_notify(record_notice);
  }
  void TearDown() override {
    journal_set_notify(nullptr);
    RepoFixture::TearDown();
  }

  // Runs one group, then checks that undo restores `before` and redo the
  // state after the group, twice over.
  template <class F>
  void check_undo_redo(F f) {
    auto before = dump_data(db);
    group(f);
    auto after = dump_data(db);
    ASSERT_NE(before, after);
    for (int round = 0; round < 2; ++round) {
      ASSERT_EQ(0, journal_undo(db));
      EXPECT_EQ(before, dump_data(db));
      ASSERT_EQ(0, journal_redo(db));
      EXPECT_EQ(after, dump_data(db));
    }
  }

  Version v1{"0:0:1:0:0:0;0:0;0:100:100:first", "body 1"};
  Version v2{"0:0:1:0:0:0;0:0;0:100:200:second", "body 2"};
  Version v3{"0:0:1:0:0:0;0:0;0:100:300:third", "body 3"};
};

TEST_F(JournalTest, FreshJournalHasNothingToUndoOrRedo) {
  EXPECT_EQ(0, journal_state(db));
  auto before = dump_table(db, "t5");
  EXPECT_EQ(std::vector<std::string>{"1|NULL|NULL|NULL|NULL|NULL|1|1|"}, before);
  EXPECT_EQ(0, journal_undo(db));
  EXPECT_EQ(0, journal_redo(db));
  EXPECT_EQ(before, dump_table(db, "t5"));
  EXPECT_TRUE(g_notices.empty());

  // Reset after some work gives the same state again.
  group([&] { return write(v1); });
  EXPECT_EQ(1, journal_state(db));
  ASSERT_EQ(0, db_exec(db, "BEGIN;"));
  ASSERT_EQ(0, journal_reset(db));
  ASSERT_EQ(0, db_exec(db, "COMMIT;"));
  EXPECT_EQ(1, journal_last());
  EXPECT_EQ(0, journal_state(db));
  EXPECT_EQ(before, dump_table(db, "t5"));
  EXPECT_EQ(0, journal_undo(db));
  EXPECT_EQ(1, count_in(db, "t1"));
}

TEST_F(JournalTest, LayoutOfAGroup) {
  group([&] { return write(v1); });
  // cursor, marker, one t1 insert entry
  auto t5 = dump_table(db, "t5");
  ASSERT_EQ(3u, t5.size());
  EXPECT_EQ("1|NULL|NULL|NULL|NULL|NULL|3|3|", t5[0]);
  EXPECT_EQ("2|NULL|NULL|NULL|NULL|NULL|0|NULL|", t5[1]);
  EXPECT_EQ(1, count_in(db, "t5 WHERE rowid=3 AND c6=1 AND c7=1 AND c3=0 AND length(c2)=20 AND length(c4)=32"));
  EXPECT_EQ(3, journal_last());
  ASSERT_EQ(1u, g_notices.size());
  EXPECT_EQ(db, g_notices[0].db);
  EXPECT_TRUE(g_notices[0].undo);
  EXPECT_FALSE(g_notices[0].redo);
}

TEST_F(JournalTest, UndoRedoObjectInsertAndReplace) {
  check_undo_redo([&] { return write(v1); });
  check_undo_redo([&] { return write(v2); });  // delete of v1 + insert of v2
}

TEST_F(JournalTest, UndoRedoKeepHistory) {
  group([&] { return write(v1); });
  check_undo_redo([&] { return write(v2, true); });
  EXPECT_EQ(1, count_in(db, "t1 WHERE c3=1"));
  ASSERT_EQ(0, journal_undo(db));
  EXPECT_EQ("body 1", object_read_current(repo, item));
  EXPECT_EQ(0, count_in(db, "t1 WHERE c3=1"));
  ASSERT_EQ(0, journal_redo(db));
  EXPECT_EQ("body 2", object_read_current(repo, item));
  EXPECT_EQ("body 1", object_read_version(repo, item, v1.hash));
}

TEST_F(JournalTest, KeepHistorySaveOfTheCurrentVersionChangesNothing) {
  group([&] { return write(v1); });
  auto data = dump_data(db);
  group([&] { return write(v1, true); });
  group([&] { return write(v1, true); });
  EXPECT_EQ(data, dump_data(db));
  EXPECT_FALSE(object_has_history(repo, item));
}

TEST_F(JournalTest, UndoKeepsAHistoryRowThatSharesTheHash) {
  // Going back to an earlier version's content puts a history row and the
  // current row with one hash side by side; undo takes back only the
  // current one.
  group([&] { return write(v1); });
  group([&] { return write(v2, true); });
  auto before = dump_data(db);
  group([&] { return write(v1); });
  EXPECT_EQ(2, count_in(db, "t1"));
  auto after = dump_data(db);
  ASSERT_EQ(0, journal_undo(db));
  EXPECT_EQ(before, dump_data(db));
  EXPECT_EQ("body 2", object_read_current(repo, item));
  EXPECT_EQ("body 1", object_read_version(repo, item, v1.hash));
  ASSERT_EQ(0, journal_redo(db));
  EXPECT_EQ(after, dump_data(db));
  EXPECT_EQ(1, count_in(db, "t1 WHERE c3=1"));
  EXPECT_EQ(1, count_in(db, "t1 WHERE c3=0"));
}

TEST_F(JournalTest, UndoRedoDeletesLinksAndChangeLogs) {
  repo.sync = true;
  uint8_t tag2[16];
  fill_uuid(tag2, 3);
  check_undo_redo([&] {
    int rc = write(v1);
    if (!rc) rc = link_add(repo, tag, item);
    if (!rc) rc = link_add(repo, tag2, item);
    return rc;
  });
  EXPECT_EQ(2, count_in(db, "t4"));
  EXPECT_EQ(1, count_in(db, "t3"));
  check_undo_redo([&] { return write(v2, true); });
  check_undo_redo([&] { return link_remove(repo, tag, item); });  // t2 delete, t4 cancel
  // t3 and t4 deletions with logged removals (server-side versions).
  ASSERT_EQ(0, db_exec(db, "DELETE FROM t3; DELETE FROM t4;"));
  check_undo_redo([&] {
    int rc = object_delete_all(repo, item);
    if (!rc) rc = links_delete_all(repo, item, false);
    return rc;
  });
  EXPECT_EQ(0, count_in(db, "t1"));
  EXPECT_EQ(2, count_in(db, "t3 WHERE c3=0"));
  EXPECT_EQ(1, count_in(db, "t4 WHERE c3=0"));
  check_undo_redo([&] { return write(v3); });
}

TEST_F(JournalTest, DeleteVersionIsItsOwnUndoStep) {
  group([&] { return write(v1); });
  group([&] { return write(v2, true); });
  auto before = dump_data(db);
  ASSERT_EQ(0, object_delete_version(repo, item, v1.hash));
  auto after = dump_data(db);
  ASSERT_EQ(0, journal_undo(db));
  EXPECT_EQ(before, dump_data(db));
  ASSERT_EQ(0, journal_redo(db));
  EXPECT_EQ(after, dump_data(db));
}

TEST_F(JournalTest, NewChangeAfterUndoDropsRedoTail) {
  group([&] { return write(v1); });
  group([&] { return write(v2); });
  ASSERT_EQ(0, journal_undo(db));
  EXPECT_EQ(3, journal_state(db));
  EXPECT_TRUE(g_notices.back().undo);
  EXPECT_TRUE(g_notices.back().redo);
  group([&] { return link_add(repo, tag, item); });
  EXPECT_EQ(1, journal_state(db));
  auto data = dump_data(db);
  auto journal = dump_table(db, "t5");
  EXPECT_EQ(0, journal_redo(db));
  EXPECT_EQ(data, dump_data(db));
  EXPECT_EQ(journal, dump_table(db, "t5"));
  // The dropped group's entries are gone: cursor, 2 groups of 2 and 2 rows.
  EXPECT_EQ(1 + 2 + 2, count_in(db, "t5"));
  EXPECT_EQ("body 1", object_read_current(repo, item));
  ASSERT_EQ(0, journal_undo(db));
  EXPECT_EQ(0, count_in(db, "t2"));
  EXPECT_EQ("body 1", object_read_current(repo, item));
}

TEST_F(JournalTest, UndoingEverythingEmptiesTheDataTables) {
  group([&] { return write(v1); });
  group([&] {
    int rc = write(v2, true);
    if (!rc) rc = link_add(repo, tag, item);
    return rc;
  });
  group([&] { return write(v3); });
  auto key_check = dump_table(db, "t0");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, journal_undo(db));
  EXPECT_EQ(2, journal_state(db));
  EXPECT_EQ(0, count_in(db, "t1"));
  EXPECT_EQ(0, count_in(db, "t2"));
  EXPECT_EQ(key_check, dump_table(db, "t0"));
  EXPECT_EQ(0, journal_undo(db));  // nothing left: no change
  EXPECT_EQ(2, journal_state(db));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, journal_redo(db));
  EXPECT_EQ(1, journal_state(db));
  EXPECT_EQ("body 3", object_read_current(repo, item));
  EXPECT_EQ("body 1", object_read_version(repo, item, v1.hash));
  EXPECT_EQ(0, journal_redo(db));
}

TEST_F(JournalTest, TwoUndosTwoRedosGiveIdenticalDataRows) {
  group([&] { return write(v1); });
  group([&] { return write(v2, true); });
  group([&] { return link_add(repo, tag, item); });
  auto before = dump_data(db);
  auto journal = dump_table(db, "t5");
  ASSERT_EQ(0, journal_undo(db));
  ASSERT_EQ(0, journal_undo(db));
  ASSERT_EQ(0, journal_redo(db));
  ASSERT_EQ(0, journal_redo(db));
  EXPECT_EQ(before, dump_data(db));
  EXPECT_EQ(journal, dump_table(db, "t5"));
}

TEST_F(JournalTest, FailingCommitLeavesNoMarkerOrEntries) {
  group([&] { return write(v1); });
  auto data = dump_data(db);
  auto journal = dump_table(db, "t5");

  // A reader on a second connection keeps the writer from committing.
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, page_db_open(file.c_str(), &raw, SQLITE_OPEN_READWRITE));
  DbHandle reader(raw);
  ASSERT_EQ(0, page_db_key(reader.get(), key, 32));
  ASSERT_EQ(0, db_exec(reader.get(), "BEGIN;"));
  Stmt hold;
  ASSERT_EQ(SQLITE_OK, stmt_prepare(reader.get(), "SELECT * FROM t1", &hold));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(hold.get()));

  g_notices.clear();
  ASSERT_EQ(0, journal_begin(db));
  ASSERT_EQ(0, write(v2));
  EXPECT_NE(0, journal_commit(db));
  EXPECT_TRUE(sqlite3_get_autocommit(db));  // rolled back
  EXPECT_TRUE(g_notices.empty());
  hold.reset();
  db_exec(reader.get(), "COMMIT;");
  reader.reset();

  EXPECT_EQ(data, dump_data(db));
  EXPECT_EQ(journal, dump_table(db, "t5"));
  // Commit without a group fails too.
  EXPECT_EQ(-1, journal_commit(db));
}

TEST_F(JournalTest, MissingCursorBlocksGroupsUntilReset) {
  ASSERT_EQ(0, db_exec(db, "DELETE FROM t5 WHERE rowid=1"));
  EXPECT_NE(0, journal_begin(db));
  EXPECT_TRUE(sqlite3_get_autocommit(db));
  EXPECT_EQ(0, journal_state(db));
  EXPECT_NE(0, journal_undo(db));
  EXPECT_NE(0, journal_redo(db));
  ASSERT_EQ(0, db_exec(db, "BEGIN;"));
  ASSERT_EQ(0, journal_reset(db));
  ASSERT_EQ(0, db_exec(db, "COMMIT;"));
  EXPECT_EQ(0, journal_begin(db));
  EXPECT_EQ(0, journal_commit(db));
}

TEST_F(JournalTest, CursorRemovedInsideGroupFailsCommit) {
  auto journal = dump_table(db, "t5");
  ASSERT_EQ(0, journal_begin(db));
  ASSERT_EQ(0, write(v1));
  ASSERT_EQ(0, db_exec(db, "DELETE FROM t5 WHERE rowid=1"));
  EXPECT_NE(0, journal_commit(db));
  EXPECT_EQ(journal, dump_table(db, "t5"));
  EXPECT_EQ(0, count_in(db, "t1"));
}

TEST_F(JournalTest, BeginInsideOpenTransactionLeavesItAlone) {
  ASSERT_EQ(0, db_exec(db, "BEGIN;"));
  ASSERT_EQ(0, db_exec_uuid_uuid(db, "INSERT INTO t2 VALUES (?,?)", tag, item));
  EXPECT_NE(0, journal_begin(db));
  EXPECT_FALSE(sqlite3_get_autocommit(db));  // caller's transaction still open
  ASSERT_EQ(0, db_exec(db, "COMMIT;"));
  EXPECT_EQ(1, count_in(db, "t2"));
}

TEST_F(JournalTest, UndoRedoSurviveReopening) {
  group([&] { return write(v1); });
  auto first = dump_data(db);
  group([&] { return write(v2, true); });
  auto second = dump_data(db);
  reopen();
  EXPECT_EQ(1, journal_state(db));
  ASSERT_EQ(0, journal_undo(db));
  EXPECT_EQ(first, dump_data(db));
  reopen();
  EXPECT_EQ(3, journal_state(db));
  ASSERT_EQ(0, journal_redo(db));
  EXPECT_EQ(second, dump_data(db));
  EXPECT_EQ("body 2", object_read_current(repo, item));
}

TEST_F(JournalTest, CorruptEntryFailsUndoWithoutChange) {
  group([&] { return write(v1); });
  group([&] { return write(v2); });
  ASSERT_EQ(0, db_exec(db, "UPDATE t5 SET c7=9 WHERE rowid=(SELECT max(rowid) FROM t5)"));
  auto data = dump_data(db);
  auto journal = dump_table(db, "t5");
  EXPECT_NE(0, journal_undo(db));
  EXPECT_TRUE(sqlite3_get_autocommit(db));
  EXPECT_EQ(data, dump_data(db));
  EXPECT_EQ(journal, dump_table(db, "t5"));
}

}  // namespace
