// SPDX-License-Identifier: GPL-3.0-or-later
// What the repository manager's dialogs, each in a file of its own, share
// with the manager's table.
#pragma once

#include <gtk/gtk.h>

struct RepoManager {
  GtkWidget* dialog = nullptr;
  GtkWidget* view = nullptr;
  GtkListStore* store = nullptr;
  GtkWidget* menu = nullptr;
};

// Refills the table from the repository table.
void repo_manager_fill(RepoManager* m);

// The dialogs, transient for the manager; each refills the table when it
// changed something.
void new_repository_dialog(RepoManager* m);
void import_repository_dialog(RepoManager* m);
void server_repositories_dialog(RepoManager* m);
void change_password_dialog(RepoManager* m, int index);
