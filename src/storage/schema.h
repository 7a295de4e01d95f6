// SPDX-License-Identifier: GPL-3.0-or-later
// The three database schemas and what their opaque names mean. The names are
// part of the file format (other readers and old files depend on them), so
// they stay short and meaningless on disk and are explained here, once.
// Columns have no types except those declared INT; values are blobs (uuids,
// hashes, enciphered texts) or integers, setting names text.
//
// Configuration database (file "config"):
//   t0  key check: c1, c2 the two 32-byte halves of the check made from the
//       database key; exactly one row.
//   t1  account records: c1 the record number (0 the sync account, 1000 and
//       up the calendar and contacts accounts of sync/dav_account.h), c2 the
//       record enciphered with the master key (1024 bytes for the sync
//       account, a multiple of 256 for the others).
//   t2  repository records: c1 one enciphered record per row; the rowid is
//       the repository's config row number.
//   t3  settings: c the name (text, primary key), v the value (texts and
//       decimal numbers with their terminating zero).
//
// Repository database (file "data"):
//   t0  key check, as in the configuration database, from the repository key.
//   t1  object versions: c1 object uuid (16 bytes, item or tag), c2 version
//       hash (20 bytes), c3 0 current version (at most one per uuid) or 1
//       history version, c4 the padded header (item header or tag string),
//       c5 the padded item body (NULL for tags); c4 and c5 are one CBC stream
//       of the row cipher keyed by repository key, uuid and hash.
//   t2  tag links: c1 tag uuid, c2 item uuid; index t2_i on c2.
//   t3  sync change log of versions: c1 uuid, c2 version hash, c3 1 added or
//       0 removed since the last synchronisation.
//   t4  sync change log of links: c1 tag uuid, c2 item uuid, c3 1 added or
//       0 removed.
//   t5  undo journal (storage/journal.h). Rowid 1 is the cursor: c6 the rowid
//       of the last applied entry, c7 that of the last entry. A row with only
//       c6 = 0 opens a group. An entry is one change to one row of t1..t4:
//       c1 first key (object or tag uuid), c2 second key (version hash or
//       item uuid), c3 the row's c3 (t1, t3, t4; 0 for t2), c4 and c5 the
//       row's enciphered c4 and c5 (t1 only), c6 1 inserted or 2 deleted,
//       c7 the table (1..4).
//
// Source store (file "sources" beside "data", storage/source_store.h), keyed
// with the repository key:
//   t0  key check, as in the repository database.
//   t1  kept sources: c1 item uuid (primary key), c2 the source component
//       text, c3 the full recurrence rule text (empty when the item's own
//       recurrence says it), c4 the member's href on the account server, c5
//       its etag, c6 the collection's tag uuid (16 bytes, NULL when none),
//       c7 the item's version hash when it last matched the server (NULL
//       when never synced).
//   t2  account collections: c1 tag uuid (primary key), c2 href, c3 display
//       name, c4 colour, c5 kind, c6 sync token, c7 ctag.
//   t3  records an account sync keeps once the repository committed what
//       they describe: the columns of t1, and c8 1 when the record goes
//       instead; empty between syncs.
//
// Snapshot database (synchronisation, sync/sync.h):
//   s1  object versions, the columns of t1.
//   s2  tag links, the columns of t2.
//   s3  version change log, the columns of t3.
//   s4  link change log, the columns of t4.
#pragma once

namespace schema {

inline constexpr char kConfig[] =
    "CREATE TABLE t0(c1, c2);CREATE TABLE t1(c1 INT, c2);CREATE TABLE t2(c1);CREATE TABLE t3(c PRIMARY KEY, v);";
inline constexpr char kRepo[] =
    "CREATE TABLE t0(c1, c2);CREATE TABLE t1(c1, c2, c3 INT, c4, c5, PRIMARY KEY(c1, c2, c3));CREATE TABLE t2(c1, c2, "
    "PRIMARY KEY(c1, c2));CREATE TABLE t3(c1, c2, c3 INT, PRIMARY KEY(c1, c2, c3));CREATE TABLE t4(c1, c2, c3 INT, "
    "PRIMARY KEY(c1, c2, c3));CREATE TABLE t5(c1, c2, c3 INT, c4, c5, c6 INT, c7 INT);CREATE INDEX t2_i ON t2(c2);";
inline constexpr char kSources[] =
    "CREATE TABLE t0(c1, c2);CREATE TABLE t1(c1 PRIMARY KEY, c2, c3, c4, c5, c6, c7);CREATE TABLE t2(c1 PRIMARY KEY, "
    "c2, c3, c4, c5, c6, c7);";
inline constexpr char kSourcesPending[] = "CREATE TABLE IF NOT EXISTS t3(c1 PRIMARY KEY, c2, c3, c4, c5, c6, c7, c8 INT);";
inline constexpr char kSnapshot[] =
    "CREATE TABLE s1(c1, c2, c3 INT, c4, c5);CREATE TABLE s2(c1, c2);CREATE TABLE s3(c1, c2, c3 INT);CREATE TABLE "
    "s4(c1, c2, c3 INT);";

}  // namespace schema
