// SPDX-License-Identifier: GPL-3.0-or-later
// Items: the record, its serialized forms (header string, body, key body), the
// version hash, and the process-wide item collection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum ItemType : int8_t {
  ITEM_TASK = 0,
  ITEM_EVENT = 1,
  ITEM_NOTE = 2,
  ITEM_VCARD = 3,
  ITEM_KEY = 4,
};

enum ItemFlags : int8_t {
  ITEM_COMPLETED = 1,
  ITEM_TRASHED = 2,
  ITEM_DELETED = 4,  // set on a record as it leaves memory; never stored
};

enum RecurEnd : uint8_t {
  RECUR_FOREVER = 0,
  RECUR_COUNT = 1,
  RECUR_UNTIL = 2,
};

enum RecurFreq : uint8_t {
  FREQ_NONE = 0,
  FREQ_DAILY = 1,
  FREQ_WEEKLY = 2,
  FREQ_MONTHLY = 3,
  FREQ_YEARLY = 4,
};

// `last_occurrence` of an item that repeats forever (about a thousand years on).
constexpr int64_t RECUR_FOREVER_TIME = 32212254718LL;

// Serialized as one 32-bit value, freq in the lowest byte. Writers keep each
// byte within 0..127.
struct Recurrence {
  uint8_t freq = 0;
  uint8_t interval_minus_one = 0;
  uint8_t by_day = 0;  // weekly: bit n = weekday n (0 Sunday); monthly: non-zero = same weekday of the same week
  uint8_t end_kind = 0;
};

int32_t recurrence_pack(const Recurrence& r);
Recurrence recurrence_unpack(int32_t value);

// Times are seconds since the epoch, 0 = not set. The collections own the
// title; records leave a collection only through the functions below.
struct Item {
  uint8_t uuid[16] = {};
  std::string title;
  int8_t repo = 0;
  int8_t type = ITEM_TASK;
  int8_t flags = 0;
  int8_t markup = 0;  // 1: body is markup; 0: shown verbatim
  Recurrence recurrence;
  int32_t recur_count = 0;    // occurrences for RECUR_COUNT, else 0
  int32_t remind_offset = 0;  // seconds before the due time; 0 none, 1 at the due time
  int64_t due = 0;            // due time of a task, start of an event
  int64_t end = 0;            // end of an event
  int64_t last_occurrence = 0;
  int64_t next_remind = 0;
  int64_t created = 0;
  int64_t modified = 0;
  uint8_t version_hash[20] = {};  // history records only
  // In memory only: 1 + the index of the item's full recurrence rule
  // (model/full_rule.h), 0 when its Recurrence says it all.
  int32_t full_rule = 0;
};

// True when the item repeats, by its Recurrence or by a full rule.
inline bool item_repeats(const Item* item) {
  return (item->recurrence.freq >= FREQ_DAILY && item->recurrence.freq <= FREQ_YEARLY) || item->full_rule > 0;
}

// --- Serialized forms -------------------------------------------------------

// "%d:%d:%d:%lld:%lld:%d;%lld:%d;%lld:%lld:%lld:%s"
std::string item_header_format(const Item& item);
// Body as stored: every LF not already preceded by CR becomes CR LF.
std::string body_to_storage(const std::string& body);
// Body as read back: every CR removed.
std::string body_from_storage(const char* data, size_t len);
// The text in a zero-filled buffer of its length rounded up to the next
// multiple of 16 that leaves room for at least one zero byte.
size_t padded_length(size_t len);
std::vector<uint8_t> pad16(const std::string& text);
// SHA-1 over the header bytes followed by the stored (CR LF) body bytes.
void item_version_hash(const std::string& header, const std::string& stored_body, uint8_t hash[20]);

// Parses a header string into a new slot of the item collection. Rejects, logging
// "items_add_from_str(%d, %s)": a missing or non-numeric token, type or flags
// outside 0..4, negative due, end, recurrence or reminder offset, created or
// modified not positive, created after modified. Times are 64-bit. The caller
// works out last_occurrence (item_set_last_occurrence).
Item* items_add_from_str(int repo, const uint8_t uuid[16], const char* header, int64_t* slot = nullptr);
// The same parse into a caller's record, without validation and without the
// values after ";" (history display). 0, or -1 when a token is missing.
int item_parse_header(const char* header, Item* record);

// Key body: web address, user name, password, date ("%lld"), notes, LF
// separated. A field is taken only when the LF that ends it exists.
struct KeyBody {
  std::string url;
  std::string user;
  std::string password;
  int64_t date = 0;
  std::string notes;
};
void key_body_parse(const char* body, KeyBody* out);
// Whole up to the item cap; longer text is cut there at a character boundary
// (logged), as the importers cap every other body.
std::string key_body_format(const KeyBody& key);
constexpr size_t ITEM_BODY_MAX = size_t(1) << 20;

// --- The item collection ----------------------------------------------------

// Appends a zeroed record with a fresh uuid; nullptr when no random bytes.
Item* item_new(int64_t* slot);
// Slot in the item collection, or -1.
int64_t item_find(const uint8_t uuid[16]);
int64_t item_find_hex(const char* text);
// Record in the item collection, or nullptr for a negative or empty slot.
Item* item_get(int64_t slot);
// Takes a record out of memory: empties its title, sets ITEM_DELETED and
// frees the slot (the storage stays readable until the collection is reset).
void items_remove_slot(int64_t slot);
// Frees every record and starts an empty collection.
void items_reset();
void items_count_reset();
void items_inc_count(int type);
// Works out last_occurrence from due, the recurrence and its end.
void item_set_last_occurrence(Item* item);

// --- History view ---------------------------------------------------------------

struct SlotArray;

// The stored earlier versions of one item, apart from the item collection:
// whoever shows them (the history dialog, the tool's history command) owns
// the view for as long as it does.
struct HistoryView {
  SlotArray* versions;  // Item records, each with its version_hash
  // The stored header string of each version, by slot: it holds what the
  // parsed record drops (the count or end of a recurrence).
  std::vector<std::string> headers;

  HistoryView();
  ~HistoryView();
  HistoryView(const HistoryView&) = delete;
  HistoryView& operator=(const HistoryView&) = delete;
};
// The version in `slot`, or nullptr.
Item* history_get(const HistoryView& view, int64_t slot);
// Parses a stored version's header string into a new slot of the view, as
// items_add_from_str does (with its checks), and keeps the string; nullptr
// when it is rejected.
Item* history_add(HistoryView* view, int repo, const uint8_t uuid[16], const std::string& header,
                  const uint8_t version_hash[20], int64_t* slot = nullptr);
// Takes a version out of the view; its stored version stays.
void history_remove_slot(HistoryView* view, int64_t slot);
// Empties the view.
void history_clear(HistoryView* view);
// The stored header string of the version in `slot` (what the history
// dialog renders with history_detail_text), or nullptr when there is no
// such version.
const std::string* history_header(const HistoryView& view, int64_t slot);

// --- Storage ------------------------------------------------------------------

// Current stored body (for a history record, the version named by its
// version_hash), with CR removed; empty when there is none.
std::string item_body_load(const Item* item);
// Stores a new version; must run inside a journal group. 0 or a storage status.
int item_save(Item* item, const std::string& body, int keep_history);
// Loads the body and stores the record in a group of its own.
int item_update(Item* item);
// Removes every stored version and link of the item, then the record.
int item_delete(int64_t slot);
// Fills the view (emptied first) with the stored earlier versions of the
// item, each with its version_hash. Returns the number loaded, or -1.
int history_load(HistoryView* view, const Item* item);
// Deletes the stored version in the view's slot, and the slot.
int history_remove(HistoryView* view, int64_t slot);
