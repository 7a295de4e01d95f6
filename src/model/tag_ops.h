// SPDX-License-Identifier: GPL-3.0-or-later
// The operations on tags: links between tags and items, renaming a tag or
// a repository, deleting a tag with its subtree, and walking the items
// under a tag.
#pragma once

#include <cstdint>

struct Item;

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

// Calls fn(item slot, item, ctx) once for every item of the types in
// type_mask (bit n = ItemType n) under a tag: slot 0 every item; a root tag
// the untrashed items of its repository; another tag the untrashed items
// linked to it or to a descendant. Items of hidden repositories are left out
// unless shown. Returns the number of calls.
using ItemVisitFn = void (*)(int64_t slot, Item* item, void* ctx);
int items_under_tag(int64_t tag_slot, int type_mask, ItemVisitFn fn, void* ctx);
