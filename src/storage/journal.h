// SPDX-License-Identifier: GPL-3.0-or-later
// The undo/redo journal of a repository database (table t5): every change to
// t1..t4 is recorded inside a group; one group is one transaction and one
// undo step.
//
// t5 holds the cursor row (rowid 1: c6 position = rowid of the last applied
// entry, c7 end = rowid of the last entry), then groups in order, each a
// marker (c6 = 0, other columns NULL) followed by its entries (c1 first key,
// c2 second key, c3, c4, c5, c6 operation, c7 table).
//
// Groups are never nested and only one is open in the whole process.
#pragma once

#include <cstddef>
#include <cstdint>

struct sqlite3;

enum JournalOp {
  JOURNAL_INSERT = 1,  // the row was inserted (t1 with c3 = 1: a current version became history)
  JOURNAL_DELETE = 2,  // the row was deleted
};

// Opens a group and a transaction, dropping the undone (redo) tail. Fails
// when the cursor row is missing or a transaction is already open.
int journal_begin(sqlite3* db);
// Records one change. key2 is 20 bytes for tables 1 and 3, else 16. c4/c5
// are stored only when given and non-empty.
int journal_append(sqlite3* db, int op, int table, const uint8_t* key1, const uint8_t* key2, int c3,
                   const uint8_t* c4, size_t c4_len, const uint8_t* c5, size_t c5_len);
// Records that the current version of `uuid` (if any) is about to become a
// history version: a t1 entry with operation insert and c3 = 1.
int journal_append_demotion(sqlite3* db, const uint8_t uuid[16]);
// Moves the cursor to the end of the group and commits; -1 when no
// transaction is open. Any failure rolls the whole group back.
int journal_commit(sqlite3* db);
// Rolls the open group back (data changes and journal rows together).
int journal_rollback(sqlite3* db);
// Empties the journal, leaving only the cursor row; run inside the caller's
// transaction.
int journal_reset(sqlite3* db);
// 1 when undo is possible, plus 2 when redo is possible; 0 when the cursor
// row cannot be read.
int journal_state(sqlite3* db);
// One step back / forward; 0 on success or when there is nothing to do.
// Failure leaves database and journal unchanged.
int journal_undo(sqlite3* db);
int journal_redo(sqlite3* db);
// Rowid of the last journal row written in this process.
int64_t journal_last();

// A journal group for one scope: begun by the constructor, closed by
// commit(); a group still open when the scope ends is rolled back, data and
// journal rows together.
// Inside an open group: the pages changed so far to the database file (see
// JournalGroup::write_out).
int journal_write_out(sqlite3* db);

class JournalGroup {
 public:
  explicit JournalGroup(sqlite3* db) : db_(db), status_(db ? journal_begin(db) : -1) {}
  ~JournalGroup() { rollback(); }
  JournalGroup(const JournalGroup&) = delete;
  JournalGroup& operator=(const JournalGroup&) = delete;

  // 0 when the group is open (or was committed), else why it did not begin.
  int status() const { return status_; }
  bool open() const { return status_ == 0 && !closed_; }
  // journal_commit: 0, or its failure (the group is then rolled back).
  int commit() {
    if (!open()) return status_ != 0 ? status_ : -1;
    closed_ = true;
    return journal_commit(db_);
  }
  void rollback() {
    if (!open()) return;
    closed_ = true;
    journal_rollback(db_);
  }
  // Writes the pages changed so far to the database file, their originals
  // first going to the rollback journal: the group stays one transaction,
  // and its commit has that much less to write in one go. 0, or the
  // engine's status (SQLITE_BUSY while another connection reads: the pages
  // then wait for the commit).
  int write_out() { return open() ? journal_write_out(db_) : -1; }

 private:
  sqlite3* db_;
  int status_;
  bool closed_ = false;
};

// Called after a commit, an undo and a redo with the new undo/redo state.
using UndoStateFn = void (*)(sqlite3* db, bool undo_possible, bool redo_possible);
void journal_set_notify(UndoStateFn fn);
