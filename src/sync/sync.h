// SPDX-License-Identifier: GPL-3.0-or-later
// Synchronisation of one repository with its server copy, in three stages:
//   1. recv_repo_list (worker): the server's listing into "list", the
//      differences against "data", the changed server versions into "sync_1";
//   2. conflict stage (main thread): begin, then next/decide per conflict
//      (versions that differ only in their modification time are settled
//      in favour of the server without asking), end;
//   3. send_sync_objs (worker): apply everything to "data" in one
//      transaction (the undo journal is emptied), upload the local changes
//      as "sync_2" and empty the change logs once the server accepted them.
// All files live in the repository's directory. Callers run the stages
// through the sync driver (sync_driver.h), which adds the retry after a
// stale upload.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "storage/sync_decision.h"
#include "support/record_set.h"
#include "sync/requests.h"

struct RepoEntry;
struct Account;

// One conflict to put before the user: both current versions, deciphered.
struct SyncConflict {
  uint8_t uuid[16] = {};
  bool remote_exists = false;
  bool local_exists = false;
  bool remote_has_body = false;  // an item (a tag has no body)
  bool local_has_body = false;
  std::string remote_header, remote_body;
  std::string local_header, local_body;
};

struct SyncSession {
  SyncSession();
  ~SyncSession();
  SyncSession(const SyncSession&) = delete;
  SyncSession& operator=(const SyncSession&) = delete;

  // Set up by the caller (or sync_session_setup).
  std::string dir;        // repository directory
  uint8_t key[32] = {};   // repository key
  std::string server_id;  // identifier of the server repository
  ServerLogin login;
  std::atomic<bool> cancel{false};  // checked before "sync_1" is received

  // Stage 1 results, kept until sync_free.
  bool have_sets = false;
  RecordSet s3, s2, conflicts;
  // The versions the server marks current (c3 = 0 in its listing; empty
  // when a server leaves that column unset).
  RecordSet current;

  // Stage 2.
  RecordSet decisions;
  // The repository database with "sync_1" attached and the statements that
  // read both sides of a conflict; kept in sync.cc, so that includers (the
  // sync dialog) see no SQLite.
  struct Stage2;
  std::unique_ptr<Stage2> stage2;
  SyncDecision pending{};
  bool asking = false;

  // Counts of the last run of each stage.
  int fetched = 0;  // versions new on the server, found in stage 1
  int settled = 0;  // conflicts stage 2 settled without asking
  int sent = 0;     // versions uploaded in stage 3
};

// Fills a session for repository entry `e`, logged in as its owner.
int sync_session_setup(SyncSession* s, const RepoEntry& e, const Account& signed_in);

// Stage 1: 0, a server status byte, or -1. On 0 the sets are ready
// (s->have_sets).
int recv_repo_list(SyncSession* s);

// Stage 2. begin: 0 or -1. next: 0 when every conflict is settled, 1 when
// *out must be put before the user (answer with decide), -1 on failure.
// decide: answer 1 or 2, a negative answer cancels the sync (returns -1).
int sync_conflicts_begin(SyncSession* s);
int sync_conflicts_next(SyncSession* s, SyncConflict* out);
int sync_conflicts_decide(SyncSession* s, int answer);
void sync_conflicts_end(SyncSession* s);

// Stage 3: 0 success, 1 the server's data changed meanwhile (sync again),
// -1 or an engine code on failure.
int send_sync_objs(SyncSession* s);

// Status bytes of "get list" (stage 1 results above 0).
enum {
  SYNC_STATUS_NOT_FOUND = 1,    // no such repository of this account on the server
  SYNC_STATUS_KEY_CHANGED = 4,  // the key check differs: the password changed here
  SYNC_STATUS_FAILED = 255,
};

// What to tell the user about a failed stage 1 (recv_repo_list), in the
// current language: for a connection failure the sync failure message with
// the connection's code, for a refusal the server's reason. Empty for 0.
std::string sync_list_status_text(int rc);

// Frees the sets of stages 1 and 2.
void sync_free(SyncSession* s);

// True when two deciphered versions differ at most in the modification
// time: the ninth ":"-separated token of an item header, the second of a
// tag string, at the same offset, everything else byte for byte, bodies
// equal (or both absent).
bool sync_versions_equal(const std::string& h1, const std::string* b1, const std::string& h2,
                         const std::string* b2);

// Answers a conflict: SYNC_TAKE_SERVER, SYNC_KEEP_LOCAL, or negative to
// cancel (the driver knows one more, sync_driver.h).
using SyncResolver = std::function<int(const SyncConflict&)>;
