// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration, repository and snapshot databases: schemas, opening and
// keying, the key check, the configuration accessors (settings, account
// record, repository records) and the repository accessors (object versions
// in t1, tag links in t2, sync change logs in t3/t4) with the row cipher.
// storage/schema.h names what every table and column holds.
//
// Conventions: 0 on success, else a SQLite result code or -1 (a write step
// that does not finish gives 1 unless said otherwise). Statements are
// prepared and finalized inside each call. Repository writes belong inside a
// journal group (storage/journal.h): on failure the caller rolls the group
// back, which undoes the partial work. No locks: one thread per connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "storage/repo_db.h"
#include "storage/sqlite_util.h"

// ---------------------------------------------------------------------------
// Opening and creating

// Opens an existing database file read-write (never creates) through the
// page-encrypting layer, unkeyed: the caller installs the key with
// page_db_key before any statement. nullptr on failure (logged).
sqlite3* db_open(const char* file);
// Closes a handle; nullptr is allowed.
void db_close(sqlite3* db);

// Creates the configuration database `file` under `password`: fresh salt,
// PBKDF2 key, 48-byte codec key, schema, verified key check. With key_out
// the 32-byte key is copied there and master_key is left alone; without it
// key and salt become master_key. Returns the open handle, or nullptr after
// removing the half-made file. An existing file is never overwritten (the
// call fails): remove a stale temporary such as "config.tmp" first.
sqlite3* db_create_config_v2(const char* file, const char* password, uint8_t* key_out);
// db_create_config_v2 of "config" inside `config_dir`, the key becoming
// master_key. `config_dir` may also name the file itself (ending in
// "/config").
sqlite3* config_create(const char* config_dir, const char* password);

// Which key scheme unlocked the configuration database.
enum ConfigScheme {
  CONFIG_SCHEME_CURRENT = 0,  // PBKDF2 key followed by the salt (48 bytes)
  CONFIG_SCHEME_LEGACY = 1,   // derive_key of the password (32 bytes); convert it
};
// Opens the configuration database `file` with the master password: salt
// from the file's first 16 bytes, PBKDF2 (20002 iterations), 48-byte key,
// key check in t0; failing that the legacy derive_key scheme on a fresh
// connection. On success returns the handle, stores the scheme in *scheme
// (when given) and sets master_key (48 bytes, or for the legacy scheme the
// 32-byte key followed by zeros). On a wrong password or unreadable file
// returns nullptr and leaves master_key unchanged.
sqlite3* config_open(const char* file, const char* password, int* scheme);

// Creates a repository database under the 32-byte key with the schema, the
// journal cursor row and a verified key check. nullptr on failure (the file
// is left as it is).
sqlite3* db_create_repo(const char* file, const uint8_t key[32]);
// Creates a snapshot database (tables s1..s4), replacing any old file; keyed
// when key (32 bytes) is given. nullptr on failure, the file removed.
sqlite3* db_create_snapshot(const char* file, const uint8_t* key);
// The CREATE statements of a repository database and of a sync snapshot.
const char* db_repo_schema();
const char* db_snapshot_schema();

// t0: "INSERT INTO t0 VALUES (?,?)" with the two 32-byte halves.
int key_check_write(sqlite3* db, const uint8_t check[64]);
// t0: first row, both columns exactly 32 bytes, else -1 (or a SQLite code).
int key_check_read(sqlite3* db, uint8_t check[64]);
// Reads the key check of a database file, keyed with `key` (32 bytes) when
// given, without keeping it open. 0 or -1.
int db_get_sign_path(const char* file, uint8_t check[64], const uint8_t* key);

// ---------------------------------------------------------------------------
// Configuration database (handle passed explicitly)

// Value of a setting as text (up to its terminating zero); empty when the
// setting was never written or on error.
std::string setting_get(sqlite3* cfg, const char* name);
// Decimal value (strtol base 10) when the stored text is not empty, else def.
int setting_get_int(sqlite3* cfg, const char* name, int def);
// Stores the bytes as given.
int setting_put(sqlite3* cfg, const char* name, const void* bytes, size_t len);
// Stores the text with its terminating zero.
int setting_put_str(sqlite3* cfg, const char* name, const char* text);
// Stores "%d" of value with its terminating zero.
int setting_put_int(sqlite3* cfg, const char* name, int value);

// Record `number` of t1 into buf; the stored blob must be exactly len bytes,
// else -1; 1 when there is no such record.
int config_record_get(sqlite3* cfg, int number, uint8_t* buf, size_t len);
// Replaces record `number` of t1 with the bytes (stored as given).
int config_record_put(sqlite3* cfg, int number, const uint8_t* bytes, size_t len);

// CBC in place with a page_cipher context on key (32 bytes; nullptr means
// master_key): how account and repository records, and repository passwords
// in memory, are kept. len must be a multiple of 16. 0 or -1.
int secret_encipher(uint8_t* buf, size_t len, const uint8_t* key = nullptr);
int secret_decipher(uint8_t* buf, size_t len, const uint8_t* key = nullptr);

// Repository records: one row of t2 each, the rowid being the record's
// config row number.
int repo_list_count(sqlite3* cfg);
// Calls fn(rowid, record, length) for each row in the order SQLite returns.
int repo_list_each(sqlite3* cfg, const std::function<void(int64_t rowid, const uint8_t* rec, size_t len)>& fn);
// Inserts a record; *rowid (when given) receives its config row number.
int repo_list_add(sqlite3* cfg, const uint8_t* rec, size_t len, int64_t* rowid);
int repo_list_update(sqlite3* cfg, int64_t rowid, const uint8_t* rec, size_t len);
int repo_list_remove(sqlite3* cfg, int64_t rowid);

// ---------------------------------------------------------------------------
// Repository database

// Row cipher: c4 then c5 as one CBC stream on an object_cipher context for
// (key, uuid, hash). Lengths must be multiples of 16; either part may be
// absent (nullptr or length 0). 0 or -1.
int row_encipher(const uint8_t key[32], const uint8_t uuid[16], const uint8_t hash[20], uint8_t* c4,
                 size_t c4_len, uint8_t* c5, size_t c5_len);
int row_decipher(const uint8_t key[32], const uint8_t uuid[16], const uint8_t hash[20], uint8_t* c4,
                 size_t c4_len, uint8_t* c5, size_t c5_len);
// Deciphers a stored header (c4) into its text, padding cut at the first
// zero byte. -1 on a bad length.
int row_decipher_header(const uint8_t key[32], const uint8_t uuid[16], const uint8_t hash[20],
                        const uint8_t* c4, size_t len, std::string* out);

// Current versions: fn(repo_index, uuid, hash, enciphered c4, length) per
// row with c3 = 0. Rows whose uuid or hash has the wrong length are skipped
// (logged).
using ObjectLoadFn =
    std::function<void(int repo, const uint8_t uuid[16], const uint8_t hash[20], const uint8_t* c4, size_t len)>;
int objects_load_current(const RepoDb& r, int repo_index, const ObjectLoadFn& fn);
// All tag links: fn(tag uuid, item uuid).
int links_load(const RepoDb& r, const std::function<void(const uint8_t tag[16], const uint8_t item[16])>& fn);

// Deciphered body (c5) of the current version, or of the version `hash`, as
// text; empty when there is no such row or no body (or on error, logged).
std::string object_read_current(const RepoDb& r, const uint8_t uuid[16]);
std::string object_read_version(const RepoDb& r, const uint8_t uuid[16], const uint8_t hash[20]);

// One stored version, deciphered (texts cut at their padding).
struct ObjectRow {
  uint8_t uuid[16] = {};
  uint8_t hash[20] = {};
  int c3 = 0;
  std::string header;  // c4
  std::string body;    // c5, only when asked for and selected
};
// "SELECT c1, c2, c3, c4 FROM t1 WHERE c1=? AND c3=1"; null Stmt on failure.
Stmt object_history_query(const RepoDb& r, const uint8_t uuid[16]);
// Steps the statement once: 0 a row (filled), 1 done, -1 error. The body is
// read when with_body is set and the statement selects a fifth column (c5).
int row_read(sqlite3_stmt* stmt, const uint8_t key[32], ObjectRow* row, bool with_body = false);
// Every current version that has a body, deciphered with the body, in one
// statement: fn(row) per row, the row's texts wiped after each call. 0, the
// SQLite code when the statement could not be prepared, or -1 when a row could
// not be read (the rows before it were passed).
int objects_each_current_body(const RepoDb& r, const std::function<void(const ObjectRow& row)>& fn);
// True when the object has at least one history version.
bool object_has_history(const RepoDb& r, const uint8_t uuid[16]);

// Stores a new current version (uuid, hash) with the padded header and
// optional padded body (lengths multiples of 16; the caller's buffers are not
// changed). keep_history turns the previous current version into a history
// version, otherwise it is deleted. Journaled; logged in t3 when r.sync.
int object_write(const RepoDb& r, const uint8_t uuid[16], const uint8_t hash[20], const uint8_t* header,
                 size_t header_len, const uint8_t* body, size_t body_len, bool keep_history);
// Deletes one history version in a journal group of its own (rolled back on
// failure). -1 when there is no such history version.
int object_delete_version(const RepoDb& r, const uint8_t uuid[16], const uint8_t hash[20]);
// Deletes every version of the object, journaled (and logged in t3).
int object_delete_all(const RepoDb& r, const uint8_t uuid[16]);
// Deletes every link of a tag (is_tag) or of an item, journaled (and t4).
int links_delete_all(const RepoDb& r, const uint8_t uuid[16], bool is_tag);
int link_add(const RepoDb& r, const uint8_t tag[16], const uint8_t item[16]);
int link_remove(const RepoDb& r, const uint8_t tag[16], const uint8_t item[16]);

// Change logs of a server-linked repository: records that a version (t3) or
// link (t4) was added (state 1) or removed (0) since the last sync; opposite
// changes cancel. Journaled.
int changelog_object(sqlite3* db, const uint8_t uuid[16], const uint8_t hash[20], int state);
int changelog_link(sqlite3* db, const uint8_t tag[16], const uint8_t item[16], int state);

// Re-enciphers every t1 row from old_key to new_key, replaces the key check,
// empties the journal (cursor row only) and the change logs. Run inside the
// caller's transaction; the pages still use the old key.
int repo_rekey(sqlite3* db, const uint8_t old_key[32], const uint8_t new_key[32]);

// Prepares and steps any statement once: 0 a row, 1 done, -1 error.
int db_query_state(sqlite3* db, const char* sql);
// One-shot statements binding a 16-byte uuid as 1 and a 20-byte hash (or
// NULL when absent) / a second 16-byte uuid as 2. 0 when the step is done.
int db_exec_uuid_hash(sqlite3* db, const char* sql, const uint8_t uuid[16], const uint8_t* hash);
int db_exec_uuid_uuid(sqlite3* db, const char* sql, const uint8_t a[16], const uint8_t b[16]);
