// SPDX-License-Identifier: GPL-3.0-or-later
// Shared helpers of the window tests: GTK under Xvfb, the model fixture with
// real repository databases, and a driver for modal dialogs.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "dialogs/modal.h"
#include "model/test_ops_fixture.h"
#include "support/strings.h"

// Runs the main loop until nothing is pending.
inline void pump() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

// Calls step(top window) every 10 ms from the main loop (a modal dialog's
// own loop included) until it returns true.
inline void when_dialog(std::function<bool(GtkWindow*)> step) {
  auto* fn = new std::function<bool(GtkWindow*)>(std::move(step));
  g_timeout_add_full(
      G_PRIORITY_DEFAULT, 10,
      [](gpointer p) -> gboolean {
        auto* f = static_cast<std::function<bool(GtkWindow*)>*>(p);
        GtkWindow* w = top_window();
        if (!w || !GTK_IS_DIALOG(w)) return G_SOURCE_CONTINUE;
        return (*f)(w) ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
      },
      fn, [](gpointer p) { delete static_cast<std::function<bool(GtkWindow*)>*>(p); });
}

// Answers the next dialog with a response.
inline void respond_next(int response) {
  when_dialog([response](GtkWindow* w) {
    gtk_dialog_response(GTK_DIALOG(w), response);
    return true;
  });
}

// Widgets below a container, depth first.
inline void each_widget(GtkWidget* w, const std::function<void(GtkWidget*)>& fn) {
  fn(w);
  if (GTK_IS_CONTAINER(w)) {
    GList* kids = gtk_container_get_children(GTK_CONTAINER(w));
    for (GList* l = kids; l; l = l->next) each_widget(static_cast<GtkWidget*>(l->data), fn);
    g_list_free(kids);
  }
}

template <typename T>
T* find_widget(GtkWidget* root, GType type, int index = 0) {
  GtkWidget* found = nullptr;
  each_widget(root, [&](GtkWidget* w) {
    if (!found && G_TYPE_CHECK_INSTANCE_TYPE(w, type) && index-- == 0) found = w;
  });
  return reinterpret_cast<T*>(found);
}

// A scrolled window inside a toplevel, so that views get realized and sized.
struct TestWindow {
  GtkWidget* window = nullptr;
  explicit TestWindow(GtkWidget* child, int w = 600, int h = 400) {
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), w, h);
    GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(sw), child);
    gtk_container_add(GTK_CONTAINER(window), sw);
    gtk_widget_show_all(window);
    pump();
  }
  ~TestWindow() {
    gtk_widget_destroy(window);
    pump();
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
};

class GtkModelTest : public RepoModelTest {
 protected:
  void SetUp() override {
    RepoModelTest::SetUp();
    ASSERT_EQ(strings_set_language(0), 1);
  }
  ScopedTz tz{"Europe/Berlin"};
};
