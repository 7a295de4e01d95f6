// SPDX-License-Identifier: GPL-3.0-or-later
// Import and export of items as files of other programs: iCalendar for tasks
// and events, vCard for contacts, JSON for accounts, plain text for notes.
//
// Imports store into the tag they are given (the window passes its selected
// tag; it must be a real tag), and a whole file is one journal group: one
// transaction and one undo step. Each import returns the number of items it
// created or updated (what the command-line tool prints), or -1 when the
// file cannot be read at all or the items could not be stored (then none
// is).
// Exports return the number of items written, or -1 when the file cannot be
// written.
//
// Every import and export takes the file first, then where the items go or
// come from: import_x(path, tag), export_x(path, repo, item_slot) with
// item_slot -1 for every item of its kind in the repository.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "interchange/vcard.h"

struct ItemForm;

// What an import did, for callers that want more than the count.
struct ImportReport {
  int imported = 0;  // created or updated
  int updated = 0;   // of those, existing items updated by their UID
  int skipped = 0;   // components or cards that broke a rule
};

// The slot of repository `repo`'s root tag, or -1 when it is not mounted.
int64_t repo_root_tag(int repo);

// --- Files ------------------------------------------------------------------

// Reads a whole file. 0 and *text (an empty file gives an empty text), or -1
// (text empty) when it cannot be opened or read whole.
int read_file_all(const char* path, std::string* text);
// Replaces a file with bytes durably (a synced temporary renamed over it,
// then the folder synced). 0, or -1 when any step fails, the folder's sync
// included.
int write_file_all(const char* path, const std::string& bytes);

// Whether an export may write `path` (a file, or with dir a folder for
// notes): the configuration database and the repositories' own files are
// never replaced by an export. Folders are compared by identity, so links
// and "." or ".." spellings do not hide them.
enum ExportTarget {
  EXPORT_TARGET_OK = 0,
  EXPORT_TARGET_NO_FOLDER = -1,   // the receiving folder does not exist
  EXPORT_TARGET_PROFILE = -2,     // inside the profile directory
  EXPORT_TARGET_REPOSITORY = -3,  // inside a repository's directory
};
int export_target_check(const std::string& path, bool dir);

// --- iCalendar (tasks and events) --------------------------------------------

// Writes the item at item_slot (>= 0), or every task and event of repository
// `repo` (item_slot -1), as a calendar file.
int export_calendar(const char* path, int repo, int64_t item_slot);
// The calendar text of the same selection (what export_calendar writes).
std::string calendar_text(int repo, int64_t item_slot, int* count);
// Creates or updates tasks and events from the VEVENT and VTODO components of
// a file into tag `tag`. A UID of ours ("<uuid>@" + vendor domain) naming an
// existing task or event of the tag's repository updates it (in another
// repository, a new item is made). Items dated before 1970 are moved to
// their first occurrence after 1 January 1970, or skipped when they do not
// repeat.
int import_calendar(const char* path, int64_t tag, ImportReport* report = nullptr);
int import_calendar_text(const char* data, size_t len, int64_t tag, ImportReport* report = nullptr);

// --- vCard (contacts) ----------------------------------------------------------

// The contact store operation: title from the formatted name (unescaped),
// body the vCard text, and for a birthday a yearly due date at the next
// birthday with a reminder one day before. slot -1 creates a contact in tag
// `tag`. Returns the slot or -1.
int64_t vcard_store(int64_t slot, const VCardRecord& rec, const std::string& text, int64_t tag);
// The fields of a contact's form that its card decides, as vcard_store sets
// them: title, body, and the birthday's due date, recurrence and reminder
// (all 0 without a birthday).
void vcard_form_fields(const VCardRecord& rec, const std::string& text, ItemForm* form);
// The title a card gets: the formatted name, else "given family" from N,
// else the first e-mail, else the first phone; empty when it has none.
std::string vcard_title(const VCardRecord& rec);
int export_contacts(const char* path, int repo, int64_t item_slot);
std::string contacts_text(int repo, int64_t item_slot, int* count);
int import_contacts(const char* path, int64_t tag, ImportReport* report = nullptr);
int import_contacts_text(const char* data, size_t len, int64_t tag, ImportReport* report = nullptr);

// --- Accounts (keys) as JSON ----------------------------------------------------

int export_accounts(const char* path, int repo, int64_t item_slot);
std::string accounts_text(int repo, int64_t item_slot, int* count);
// key_import: logs "key_import: invalid UTF-8" (and returns -1), "key_import:
// JSON parsing error" on a syntax error or unknown key (accounts before it
// stay), and always "key_import: %d keys imported".
int key_import(const char* path, int64_t tag);
int key_import_text(const char* data, size_t len, int64_t tag);

// --- Notes as text files ----------------------------------------------------------

// A file name made from a title that stays inside its folder: "/", "\" and
// control characters become "_", a leading "." becomes "_", the length is
// bounded (cut at a character boundary), and an empty title gives "Note".
std::string note_file_name(const std::string& title);
// Writes the note at item_slot, or every note of repository `repo` (item_slot
// -1), into folder `dir`, one file per note named after its title (or after
// name_override when given); an existing file is never replaced: " (1)" to
// " (99)" is appended, and a note without a free name is skipped (logged).
int export_notes(const char* dir, int repo, int64_t item_slot, const char* name_override = nullptr);
// Writes one item to path in its natural format: tasks and events as a
// calendar, contacts as a vCard, notes and accounts as their body text.
// 0 or -1.
int save_item_as(const char* path, int64_t item_slot);
// Imports a text file as a note in tag `tag`, titled with the path (a
// leading UTF-8 byte order mark is dropped). Returns 1 when imported, 0 when
// refused (not UTF-8, over the item size limit, holding NUL bytes), -1 when
// unreadable.
int import_note(const char* path, int64_t tag);
