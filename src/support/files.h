// SPDX-License-Identifier: GPL-3.0-or-later
// Small file and path helpers used by every layer: an owning FILE handle,
// joining a folder and a name, existence tests and syncing a folder.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
// Closed on every path; use file_close where the close result matters.
using OwnedFile = std::unique_ptr<FILE, FileCloser>;

// Closes the file now: 0, or -1 when buffered data could not be written
// (or there was no file).
int file_close(OwnedFile* f);

// dir/name, with exactly one "/" between; name alone when dir is empty.
std::string path_join(const std::string& dir, const std::string& name);
// The folder part of a path: "." without a "/", "/" for a top-level entry.
std::string path_parent(const std::string& path);

// Anything at the path (file, folder, other).
bool path_exists(const std::string& path);
// A regular file at the path.
bool file_exists(const std::string& path);
// A folder at the path.
bool dir_exists(const std::string& path);

// Makes a rename or a removal in the folder durable (fsync of the folder).
// 0, or -1 when it cannot be opened or synced.
int dir_sync(const std::string& dir);

// Makes a file written elsewhere (perhaps by a process that died before its
// own sync) durable before it is renamed into place. 0, or -1.
int file_sync(const std::string& path);
