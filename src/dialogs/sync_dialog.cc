// The sync dialog. Workers run recv_repo_list (phase 0) and send_sync_objs
// (phase 1); each reports back with the OK response, posted to the main loop
// from its done event. A cancel asks the sync to stop and interrupts the
// worker's network call; the dialog stays until the worker has reported, so
// the session is never touched by two threads.
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
#include "sync/sync.h"

namespace {

ConflictChooser g_chooser;

struct SyncRun {
  SyncSession* s = nullptr;
  GtkWidget* dialog = nullptr;
  GtkWidget* bar = nullptr;
  GtkWidget* status = nullptr;
  GtkWidget* button = nullptr;
  int phase = 0;
  bool cancel_requested = false;
  bool running = false;
  bool reported = false;  // the worker's OK response is ours to take
  int result = 0;
  intptr_t worker_result = -1;
  std::shared_ptr<Worker> worker;
  guint close_timer = 0;
};

struct Report {
  SyncRun* run;
  intptr_t result;
};

gboolean on_report_idle(gpointer p) {
  std::unique_ptr<Report> r(static_cast<Report*>(p));
  r->run->worker_result = r->result;
  r->run->reported = true;
  gtk_dialog_response(GTK_DIALOG(r->run->dialog), GTK_RESPONSE_OK);
  return G_SOURCE_REMOVE;
}

void on_worker_done(void* ctx, intptr_t result) { g_idle_add(on_report_idle, new Report{static_cast<SyncRun*>(ctx), result}); }

intptr_t phase0_main(Worker*, void* arg) { return recv_repo_list(static_cast<SyncSession*>(arg)); }
intptr_t phase1_main(Worker*, void* arg) { return send_sync_objs(static_cast<SyncSession*>(arg)); }

int start_phase(SyncRun* run, int phase) {
  run->phase = phase;
  run->reported = false;
  WorkerEvents ev;
  ev.ctx = run;
  ev.done = on_worker_done;
  run->worker = worker_start(phase == 0 ? phase0_main : phase1_main, run->s, ev);
  if (!run->worker) {
    log_message(LOG_ERROR, "sync_dialog: worker %d", phase);
    return -1;
  }
  return 0;
}

gboolean on_close_timer(gpointer p) {
  auto* run = static_cast<SyncRun*>(p);
  run->close_timer = 0;
  gtk_dialog_response(GTK_DIALOG(run->dialog), GTK_RESPONSE_CANCEL);
  return G_SOURCE_REMOVE;
}

void finish(SyncRun* run, int result, const std::string& failure_text) {
  run->result = result;
  run->running = false;
  run->worker.reset();
  sync_free(run->s);
  std::string text;
  if (result == 0) {
    const char* ok = ui_string(258);
    text = ok ? ok : "";
  } else if (!failure_text.empty()) {
    text = failure_text;
  } else {
    text = ui_format(257, error_code_text(last_error).c_str());
  }
  gtk_label_set_text(GTK_LABEL(run->status), text.c_str());
  const char* close = ui_string(28);
  gtk_button_set_label(GTK_BUTTON(run->button), close ? close : "");
  gtk_widget_set_sensitive(run->button, TRUE);
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(run->bar), 1.0);
  if (result == 0) run->close_timer = g_timeout_add(1000, on_close_timer, run);
  log_message(result == 0 ? LOG_INFO : LOG_ERROR, "sync_dialog: %d", result);
}

int ask(const SyncConflict& k) { return g_chooser ? g_chooser(k) : conflict_dialog(k); }

// Stage 2 on the main thread: 0, or -1 (a cancelled conflict is a failure).
int resolve_conflicts(SyncSession* s) {
  if (sync_conflicts_begin(s) != 0) return -1;
  int rc = 0;
  for (;;) {
    SyncConflict k;
    int step = sync_conflicts_next(s, &k);
    if (step == 0) break;
    if (step < 0 || sync_conflicts_decide(s, ask(k)) != 0) {
      rc = -1;
      break;
    }
  }
  sync_conflicts_end(s);
  return rc;
}

// The worker reported: move to the next stage or finish.
void on_reported(SyncRun* run) {
  int rc = static_cast<int>(run->worker_result);
  run->worker.reset();
  if (run->phase == 1 || rc != 0) {
    finish(run, rc, run->phase == 0 ? sync_list_status_text(rc) : std::string());
    return;
  }
  if (run->cancel_requested || !run->s->have_sets) {
    finish(run, -1, std::string());
    return;
  }
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(run->bar), 0.5);
  if (resolve_conflicts(run->s) != 0) {
    finish(run, -1, std::string());
    return;
  }
  // The user may have pressed cancel while a conflict was shown.
  if (run->cancel_requested) {
    finish(run, -1, std::string());
    return;
  }
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(run->bar), 0.75);
  if (start_phase(run, 1) != 0) finish(run, -1, std::string());
}

void request_cancel(SyncRun* run) {
  if (run->cancel_requested) return;
  run->cancel_requested = true;
  run->s->cancel = true;
  const char* t = ui_string(256);
  gtk_label_set_text(GTK_LABEL(run->status), t ? t : "");
  gtk_widget_set_sensitive(run->button, FALSE);
  if (run->worker) worker_cancel(run->worker.get());
  log_message(LOG_INFO, "sync_dialog: cancel %d", run->phase);
}

}  // namespace

void sync_dialog_set_chooser(ConflictChooser chooser) { g_chooser = std::move(chooser); }

int sync_dialog(SyncSession* s, const char* headline) {
  if (!s) return -1;
  SyncRun run;
  run.s = s;
  run.dialog = dialog_new(254);
  run.button = dialog_add_button(run.dialog, 27, GTK_RESPONSE_CANCEL);
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

  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(run.bar), 0.25);
  s->cancel = false;
  run.running = true;
  if (start_phase(&run, 0) != 0) finish(&run, -1, std::string());
  {
    ModalScope scope(run.dialog);
    for (;;) {
      int response = scope.run();
      if (!run.running) break;  // finished: any response closes
      if (response == GTK_RESPONSE_OK && run.reported) {
        on_reported(&run);
      } else if (response != GTK_RESPONSE_OK) {
        request_cancel(&run);
      }
    }
  }
  if (run.close_timer) g_source_remove(run.close_timer);
  gtk_widget_destroy(run.dialog);
  return run.result;
}

int sync_repo_dialog(int index) {
  if (index < 0 || static_cast<size_t>(index) >= repo_table.size()) return -1;
  const RepoEntry& e = repo_table[static_cast<size_t>(index)];
  if (e.server_id.empty()) return -1;
  SyncSession s;
  if (sync_session_setup(&s, e, signed_in_account()) != 0) return -1;
  log_message(LOG_INFO, "sync_repo_dialog: %d", index);
  return sync_dialog(&s, e.server_id.c_str());
}
