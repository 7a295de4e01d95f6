// SPDX-License-Identifier: GPL-3.0-or-later
// Work behind the progress dialog in slices: files are read or written on
// the dialog's worker, the model is touched on the main loop a few tens of
// milliseconds at a time, so the window keeps drawing and a cancel stops
// between two slices.
#pragma once

#include <glib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "support/string_ids.h"

// `prepare` runs on the worker (files only, no model state); then `slice`
// runs on the main loop, a few tens of milliseconds at a time, until it
// reports the end, the window drawing in between; then `finish` runs on the
// worker (files only). A cancel stops between two slices.
struct SlicedJob {
  std::function<bool()> prepare;            // false: nothing to slice
  std::function<bool(gint64 until)> slice;  // true: finished
  std::function<void()> finish;
  std::atomic<int> percent{0};

  std::atomic<bool> stop{false};
  std::mutex mu;
  std::condition_variable cv;
  bool sliced = false;  // guarded by mu
  // Written by the worker, read after the dialog has closed.
  bool cancelled = false;
  bool prepared = false;
};

// 0 when the dialog ran (see job->cancelled), -1 when it could not.
int run_sliced(StrId title_id, StrId label_id, SlicedJob* job);
// The longest slice of storing between two turns of the main loop (0: the
// default, 40 ms); tests shorten it to cancel part-way on any machine.
void file_commands_set_slice(gint64 micros);
