// SPDX-License-Identifier: GPL-3.0-or-later
// The import path shared by the import commands and files dropped on the tag
// tree, and the pieces of the file commands that tests reach directly.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "interchange/import_plan.h"

struct MainWindow;

// Imports the files as one kind into tag `tag` (a real tag): read and parsed
// behind the progress dialog, stored in slices as one undo step, one refresh
// at the end, the count in the status bar. Unreadable, empty and malformed
// files are reported by message. Returns the number imported, or -1 when
// nothing was (cancelled, nothing readable, not stored).
int import_files_into(MainWindow* w, ImportKind kind, const std::vector<std::string>& paths, int64_t tag);
// Dropped files: grouped by kind (import_kind_of), each group one import.
// The total imported, or -1 when no group imported anything.
int import_dropped_files(MainWindow* w, int64_t tag, const std::vector<std::string>& paths);
// The local files of a URI list (other schemes are left out).
std::vector<std::string> uris_to_paths(gchar** uris);
// Makes the tag tree accept files (text/uri-list) dropped on a real tag.
void file_drop_install(MainWindow* w);

// Where the user guide is looked for: the installed documentation, then the
// guide of the source tree.
std::vector<std::string> user_guide_roots();
// The first of root/<language>/index.html, root/en/index.html over the
// roots in order; "" when none exists.
std::string user_guide_find(const std::vector<std::string>& roots, const char* language);
