// SPDX-License-Identifier: GPL-3.0-or-later
// A main window built on the test repositories of the model fixture, shown
// on the test display, with the notification hub installed.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/window.h"
#include "gtk/gtk_fixture.h"
#include "model/app_core.h"
#include "model/item.h"
#include "storage/repo.h"
#include "views/detail_view_gtk.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

class WindowTest : public GtkModelTest {
 protected:
  MainWindow w;

  void SetUp() override {
    GtkModelTest::SetUp();
    app_core().settings = Settings();
    app_core().has_account = false;
    // The undo state is read through the repository table.
    repo_table().resize(2);
    for (int i = 0; i < 2; i++) repo_table()[i].db = g_repos[i].db;
    model().view = VIEW_REMINDERS;
    model().fixed_kind = 0;
    work = make_tag(g_repos[0].root, "Work");
    home = make_tag(g_repos[0].root, "Home");
    model().view = VIEW_REMINDERS;
    w.navigating = true;
    main_window_create(&w);
    set_list_type(&w, model().fixed_kind);
    tray_create(&w);
    notify_install(&w);
    gtk_widget_show_all(w.window);
    pump();
    w.navigating = false;
    commands_refresh(&w);
  }

  void TearDown() override {
    window_stop(&w);
    pump();
    for (RepoEntry& e : repo_table()) e.db = nullptr;
    repo_table().clear();
    GtkModelTest::TearDown();
  }

  // Puts the tag-tree cursor on the tag, as a click does.
  void select(int id) {
    tag_tree_fill(w.tags);
    ASSERT_TRUE(tag_tree_select(w.tags, id));
    pump();
  }

  void select_item(int64_t slot) {
    ASSERT_TRUE(item_list_select_item(w.items, slot));
    pump();
  }

  // make_item without moving the model's view away from the tree's row (the
  // window reloads what the view names).
  int64_t add(int64_t tag, int type, const char* title, const char* body = "", int64_t due = 0) {
    int32_t view = model().view;
    int64_t slot = make_item(tag, type, title, body, due);
    model().view = view;
    return slot;
  }

  // The widget bound to a command in the menus or toolbar (first one).
  GtkWidget* widget_of(int id) {
    for (const CommandWidget& c : w.command_widgets)
      if (c.command == id) return c.widget;
    return nullptr;
  }

  bool sensitive(int id) {
    GtkWidget* wd = widget_of(id);
    return wd && gtk_widget_get_sensitive(wd);
  }

  std::string label(GtkWidget* wd) {
    if (GTK_IS_MENU_ITEM(wd)) return gtk_menu_item_get_label(GTK_MENU_ITEM(wd));
    if (GTK_IS_TOOL_BUTTON(wd)) return gtk_tool_button_get_label(GTK_TOOL_BUTTON(wd));
    return "";
  }

  std::string fixed_row_text(int id) {
    GtkTreeIter it;
    if (!tag_tree_find(w.tags, id, &it)) return "";
    gchar* text = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(w.tags->store), &it, TAG_COL_TEXT, &text, -1);
    std::string s = text ? text : "";
    g_free(text);
    return s;
  }

  std::string status_text() {
    GtkWidget* area = gtk_statusbar_get_message_area(GTK_STATUSBAR(w.statusbar));
    GList* kids = gtk_container_get_children(GTK_CONTAINER(area));
    std::string s = kids && GTK_IS_LABEL(kids->data) ? gtk_label_get_text(GTK_LABEL(kids->data)) : "";
    g_list_free(kids);
    return s;
  }

  int64_t work = -1, home = -1;
};
