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
};

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

// Parses a header string into a new slot of the active collection (items, or
// history_items while the history view is open). Rejects, logging
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
// Slot in the active collection, or -1.
int64_t item_find(const uint8_t uuid[16]);
int64_t item_find_hex(const char* text);
// Record in the active collection, or nullptr for a negative or empty slot.
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

// History view: while open, items_add_from_str, item_get, item_find and
// item_body_load work on history_items; `items` is left untouched.
void history_begin();
void history_end();

// --- Storage ------------------------------------------------------------------

// Current stored body (or, in the history view, the version named by
// version_hash), with CR removed; empty when there is none.
std::string item_body_load(const Item* item);
// Stores a new version; must run inside a journal group. 0 or a storage status.
int item_save(Item* item, const std::string& body, int keep_history);
// Loads the body and stores the record in a group of its own.
int item_update(Item* item);
// Removes every stored version and link of the item, then the record.
int item_delete(int64_t slot);
// Opens the history view and fills history_items with the stored earlier
// versions of the item (each with its version_hash). Returns the number
// loaded, or -1; the caller closes the view with history_end either way.
int history_load(const Item* item);
// Deletes the stored version shown by a history record and its slot.
int history_remove(int64_t slot);
// The stored header string of the version in history slot `slot` (what the
// history dialog renders with history_detail_text), or nullptr when the
// history view is closed or there is no such version.
const std::string* history_header(int64_t slot);
