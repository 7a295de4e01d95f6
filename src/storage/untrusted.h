// SPDX-License-Identifier: GPL-3.0-or-later
// Databases received from the other side of a connection (uploads on the
// server; "list", "sync_1" and a cloned "data" on the client) are read as
// hostile: SQLite's defensive mode without trusted schemas, and a schema that
// must be exactly the format's tables and indexes (no views, triggers or
// extra objects whose code the reader would run).
#pragma once

struct sqlite3;

enum DbSchemaKind {
  DB_SCHEMA_REPO = 1,      // repository database: t0..t5 and t2's index
  DB_SCHEMA_SNAPSHOT = 2,  // sync snapshot: s1..s4
};

// Defensive mode on, trusted schema off. 0 or the SQLite code.
int db_distrust(sqlite3* db);
// 0 when the schema of the attached database `name` ("main", "sync1") is
// exactly that of `kind`; -1 otherwise (logged).
int db_schema_exact(sqlite3* db, const char* name, int kind);
// Both, for a connection about to read a received file.
int db_open_untrusted_check(sqlite3* db, const char* name, int kind);
