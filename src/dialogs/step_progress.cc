// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/step_progress.h"

#include "dialogs/modal.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

// A quarter of a second is the longest the window may stand still; well
// below it, so that drawing keeps up.
int g_interval_ms = 40;

// Bounded, so that a source that is always ready cannot hold the work.
void run_pending() {
  for (int i = 0; i < 200 && gtk_events_pending(); i++) gtk_main_iteration_do(FALSE);
}

}  // namespace

void StepProgress::set_interval(int ms) { g_interval_ms = ms < 0 ? 0 : ms; }

StepProgress::StepProgress(StrId title_id, StrId label_id) {
  dialog_ = dialog_new(title_id);
  dialog_add_button(dialog_, STR_CANCEL, GTK_RESPONSE_CANCEL);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  const char* label_text = ui_string(label_id);
  gtk_box_pack_start(GTK_BOX(box), gtk_label_new(label_text ? label_text : ""), TRUE, TRUE, 5);
  bar_ = gtk_progress_bar_new();
  if (AtkObject* acc = gtk_widget_get_accessible(bar_)) atk_object_set_name(acc, label_text ? label_text : "");
  gtk_box_pack_start(GTK_BOX(box), bar_, TRUE, TRUE, 5);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog_))), box, TRUE, TRUE, 0);
  gtk_window_set_default_size(GTK_WINDOW(dialog_), 300, -1);
  gtk_window_set_deletable(GTK_WINDOW(dialog_), FALSE);
  g_signal_connect(dialog_, "response", G_CALLBACK(on_response), this);
  saved_top_ = top_window();
  set_top_window(GTK_WINDOW(dialog_));
  gtk_widget_show_all(dialog_);
}

StepProgress::~StepProgress() {
  set_top_window(saved_top_);
  gtk_widget_destroy(dialog_);
}

void StepProgress::on_response(GtkDialog*, int response, gpointer self) {
  auto* p = static_cast<StepProgress*>(self);
  if ((response == GTK_RESPONSE_CANCEL || response == GTK_RESPONSE_DELETE_EVENT) && !p->cancelled_) {
    p->cancelled_ = true;
    log_message(LOG_INFO, "step_progress: cancel");
  }
}

bool StepProgress::step(size_t done, size_t total) {
  int64_t now = g_get_monotonic_time();
  if (done == 0 || now - last_pump_ >= static_cast<int64_t>(g_interval_ms) * 1000) {
    last_pump_ = now;
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar_), total ? static_cast<double>(done) / total : 0.0);
    run_pending();
  }
  return !cancelled_;
}
