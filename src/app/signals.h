// SPDX-License-Identifier: GPL-3.0-or-later
// Signals of the program: every signal is blocked in every thread (workers
// unblock SIGALRM themselves), and SIGTERM, SIGINT and SIGHUP are read from a
// signalfd on the main loop so that a logout or `kill` ends the program
// through its normal quit path instead of being ignored.
#pragma once

#include <glib.h>

// Blocks every signal in the calling thread; later threads inherit the mask.
void signals_block_all();

// Watches SIGTERM, SIGINT and SIGHUP on the main loop (they must be blocked)
// and calls on_quit(data, signal number) for each one received. Returns the
// source id, or 0 when no signalfd could be made.
guint signals_watch_quit(void (*on_quit)(void* data, int signo), void* data);
// Removes the watch and closes its descriptor.
void signals_unwatch(guint source);
