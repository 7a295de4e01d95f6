// SPDX-License-Identifier: GPL-3.0-or-later
// The main window driven through its handlers: sensitivities from the
// selection, navigation through the real panes, relabelling, the list type,
// calendar and sort handlers, keys and pointer, and the notification hub.
#include <gtest/gtest.h>

#include "app/nav_ring.h"
#include "model/list.h"
#include "model/ops.h"
#include "model/tag.h"
#include "model/tag_ops.h"
#include "support/strings.h"
#include "window_fixture.h"

namespace {

TEST(CommandTable, EntriesAreInIdOrderWithLabels) {
  for (int id = 0; id < CMD_COUNT; id++) {
    EXPECT_EQ(command(id).id, id);
    EXPECT_NE(ui_string(command(id).label), nullptr) << id;
  }
}

TEST(CommandTable, ConditionsFollowTheSelection) {
  CommandState none;
  EXPECT_TRUE(command_condition(WHEN_ALWAYS, none));
  for (CommandWhen c : {WHEN_ACCOUNT, WHEN_UNDO, WHEN_REDO, WHEN_REAL_TAG, WHEN_REPO_ROW, WHEN_PASTE,
                        WHEN_TAG_DELETABLE, WHEN_SYNCABLE, WHEN_CAN_BACK, WHEN_CAN_FORWARD, WHEN_ITEM})
    EXPECT_FALSE(command_condition(c, none)) << c;
  CommandState tag;
  tag.real_tag = true;
  tag.undo_state = 2;
  EXPECT_FALSE(command_condition(WHEN_UNDO, tag));
  EXPECT_TRUE(command_condition(WHEN_REDO, tag));
  EXPECT_TRUE(command_condition(WHEN_TAG_DELETABLE, tag));
  EXPECT_FALSE(command_condition(WHEN_PASTE, tag));
  tag.clipboard = true;
  EXPECT_TRUE(command_condition(WHEN_PASTE, tag));
  tag.repo_row = true;
  EXPECT_FALSE(command_condition(WHEN_TAG_DELETABLE, tag));
  EXPECT_TRUE(command_condition(WHEN_REPO_ROW, tag));
  // Undo needs a real tag even when the state says so.
  CommandState fixed;
  fixed.undo_state = 3;
  EXPECT_FALSE(command_condition(WHEN_UNDO, fixed));
}

using Window = WindowTest;

TEST_F(Window, StateFollowsTagSelection) {
  select(VIEW_TRASH);
  CommandState s = command_state(w);
  EXPECT_FALSE(s.real_tag);
  select(static_cast<int>(g_repos[0].root));
  s = command_state(w);
  EXPECT_TRUE(s.real_tag);
  EXPECT_TRUE(s.repo_row);
  EXPECT_FALSE(s.syncable);  // no account, no server id
  select(static_cast<int>(work));
  s = command_state(w);
  EXPECT_TRUE(s.real_tag);
  EXPECT_FALSE(s.repo_row);
  // Commands without a handler stay insensitive whatever the selection;
  // those with one follow their condition.
  for (int id = 0; id < CMD_COUNT; id++) {
    if (!command(id).handler && widget_of(id)) {
      EXPECT_FALSE(sensitive(id)) << id;
    }
  }
  EXPECT_TRUE(sensitive(CMD_NEW_TAG));
  EXPECT_TRUE(sensitive(CMD_QUIT));
  EXPECT_TRUE(sensitive(CMD_COMPLETED));
}

TEST_F(Window, UndoStateOfTheSelectedRepository) {
  int64_t other = add(g_repos[1].root, ITEM_NOTE, "b");
  select(static_cast<int>(work));
  EXPECT_EQ(w.undo_state, 1);  // making the tags left undo steps
  EXPECT_EQ(command_state(w).undo_state, 1);
  // A change in the other repository does not touch it...
  w.undo_state = 0;
  ASSERT_EQ(item_set_flags(other, ITEM_TRASHED), 0);
  EXPECT_EQ(w.undo_state, 0);
  // ...one in the selected tag's repository does.
  int64_t a = add(work, ITEM_NOTE, "a");
  ASSERT_GE(a, 0);
  EXPECT_EQ(w.undo_state, 1);
  select(VIEW_TRASH);
  EXPECT_EQ(command_state(w).undo_state, 0);
}

TEST_F(Window, BackAndForwardThroughTags) {
  int64_t a = add(work, ITEM_NOTE, "note in work", "alpha");
  int64_t b = add(home, ITEM_NOTE, "note in home", "beta");
  pump();
  select(static_cast<int>(work));
  select_item(a);
  EXPECT_FALSE(sensitive(CMD_BACK));
  select(static_cast<int>(home));
  select_item(b);
  EXPECT_TRUE(sensitive(CMD_BACK));
  EXPECT_FALSE(sensitive(CMD_FORWARD));
  EXPECT_NE(detail_view_text(w.detail).find("beta"), std::string::npos);

  ASSERT_EQ(command_run(&w, CMD_BACK), 0);
  pump();
  EXPECT_EQ(model().view, work);
  EXPECT_EQ(model().selected_item, a);
  EXPECT_NE(detail_view_text(w.detail).find("alpha"), std::string::npos);
  EXPECT_FALSE(sensitive(CMD_BACK));
  EXPECT_TRUE(sensitive(CMD_FORWARD));
  EXPECT_EQ(command_run(&w, CMD_BACK), -1);  // insensitive: nothing happens

  ASSERT_EQ(command_run(&w, CMD_FORWARD), 0);
  pump();
  EXPECT_EQ(model().view, home);
  EXPECT_EQ(model().selected_item, b);
  EXPECT_FALSE(sensitive(CMD_FORWARD));
}

// A place whose tag was deleted is stepped over, and a tag made afterwards
// (which may take the freed slot) is not mistaken for it.
TEST_F(Window, BackStepsOverADeletedTag) {
  int64_t later = make_tag(g_repos[0].root, "Later");
  model().view = VIEW_REMINDERS;
  int64_t a = add(work, ITEM_NOTE, "a");
  int64_t b = add(home, ITEM_NOTE, "b");
  int64_t c = add(later, ITEM_NOTE, "c");
  pump();
  select(static_cast<int>(work));
  select_item(a);
  select(static_cast<int>(home));
  select_item(b);
  select(static_cast<int>(later));
  select_item(c);
  ASSERT_EQ(delete_tag(static_cast<int32_t>(home)), 0);
  int64_t other = make_tag(g_repos[0].root, "Other");
  ASSERT_GT(other, 0);
  model().view = static_cast<int32_t>(later);
  tag_tree_fill(w.tags);
  pump();

  ASSERT_EQ(command_run(&w, CMD_BACK), 0);
  pump();
  EXPECT_EQ(model().view, work);
  EXPECT_EQ(model().selected_item, a);
  ASSERT_EQ(command_run(&w, CMD_FORWARD), 0);
  pump();
  EXPECT_EQ(model().view, later);
  EXPECT_EQ(model().selected_item, c);
}

TEST_F(Window, SelectingAnotherItemInTheSameTagOverwritesTheEntry) {
  int64_t a = add(work, ITEM_NOTE, "a");
  int64_t b = add(work, ITEM_NOTE, "b");
  pump();
  select(static_cast<int>(work));
  select_item(a);
  select_item(b);
  select_item(a);
  EXPECT_EQ(w.nav.pos, w.nav.start);
  EXPECT_EQ(w.nav.entries[w.nav.pos].item, a);
}

TEST_F(Window, StatusBarAndDetailFollowTheItemSelection) {
  int64_t a = add(work, ITEM_NOTE, "a", "first body");
  int64_t t = add(work, ITEM_TASK, "t", "", time(nullptr) + 7200);
  pump();
  select(static_cast<int>(work));
  select_item(a);
  std::string s = status_text();
  EXPECT_EQ(s.find(std::string(ui_string(STR_CREATED)) + ": "), 0u);
  EXPECT_NE(s.find(std::string("  |  ") + ui_string(STR_MODIFIED) + ": "), std::string::npos);
  EXPECT_EQ(s.find(ui_string(STR_STATUS_REMINDER)), std::string::npos);  // no due time
  select_item(t);
  EXPECT_NE(status_text().find(std::string("  |  ") + ui_string(STR_STATUS_REMINDER) + ": "), std::string::npos);

  // Two rows: no item, empty detail, empty status.
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(w.item_list));
  gtk_tree_selection_select_all(sel);
  pump();
  EXPECT_EQ(model().selected_item, -1);
  EXPECT_EQ(detail_view_text(w.detail), "");
  EXPECT_EQ(status_text(), "");
}

TEST_F(Window, ListTypeRowAndCalendar) {
  EXPECT_EQ(fixed_row_text(VIEW_FIXED), std::string(ui_string(STR_ROW_LISTS)) + ": " + ui_string(STR_LIST_UPCOMING));
  ASSERT_EQ(command_run(&w, CMD_LIST_TYPE, 8), 0);
  EXPECT_EQ(model().fixed_kind, 8);
  EXPECT_EQ(fixed_row_text(VIEW_FIXED), std::string(ui_string(STR_ROW_LISTS)) + ": " + ui_string(STR_LIST_ALL));
  select(static_cast<int>(work));
  on_calendar_day(&w);
  pump();
  EXPECT_EQ(model().view, VIEW_FIXED);
  EXPECT_EQ(model().fixed_kind, FIXED_CALENDAR_DAY);
  EXPECT_EQ(fixed_row_text(VIEW_FIXED), std::string(ui_string(STR_ROW_LISTS)) + ": " + ui_string(STR_CALENDAR));
}

TEST_F(Window, SortHandlerKeepsReminderAndUpcomingOrder) {
  Settings& s = app_core().settings;
  s.sort_by = 2;
  select(VIEW_REMINDERS);
  on_sort_column(1, &w);
  EXPECT_EQ(s.sort_by, 2);
  set_list_type(&w, FIXED_UPCOMING);
  select(VIEW_FIXED);
  on_sort_column(1, &w);
  EXPECT_EQ(s.sort_by, 2);
  select(static_cast<int>(work));
  on_sort_column(1, &w);
  EXPECT_EQ(s.sort_by, 1);
}

TEST_F(Window, CompletedToggleRelabelsAndReloads) {
  add(work, ITEM_TASK, "open task");
  int64_t done = add(work, ITEM_TASK, "done task");
  ASSERT_EQ(item_set_flags(done, ITEM_COMPLETED), 0);
  pump();
  app_core().settings.show_completed = 1;
  commands_relabel(&w);
  select(static_cast<int>(work));
  EXPECT_EQ(label(widget_of(CMD_COMPLETED)), ui_string(STR_HIDE_COMPLETED));
  EXPECT_EQ(w.items->item_rows, 2);
  // Ctrl+T through the window's accelerators.
  ASSERT_TRUE(gtk_accel_groups_activate(G_OBJECT(w.window), GDK_KEY_t, GDK_CONTROL_MASK));
  pump();
  EXPECT_EQ(app_core().settings.show_completed, 0);
  EXPECT_EQ(label(widget_of(CMD_COMPLETED)), ui_string(STR_SHOW_COMPLETED));
  EXPECT_EQ(w.items->item_rows, 1);
}

TEST_F(Window, RelabelAfterALanguageChange) {
  ASSERT_EQ(strings_set_language(3), 1);
  main_window_relabel(&w);
  EXPECT_EQ(label(widget_of(CMD_BACK)), ui_string_in(3, STR_BACK));
  EXPECT_EQ(label(widget_of(CMD_QUIT)), ui_string_in(3, STR_QUIT));
  EXPECT_EQ(label(widget_of(CMD_SHOW_HIDDEN)), ui_string_in(3, STR_SHOW_HIDDEN_REPOS));
  EXPECT_EQ(fixed_row_text(VIEW_TRASH), ui_string_in(3, STR_ROW_TRASH));
  EXPECT_EQ(fixed_row_text(VIEW_SEARCH), ui_string_in(3, STR_ROW_SEARCH_RESULTS));
  EXPECT_EQ(fixed_row_text(VIEW_FIXED),
            std::string(ui_string_in(3, STR_ROW_LISTS)) + ": " + ui_string_in(3, STR_LIST_UPCOMING));
  EXPECT_EQ(fixed_row_text(VIEW_REMINDERS), std::string(ui_string_in(3, STR_ROW_REMINDERS)) + " (0)");
  // The menu-bar titles too.
  GList* menus = gtk_container_get_children(GTK_CONTAINER(w.menubar));
  EXPECT_EQ(std::string(gtk_menu_item_get_label(GTK_MENU_ITEM(menus->data))), ui_string_in(3, STR_MENU_FILE));
  g_list_free(menus);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.window)), ui_string_in(3, STR_APP_NAME));
  // And the names a screen reader gives the two bars.
  EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(w.menubar)), ui_string_in(3, STR_MAIN_MENU));
  EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(w.toolbar)), ui_string_in(3, STR_TOOLBAR));
  strings_set_language(0);
}

TEST_F(Window, ItemPopupForOneTaskAndForSeveralItems) {
  int64_t t = add(work, ITEM_TASK, "t", "", time(nullptr) + 3600);
  add(work, ITEM_NOTE, "n");
  pump();
  select(static_cast<int>(work));
  select_item(t);
  GtkWidget* menu = item_popup_build(&w);
  std::vector<std::string> labels;
  GList* kids = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = kids; l; l = l->next)
    if (!GTK_IS_SEPARATOR_MENU_ITEM(l->data)) labels.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)));
  g_list_free(kids);
  std::vector<std::string> want = {ui_string(STR_LATER),   ui_string(STR_EDIT),   ui_string(STR_SET_TAGS),
                                   ui_string(STR_HISTORY), ui_string(STR_DELETE), ui_string(STR_MOVE_TO_TRASH),
                                   ui_string(STR_COPY),    ui_string(STR_ATTACH), ui_string(STR_SAVE_AS)};
  EXPECT_EQ(labels, want);
  gtk_widget_destroy(menu);

  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(w.item_list));
  gtk_tree_selection_select_all(sel);
  pump();
  menu = item_popup_build(&w);
  labels.clear();
  kids = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = kids; l; l = l->next)
    if (!GTK_IS_SEPARATOR_MENU_ITEM(l->data)) labels.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)));
  g_list_free(kids);
  want = {ui_string(STR_SET_TAGS), ui_string(STR_DELETE), ui_string(STR_MOVE_TO_TRASH), ui_string(STR_COPY)};
  EXPECT_EQ(labels, want);
  gtk_widget_destroy(menu);
}

GdkEventButton* button_event(GtkWidget* tree, int button, int x, int y) {
  auto* ev = reinterpret_cast<GdkEventButton*>(gdk_event_new(GDK_BUTTON_PRESS));
  ev->window = GDK_WINDOW(g_object_ref(gtk_tree_view_get_bin_window(GTK_TREE_VIEW(tree))));
  ev->button = button;
  ev->x = x;
  ev->y = y;
  ev->time = GDK_CURRENT_TIME;
  gdk_event_set_device(reinterpret_cast<GdkEvent*>(ev),
                       gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
  return ev;
}

TEST_F(Window, ClickOnATaskIconTogglesCompleted) {
  int64_t t = add(work, ITEM_TASK, "task");
  int64_t n = add(work, ITEM_NOTE, "note");
  pump();
  app_core().settings.sort_by = 1;  // no header rows
  select(static_cast<int>(work));
  for (int64_t slot : {t, n}) {
    ASSERT_TRUE(item_list_select_item(w.items, slot));
    GtkTreePath* path = nullptr;
    gtk_tree_view_get_cursor(GTK_TREE_VIEW(w.item_list), &path, nullptr);
    ASSERT_NE(path, nullptr);
    GdkRectangle r;
    gtk_tree_view_get_cell_area(GTK_TREE_VIEW(w.item_list), path, w.items->columns[0], &r);
    gtk_tree_path_free(path);
    GdkEventButton* ev = button_event(w.item_list, 1, r.x + r.width / 2, r.y + r.height / 2);
    on_tree_button_press(w.item_list, ev, &w);
    gdk_event_free(reinterpret_cast<GdkEvent*>(ev));
    pump();
  }
  EXPECT_EQ(item_get(t)->flags & ITEM_COMPLETED, ITEM_COMPLETED);
  EXPECT_EQ(item_get(n)->flags, 0);  // not a task: nothing
}

TEST_F(Window, RightClickMenusByRow) {
  select(VIEW_TRASH);
  // Below the last row: no menu, nothing changes.
  GdkEventButton* ev = button_event(w.tag_tree, 3, 5, 2000);
  EXPECT_FALSE(on_tree_button_press(w.tag_tree, ev, &w));
  gdk_event_free(reinterpret_cast<GdkEvent*>(ev));
  // Keyboard popups: none on the trash row, the list types on the first row,
  // the tag menu on a tag.
  EXPECT_FALSE(context_menu_at_cursor(&w, w.tag_tree));
  select(VIEW_FIXED);
  EXPECT_TRUE(context_menu_at_cursor(&w, w.tag_tree));
  EXPECT_TRUE(gtk_widget_get_visible(w.list_type_menu));
  gtk_menu_popdown(GTK_MENU(w.list_type_menu));
  select(static_cast<int>(work));
  EXPECT_TRUE(context_menu_at_cursor(&w, w.tag_tree));
  EXPECT_TRUE(gtk_widget_get_visible(w.tag_menu));
  gtk_menu_popdown(GTK_MENU(w.tag_menu));
  pump();
}

TEST_F(Window, TabMovesBetweenTreeAndListAndEditingKeepsKeys) {
  gtk_widget_grab_focus(w.tag_tree);
  auto key = [&](guint keyval) {
    GdkEventKey ev = {};
    ev.type = GDK_KEY_PRESS;
    ev.keyval = keyval;
    return on_key_press(w.window, &ev, &w);
  };
  EXPECT_TRUE(key(GDK_KEY_Tab));
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(w.window)), w.item_list);
  EXPECT_TRUE(key(GDK_KEY_ISO_Left_Tab));
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(w.window)), w.tag_tree);
  EXPECT_TRUE(key(GDK_KEY_F6));
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(w.window)), w.calendar);
  EXPECT_TRUE(key(GDK_KEY_Delete));  // consumed, nothing to delete there
  EXPECT_FALSE(key(GDK_KEY_a));
  w.tag_editing = true;
  EXPECT_FALSE(key(GDK_KEY_Tab));
  EXPECT_FALSE(key(GDK_KEY_Delete));
  w.tag_editing = false;
}

TEST_F(Window, ChangesAreMergedIntoOneRefreshAndPausedForBulkWork) {
  select(static_cast<int>(work));
  int64_t a = add(work, ITEM_NOTE, "a");
  add(work, ITEM_NOTE, "b");
  EXPECT_NE(w.refresh_idle, 0u);  // pending, not yet run
  EXPECT_EQ(w.items->item_rows, 0);
  notify_flush(&w);
  EXPECT_EQ(w.refresh_idle, 0u);
  EXPECT_EQ(w.items->item_rows, 2);
  {
    RefreshPause pause(&w);
    ASSERT_EQ(item_set_flags(a, ITEM_TRASHED), 0);
    add(work, ITEM_NOTE, "c");
      EXPECT_EQ(w.refresh_idle, 0u);
    EXPECT_EQ(w.items->item_rows, 2);
  }
  // One refresh when the pause ends.
  EXPECT_EQ(w.items->item_rows, 2);  // a trashed, c added
  GtkTreeModel* m = gtk_tree_view_get_model(GTK_TREE_VIEW(w.item_list));
  EXPECT_EQ(gtk_tree_model_iter_n_children(m, nullptr), 2);
}

TEST_F(Window, QuitSavesGeometryAndHidingWithoutTrayQuits) {
  gtk_window_resize(GTK_WINDOW(w.window), 700, 500);
  gtk_paned_set_position(GTK_PANED(w.hpaned), 180);
  pump();
  // No tray embeds the icon on the test display: closing quits.
  EXPECT_FALSE(tray_embedded(&w));
  GdkEvent* ev = gdk_event_new(GDK_DELETE);
  ev->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(w.window)));
  gtk_main_do_event(ev);
  gdk_event_free(ev);
  pump();
  EXPECT_FALSE(w.built);
  EXPECT_EQ(app_core().settings.hs_pos, 180);
  EXPECT_GT(app_core().settings.win_width, 0);
}

TEST_F(Window, ToggleHidesAndShowsWithGeometrySaved) {
  gtk_paned_set_position(GTK_PANED(w.vpaned), 150);
  pump();
  main_window_toggle(&w);
  EXPECT_FALSE(gtk_widget_get_visible(w.window));
  EXPECT_EQ(app_core().settings.vs_pos, 150);
  main_window_toggle(&w);
  EXPECT_TRUE(gtk_widget_get_visible(w.window));
}

}  // namespace

namespace {

TEST_F(Window, TrayAlertAndRemindersRowFollowDueReminders) {
  tray_refresh(&w, time(nullptr));
  EXPECT_FALSE(w.tray_alert);
  EXPECT_EQ(fixed_row_text(VIEW_REMINDERS), std::string(ui_string(STR_ROW_REMINDERS)) + " (0)");
  int32_t view = model().view;
  model().view = static_cast<int32_t>(work);
  ItemForm f;
  item_form_fill(-1, ITEM_TASK, &f);
  f.title = "soon";
  int64_t now = time(nullptr);
  f.due = now + 300;
  f.remind_unit = 1;  // 10 minutes before: the reminder has come
  f.remind_count = 10;
  ASSERT_GE(item_store(-1, ITEM_TASK, f, 0, model().view), 0);
  model().view = view;
  // The reminder notification refreshes on idle.
  pump();
  EXPECT_FALSE(w.tray_alert);
  EXPECT_EQ(fixed_row_text(VIEW_REMINDERS), std::string(ui_string(STR_ROW_REMINDERS)) + " (1)");
  // Once the due time has passed too, the tray shows the alert.
  tray_refresh(&w, now + 600);
  EXPECT_TRUE(w.tray_alert);
  tray_refresh(&w, now);
  EXPECT_FALSE(w.tray_alert);
}

}  // namespace
