// SPDX-License-Identifier: GPL-3.0-or-later
// The progress dialog and its worker protocol.
//
// Each run has a shared record: the worker's thread keeps its own reference
// (found through a thread-local pointer), so a worker that reports late never
// touches the record of a later run, and the main thread signals the worker
// only while it is known to be alive.
#include "dialogs/progress.h"

#include <pthread.h>
#include <signal.h>

#include <memory>
#include <mutex>

#include "dialogs/modal.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/thread.h"

namespace {

struct ProgressRun {
  ProgressWorker worker = nullptr;
  void* arg = nullptr;

  std::mutex mu;  // guards the fields below, shared with the worker
  pthread_t thread{};
  bool started = false;
  bool finished = false;
  bool done = false;
  bool cancelled = false;
  intptr_t result = -1;

  // Main thread only.
  GtkWidget* dialog = nullptr;
  GtkWidget* bar = nullptr;
  bool closed = false;
};

std::shared_ptr<ProgressRun> g_open;  // main thread: the run whose dialog is up
thread_local std::shared_ptr<ProgressRun> t_run;  // worker thread: its run

struct Posted {
  std::shared_ptr<ProgressRun> run;
  int percent;
};

gboolean on_progress_idle(gpointer p) {
  std::unique_ptr<Posted> post(static_cast<Posted*>(p));
  if (post->run->bar && !post->run->closed)
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(post->run->bar), post->percent / 100.0);
  return G_SOURCE_REMOVE;
}

gboolean on_done_idle(gpointer p) {
  std::unique_ptr<Posted> post(static_cast<Posted*>(p));
  ProgressRun* run = post->run.get();
  if (!run->closed) {
    run->closed = true;
    if (run->dialog) gtk_dialog_response(GTK_DIALOG(run->dialog), GTK_RESPONSE_CLOSE);
  }
  return G_SOURCE_REMOVE;
}

gboolean on_pulse(gpointer p) {
  auto* run = static_cast<ProgressRun*>(p);
  if (run->bar) gtk_progress_bar_pulse(GTK_PROGRESS_BAR(run->bar));
  return G_SOURCE_CONTINUE;
}

void* worker_main(void* p) {
  std::unique_ptr<std::shared_ptr<ProgressRun>> handle(static_cast<std::shared_ptr<ProgressRun>*>(p));
  t_run = *handle;
  {
    std::lock_guard<std::mutex> lock(t_run->mu);
    t_run->thread = pthread_self();
    t_run->started = true;
  }
  intptr_t result = t_run->worker(t_run->arg);
  // A worker that returns without reporting must not leave the dialog up.
  progress_done(result);
  {
    std::lock_guard<std::mutex> lock(t_run->mu);
    t_run->finished = true;
  }
  t_run.reset();
  return nullptr;
}

// First cancel: one SIGALRM to a live worker; later cancels change nothing.
void cancel_worker(ProgressRun* run, GtkWidget* cancel_button) {
  std::lock_guard<std::mutex> lock(run->mu);
  if (run->cancelled) return;
  run->cancelled = true;
  if (cancel_button) gtk_widget_set_sensitive(cancel_button, FALSE);
  if (run->started && !run->finished) pthread_kill(run->thread, SIGALRM);
  log_message(LOG_INFO, "run_with_progress: cancel");
}

}  // namespace

intptr_t run_with_progress(StrId title_id, StrId label_id, ProgressWorker worker, void* arg, bool fraction_mode) {
  if (g_open || !worker) {
    log_message(LOG_ERROR, "run_with_progress: %s", worker ? "busy" : "no worker");
    return -1;
  }
  auto run = std::make_shared<ProgressRun>();
  run->worker = worker;
  run->arg = arg;

  GtkWidget* d = dialog_new(title_id);
  GtkWidget* cancel = dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  const char* label_text = ui_string(label_id);
  GtkWidget* label = gtk_label_new(label_text ? label_text : "");
  gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 5);
  GtkWidget* bar = gtk_progress_bar_new();
  AtkObject* acc = gtk_widget_get_accessible(bar);
  if (acc) atk_object_set_name(acc, label_text ? label_text : "");
  gtk_box_pack_start(GTK_BOX(box), bar, TRUE, TRUE, 5);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), box, TRUE, TRUE, 0);
  gtk_window_set_default_size(GTK_WINDOW(d), 300, -1);
  gtk_window_set_deletable(GTK_WINDOW(d), FALSE);
  run->dialog = d;
  run->bar = bar;
  gtk_widget_show_all(d);

  auto* handle = new std::shared_ptr<ProgressRun>(run);
  if (start_worker(worker_main, handle) != 0) {
    delete handle;
    log_message(LOG_ERROR, "run_with_progress: start_worker");
    gtk_widget_destroy(d);
    return -1;
  }
  g_open = run;
  guint pulse = fraction_mode ? 0 : g_timeout_add(100, on_pulse, run.get());
  {
    ModalScope scope(d);
    while (!run->closed) {
      int response = scope.run();
      if (run->closed) break;
      // Cancel, Escape or the window manager's close: ask the worker to stop
      // and keep waiting for its report.
      if (response == GTK_RESPONSE_CANCEL || response == GTK_RESPONSE_DELETE_EVENT) cancel_worker(run.get(), cancel);
    }
  }
  if (pulse) g_source_remove(pulse);
  run->dialog = nullptr;
  run->bar = nullptr;
  gtk_widget_destroy(d);
  g_open.reset();
  std::lock_guard<std::mutex> lock(run->mu);
  return run->result;
}

void progress_set(int percent) {
  if (!t_run) return;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  g_idle_add(on_progress_idle, new Posted{t_run, percent});
}

void progress_done(intptr_t result) {
  if (!t_run) return;
  {
    std::lock_guard<std::mutex> lock(t_run->mu);
    if (t_run->done) return;
    t_run->done = true;
    t_run->result = result;
  }
  g_idle_add(on_done_idle, new Posted{t_run, 100});
}

bool progress_cancelled() {
  if (!t_run) return false;
  std::lock_guard<std::mutex> lock(t_run->mu);
  return t_run->cancelled;
}
