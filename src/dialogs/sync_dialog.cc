// SPDX-License-Identifier: GPL-3.0-or-later
// The sync dialog: the sync driver's network steps run on a worker, each
// reporting back with the OK response, posted to the main loop from its done
// event; the conflicts are put to the user on the main thread in between. A
// cancel asks the driver to stop and interrupts the worker's network call;
// the dialog stays until the worker has reported, so the session is never
// touched by two threads.
#include "dialogs/sync_dialog.h"

#include <memory>
#include <string>

#include "dialogs/bold_label.h"
#include "dialogs/conflict_dialog.h"
#include "dialogs/modal.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/thread.h"
#include "sync/error_text.h"
#include "sync/sync_driver.h"

namespace {

ConflictChooser g_chooser;

struct SyncRun {
  SyncDriver driver;  // its step and summary are the worker's while one runs
  SyncStep at = SYNC_STEP_FETCH;  // the step last started, for the log
  GtkWidget* dialog = nullptr;
  GtkWidget* bar = nullptr;
  GtkWidget* status = nullptr;
  GtkWidget* button = nullptr;
  bool cancel_requested = false;
  bool running = false;
  bool reported = false;  // the worker's OK response is ours to take
  std::shared_ptr<Worker> worker;
  guint close_timer = 0;
};

gboolean on_report_idle(gpointer p) {
  auto* run = static_cast<SyncRun*>(p);
  run->reported = true;
  gtk_dialog_response(GTK_DIALOG(run->dialog), GTK_RESPONSE_OK);
  return G_SOURCE_REMOVE;
}

void on_worker_done(void* ctx, intptr_t) { g_idle_add(on_report_idle, ctx); }

intptr_t step_main(Worker*, void* arg) { return sync_step(&static_cast<SyncRun*>(arg)->driver, nullptr); }

gboolean on_close_timer(gpointer p) {
  auto* run = static_cast<SyncRun*>(p);
  run->close_timer = 0;
  gtk_dialog_response(GTK_DIALOG(run->dialog), GTK_RESPONSE_CANCEL);
  return G_SOURCE_REMOVE;
}

void finish(SyncRun* run) {
  const SyncSummary& sum = run->driver.summary;
  int result = sum.result;
  run->running = false;
  run->worker.reset();
  std::string text;
  if (result == 0) {
    const char* ok = ui_string(STR_SYNC_DONE);
    text = ok ? ok : "";
  } else if (sum.failed_step == SYNC_STEP_FETCH) {
    text = sync_list_status_text(result);
  } else {
    text = ui_format(STR_SYNC_FAILED, error_code_text(last_error()).c_str());
  }
  gtk_label_set_text(GTK_LABEL(run->status), text.c_str());
  const char* close = ui_string(STR_CLOSE);
  gtk_button_set_label(GTK_BUTTON(run->button), close ? close : "");
  gtk_widget_set_sensitive(run->button, TRUE);
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(run->bar), 1.0);
  if (result == 0) run->close_timer = g_timeout_add(1000, on_close_timer, run);
  log_message(result == 0 ? LOG_INFO : LOG_ERROR, "sync_dialog: %d", result);
}

int ask(const SyncConflict& k) { return g_chooser ? g_chooser(k) : conflict_dialog(k); }

// Runs the driver's steps up to the next network step, which goes to a
// worker, or to the end.
void advance(SyncRun* run) {
  static const double kFraction[] = {0.25, 0.5, 0.75};
  for (;;) {
    SyncStep step = run->driver.step;
    run->at = step;
    if (step == SYNC_STEP_DONE) {
      finish(run);
      return;
    }
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(run->bar), kFraction[step]);
    if (!sync_step_blocks(step)) {
      sync_step(&run->driver, ask);
      continue;
    }
    run->reported = false;
    WorkerEvents ev;
    ev.ctx = run;
    ev.done = on_worker_done;
    run->worker = worker_start(step_main, run, ev);
    if (run->worker) return;
    log_message(LOG_ERROR, "sync_dialog: worker %d", static_cast<int>(step));
    sync_cancel(&run->driver);
    sync_step(&run->driver, nullptr);  // ends it
  }
}

void request_cancel(SyncRun* run) {
  if (run->cancel_requested) return;
  run->cancel_requested = true;
  sync_cancel(&run->driver);
  const char* t = ui_string(STR_SYNC_CANCELLING);
  gtk_label_set_text(GTK_LABEL(run->status), t ? t : "");
  gtk_widget_set_sensitive(run->button, FALSE);
  if (run->worker) worker_cancel(run->worker.get());
  log_message(LOG_INFO, "sync_dialog: cancel %d", static_cast<int>(run->at));
}

}  // namespace

void sync_dialog_set_chooser(ConflictChooser chooser) { g_chooser = std::move(chooser); }

int sync_dialog(SyncSession* s, const char* headline) {
  if (!s) return -1;
  SyncRun run;
  sync_begin(&run.driver, s);
  run.dialog = dialog_new(STR_SYNCHRONISE);
  run.button = dialog_add_button(run.dialog, STR_CANCEL, GTK_RESPONSE_CANCEL);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  GtkWidget* head = bold_label_new(headline ? headline : "", 1.2);
  gtk_widget_set_size_request(head, 300, 30);
  gtk_box_pack_start(GTK_BOX(box), head, TRUE, TRUE, 5);
  run.bar = gtk_progress_bar_new();
  gtk_box_pack_start(GTK_BOX(box), run.bar, FALSE, FALSE, 5);
  run.status = bold_label_new("", 1.2);
  gtk_widget_set_size_request(run.status, 300, 30);
  gtk_box_pack_start(GTK_BOX(box), run.status, FALSE, FALSE, 5);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(run.dialog))), box, TRUE, TRUE, 0);
  gtk_window_set_deletable(GTK_WINDOW(run.dialog), FALSE);
  gtk_widget_show_all(run.dialog);

  run.running = true;
  advance(&run);
  {
    ModalScope scope(run.dialog);
    for (;;) {
      int response = scope.run();
      if (!run.running) break;  // finished: any response closes
      if (response == GTK_RESPONSE_OK && run.reported) {
        run.worker.reset();
        advance(&run);
      } else if (response != GTK_RESPONSE_OK) {
        request_cancel(&run);
      }
    }
  }
  if (run.close_timer) g_source_remove(run.close_timer);
  gtk_widget_destroy(run.dialog);
  return run.driver.summary.result;
}

int sync_repo_dialog(int index) {
  if (index < 0 || static_cast<size_t>(index) >= repo_table().size()) return -1;
  const RepoEntry& e = repo_table()[static_cast<size_t>(index)];
  if (e.server_id.empty()) return -1;
  SyncSession s;
  if (sync_session_setup(&s, e, signed_in_account()) != 0) return -1;
  log_message(LOG_INFO, "sync_repo_dialog: %d", index);
  return sync_dialog(&s, e.server_id.c_str());
}
