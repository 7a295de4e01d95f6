// SPDX-License-Identifier: GPL-3.0-or-later
// The one synchronisation driver: the window, the tool, tests and benchmarks
// all sync through it.
//
// Every kind of sync goes through the same steps:
//   fetch    what the server holds (network: a worker in the window);
//   resolve  the conflicts, each put to the caller's resolver (the main
//            thread in the window, a preference or a listing in the tool);
//   send     the merge and the local changes (network: a worker again);
// and ends with a summary of counts. A send that the server refuses because
// its copy moved since the fetch ("remote data changed") goes back to fetch,
// kSyncAttempts times in all. A kind fills the stage functions in its begin
// function; repositories on the account server are the first kind.
#pragma once

#include <atomic>
#include <functional>

#include "sync/sync.h"

enum SyncStep { SYNC_STEP_FETCH, SYNC_STEP_RESOLVE, SYNC_STEP_SEND, SYNC_STEP_DONE };

constexpr int kSyncAttempts = 3;

// A resolver's answer beside SYNC_TAKE_SERVER and SYNC_KEEP_LOCAL (a
// negative answer cancels): decide nothing now. The other conflicts are
// still put to the resolver, then the sync ends with SYNC_CONFLICTS_OPEN
// before anything is changed.
enum { SYNC_LEAVE_OPEN = 3 };

// Results of a whole sync beside 0, the status bytes of the fetch
// (SYNC_STATUS_*) and failures (-1, engine codes).
enum {
  SYNC_REMOTE_CHANGED = 1,   // every attempt was refused: the server's copy kept moving
  SYNC_CONFLICTS_OPEN = -2,  // the resolver left conflicts open
};

struct SyncSummary {
  int result = 0;
  SyncStep failed_step = SYNC_STEP_DONE;  // where a non-zero result came from
  int attempts = 0;                       // fetches run
  int fetched = 0;                        // versions new on the server
  int sent = 0;                           // versions uploaded
  int asked = 0;                          // conflicts put to the resolver
  int settled = 0;                        // conflicts settled without asking
  int left_open = 0;                      // conflicts answered SYNC_LEAVE_OPEN
};

struct SyncDriver {
  SyncDriver() = default;
  SyncDriver(const SyncDriver&) = delete;
  SyncDriver& operator=(const SyncDriver&) = delete;

  SyncStep step = SYNC_STEP_FETCH;
  SyncSummary summary;
  std::atomic<bool> cancelled{false};

  // The kind's stages: 0 to go on, else the sync ends with that result;
  // send returns SYNC_REMOTE_CHANGED when the server refused a stale state.
  std::function<int(SyncSummary*)> fetch;
  std::function<int(const SyncResolver&, SyncSummary*)> resolve;
  std::function<int(SyncSummary*)> send;
  // Interrupts the kind's running stage where it can (any thread).
  std::function<void()> interrupt;
  // Frees what one attempt built up.
  std::function<void()> release;
};

// Sets d up for one sync of the repository session s, which outlives d.
void sync_begin(SyncDriver* d, SyncSession* s);

// True for the steps that talk to the server.
bool sync_step_blocks(SyncStep step);

// Runs d->step and moves on; returns the step that comes next. At
// SYNC_STEP_DONE the outcome is in d->summary. resolve is used by the
// resolve step only (a missing resolver cancels at the first conflict).
SyncStep sync_step(SyncDriver* d, const SyncResolver& resolve);

// Asks the sync to stop, from any thread: the running stage is interrupted
// where it can be, and the next step ends the sync with -1.
void sync_cancel(SyncDriver* d);

// Every step in a row on this thread; the result.
int sync_drive(SyncDriver* d, const SyncResolver& resolve);

// sync_drive for repository table entry `index`, logged in as its owner;
// the summary goes to *summary when given. The caller remounts afterwards.
int sync_repository(int index, const SyncResolver& resolve, SyncSummary* summary = nullptr);
