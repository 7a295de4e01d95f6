// SPDX-License-Identifier: GPL-3.0-or-later
// The in-memory item model shared by every part of the program: the
// collections of items, tags, tag links and reminder entries of all mounted
// repositories, the view state that decides which occurrence of an item is
// shown, and the hooks through which the model reaches the repository table
// and tells the window about changes.
//
// Everything here belongs to the main thread (or to the one worker of a long
// operation while the main thread waits); nothing is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/repo_db.h"
#include "support/slot_array.h"

struct Item;
struct Tag;

// View selection values below 1 (tag slots are 1 and above).
enum {
  VIEW_SEARCH = -1,     // hits of the text search (pseudo tag slot of links)
  VIEW_REMINDERS = -2,  // items whose reminders have come (pseudo tag slot of links)
  VIEW_TRASH = -3,
  VIEW_FIXED = -4,  // one of the fixed lists, by `fixed_kind`
};

// Fixed lists of VIEW_FIXED.
enum {
  FIXED_UPCOMING = 0,
  FIXED_CALENDAR_DAY = 1,
  FIXED_TASKS = 2,
  // 3..6: events, notes, contacts, keys (type = kind - 2)
  FIXED_UNTAGGED = 7,
  FIXED_ALL = 8,
};

// What the model needs from one entry of the repository table: the
// connection with its key and sync flag (null db while not mounted), and
// whether the repository is hidden.
struct RepoRef {
  RepoDb store;
  bool hidden = false;
};

// Fills *out for repository index `repo`; 0, or -1 when there is no such
// entry. Installed by the code that owns the repository table (mounting).
using RepoLookup = int (*)(int repo, RepoRef* out);
// Item-changed notification: kind 0 list only, 1 due state changed, 2 text changed.
using ItemChangedFn = void (*)(Item* item, int kind);
// Called when a reminder entry is added, changed or removed.
using ReminderChangedFn = void (*)();
// Called after a commit, an undo and a redo on a mounted repository.
using RepoUndoFn = void (*)(int repo, bool undo_possible, bool redo_possible);

// uuid (16 raw bytes) -> slot: open addressing with linear probing in one
// flat table, so that inserting and finding allocate nothing per entry (a
// uuid as a std::string key is just past the small-string limit). Tables of
// megabytes sit on huge pages where the system allows: their probes land on
// random pages, and TLB misses cost more than the probes themselves.
struct UuidSlotMap {
  struct Entry {
    uint8_t uuid[16];
    int64_t slot;  // -1: empty
  };
  UuidSlotMap() = default;
  ~UuidSlotMap();
  UuidSlotMap(const UuidSlotMap&) = delete;
  UuidSlotMap& operator=(const UuidSlotMap&) = delete;

  Entry* entries = nullptr;  // `capacity` entries
  size_t capacity = 0;       // 0 or a power of two
  size_t count = 0;
};
// Slot for the uuid, or -1.
int64_t uuid_map_find(const UuidSlotMap& map, const uint8_t uuid[16]);
// Adds the uuid or replaces its slot (slot >= 0).
void uuid_map_set(UuidSlotMap* map, const uint8_t uuid[16], int64_t slot);
void uuid_map_erase(UuidSlotMap* map, const uint8_t uuid[16]);
// Hint that the uuid is about to be looked up or added: a large table misses
// the cache on every probe, and the load has other work to overlap with it.
void uuid_map_prefetch(const UuidSlotMap& map, const uint8_t uuid[16]);
// Empties the map; keeps the table for the next fill.
void uuid_map_clear(UuidSlotMap* map);
// Room for n entries without growing.
void uuid_map_reserve(UuidSlotMap* map, size_t n);

// What the list walk (list_next) keeps between calls.
struct ListWalk {
  // Where the previous call of a link-based walk stopped, so that the next
  // call continues from that link instead of searching for the item again.
  int32_t link_view = 0;
  int64_t link_item = -1;
  int64_t link = -1;
  // Items that carry a real tag, worked out once per walk of the untagged list.
  std::vector<bool> tagged;
  // The selected calendar day and its end, recomputed only when the day changes.
  int64_t day_start = -1;
  int64_t day_end = 0;
};

struct Model {
  // Collections (SlotArray of Item, Tag, TagLink, Reminder; see item.h, tag.h,
  // recur.h). Slots are the handles of records everywhere.
  SlotArray* items = nullptr;          // all items of the mounted repositories
  SlotArray* tags = nullptr;           // slot 0: the zero root entry
  SlotArray* tag_links = nullptr;      // stored links plus pseudo links (-1, -2)
  SlotArray* reminders = nullptr;      // one entry per item with a pending reminder

  // uuid (16 raw bytes) -> slot in `items`, kept by the item functions.
  UuidSlotMap item_index;

  int32_t type_counts[5] = {};  // listed items per type, filled by the list view
  bool duplicate_tag = false;   // raised by tags_add_from_str, cleared by the shell

  // View state (set by the tag tree and the calendar of the main window).
  // The list preferences ("ui.upcoming_days", "ui.show_completed") live only
  // in app_core().settings, which the options dialog edits.
  int32_t view = VIEW_REMINDERS;  // tag slot, or one of the VIEW_ values
  int32_t fixed_kind = FIXED_UPCOMING;
  int64_t selected_item = -1;
  int64_t calendar_day = 0;  // selected calendar day, local 00:00
  int64_t upcoming_from = 0;
  int64_t upcoming_to = 0;
  bool show_hidden = false;
  ListWalk list_walk;

  // Copied item slots, or one entry -tag for the whole repository of that
  // tag (clipboard.h).
  std::vector<int32_t> clipboard;
  // The current text search (search.h): kept for the whole run, the search
  // dialog starts with it.
  std::string search_text;
  int search_case_sensitive = 0;

  // Hooks installed by the shell and the repository code; any may be null.
  RepoLookup repo_lookup = nullptr;
  ItemChangedFn item_changed = nullptr;
  ReminderChangedFn reminder_changed = nullptr;
  RepoUndoFn undo_changed = nullptr;  // installed through repo_undo_notify
};

// The process-wide model; the collections exist from the first call on (tags
// with the zero root entry in slot 0).
Model& model();
// Puts the model back as it was at the first call: collections emptied,
// view state, hooks and walks at their defaults. A field added to Model is
// reset here too.
void model_reset();

// The tag the view shows when it is a real tag (slot 1 and above), else
// nullptr (a fixed row, or a tag gone since).
Tag* model_selected_tag();
// The repository of that tag, or -1.
int model_selected_repo();

// True when items of this repository count for lists, reminders, calendar
// marks and timers: it is not hidden, or hidden repositories are shown. A
// repository unknown to the lookup counts.
bool repo_counts(int repo);
// The repository entry, or -1 when there is none or its database is not open.
int repo_ref(int repo, RepoRef* out);

// Uuids in text: 32 lowercase hexadecimal digits.
std::string uuid_to_hex(const uint8_t uuid[16]);
// Accepts upper- and lowercase digits; 0 only for exactly 32 digits, else -1.
int hex_to_uuid(const char* text, uint8_t uuid[16]);
bool uuid_is_zero(const uint8_t uuid[16]);
// The UID the item with this uuid has in calendar files and on servers when
// its source gave it none of its own: "<uuid in hex>@ordika.app".
inline constexpr char kItemUidDomain[] = "ordika.app";
std::string item_uid(const uint8_t uuid[16]);
