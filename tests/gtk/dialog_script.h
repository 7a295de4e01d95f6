// SPDX-License-Identifier: GPL-3.0-or-later
// Scripted answers to the dialogs of the repository manager and its
// relatives: each step acts on the first dialog with its title that comes on
// top, nested dialogs included; the manager's list and context menu.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/modal.h"
#include "gtk_fixture.h"
#include "model/test_startup_fixture.h"
#include "support/strings.h"

// One step of a scripted run: it acts on the first top dialog with this
// title (a message box, or any other dialog) that appears.
struct Step {
  StrId title_id;
  bool message;
  std::function<void(GtkWindow*)> act;
};

// Plays the steps in order from the main loop; nested dialogs included.
// A script that is not played out within 20 s fails and closes every
// dialog, so that a fault cannot hang the run.
struct Script {
  std::deque<Step> steps;
  gint64 deadline;
  int generation;
};
// Scripts of an earlier test stop acting.
inline int g_generation = 0;
inline void script_new_test() { g_generation++; }

inline void script(std::deque<Step> steps) {
  auto* q = new Script{std::move(steps), g_get_monotonic_time() + 20 * G_USEC_PER_SEC, g_generation};
  g_timeout_add_full(
      G_PRIORITY_DEFAULT, 10,
      [](gpointer p) -> gboolean {
        auto* sc = static_cast<Script*>(p);
        auto* q = &sc->steps;
        if (q->empty() || sc->generation != g_generation) return G_SOURCE_REMOVE;
        GtkWindow* w = top_window();
        if (!w || !GTK_IS_DIALOG(w) || !gtk_widget_get_visible(GTK_WIDGET(w))) return G_SOURCE_CONTINUE;
        if (g_get_monotonic_time() > sc->deadline) {
          ADD_FAILURE() << "dialog left waiting: " << (gtk_window_get_title(w) ? gtk_window_get_title(w) : "");
          gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_DELETE_EVENT);
          return G_SOURCE_CONTINUE;
        }
        // A progress dialog may share its title with the dialog that follows
        // its work: the script waits for that one.
        if (find_widget<GtkProgressBar>(GTK_WIDGET(w), GTK_TYPE_PROGRESS_BAR)) return G_SOURCE_CONTINUE;
        Step& s = q->front();
        const char* title = gtk_window_get_title(w);
        if (!title || std::string(title) != ui_string(s.title_id) || GTK_IS_MESSAGE_DIALOG(w) != s.message)
          return G_SOURCE_CONTINUE;
        Step step = std::move(s);
        q->pop_front();
        step.act(w);
        return G_SOURCE_CONTINUE;
      },
      q, [](gpointer p) { delete static_cast<Script*>(p); });
}

inline void respond(GtkWindow* w, int response) { gtk_dialog_response(GTK_DIALOG(w), response); }

// A widget by its name (set by the dialogs for their fields).
inline GtkWidget* named(GtkWindow* w, const char* name) {
  GtkWidget* found = nullptr;
  each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
    if (!found && std::string(gtk_widget_get_name(x)) == name) found = x;
  });
  EXPECT_NE(nullptr, found) << name;
  return found;
}
inline GtkEntry* entry(GtkWindow* w, const char* name) { return GTK_ENTRY(named(w, name)); }
inline GtkEntry* entry_at(GtkWindow* w, int index) { return find_widget<GtkEntry>(GTK_WIDGET(w), GTK_TYPE_ENTRY, index); }

inline bool ok_sensitive(GtkWindow* w) {
  return gtk_widget_get_sensitive(gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_OK));
}

// Types a password into a prompt and accepts it.
inline Step prompt_answer(std::string text) {
  return Step{STR_APP_NAME, false, [text](GtkWindow* w) {
                gtk_entry_set_text(entry_at(w, 0), text.c_str());
                respond(w, GTK_RESPONSE_OK);
              }};
}

inline Step message_seen(StrId title_id, int* seen) {
  return Step{title_id, true, [seen](GtkWindow* w) {
                ++*seen;
                respond(w, GTK_RESPONSE_OK);
              }};
}

// The manager's list and the path of the row showing the repository name.
inline GtkTreeView* manager_list(GtkWindow* w) { return find_widget<GtkTreeView>(GTK_WIDGET(w), GTK_TYPE_TREE_VIEW); }

inline std::string row_of(GtkWindow* w, const std::string& name) {
  GtkTreeModel* model = gtk_tree_view_get_model(manager_list(w));
  GtkTreeIter iter;
  for (bool ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, &iter, 0, &text, -1);
    bool match = text && name == text;
    g_free(text);
    if (match) {
      gchar* path = gtk_tree_model_get_string_from_iter(model, &iter);
      std::string out = path;
      g_free(path);
      return out;
    }
  }
  return "";
}

// Clicks the toggle of a list column (3 enabled, 4 hidden) in a row.
inline void toggle(GtkWindow* w, int column, const std::string& path) {
  GtkTreeViewColumn* col = gtk_tree_view_get_column(manager_list(w), column);
  GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(col));
  g_signal_emit_by_name(cells->data, "toggled", path.c_str());
  g_list_free(cells);
}

// Selects the row and opens its context menu from the keyboard; the labels
// of its items, and a later activation of the item with `label_id`.
inline std::vector<std::string> open_menu(GtkWindow* w, const std::string& name, StrId label_id) {
  GtkTreeView* view = manager_list(w);
  GtkTreePath* path = gtk_tree_path_new_from_string(row_of(w, name).c_str());
  gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path);
  gtk_tree_path_free(path);
  gboolean handled = FALSE;
  g_signal_emit_by_name(view, "popup-menu", &handled);
  std::vector<std::string> labels;
  GList* menus = gtk_menu_get_for_attach_widget(GTK_WIDGET(view));
  if (!menus) return labels;
  GtkWidget* menu = static_cast<GtkWidget*>(g_list_last(menus)->data);
  GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = items; l; l = l->next) {
    labels.push_back(plain_label(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data))));
    if (label_id != STR_NONE && labels.back() == ui_string(label_id)) {
      gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu));
      // Activated from the main loop: its dialog runs a loop of its own.
      g_idle_add(
          [](gpointer item) -> gboolean {
            gtk_menu_item_activate(GTK_MENU_ITEM(item));
            return G_SOURCE_REMOVE;
          },
          l->data);
    }
  }
  g_list_free(items);
  return labels;
}


// A started profile in English with a main window for the scripted dialogs
// to sit on.
class ScriptedDialogTest : public startup_test::StartupTest {
 protected:
  void SetUp() override {
    StartupTest::SetUp();
    script_new_test();
    ASSERT_EQ(1, strings_set_language(0));
    main = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    set_top_window(GTK_WINDOW(main));
    first_run();
  }
  void TearDown() override {
    set_top_window(nullptr);
    gtk_widget_destroy(main);
    pump();
    strings_set_language(0);
    StartupTest::TearDown();
  }
  GtkWidget* main = nullptr;
};
