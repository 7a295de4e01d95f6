// SPDX-License-Identifier: GPL-3.0-or-later
// The clipboard of copied items and what is done with it: pasting the items
// into another repository as new items, or linking them from the selected
// item's body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

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
// already there are skipped. What an item's source said (its kept
// component and full rule) goes with it; as an import's, those records stay
// while an undone paste can be redone, and the sweep of the source store
// takes them once nothing can bring the items back. Returns the number copied, or -1 when `tag` is
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
// Drops the given item slots from the clipboard (items deleted).
void clipboard_forget(const std::unordered_set<int64_t>& slots);
