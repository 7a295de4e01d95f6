// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar and contacts accounts: which repository holds which server
// account, and its password.
//
// An account is a record of configuration table t1 numbered from
// kDavRecordFirst on, enciphered under the master key like the sync account
// (so that a master password change re-enciphers it with the rest). The
// password is read from the record only when a request needs it, and the
// caller wipes it after use; nothing of it is kept in memory or logged.
//
// The repository is named by its directory, not by its configuration row:
// rows are renumbered when the master password changes, directories never.
// An account repository is a normal repository whose collections are tags;
// it holds events, tasks and contacts only (dav_refuses_kind).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/strings.h"
#include "sync/dav_discover.h"

struct DavAccount;

// Record numbers of t1 below this belong to the sync account.
constexpr int64_t kDavRecordFirst = 1000;

struct DavAccountRow {
  int64_t number = 0;       // its record number in t1 (stable)
  int repo = -1;            // index in the repository table; -1 when the repository is gone
  std::string repo_path;    // the repository's directory: the lasting link
  std::string url;          // the address as normalized when added
  std::string user;
  std::string fingerprint;  // trusted certificate SHA-256 ("AB:CD:…"); empty: normal verification
  int64_t last_sync = 0;    // seconds since the epoch of the last complete sync; 0 never
};

// Every account of the configuration database, in record order, each with
// its repository index resolved (-1 for a repository deleted since). 0, or
// -1 when the configuration database is not open or a record is unreadable
// (the readable ones are listed).
int dav_account_list(std::vector<DavAccountRow>* out);
// The account of repository table entry `repo`: 0, 1 when it is no account
// repository, -1 on failure.
int dav_account_find(int repo, DavAccountRow* out);
// Stores a new account for row.repo (its path is taken from the table) with
// the password; row->number receives its record number. -1 when a field
// holds a line break, the record would exceed its size, or the repository
// has an account already.
int dav_account_add(DavAccountRow* row, const char* password);
// Rewrites url, user, fingerprint and last sync of an existing record,
// keeping its password. 0 or -1.
int dav_account_update(const DavAccountRow& row);
// Replaces the stored password. 0 or -1.
int dav_account_set_password(int64_t number, const char* password);
// The stored password into *out (the caller wipes it). 0 or -1.
int dav_account_password(int64_t number, std::string* out);
// What dav_open needs: url, user, fingerprint and the password (the caller
// wipes out->password, or lets a DavClient take and wipe it). 0 or -1.
int dav_account_credentials(const DavAccountRow& row, DavAccount* out);
// Forgets the account: its record, and so its password. The repository and
// the server are left alone. 0 or -1.
int dav_account_remove(int64_t number);

// A collection as it became a tag of the account's repository.
struct DavBoundCollection {
  DavCollection collection;
  uint8_t tag[16] = {};
};

// Adding an account once its collections are known (dav_discover, then the
// user's choice): a new repository named dav_repository_name, one tag per
// chosen collection named after it (below the root tag, in the given
// order), the collections' state in the repository's source store, and
// the account record with the password. `url` is the normalized address.
// 0 and *repo, *bound; -1 when anything failed, and then nothing is left
// (no record, no repository).
int dav_account_create(const std::string& url, const std::string& user, const char* password,
                       const std::string& fingerprint, const std::vector<DavCollection>& chosen, int* repo,
                       std::vector<DavBoundCollection>* bound);

// "alice on dav.example.org": the name of an account's repository, from the
// user and the (normalized or typed) address's host.
std::string dav_repository_name(const std::string& user, const std::string& url);

// True when items of `type` (ItemType) cannot go into repository `repo`
// because it holds an account: notes and keys have no place on a calendar
// or contacts server. The message to show is dav_refusal_text.
bool dav_refuses_kind(int repo, int type);
// "Notes and keys cannot be put into “NAME”: …" for repository `repo`.
std::string dav_refusal_text(int repo);
// Forgets the accounts whose repository was deleted (by the repository
// manager, say), with their passwords. The number forgotten.
int dav_account_prune();
// At start-up: installs dav_refuses_kind as the model's rule for new
// items, so that stores, pastes and imports refuse them too, and prunes.
// Idempotent.
void dav_account_init();
