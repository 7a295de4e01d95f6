// SPDX-License-Identifier: GPL-3.0-or-later
// The repository manager: the table of repositories with their enabled and
// hidden flags, new repository, import of a repository file, the account's
// server repositories, and per repository show / change password, put on
// server and delete (context menu of a row, attached to the list).
#pragma once

// Runs the manager (behind the master password when "lock_db_manager" is
// set). The caller compares repo_enabled_list before and after.
void repo_manager();
