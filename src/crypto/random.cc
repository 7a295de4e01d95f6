// SPDX-License-Identifier: GPL-3.0-or-later
// The operating system's random source, opened once for the whole process.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "crypto/crypto.h"
#include "support/log.h"

namespace {

int open_random_source() {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) fd = open("/dev/random", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    log_message(LOG_ERROR, "random_bytes: open: %d", errno);
    return -1;
  }
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

}  // namespace

int random_bytes(void* buf, size_t len) {
  // Opened on first use; a failed open is remembered and not retried.
  static const int fd = open_random_source();
  if (fd < 0 || (!buf && len)) return -1;
  auto* p = static_cast<uint8_t*>(buf);
  int failures = 0;
  while (len) {
    ssize_t n = read(fd, p, len);
    if (n > 0) {
      p += n;
      len -= size_t(n);
      failures = 0;
    } else if (++failures >= 17) {
      log_message(LOG_ERROR, "random_bytes: read: %d", n < 0 ? errno : 0);
      return -1;
    }
  }
  return 0;
}

int random_uuid(uint8_t uuid[16]) { return random_bytes(uuid, 16); }
