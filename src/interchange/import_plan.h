// SPDX-License-Identifier: GPL-3.0-or-later
// Imports in two halves, for a caller that must keep a window drawing while a
// large file comes in: reading and parsing a file into entries touches no
// model state and may run on a worker thread; storing the entries happens on
// the main thread, in as many slices as the caller likes, inside one
// ItemBatch (one transaction and one undo step, or nothing at all).
//
// The one-call imports of interchange.h (interchange.cc) are these two
// halves run back to back. Exports come apart the same way: the items to write, then each
// item's text, so that a window can build a large file a slice at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "interchange/interchange.h"
#include "model/ops.h"

enum ImportKind {
  IMPORT_NOTES = 0,
  IMPORT_CALENDAR,
  IMPORT_CONTACTS,
  IMPORT_ACCOUNTS,
};

// One item to store.
struct ImportEntry {
  int type = 0;
  ItemForm form;
  // Calendar: the UID named an item of ours; it is updated when it is a task
  // or event of the target repository.
  bool has_uuid = false;
  uint8_t uuid[16] = {};
  bool completed = false;  // calendar: the file's completed state
  // Calendar and contacts: the source component to keep beside the item,
  // and the full recurrence rule when the item's own cannot say it.
  std::string component;
  std::string rule;
  std::string uid;  // calendar: the component's UID, ours or another's
};

struct ImportPlan {
  ImportPlan() = default;
  ImportPlan(const ImportPlan&) = delete;
  ImportPlan& operator=(const ImportPlan&) = delete;
  // Bodies may hold passwords: wiped.
  ~ImportPlan();

  std::vector<ImportEntry> entries;
  int skipped = 0;         // components, cards or notes that broke a rule
  bool malformed = false;  // accounts: not UTF-8, a syntax error or an unknown key
  bool found_any = false;  // the file held at least one component, card or object
};

// Appends what the text holds. Notes take `title` (the path) as their title.
// Logs as the one-call imports do. False when the text cannot be read as
// this kind at all (accounts: not UTF-8, or NUL bytes); nothing is added
// then. Any thread.
bool import_plan_parse(ImportKind kind, const char* data, size_t len, const char* title, ImportPlan* plan);
// Reads the file and parses it. 0, or -1 when it cannot be read (nothing
// added). Any thread.
int import_plan_read(ImportKind kind, const char* path, ImportPlan* plan);

// Stores entries [from, to) of the plan into the batch (new items into tag
// `tag`, a real tag of the batch's repository), counting into the report.
// Stops early when the batch fails. Main thread.
void import_plan_store(const ImportPlan& plan, size_t from, size_t to, ItemBatch* batch, int64_t tag,
                       ImportReport* report);

// The kind a dropped or chosen file is imported as, by its name's ending
// (".ics", ".vcf", ".json", any case); any other file is a note.
ImportKind import_kind_of(const std::string& path);

// --- Exports in slices ------------------------------------------------------

enum ExportKind {
  EXPORT_NOTES = 0,  // one file per note
  EXPORT_CALENDAR,
  EXPORT_CONTACTS,
  EXPORT_ACCOUNTS,
};

// The items an export writes, in file order: the item at item_slot when it
// is of the export's kind, or (item_slot -1) every such item of repository
// `repo`.
std::vector<int64_t> export_slots(ExportKind kind, int repo, int64_t item_slot = -1);
// The text of a file before the first and after the last item (accounts: the
// JSON array's brackets; notes: nothing).
std::string export_head(ExportKind kind);
std::string export_tail(ExportKind kind);
// Appends the item's text (accounts: preceded by "," unless it is the first
// written). False when the item gives nothing (gone, or a contact whose body
// is no vCard). Main thread.
bool export_append(ExportKind kind, int64_t slot, bool first, std::string* out);
// Notes: writes the note into folder `dir` (empty or null: the current
// one), named after its title or after name_override when given, as
// export_notes does. 0 or -1.
int export_note_file(int64_t slot, const char* dir, const char* name_override = nullptr);
