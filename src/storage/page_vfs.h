// SPDX-License-Identifier: GPL-3.0-or-later
// Page encryption for SQLite databases, as a layer below the engine: every
// page of the database file and of its rollback journal is encrypted at its
// own offset, page 1 keeping 16 leading bytes (salt or random) in place of
// the engine's magic text.
//
// Each connection opened by page_db_open gets a VFS of its own (a shim over
// the default unix VFS); it is unregistered and freed when the connection is
// closed with sqlite3_close/sqlite3_close_v2. Temporary files of such a
// connection (statement journals, temp tables, sorter) stay in memory, and
// WAL is refused, so no plaintext page reaches the disk.
#pragma once

#include <cstdint>

struct sqlite3;

// Size of every page of an encrypted database.
enum { PAGE_VFS_PAGE_SIZE = 1024 };

// Opens (flags as sqlite3_open_v2) a connection whose files go through a
// page-encrypting layer of their own. Until a key is installed pages are
// stored plain (with random bytes in place of the magic). Returns the SQLite
// code; *db is set even on failure, as sqlite3_open_v2 does.
int page_db_open(const char* path, sqlite3** db, int flags);

// Installs the key of the main database: 32 bytes (no plain prefix) or 48
// bytes (32-byte key then the 16-byte salt, kept plain at the start of page 1).
// Any other length installs nothing and still returns 0. Call right after
// page_db_open, before any statement. Databases attached later without a key
// get the main key's 32 bytes with no plain prefix.
int page_db_key(sqlite3* db, const uint8_t* key, int key_len);
// The same for the attached database of that name (main when absent).
int page_db_key_v2(sqlite3* db, const char* name, const uint8_t* key, int key_len);

// Runs "ATTACH path AS name" with its own key (32 or 48 bytes) instead of the
// inherited one: the engine reads the schema during ATTACH, so a database
// under another key cannot be keyed afterwards. Returns the SQLite code.
int page_db_attach(sqlite3* db, const char* path, const char* name, const uint8_t* key, int key_len);

// The 32-byte key of the main database, or nullptr when unkeyed.
const uint8_t* page_db_get_key(sqlite3* db);
