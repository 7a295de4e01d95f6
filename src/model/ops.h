// The operations that change items and tags: storing an edited item, tag
// links, deleting and renaming tags, completing and trashing, deleting items,
// the clipboard of copied items, attaching links and walking the items under
// a tag. Every change that reaches a database happens inside one journal
// group on the repository concerned, so one undo step takes one command back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct Item;
class JournalGroup;

// The editable form of an item, filled by the editors and applied by
// item_store. Times are seconds since the epoch, 0 = not set.
struct ItemForm {
  std::string title;
  std::string body;          // LF line ends
  int32_t flags = 0;         // non-zero: replaces the item's flags
  uint8_t markup = 0;
  int32_t remind_unit = 0;   // 0 none, 1 minutes, 2 hours, 3 days, 4 weeks
  int32_t remind_count = 0;  // units; 0 with a unit = at the due time
  int32_t freq = 0;
  int32_t interval_minus_one = 0;
  int32_t by_day = 0;
  int32_t end_kind = 0;
  int32_t recur_count = 0;  // occurrences for RECUR_COUNT
  int64_t until = 0;        // until time for RECUR_UNTIL
  int64_t due = 0;          // due or start time
  int64_t end = 0;          // end time
};

// Seconds of reminder unit 1..4; 0 for anything else.
int64_t remind_unit_seconds(int unit);

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

// Fills a form from the item at `slot`, or with the defaults of a new item
// of `type` for slot -1.
void item_form_fill(int64_t slot, int type, ItemForm* form);
// 1 when the forms differ in markup, due, end, a recurrence field, the count,
// the until time, the reminder unit or count, the title or the body.
int item_form_differs(const ItemForm& a, const ItemForm& b);
// The largest of weeks, days, hours, minutes dividing the offset (minutes,
// truncated, when none does); (0, 0) for an offset of 0 or less.
void remind_split(int64_t offset, int32_t* unit, int32_t* count);

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
  // Commits the group, then brings the reminders up to date and sends the
  // item-changed notification for each item. 0; on failure everything is
  // taken back and the status is returned.
  int commit();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// Tag links. Tag slots below 1 (the root entry, the pseudo tags of the
// search results and the reminders view) get in-memory links only. The
// stored changes belong inside the caller's journal group.
int create_tag_item(int32_t tag_slot, int32_t item_slot);
// Sets or clears a link; 0 when it already is as asked.
int update_tag_item(int32_t tag_slot, int32_t item_slot, int set);
// Removes every in-memory link of a tag slot.
void tag_links_drop(int32_t tag_slot);

// Renames a tag and stores it (one journal group). An empty name changes
// nothing. 0, -1 for no such tag or an invalid name, -2 for a repository's
// root tag (its stored name stays "/"; see repo_rename), or a storage status
// (the old name is kept on failure).
int tag_rename(int64_t tag_slot, const char* name);
// Renames repository `repo_index`: its record's name, which the tag tree
// shows for the root tag, stored in the configuration database and set on
// the loaded root tag. An empty name keeps the old one. 0, -1 for no such
// repository or a name that is not valid UTF-8 or holds a line break, or the
// failing status of storing the record (the old name is kept).
int repo_rename(int repo_index, const char* name);
// Deletes a tag and its subtree in one journal group; items left without a
// real tag by it are linked to the deleted tag's parent. 0, -1 for no such
// tag, -2 for a repository's root tag, or a storage status.
int delete_tag(int64_t tag_slot);

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

// Clipboard of copied items: item slots, or the single entry -t standing for
// every item of the repository of tag slot t.
const std::vector<int32_t>& clipboard();
void clipboard_clear();
// Replaces the clipboard with the given item slots (on_copy_items).
void copy_items(const std::vector<int32_t>& slots);
// The clipboard stands for the whole repository of the selected tag.
void copy_all_items();
// Copies the clipboard's items into the repository of tag `tag` (the
// selected tag), as new items linked to it, in one journal group; items
// already there are skipped. Returns the number copied, or -1 when `tag` is
// no real tag or the copy could not be stored (then nothing is copied).
int paste_repo(int64_t tag);
// The same for the given entries (item slots, or the single entry -t)
// instead of the clipboard's. `progress`, when given, is called before each
// item with the number done and the total; when it returns false the paste
// is abandoned: nothing is stored and -2 is returned.
using PasteProgress = bool (*)(size_t done, size_t total, void* ctx);
int paste_items(int64_t tag, const std::vector<int32_t>& entries, PasteProgress progress = nullptr,
                void* ctx = nullptr);
// The number of items a paste of these entries would look at.
size_t paste_size(const std::vector<int32_t>& entries);
// Puts a link line "[[ordika:<uuid>]]" CR LF for every other clipboard item
// in front of the selected item's body and stores it. 0 or -1.
int attach_items();

// Calls fn(item slot, item, ctx) once for every item of the types in
// type_mask (bit n = ItemType n) under a tag: slot 0 every item; a root tag
// the untrashed items of its repository; another tag the untrashed items
// linked to it or to a descendant. Items of hidden repositories are left out
// unless shown. Returns the number of calls.
using ItemVisitFn = void (*)(int64_t slot, Item* item, void* ctx);
int items_under_tag(int64_t tag_slot, int type_mask, ItemVisitFn fn, void* ctx);

// The item-changed notification (kind 0 list only, 1 due state, 2 text), when
// one is installed.
void notify_item_changed(Item* item, int kind);
