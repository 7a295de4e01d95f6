// SPDX-License-Identifier: GPL-3.0-or-later
// The repository tables as synchronisation reads and changes them, and the
// snapshot databases it exchanges with the server ("list" and "sync_1"
// received, "sync_2" sent). The sync layer decides what to do with record
// sets; the statements that do it live here.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "storage/sqlite_util.h"
#include "storage/sync_decision.h"
#include "support/record_set.h"

// Opens a database of the repository directory keyed with the repository
// key; empty when the file is missing or cannot be keyed.
DbHandle sync_store_open(const std::string& path, const uint8_t key[32]);

// A repository database received by a clone, read as hostile input:
// SYNC_RECEIVED_OK, SYNC_RECEIVED_UNREADABLE when its pages do not decrypt
// under the key, SYNC_RECEIVED_FOREIGN when its schema is not the format's.
enum { SYNC_RECEIVED_OK = 0, SYNC_RECEIVED_UNREADABLE = 1, SYNC_RECEIVED_FOREIGN = 2 };
int sync_store_check_received_repo(const std::string& path, const uint8_t key[32]);

// The record sets synchronisation reads, each sorted afterwards.
enum SyncSetQuery {
  SYNC_SET_VERSIONS,       // "data": every version here (t1)
  SYNC_SET_ADDED,          // "data": versions added since the last sync (t3)
  SYNC_SET_REMOVED,        // "data": versions removed since the last sync (t3)
  SYNC_SET_CURRENT,        // "data": the current version of each object
  SYNC_SET_LINKS,          // "data": tag links (t2)
  SYNC_SET_LINKS_REMOVED,  // "data": links removed since the last sync (t4)
  SYNC_SET_LINKS_ADDED,    // "data": links added since the last sync (t4)
  SYNC_SET_LIST_VERSIONS,  // "list": every version the server holds, in its order
  SYNC_SET_LIST_LINKS,     // "list": every link on the server
  SYNC_SET_LIST_CURRENT,   // "list": the versions the server marks current
};
int sync_store_load(sqlite3* db, SyncSetQuery which, RecordSet* out);

// Attaches the received "sync_1" as sync1; the connection reads as hostile
// input from then on (only the snapshot's own tables are accepted).
int sync_store_attach_received(sqlite3* db, const std::string& file, const uint8_t key[32]);
void sync_store_detach_received(sqlite3* db);

// Both current versions of a conflicting object, deciphered: the server's
// from the attached sync1, the local one from "data".
struct SyncVersionReader {
  Stmt remote, local;
};
int sync_reader_open(SyncVersionReader* r, sqlite3* db);
// 1 with the version read, 0 when that side has none, -1 when unreadable.
int sync_reader_read(SyncVersionReader* r, bool remote, const uint8_t uuid[16], const uint8_t key[32],
                     std::string* header, std::string* body, bool* has_body);

// Stage 3, inside the caller's transaction with sync1 attached.
// Applies one decision; server_links are the server's links (for an object
// taken back from the server).
int sync_store_apply_decision(sqlite3* db, const SyncDecision& d, const RecordSet& server_links);
// Removes a version the server no longer holds.
int sync_store_drop_version(sqlite3* db, const uint8_t version[REC_VERSION]);
// Stores a version new on the server (kept as it is when it is here already).
int sync_store_take_version(sqlite3* db, const uint8_t version[REC_VERSION]);
// Makes a version the server marks current the current one here too, unless
// the local current version is still to be sent.
int sync_store_follow_current(sqlite3* db, const uint8_t version[REC_VERSION]);
// Adds or removes one tag link.
int sync_store_link(sqlite3* db, const uint8_t link[REC_LINK], bool add);
// Removes every link of an object.
int sync_store_unlink_all(sqlite3* db, const uint8_t uuid[16]);
// Links every current item without a tag to the repository's root tag; -1
// when there is none.
int sync_store_link_loose_items(sqlite3* db, const uint8_t key[32]);
// Replaces the link change log: `up` added here, `down` removed here.
int sync_store_record_link_changes(sqlite3* db, const RecordSet& up, const RecordSet& down);

// True when the change logs hold something to send.
bool sync_store_has_changes(sqlite3* db);
// Writes "sync_2" at file: the versions added here with both change logs;
// *versions receives how many versions it holds.
int sync_store_write_upload(sqlite3* db, const std::string& file, const uint8_t key[32], int* versions);
// Empties both change logs once the server took them.
int sync_store_clear_changes(sqlite3* db);
