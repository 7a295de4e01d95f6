// SPDX-License-Identifier: GPL-3.0-or-later
// The worker and the main-loop slices of a sliced job.
#include "app/sliced_job.h"

#include <chrono>

#include "dialogs/progress.h"
#include "support/string_ids.h"

namespace {

// Longest slice of storing between two turns of the main loop.
gint64 g_slice_micros = 40000;

gboolean run_slice(gpointer p) {
  auto* job = static_cast<SlicedJob*>(p);
  bool finished = job->stop.load() || job->slice(g_get_monotonic_time() + g_slice_micros);
  if (!finished) return G_SOURCE_CONTINUE;
  std::lock_guard<std::mutex> lock(job->mu);
  job->sliced = true;
  job->cv.notify_all();
  return G_SOURCE_REMOVE;
}

intptr_t sliced_worker(void* p) {
  auto* job = static_cast<SlicedJob*>(p);
  job->prepared = !job->prepare || job->prepare();
  if (progress_cancelled()) job->cancelled = true;
  if (job->cancelled || !job->prepared) return 0;
  g_idle_add(run_slice, job);
  {
    std::unique_lock<std::mutex> lock(job->mu);
    while (!job->sliced) {
      job->cv.wait_for(lock, std::chrono::milliseconds(50));
      if (progress_cancelled()) {
        job->stop = true;
        job->cancelled = true;
      }
      progress_set(job->percent.load());
    }
  }
  // A cancel pressed while the last slices ran still counts: nothing is
  // committed before the dialog closes.
  if (progress_cancelled()) job->cancelled = true;
  if (!job->cancelled && job->finish) job->finish();
  return 0;
}

}  // namespace

// 0 when the dialog ran (see job->cancelled), -1 when it could not.
int run_sliced(StrId title_id, StrId label_id, SlicedJob* job) {
  return run_with_progress(title_id, label_id, sliced_worker, job, true) == 0 ? 0 : -1;
}

void file_commands_set_slice(gint64 micros) {
  g_slice_micros = micros > 0 ? micros : 40000;
}
