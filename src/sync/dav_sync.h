// SPDX-License-Identifier: GPL-3.0-or-later
// Two-way synchronisation of an account repository with its calendar and
// contacts server, through the same driver as the account server's sync
// (sync/sync_driver.h), so that the progress dialog and the tool run it
// unchanged:
//   fetch    what changed on the server since the last sync (sync-collection,
//            else CTag and ETags) and the changed members' data (network);
//   resolve  pairs server changes with local ones; conflicts are settled by
//            rule (the server's version becomes current, the local one is
//            kept in the item's history; an edit beats a deletion), so the
//            resolver is only told, never asked;
//   send     applies the server's changes in one journal group and one
//            source store transaction, then pushes the local changes with
//            conditional writes (If-Match / If-None-Match: *), each member's
//            state kept as soon as the server took it (network).
// A write the server refuses because the member moved meanwhile (412) goes
// back to fetch, as a stale upload does for the account server. A failed or
// cancelled sync leaves the repository and the server as consistent as
// before: the pull is applied whole or not at all (its source records are
// written ahead of the items' commit and settled by the next sync when the
// store failed after it), and a push not confirmed is simply pushed again
// next time. A new member refused for a UID the collection holds already
// binds the item to that member, as a conflict.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sync/dav_account.h"
#include "sync/sync_driver.h"

struct DavClient;

// Failures of the sync itself beside the client's DAV_ERR_* codes.
enum {
  DAV_SYNC_LOCAL_ERROR = -100,  // the repository or its source store could not be read or written
  DAV_SYNC_NOT_READY = -101,    // no account, repository not mounted, or the password unreadable
};

struct DavSyncSummary {
  int pulled = 0;         // items created or updated here from the server
  int pushed = 0;         // members created or replaced on the server
  int deleted_here = 0;   // items deleted here because the server deleted them
  int deleted_there = 0;  // members deleted on the server
  int conflicts = 0;      // items changed on both sides (or deleted on one)
  std::vector<std::string> names;  // the conflicting items' titles
  long requests = 0;      // HTTP requests of the whole sync
  // 0, or what stopped the sync: a DAV_ERR_* or DAV_SYNC_* code.
  int error = 0;
  std::string message;  // its text in the current language; empty for 0
};

// One sync of one account repository. Set up on the main thread, driven by
// SyncDriver; it outlives the driver.
struct DavSyncSession {
  DavSyncSession();
  ~DavSyncSession();
  DavSyncSession(const DavSyncSession&) = delete;
  DavSyncSession& operator=(const DavSyncSession&) = delete;

  DavAccountRow account;
  DavSyncSummary summary;
  std::atomic<bool> cancel{false};

  // The client, its password taken from the account record; tests and
  // benchmarks may tune its limits before the first step.
  std::unique_ptr<DavClient> client;

  struct State;  // fetched changes, the plan, the local snapshot (dav_sync.cc)
  std::unique_ptr<State> state;
};

// Fills the session for repository table entry `repo` (mounted, with an
// account): the account row and a client with its credentials. 0, or the
// error (summary.message says why).
int dav_sync_setup(DavSyncSession* s, int repo);

// Sets d up to run the session's stages; s outlives d.
void dav_sync_begin(SyncDriver* d, DavSyncSession* s);

// The whole sync of repository `repo` on this thread: setup, every step,
// and on success the account's last sync time. The summary goes to *out.
// 0, or the error (also in out->error and out->message). The caller
// remounts afterwards only when it wants the selection kept; the items
// are up to date already. stall_timeout > 0 replaces the client's limit of
// seconds without a byte.
int dav_sync_repository(int repo, DavSyncSummary* out, long stall_timeout = 0);

// "INDEX pulled N, pushed N, deleted here N, deleted there N, conflicts N"
std::string dav_summary_line(int repo, const DavSyncSummary& s);
