// SPDX-License-Identifier: GPL-3.0-or-later
// Single instance per profile: a file lock decides, a Unix socket carries the
// request to come forward.
#include "app/instance.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/log.h"

namespace {

const char kRaise[] = "raise\n";

int make_dir(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  return 0;
}

bool fill_address(const std::string& path, sockaddr_un* addr) {
  memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  memcpy(addr->sun_path, path.c_str(), path.size());
  return true;
}

gboolean on_instance_request(gint fd, GIOCondition, gpointer user) {
  auto* lock = static_cast<InstanceLock*>(user);
  int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (c < 0) return G_SOURCE_CONTINUE;
  // A caller that connects and sends nothing must not hang the window.
  char buf[16] = {};
  pollfd p{c, POLLIN, 0};
  ssize_t n = poll(&p, 1, 500) == 1 ? read(c, buf, sizeof buf - 1) : -1;
  if (n == static_cast<ssize_t>(strlen(kRaise)) && memcmp(buf, kRaise, n) == 0) {
    log_message(LOG_INFO, "on_instance_request: raise");
    if (lock->on_raise) lock->on_raise(lock->data);
    (void)!write(c, "ok\n", 3);
  }
  close(c);
  return G_SOURCE_CONTINUE;
}

int ask_owner(const std::string& path) {
  sockaddr_un addr;
  if (!fill_address(path, &addr)) return INSTANCE_UNREACHABLE;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return INSTANCE_UNREACHABLE;
  int result = INSTANCE_UNREACHABLE;
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      write(s, kRaise, strlen(kRaise)) == static_cast<ssize_t>(strlen(kRaise))) {
    // Wait briefly for the answer so the request is handled before we end;
    // an owner busy elsewhere still reads it later.
    char buf[4];
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, 3000) == 1) (void)!read(s, buf, sizeof buf);
    result = INSTANCE_RAISED;
  }
  close(s);
  return result;
}

int listen_on(const std::string& path) {
  sockaddr_un addr;
  if (!fill_address(path, &addr)) return -1;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  // We hold the lock, so a socket file left here belongs to a run that ended.
  unlink(path.c_str());
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 4) != 0) {
    close(s);
    return -1;
  }
  return s;
}

}  // namespace

int instance_claim(const std::string& dir, InstanceLock* lock, void (*on_raise)(void*), void* data) {
  std::string parent = dir.substr(0, dir.rfind('/'));
  if (make_dir(parent) != 0 || make_dir(dir) != 0) {
    log_message(LOG_ERROR, "instance_claim: %s", dir.c_str());
    return INSTANCE_ERROR;
  }
  lock->socket_path = dir + "/ordika.sock";
  lock->on_raise = on_raise;
  lock->data = data;
  int fd = open((dir + "/ordika.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return INSTANCE_ERROR;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return errno == EWOULDBLOCK ? ask_owner(lock->socket_path) : INSTANCE_ERROR;
  }
  lock->lock_fd = fd;
  lock->listen_fd = listen_on(lock->socket_path);
  if (lock->listen_fd < 0) {
    // Still the only one; a second start just cannot reach this window.
    log_message(LOG_WARNING, "instance_claim: no socket %s", strerror(errno));
  } else {
    lock->source = g_unix_fd_add(lock->listen_fd, G_IO_IN, on_instance_request, lock);
  }
  return INSTANCE_OWNER;
}

void instance_release(InstanceLock* lock) {
  if (lock->source) g_source_remove(lock->source);
  lock->source = 0;
  if (lock->listen_fd >= 0) {
    close(lock->listen_fd);
    unlink(lock->socket_path.c_str());
  }
  lock->listen_fd = -1;
  if (lock->lock_fd >= 0) close(lock->lock_fd);
  lock->lock_fd = -1;
}
