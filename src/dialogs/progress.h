// SPDX-License-Identifier: GPL-3.0-or-later
// The progress dialog: the one place that starts workers. A worker runs on a
// detached thread with SIGALRM unblocked, touches no widget and reaches the
// main thread only through progress_set and progress_done, which post to the
// main loop. Cancel sends the worker one SIGALRM (its blocking network calls
// then fail) and the dialog waits for the worker to report.
#pragma once

#include <cstdint>

#include "support/string_ids.h"

// The worker's return value becomes the result unless it called
// progress_done itself before returning.
using ProgressWorker = intptr_t (*)(void* arg);

// Runs the worker behind a modal dialog (title string, label string, a cancel
// button) and returns its result. Without fraction mode the bar pulses.
// Returns -1 without running anything when a progress dialog is already open
// or the worker cannot be started.
intptr_t run_with_progress(StrId title_id, StrId label_id, ProgressWorker worker, void* arg, bool fraction_mode);

// Worker side. Percent 0..100 moves the bar (fraction mode).
void progress_set(int percent);
// Stores the result and closes the dialog; later calls are ignored.
void progress_done(intptr_t result);
// True once the user has pressed cancel, for workers between blocking calls.
bool progress_cancelled();
