// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of calendar and contacts accounts: the accounts dialog
// (list, add, synchronise, remove), the add flow (server, user and password;
// discovery on a worker behind the progress dialog; an explicit trust of a
// certificate that does not verify, by its fingerprint; the choice of
// collections), and the sync of an account under the sync dialog.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/string_ids.h"

struct DavCollection;
struct DavSyncSummary;

// Runs the accounts dialog. True when an account or a repository was added,
// removed or synchronised (the caller remounts).
bool dav_accounts_dialog();

// The add flow on its own: 0 with the new repository's table index in
// *repo_index, 1 when the user cancelled, -1 when the account could not be
// made (the user was told).
int dav_add_account(int* repo_index);

// One sync of the account bound to repository table entry `repo`, under the
// sync dialog. A quiet sync (the timer's) closes its dialog by itself also
// after a failure, and never asks anything. The driver's result; the counts
// go to *summary when given.
int dav_sync_dialog(int repo, bool quiet, DavSyncSummary* summary = nullptr);

// --- Decisions and texts of the dialogs (tested on their own) -------------

// What the add flow does after a discovery ended with `rc`.
enum DavAddNext {
  DAV_NEXT_CHOOSE,        // collections found: let the user choose
  DAV_NEXT_NOTHING_FOUND,  // the service answered but holds no collection
  DAV_NEXT_ASK_TRUST,     // a certificate that did not verify, fingerprint known
  DAV_NEXT_FORM,          // back to the form without a word (cancelled)
  DAV_NEXT_ERROR,         // back to the form after the error's message
};
DavAddNext dav_add_next(int rc, const std::string& fingerprint, size_t collections);

// The "Contents" text of a collection: events, tasks, both, or contacts.
StrId dav_collection_label(const DavCollection& col);

// The summary of a finished sync: the counts, then the conflicting items'
// names (at most `max_names`, then "…").
std::string dav_summary_text(const DavSyncSummary& s, size_t max_names = 10);

// Why a sync failed: the sync's own message, else the words for a driver
// result (the server's copy kept moving, a cancel, a local failure).
std::string dav_failure_text(const DavSyncSummary& s, int result);

// "YYYY-MM-DD HH:MM" in local time, or the word for never.
std::string dav_last_sync_text(int64_t when);

// The timer's choices in minutes, 0 for never, in the order of
// STR_DAV_SYNC_EVERY_LIST; the index of a stored value (the default, 15
// minutes, for a value not in the list).
extern const int kDavSyncMinutes[6];
int dav_sync_minutes_index(int minutes);
