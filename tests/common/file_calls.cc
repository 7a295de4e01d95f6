// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/file_calls.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sqlite3.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

namespace file_calls {
namespace {

// Never destroyed: streams may still be closed by other objects' destructors
// at exit.
struct State {
  std::string dir;  // absolute, with a trailing '/'
  std::vector<Event> events;
  std::map<FILE*, std::string> streams;
  long count = 0;
  long fail_at = 0;
  int err = 0;
  bool persistent = false;
  bool injected = false;
  std::string only;
};
std::mutex g_mu;
std::atomic<bool> g_on{false};
State& st() {
  static State* s = new State;
  return *s;
}

std::string absolute(const std::string& p) {
  char buf[PATH_MAX];
  if (::realpath(p.c_str(), buf)) return buf;
  // A file that does not exist yet: its directory resolved.
  size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  if (::realpath(dir.c_str(), buf)) return std::string(buf) + "/" + name;
  return p;
}

std::string fd_path(int fd) {
  char link[64], buf[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = ::readlink(link, buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, size_t(n));
}

bool under(const std::string& path) {
  return !st().dir.empty() && (path + "/").compare(0, st().dir.size(), st().dir) == 0;
}

// Records the call when it touches the watched directory; false when it is
// to fail (errno set).
bool pass(const char* call, const std::string& path, const std::string& to = std::string(), bool counted = true) {
  if (!g_on.load(std::memory_order_relaxed)) return true;
  std::lock_guard<std::mutex> g(g_mu);
  if (!under(path) && !under(to)) return true;
  st().events.push_back(Event{call, path, to});
  if (!counted || (!st().only.empty() && st().only != call)) return true;
  st().count++;
  if (st().fail_at > 0 && (st().count == st().fail_at || (st().persistent && st().count > st().fail_at))) {
    st().injected = true;
    st().events.back().call += "!failed";
    errno = st().err;
    return false;
  }
  return true;
}

bool watched(const std::string& path) {
  std::lock_guard<std::mutex> g(g_mu);
  return g_on && under(path);
}

template <class F>
F real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The engine's replaceable system calls.
sqlite3_syscall_ptr g_open, g_write, g_pwrite, g_pwrite64, g_ftruncate;

int hook_open(const char* path, int flags, int mode) {
  if ((flags & (O_CREAT | O_WRONLY | O_RDWR)) && g_on.load(std::memory_order_relaxed) && !pass("open", absolute(path)))
    return -1;
  return reinterpret_cast<int (*)(const char*, int, int)>(g_open)(path, flags, mode);
}
ssize_t hook_write(int fd, const void* buf, size_t n) {
  if (g_on.load(std::memory_order_relaxed) && !pass("write", fd_path(fd))) return -1;
  return reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(g_write)(fd, buf, n);
}
ssize_t hook_pwrite(int fd, const void* buf, size_t n, off_t off) {
  if (g_on.load(std::memory_order_relaxed) && !pass("write", fd_path(fd))) return -1;
  return reinterpret_cast<ssize_t (*)(int, const void*, size_t, off_t)>(g_pwrite)(fd, buf, n, off);
}
ssize_t hook_pwrite64(int fd, const void* buf, size_t n, off_t off) {
  if (g_on.load(std::memory_order_relaxed) && !pass("write", fd_path(fd))) return -1;
  return reinterpret_cast<ssize_t (*)(int, const void*, size_t, off_t)>(g_pwrite64)(fd, buf, n, off);
}
int hook_ftruncate(int fd, off_t len) {
  if (g_on.load(std::memory_order_relaxed) && !pass("truncate", fd_path(fd))) return -1;
  return reinterpret_cast<int (*)(int, off_t)>(g_ftruncate)(fd, len);
}

}  // namespace

void install_engine_hooks() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_vfs* unix_vfs = sqlite3_vfs_find("unix");
    if (!unix_vfs || unix_vfs->iVersion < 3) return;
    auto hook = [&](const char* name, sqlite3_syscall_ptr* keep, sqlite3_syscall_ptr with) {
      sqlite3_syscall_ptr was = unix_vfs->xGetSystemCall(unix_vfs, name);
      if (!was) return;
      *keep = was;
      unix_vfs->xSetSystemCall(unix_vfs, name, with);
    };
    hook("open", &g_open, reinterpret_cast<sqlite3_syscall_ptr>(hook_open));
    hook("write", &g_write, reinterpret_cast<sqlite3_syscall_ptr>(hook_write));
    hook("pwrite", &g_pwrite, reinterpret_cast<sqlite3_syscall_ptr>(hook_pwrite));
    hook("pwrite64", &g_pwrite64, reinterpret_cast<sqlite3_syscall_ptr>(hook_pwrite64));
    hook("ftruncate", &g_ftruncate, reinterpret_cast<sqlite3_syscall_ptr>(hook_ftruncate));
  });
}

void watch(const std::string& dir) {
  install_engine_hooks();
  std::lock_guard<std::mutex> g(g_mu);
  st().dir = absolute(dir);
  if (st().dir.empty() || st().dir.back() != '/') st().dir += '/';
  st().events.clear();
  st().count = 0;
  st().fail_at = 0;
  st().injected = false;
  st().only.clear();
  g_on = true;
}

std::vector<Event> stop() {
  std::lock_guard<std::mutex> g(g_mu);
  g_on = false;
  st().fail_at = 0;
  st().dir.clear();
  return st().events;
}

std::vector<Event> events() {
  std::lock_guard<std::mutex> g(g_mu);
  return st().events;
}

void fail_at(long n, int err, bool persistent, const std::string& only) {
  std::lock_guard<std::mutex> g(g_mu);
  st().only = only;
  st().count = 0;
  st().fail_at = n;
  st().err = err;
  st().persistent = persistent;
  st().injected = false;
}

long counted() {
  std::lock_guard<std::mutex> g(g_mu);
  return st().count;
}

bool injected() {
  std::lock_guard<std::mutex> g(g_mu);
  return st().injected;
}

long find(const std::vector<Event>& ev, const std::string& call, const std::string& path_suffix, long from) {
  for (size_t i = size_t(from < 0 ? 0 : from); i < ev.size(); i++) {
    const std::string& p = ev[i].path;
    if (ev[i].call == call && p.size() >= path_suffix.size() &&
        p.compare(p.size() - path_suffix.size(), path_suffix.size(), path_suffix) == 0)
      return long(i);
  }
  return -1;
}

std::string describe(const std::vector<Event>& ev) {
  std::string out;
  for (const Event& e : ev) out += e.call + " " + e.path + (e.to.empty() ? "" : " -> " + e.to) + "\n";
  return out;
}

std::string replace_fault(const std::vector<Event>& ev, const std::string& target, const std::string& dir,
                          std::string* source) {
  long rename_at = -1;
  for (size_t i = 0; i < ev.size(); i++)
    if (ev[i].call == "rename" && ev[i].to == target) rename_at = long(i);
  if (rename_at < 0) return "no rename onto " + target + "\n" + describe(ev);
  const std::string& from = ev[size_t(rename_at)].path;
  if (source) *source = from;
  long synced = -1;
  for (long i = 0; i < rename_at; i++)
    if (ev[size_t(i)].call == "fsync" && ev[size_t(i)].path == from) synced = i;
  if (synced < 0) return from + " not synced before its rename\n" + describe(ev);
  for (long i = synced + 1; i < rename_at; i++)
    if (ev[size_t(i)].call == "write" && ev[size_t(i)].path == from)
      return from + " written after its sync\n" + describe(ev);
  for (size_t i = size_t(rename_at) + 1; i < ev.size(); i++)
    if (ev[i].call == "fsync" && ev[i].path == dir) return std::string();
  return dir + " not synced after the rename\n" + describe(ev);
}

}  // namespace file_calls

// The interposed C library calls: the program's own definitions take the
// place of the C library's for the code under test and for the engine.
using file_calls::pass;

extern "C" {

// Syncs of watched files are recorded, not made: the tests look at their
// order, and thousands of real ones would only make the run slow.
int fsync(int fd) {
  static auto next = file_calls::real<int (*)(int)>("fsync");
  if (!file_calls::g_on.load(std::memory_order_relaxed)) return next(fd);
  std::string path = file_calls::fd_path(fd);
  if (!pass("fsync", path)) return -1;
  return file_calls::watched(path) ? 0 : next(fd);
}

int fdatasync(int fd) {
  static auto next = file_calls::real<int (*)(int)>("fdatasync");
  if (!file_calls::g_on.load(std::memory_order_relaxed)) return next(fd);
  std::string path = file_calls::fd_path(fd);
  if (!pass("fsync", path)) return -1;
  return file_calls::watched(path) ? 0 : next(fd);
}

int rename(const char* from, const char* to) noexcept {
  static auto next = file_calls::real<int (*)(const char*, const char*)>("rename");
  if (!pass("rename", file_calls::absolute(from), file_calls::absolute(to))) return -1;
  return next(from, to);
}

int link(const char* from, const char* to) noexcept {
  static auto next = file_calls::real<int (*)(const char*, const char*)>("link");
  if (!pass("link", file_calls::absolute(from), file_calls::absolute(to))) return -1;
  return next(from, to);
}

FILE* fopen(const char* path, const char* mode) {
  static auto next = file_calls::real<FILE* (*)(const char*, const char*)>("fopen");
  bool writes = mode && (mode[0] == 'w' || mode[0] == 'a' || mode[1] == '+' || (mode[1] && mode[2] == '+'));
  std::string abs;
  if (file_calls::g_on.load(std::memory_order_relaxed) && path) abs = file_calls::absolute(path);
  if (writes && !abs.empty() && !pass("open", abs)) return nullptr;
  FILE* f = next(path, mode);
  if (f && !abs.empty() && writes) {
    std::lock_guard<std::mutex> g(file_calls::g_mu);
    file_calls::st().streams[f] = abs;
  }
  return f;
}

size_t fwrite(const void* p, size_t size, size_t n, FILE* f) {
  static auto next = file_calls::real<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
  if (file_calls::g_on.load(std::memory_order_relaxed)) {
    std::string path;
    {
      std::lock_guard<std::mutex> g(file_calls::g_mu);
      auto it = file_calls::st().streams.find(f);
      if (it != file_calls::st().streams.end()) path = it->second;
    }
    if (!path.empty() && !pass("write", path)) return 0;
  }
  return next(p, size, n, f);
}

int fflush(FILE* f) {
  static auto next = file_calls::real<int (*)(FILE*)>("fflush");
  if (f && file_calls::g_on.load(std::memory_order_relaxed)) {
    std::string path;
    {
      std::lock_guard<std::mutex> g(file_calls::g_mu);
      auto it = file_calls::st().streams.find(f);
      if (it != file_calls::st().streams.end()) path = it->second;
    }
    if (!path.empty() && !pass("flush", path)) return EOF;
  }
  return next(f);
}

int fclose(FILE* f) {
  static auto next = file_calls::real<int (*)(FILE*)>("fclose");
  {
    std::lock_guard<std::mutex> g(file_calls::g_mu);
    file_calls::st().streams.erase(f);
  }
  return next(f);
}

}  // extern "C"
