// SPDX-License-Identifier: GPL-3.0-or-later
// Mounting: opening the enabled repositories and filling the item model from
// them, creating a new repository's database with its tags, and closing
// everything at shutdown. The repository table itself is storage/repo.h.
#pragma once

// Installs the model's repository lookup and the database-creation hook of
// the repository layer. Idempotent; every entry point below calls it.
void mount_init();

// Creates the database of table entry `index`: root tag "/" and, when it is
// the only repository, the four default tags; the journal is reset and the
// database closed. 0, or a failure (the half-made file removed).
int repo_db_create(int index);

// Opens every enabled repository and rebuilds items, tags, links and the
// reminder list. A repository that cannot be opened, fails its key check or
// holds a duplicate tag uuid is left unmounted for this pass (its stored
// settings stay as they are) and last_error is set; the others mount.
// Returns the number of enabled repositories that did not mount.
int repo_mount_all();

// repo_mount_all keeping the selected tag and item (by uuid) where they still
// exist; the item clipboard is emptied.
void repo_remount();

// Undoes (redo 0) or redoes one journal step of mounted repository `index`,
// then remounts so that the model shows the result (selection kept by uuid).
// 0; 1 when there is nothing to undo or redo; -1 when the repository is not
// mounted; or the journal's status (nothing remounted).
int repo_journal_step(int index, int redo);

// Shutdown: resets the journals of the mounted local repositories, closes
// every repository and frees the item model.
void clean_data();
