// The operations that change items and tags: storing an edited item, tag
// links, deleting and renaming tags, completing and trashing, deleting items,
// the clipboard of copied items, attaching links and walking the items under
// a tag. Every change that reaches a database happens inside one journal
// group on the repository concerned, so one undo step takes one command back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Item;

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

// Fills a form from the item at `slot`, or with the defaults of a new item
// of `type` for slot -1.
void item_form_fill(int64_t slot, int type, ItemForm* form);
// 1 when the forms differ in markup, due, end, a recurrence field, the count,
// the until time, the reminder unit or count, the title or the body.
int item_form_differs(const ItemForm& a, const ItemForm& b);
// The largest of weeks, days, hours, minutes dividing the offset (minutes,
// truncated, when none does); (0, 0) for an offset of 0 or less.
void remind_split(int64_t offset, int32_t* unit, int32_t* count);

// Applies the form to the item at `slot` (or to a new item of `type` linked
// to the selected tag for slot -1) and stores it in one journal group.
// Returns the item's slot, or -1 (invalid UTF-8 or values that could not be
// stored and read back, no such item or tag, a storage failure); on failure
// nothing changes, in the database or in memory.
int64_t item_store(int64_t slot, int type, const ItemForm& form, int keep_history);

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

// Clipboard of copied items: item slots, or the single entry -t standing for
// every item of the repository of tag slot t.
const std::vector<int32_t>& clipboard();
void clipboard_clear();
// Replaces the clipboard with the given item slots (on_copy_items).
void copy_items(const std::vector<int32_t>& slots);
// The clipboard stands for the whole repository of the selected tag.
void copy_all_items();
// Copies the clipboard's items into the repository of the selected tag, as
// new items linked to it; items already there are skipped. Returns the
// number copied, or -1 without a selected real tag.
int paste_repo();
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
