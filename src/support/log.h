// SPDX-License-Identifier: GPL-3.0-or-later
// Leveled log lines, written to "ordika.log" by a writer thread.
#pragma once

#include <cstddef>

enum LogLevel {
  LOG_MARK = 1,  // start and stop lines: no label
  LOG_ERROR = 3,
  LOG_WARNING = 4,
  LOG_NOTICE = 5,
  LOG_INFO = 6,
  LOG_DEBUG = 7,
};

// Formats the line and queues it; never blocks on file output. Starts the
// writer thread on first use.
void log_message(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes everything queued, ends the writer thread and waits for it.
void log_stop();
// After log_stop, lets the next log_message start a new writer.
void log_reenable();

// Current level (lines above it are dropped) and file name. The file name is
// taken relative to the working directory unless absolute; a running writer
// switches to a new name with its next line.
void log_set_level(int level);
int log_get_level();
void log_set_file(const char* name);

// Waits until everything queued so far is written and flushed (tests, trace
// upload). Returns 0, or -1 when the writer is not running.
int log_flush();
