// SPDX-License-Identifier: GPL-3.0-or-later
// The progress dialog for work that has to stay on the main thread because
// it changes the model (a large paste): the work runs in the caller and
// reports between its pieces; each report may run the pending events, so
// the window keeps drawing and the cancel button answers, while the modal
// dialog keeps every other input away.
#pragma once

#include <gtk/gtk.h>

#include <cstddef>
#include <cstdint>

#include "support/string_ids.h"

class StepProgress {
 public:
  // The dialog (title string, label string, a cancel button, the bar in
  // fraction mode) is shown at once and becomes the top window.
  StepProgress(StrId title_id, StrId label_id);
  ~StepProgress();
  StepProgress(const StepProgress&) = delete;
  StepProgress& operator=(const StepProgress&) = delete;

  // Between pieces: moves the bar and, at most every interval, runs the
  // pending events. False once the user has cancelled.
  bool step(size_t done, size_t total);
  bool cancelled() const { return cancelled_; }

  // How often the events run while the work goes on (milliseconds; tests
  // use 0, every step).
  static void set_interval(int ms);

 private:
  static void on_response(GtkDialog* dialog, int response, gpointer self);
  GtkWidget* dialog_ = nullptr;
  GtkWidget* bar_ = nullptr;
  GtkWindow* saved_top_ = nullptr;
  int64_t last_pump_ = 0;
  bool cancelled_ = false;
};
