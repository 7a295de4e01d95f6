// SPDX-License-Identifier: GPL-3.0-or-later
// The journal as the window sees it: whether a repository can undo or redo,
// the notification after every commit, undo and redo by repository index,
// and whether an item has stored earlier versions. The window reaches the
// journal and the databases only through here.
#pragma once

#include <cstdint>

#include "model/model.h"

// Bit 1: undo possible, bit 2: redo possible; 0 for a repository that is
// not mounted.
int repo_undo_state(int repo);

// Installs fn (RepoUndoFn of model.h) as model().undo_changed, called after
// a commit, an undo and a redo on a mounted repository; nullptr removes it.
void repo_undo_notify(RepoUndoFn fn);

// True when the item's repository holds an earlier version of it.
bool item_has_history(int64_t slot);
