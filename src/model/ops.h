// SPDX-License-Identifier: GPL-3.0-or-later
// The operations that change items: journal groups, storing an edited item
// (one at a time or many as one batch), completing and trashing, deleting.
// Tags and their links are tag_ops.h, the copied items clipboard.h, the form
// an editor fills forms.h. Every change that reaches a database happens
// inside one journal group on the repository concerned, so one undo step
// takes one command back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/forms.h"

struct Item;
class JournalGroup;

// Journal group on a repository's database: begin, and end with commit
// (rollback 0) or rollback. 0 or a storage status (-1 when the repository is
// not mounted).
int group_begin(int repo);
int group_end(int repo, int rollback);

// The same as a scope guard: the group begins in the constructor, commit()
// closes it, and a group still open when the scope ends is rolled back.
class RepoGroup {
 public:
  explicit RepoGroup(int repo);
  ~RepoGroup();
  RepoGroup(const RepoGroup&) = delete;
  RepoGroup& operator=(const RepoGroup&) = delete;
  // 0 when the group began (-1 when the repository is not mounted).
  int status() const;
  int commit();
  void rollback();

 private:
  std::unique_ptr<JournalGroup> group_;
};

// Applies the form to the item at `slot` (or, for slot -1, to a new item of
// `type` in the repository of tag `tag`, linked to it; the window passes its
// selected tag) and stores it in one journal group. `tag` is not used for an
// existing item. Returns the item's slot, or -1 (invalid UTF-8 or values that
// could not be stored and read back, no such item or tag, a storage
// failure); on failure nothing changes, in the database or in memory.
int64_t item_store(int64_t slot, int type, const ItemForm& form, int keep_history, int64_t tag);

// Many stores into one repository as one command: one journal group, so one
// transaction (one sync to disk) and one undo step however many items. The
// imports and paste use it; item_store is a batch of one. Groups never nest:
// no other journal group may begin while a batch is open.
class ItemBatch {
 public:
  explicit ItemBatch(int repo);
  // A batch not committed is rolled back: the database and the in-memory
  // items are as they were before it.
  ~ItemBatch();
  ItemBatch(const ItemBatch&) = delete;
  ItemBatch& operator=(const ItemBatch&) = delete;

  // 0 while the batch can take items; else why not (the group did not
  // begin, or a write failed and the batch will be rolled back).
  int status() const;
  int repo() const;
  // As item_store, inside the batch: a new item (slot -1) goes into tag
  // `tag`, which must be a real tag of this repository; an existing item
  // must be in this repository. flags >= 0 replaces the item's flags (the
  // form's flags can only set them). The slot, or -1 when this item is
  // refused (nothing of it stored); a storage failure also ends the batch.
  int64_t store(int64_t slot, int type, const ItemForm& form, int keep_history, int64_t tag, int flags = -1);
  // Stores new flags for an existing item of this repository (its body as
  // stored). 0 or -1 as for store.
  int set_flags(int64_t slot, int flags);
  // Items stored so far.
  size_t size() const;
  // Between the pieces of a long batch: writes what is stored so far to the
  // database file (still one undo step, still rolled back if not
  // committed), so that the commit never holds the caller for long.
  void write_out();
  // Commits the group, then brings the reminders up to date and sends the
  // item-changed notification for each item. 0; on failure everything is
  // taken back and the status is returned.
  int commit();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// Stores new flags (bit 1 completed, bit 2 trashed) and keeps the reminder
// entry right. 0 or a storage status (the old flags are kept on failure).
int item_set_flags(int64_t slot, int flags);
// Deletes the item everywhere (storage, links, clipboard, reminder). 0 or a
// storage status.
int item_remove(int64_t slot);

// Bulk forms for a selection of items, one journal group (one transaction
// and one undo step) per repository involved, in the order the repositories
// first appear. They return the number of items changed, or -1 when a
// repository's group failed (that repository's items are then unchanged;
// repositories done before it stay done).
// Toggles `flag` (ITEM_COMPLETED or ITEM_TRASHED) on each item: trashing a
// selection brings items already in the trash back out.
int items_toggle_flag(const std::vector<int64_t>& slots, int flag);
// Deletes each item everywhere, as item_remove.
int items_remove(const std::vector<int64_t>& slots);

// The item-changed notification (kind 0 list only, 1 due state, 2 text), when
// one is installed.
void notify_item_changed(Item* item, int kind);
