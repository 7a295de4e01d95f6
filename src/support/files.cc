// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int file_close(OwnedFile* f) {
  if (!f || !*f) return -1;
  return std::fclose(f->release()) == 0 ? 0 : -1;
}

std::string path_join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string path_parent(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool path_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool dir_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int file_sync(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  int rc = ::fsync(fd);
  ::close(fd);
  return rc == 0 ? 0 : -1;
}

int dir_sync(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int rc = ::fsync(fd);
  ::close(fd);
  return rc == 0 ? 0 : -1;
}
