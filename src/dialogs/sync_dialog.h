// SPDX-License-Identifier: GPL-3.0-or-later
// The synchronisation dialog: the sync driver's network steps on a worker,
// the conflicts in between on the main thread, progress and the outcome in
// one window.
#pragma once

#include <functional>

struct SyncSession;
struct SyncConflict;

// Runs one sync of the session's repository under the dialog (headline: the
// server identifier). Returns the driver's result: 0 on success, 1 when the
// server's copy kept changing through every attempt, else a failure. The
// caller remounts afterwards.
int sync_dialog(SyncSession* session, const char* headline);

// sync_dialog for repository table entry `index`, logged in as its owner;
// -1 without running when it is not linked to the server or has no login.
int sync_repo_dialog(int index);

// Who answers the conflicts (the conflict dialog unless replaced, for tests
// that drive stage 2 without a window on top).
using ConflictChooser = std::function<int(const SyncConflict&)>;
void sync_dialog_set_chooser(ConflictChooser chooser);
