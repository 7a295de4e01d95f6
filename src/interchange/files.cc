// SPDX-License-Identifier: GPL-3.0-or-later
// File helpers shared by the imports and exports.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <cstdio>
#include <memory>

#include "interchange/interchange.h"
#include "model/app_core.h"
#include "model/model.h"
#include "model/tag.h"
#include "support/files.h"
#include "storage/repo.h"
#include "support/log.h"

int64_t repo_root_tag(int repo) {
  RepoRef ref;
  if (repo_ref(repo, &ref) != 0) return -1;
  int64_t cursor = 0;  // slot 0 is the zero root entry
  while (Tag* tag = slot_next<Tag>(model().tags, &cursor))
    if (tag->repo == repo && uuid_is_zero(tag->parent)) return cursor;
  return -1;
}

int read_file_all(const char* path, std::string* text) {
  text->clear();
  if (!path) return -1;
  OwnedFile f(std::fopen(path, "rb"));
  if (!f) return -1;
  struct stat st;
  if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  if (st.st_size == 0) return 0;
  text->resize(static_cast<size_t>(st.st_size));
  size_t got = std::fread(text->data(), 1, text->size(), f.get());
  if (got != text->size()) {
    log_message(LOG_WARNING, "read_file_all: short read (%zu of %zu)", got, text->size());
    text->clear();
    return -1;
  }
  return 0;
}

// Exports may hold every password in clear: the file is made 0600 (the user
// can widen it) as a temporary beside the target, synced and renamed over
// it, so that an interrupted export never leaves half a file in place of
// the old one.
int write_file_all(const char* path, const std::string& bytes) {
  if (!path || !*path) return -1;
  std::string target = path;
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  std::string temp = target + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    log_message(LOG_WARNING, "write_file_all: cannot create a file (%d)", errno);
    return -1;
  }
  ::fchmod(fd, 0600);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size() && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) {
    log_message(LOG_WARNING, "write_file_all: cannot write the file (%d)", errno);
    std::remove(temp.c_str());
    return -1;
  }
  // Until the folder is synced the new name may not survive a power loss:
  // the caller must not report the file as saved.
  if (dir_sync(dir) != 0) {
    log_message(LOG_WARNING, "write_file_all: cannot sync the folder (%d)", errno);
    return -1;
  }
  return 0;
}

int export_target_check(const std::string& path, bool dir) {
  std::string folder = dir ? path : path_parent(path);
  struct stat target {};
  if (path.empty() || ::stat(folder.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) return EXPORT_TARGET_NO_FOLDER;
  auto same = [&](const std::string& p) {
    struct stat st {};
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino;
  };
  if (same(app_core().config_dir)) return EXPORT_TARGET_PROFILE;
  for (const RepoEntry& e : repo_table())
    if (same(e.path)) return EXPORT_TARGET_REPOSITORY;
  return EXPORT_TARGET_OK;
}
