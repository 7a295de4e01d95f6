// SPDX-License-Identifier: GPL-3.0-or-later
// Repositories: the repository table and its records in the configuration
// database, creation, the password change with its crash recovery, clearing
// and deleting, the sync account record, the master password of the
// configuration database and the repository export file.
//
// The item model is not visible from here: what must fill or notify it
// (writing the tags of a new repository database) goes through RepoHooks,
// installed by the model layer.
//
// Everything runs on the main thread, or on the one worker of a long
// operation while the main thread waits; nothing is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

// One repository known to the configuration database.
struct RepoEntry {
  sqlite3* db = nullptr;    // open while mounted
  sqlite3* sources = nullptr;  // the source store, open from its first use
  int64_t config_row = 0;   // rowid of the record in configuration table t2
  int32_t account_id = 0;   // server account owning it; 0 none
  std::string account_host; // only for a foreign account, else empty
  std::string account_user;
  uint8_t account_key[32] = {};  // login key of a foreign account, else zero
  std::string server_id;    // non-empty: linked to a server repository
  std::string name;         // display name (root tag)
  std::string path;         // the repository directory
  bool hidden = false;
  bool enabled = false;
  bool mounted = false;
  uint8_t password[64] = {};  // enciphered in place under master_key
  uint8_t key[32] = {};       // derive_key of the password

  RepoEntry() = default;
  RepoEntry(const RepoEntry&) = default;
  RepoEntry& operator=(const RepoEntry&) = default;
  ~RepoEntry();
};

// What registering or importing a repository supplies.
struct RepoRecord {
  int32_t account_id = 0;
  std::string account_host;
  std::string account_user;
  uint8_t account_key[32] = {};
  std::string server_id;
  std::string name;
  std::string path;
  std::string password;

  RepoRecord() = default;
  RepoRecord(const RepoRecord&) = default;
  RepoRecord& operator=(const RepoRecord&) = default;
  ~RepoRecord();
};

// The signed-in sync account (the account record in memory).
struct Account {
  int32_t id = 0;  // positive when an account is signed in
  std::string user;
  std::string password;
  std::string host;
  uint8_t user_hash[32] = {};  // SHA-256 of the password: the login key

  Account() = default;
  Account(const Account&) = default;
  Account& operator=(const Account&) = default;
  ~Account();
};

// The repository table: the repositories of the configuration database, in
// its order. Part of the process-wide state of this layer.
std::vector<RepoEntry>& repo_table();
// Last error code left by the repository and server layers (0 none).
int last_error();
void set_last_error(int code);

Account& signed_in_account();
bool has_signed_in_account();

// The configuration database of the run and its directory. config_set takes
// ownership of db (closing any previous one); nullptr closes it.
sqlite3* config_db();
const std::string& config_dir();
void config_set(sqlite3* db, const std::string& dir);
// dir + "/config".
std::string config_file_path();

// Hooks of the model layer.
struct RepoHooks {
  // Writes the new database of table entry `index` (root tag, default tags).
  // 0 or a failure code. Without a hook only the empty schema is made.
  int (*db_create)(int index) = nullptr;
};
void repo_set_hooks(const RepoHooks& hooks);
// Puts the layer's state back as a fresh process has it: table cleared
// (databases closed), configuration database closed, no account, no last
// error, no hooks.
void repo_state_reset();

// ---------------------------------------------------------------------------
// Records

// The record text "1\n%d\n..." of an entry with the given password and
// pending password, padded and enciphered under master_key. -1 when a field
// holds a line feed or the padded text exceeds 2048 bytes.
int repo_record_format(const RepoEntry& e, const char* password, const char* pending,
                       std::vector<uint8_t>* out);
// Parses a deciphered record text into the entry fields (not config_row,
// password or key), the password (at most 63 bytes) and the pending
// password. -1 when a field is missing or malformed.
int repo_record_parse(const char* text, size_t len, RepoEntry* e, std::string* password,
                      std::string* pending);

// Rewrites the entry's record with its password and no / the given pending
// password.
int repo_store(const RepoEntry* e);
int repo_store_pending(const RepoEntry* e, const char* pending);
// Owned clear copy of the entry's password.
std::string repo_password(const RepoEntry* e);
// Sets the password (cut to 63 bytes), enciphered, and derives the key.
void repo_set_password(RepoEntry* e, const char* password);

// ---------------------------------------------------------------------------
// Lifecycle

// Result codes of repo_create_dir.
enum {
  REPO_DIR_TOO_LONG = 11,
  REPO_DIR_NO_ROOT = 12,
  REPO_DIR_EXISTS = 13,
};
// Makes root/<8 hex digits> with mode 0700; *path receives the joined path.
// 0, 11 (path too long), 12 (no root), 13 (no free name in ten tries), -1.
int repo_create_dir(const char* root, std::string* path);
// Adds a table entry for the record, stores it in configuration table t2 and,
// for a local repository, creates its database. On failure nothing is kept.
// *index (when given) receives the new entry's index.
int repo_register(const RepoRecord& rec, int* index);
// The first repository: fresh directory under root, named
// STR_DEFAULT_REPO_NAME, a generated password of 20 characters from all four classes.
int repo_create_default(const char* root);
// Creates path/"data" under the entry's key with the empty schema and the
// journal cursor; the database is left closed. (The model's hook adds tags.)
int repo_db_create_file(const RepoEntry* e, sqlite3** out_db);

// Closes every database and reads all records into a fresh table. 0, or the
// failing status of reading the table.
int repo_table_load();
// Parses one enciphered record into a new table entry, finishing an
// interrupted password change; an unreadable record leaves an empty,
// disabled entry. 0, or -1 for such an entry.
int parse_repo(int64_t rowid, const uint8_t* rec, size_t len);
// Closes every database and empties the table.
void repo_table_clear();

// Opens path/"data" with the entry's key and verifies its key check. 0, or
// -1 (nothing left open).
int repo_open(RepoEntry* e);
void repo_close(RepoEntry* e);

// Changes the repository's password: re-keys the rows in one transaction,
// re-encodes the file, then stores the record. A crash on the way is finished
// by parse_repo at the next start. The database is left closed (the caller
// remounts).
int change_repo_password(RepoEntry* e, const char* new_password);
// Re-encodes dir/"data" page by page from old_key to new_key through
// dir/"temp", which then replaces it.
int reencode_dbfile(const char* dir, const uint8_t old_key[32], const uint8_t new_key[32]);
// The same for dir/name through dir/temp.
int reencode_named(const char* dir, const char* name, const char* temp, const uint8_t old_key[32],
                   const uint8_t new_key[32]);
// Empties the journal and the change logs and compacts the database.
int repo_clear_history(RepoEntry* e);
// Resets the journal of every mounted local repository (shutdown).
int repo_reset_journals();
// Removes the repository: record, directory and table entry (later entries
// move down by one; the caller remounts).
int repo_delete(int index);
// True when some repository's database has exactly this key check.
bool repo_find_by_check(const uint8_t check[64]);

// ---------------------------------------------------------------------------
// Account record

int account_store(int32_t number, const char* user, const char* password, const char* host);
// Loads the account record into the signed-in account; -1 (account cleared)
// when there is none or it is unreadable.
int account_load();
// Deletes the account record and clears the signed-in account. 0 or -1.
int account_remove();

// ---------------------------------------------------------------------------
// Master password

// Opens and unlocks the configuration database of config_dir() ("config")
// with the password, converting an old-scheme file at once. On success it
// becomes config_db(). 0, or -1 for a wrong password, an unreadable file or
// a failed conversion (nothing changed on disk).
int config_unlock(const char* password);
// 0 when the password is the master password, else -1.
int master_password_check(const char* password);
// Re-creates the configuration database under a new password. The old file
// stays in place until the new one has been verified, and is put back when
// anything fails after the swap; afterwards the repository table is re-read
// (rows are renumbered), keeping open databases. 0 or -1.
int change_master_password(const char* new_password);

// ---------------------------------------------------------------------------
// Export file

enum { REPO_EXPORT_SIZE = 2048 };
int repo_export(const RepoEntry* e, const char* export_password, const char* file);
// repo_export to `target` as the file is meant to reach the disk: written
// private (0600) as a temporary beside the target, synced and renamed over
// it, so that a failure never leaves half a file or replaces the old one.
// Safe on a worker thread while the main thread leaves the table alone.
// 0, or -1 (also when the folder cannot be synced after the rename).
int repo_export_file(const RepoEntry* e, const char* export_password, const char* target);
int parse_repo_import(const char* export_password, const char* file, RepoRecord* out);

// ---------------------------------------------------------------------------
// Enabled list (repository manager)

struct RepoEnabled {
  sqlite3* db = nullptr;
  bool hidden = false;
  int index = 0;
};
std::vector<RepoEnabled> repo_enabled_list();
// 1 when an enabled entry differs or was added (remount); 2 when only a
// hidden flag changed, for the selected tag's repository (selected_repo, or
// any when it is -1) while hidden repositories are not shown (refresh); 0
// otherwise.
int repo_enabled_changed(const std::vector<RepoEnabled>& old, int selected_repo, bool show_hidden);
