// SPDX-License-Identifier: GPL-3.0-or-later
// Repository-index view of the journal state.
#include "model/undo_state.h"

#include "model/item.h"
#include "model/model.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"

namespace {

void on_journal_state(sqlite3* db, bool undo, bool redo) {
  RepoUndoFn undo_fn = model().undo_changed;
  if (!undo_fn) return;
  for (size_t i = 0; i < repo_table().size(); i++) {
    if (repo_table()[i].db == db) {
      undo_fn(static_cast<int>(i), undo, redo);
      return;
    }
  }
}

}  // namespace

int repo_undo_state(int repo) {
  if (repo < 0 || static_cast<size_t>(repo) >= repo_table().size()) return 0;
  sqlite3* db = repo_table()[repo].db;
  return db ? journal_state(db) : 0;
}

void repo_undo_notify(RepoUndoFn fn) {
  model().undo_changed = fn;
  journal_set_notify(fn ? on_journal_state : nullptr);
}

bool item_has_history(int64_t slot) {
  Item* item = item_get(slot);
  if (!item) return false;
  RepoRef ref;
  if (repo_ref(item->repo, &ref) != 0) return false;
  return object_has_history(ref.store, item->uuid);
}
