// SPDX-License-Identifier: GPL-3.0-or-later
// Signal blocking and the quit-signal watch.
#include "app/signals.h"

#include <glib-unix.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>

#include "support/log.h"

namespace {

struct QuitWatch {
  int fd = -1;
  void (*on_quit)(void*, int) = nullptr;
  void* data = nullptr;
};

gboolean on_signal_fd(gint fd, GIOCondition, gpointer user) {
  auto* w = static_cast<QuitWatch*>(user);
  signalfd_siginfo info;
  while (read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    log_message(LOG_NOTICE, "on_signal_fd: %u", info.ssi_signo);
    if (w->on_quit) w->on_quit(w->data, static_cast<int>(info.ssi_signo));
  }
  return G_SOURCE_CONTINUE;
}

void free_watch(gpointer user) {
  auto* w = static_cast<QuitWatch*>(user);
  if (w->fd >= 0) close(w->fd);
  delete w;
}

}  // namespace

void signals_block_all() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

guint signals_watch_quit(void (*on_quit)(void*, int), void* data) {
  sigset_t quit;
  sigemptyset(&quit);
  sigaddset(&quit, SIGTERM);
  sigaddset(&quit, SIGINT);
  sigaddset(&quit, SIGHUP);
  int fd = signalfd(-1, &quit, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd < 0) {
    log_message(LOG_ERROR, "signals_watch_quit: signalfd %s", strerror(errno));
    return 0;
  }
  auto* w = new QuitWatch{fd, on_quit, data};
  return g_unix_fd_add_full(G_PRIORITY_HIGH, fd, G_IO_IN, on_signal_fd, w, free_watch);
}

void signals_unwatch(guint source) {
  if (source) g_source_remove(source);
}
