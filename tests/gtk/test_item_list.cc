// SPDX-License-Identifier: GPL-3.0-or-later
// The item list: order, day headers, cell appearance and the selection rules
// of a reload.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gtk_fixture.h"
#include "model/app_core.h"
#include "model/item.h"
#include "views/icons_gtk.h"
#include "views/item_list_gtk.h"

namespace {

struct ListEvents {
  int changes = 0;
  int emptied = 0;
  std::vector<int> clicked;
};

void on_changed(GtkTreeSelection*, void* d) { static_cast<ListEvents*>(d)->changes++; }
void on_emptied(void* d) { static_cast<ListEvents*>(d)->emptied++; }
void on_clicked(int c, void* d) { static_cast<ListEvents*>(d)->clicked.push_back(c); }

class ItemListTest : public GtkModelTest {
 protected:
  void SetUp() override {
    GtkModelTest::SetUp();
    app_core().settings.sort_by = 2;
    now = lt(2026, 3, 10, 12, 0);
  }
  ItemList* make() {
    ItemListCallbacks cb;
    cb.data = &events;
    cb.selection_changed = on_changed;
    cb.emptied = on_emptied;
    cb.column_clicked = on_clicked;
    ItemList* l = item_list_new(cb);
    window = std::make_unique<TestWindow>(l->view);
    return l;
  }
  void TearDown() override {
    window.reset();
    app_core().settings.sort_by = 2;
    GtkModelTest::TearDown();
  }
  // "title" for item rows, "[label]" for headers, in store order.
  std::vector<std::string> rows(ItemList* l) {
    std::vector<std::string> out;
    GtkTreeModel* m = GTK_TREE_MODEL(l->store);
    GtkTreeIter it;
    for (bool ok = gtk_tree_model_get_iter_first(m, &it); ok; ok = gtk_tree_model_iter_next(m, &it)) {
      gchar* title = nullptr;
      int slot = 0;
      gtk_tree_model_get(m, &it, ITEM_COL_TITLE, &title, ITEM_COL_SLOT, &slot, -1);
      out.push_back(slot < 0 ? "[" + std::string(title) + "]" : std::string(title));
      g_free(title);
    }
    return out;
  }
  int64_t task(const char* title, int64_t due = 0) {
    return make_item(g_repos[0].root, ITEM_TASK, title, "", due);
  }
  // Applies the cell data function of a column to a row and reads a property.
  template <typename T>
  T cell_property(ItemList* l, int column, int row, const char* prop) {
    GtkTreeIter it;
    GtkTreePath* p = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_model_get_iter(GTK_TREE_MODEL(l->store), &it, p);
    gtk_tree_path_free(p);
    gtk_tree_view_column_cell_set_cell_data(l->columns[column], GTK_TREE_MODEL(l->store), &it, FALSE, FALSE);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(l->columns[column]));
    T value{};
    g_object_get(cells->data, prop, &value, nullptr);
    g_list_free(cells);
    return value;
  }
  int64_t now = 0;
  ListEvents events;
  std::unique_ptr<TestWindow> window;
};

TEST_F(ItemListTest, TitleOrderWithoutHeadersForAnOrdinaryTag) {
  app_core().settings.sort_by = 1;
  task("beta", lt(2026, 3, 11, 9, 0));
  task("Alpha");
  task("gamma", lt(2026, 3, 9, 9, 0));
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* l = make();
  EXPECT_EQ(3, item_list_load(l, now));
  EXPECT_EQ((std::vector<std::string>{"Alpha", "beta", "gamma"}), rows(l));
  EXPECT_EQ(3, model().type_counts[ITEM_TASK]);
  EXPECT_TRUE(gtk_tree_view_column_get_sort_indicator(l->columns[1]));
  EXPECT_FALSE(gtk_tree_view_column_get_sort_indicator(l->columns[2]));
}

TEST_F(ItemListTest, DateOrderGroupsUnderDayHeaders) {
  task("undated");
  task("yesterday", lt(2026, 3, 9, 9, 0));
  task("today late", lt(2026, 3, 10, 20, 0));
  task("today early", lt(2026, 3, 10, 8, 0));
  task("in three days", lt(2026, 3, 13, 10, 0));
  task("next month", lt(2026, 4, 10, 10, 0));
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* l = make();
  EXPECT_EQ(6, item_list_load(l, now));
  std::string h = "[" + std::string(ui_string(STR_GROUP_EARLIER)) + "]";
  EXPECT_EQ((std::vector<std::string>{h, "yesterday", "[" + std::string(ui_string(STR_TODAY)) + "]", "today early",
                                      "today late", "[" + std::string(ui_string(STR_FRIDAY)) + "]", "in three days",
                                      "[" + std::string(ui_string(STR_LATER)) + "]", "next month",
                                      "[" + std::string(ui_string(STR_GROUP_NO_DATE)) + "]", "undated"}),
            rows(l));
  // The date column shows the list time.
  GtkTreeIter it;
  gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(l->store), &it, nullptr, 1);
  gchar* when = nullptr;
  gtk_tree_model_get(GTK_TREE_MODEL(l->store), &it, ITEM_COL_TIME, &when, -1);
  EXPECT_STREQ("Mar 9, 2026, 9:00 AM", when);
  g_free(when);
}

TEST_F(ItemListTest, UndatedListHasNoHeaders) {
  task("one");
  task("two");
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* l = make();
  item_list_load(l, now);
  EXPECT_EQ((std::vector<std::string>{"one", "two"}), rows(l));
}

TEST_F(ItemListTest, CompletedTasksAreGreyAndStruckHeadersCentred) {
  int64_t done = task("done", lt(2026, 3, 10, 9, 0));
  make_item(g_repos[0].root, ITEM_EVENT, "event", "", lt(2026, 3, 10, 10, 0));
  ASSERT_EQ(0, item_set_flags(done, ITEM_COMPLETED));
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* l = make();
  item_list_load(l, now);
  ASSERT_EQ((std::vector<std::string>{"[" + std::string(ui_string(STR_TODAY)) + "]", "done", "event"}), rows(l));
  EXPECT_TRUE(cell_property<gboolean>(l, 1, 1, "strikethrough"));
  EXPECT_TRUE(cell_property<gboolean>(l, 1, 1, "foreground-set"));
  EXPECT_FALSE(cell_property<gboolean>(l, 1, 2, "strikethrough"));
  EXPECT_FALSE(cell_property<gboolean>(l, 1, 2, "foreground-set"));
  EXPECT_FLOAT_EQ(0.5f, cell_property<gfloat>(l, 1, 0, "xalign"));
  EXPECT_TRUE(cell_property<gboolean>(l, 1, 0, "background-set"));
  EXPECT_FALSE(cell_property<gboolean>(l, 1, 1, "background-set"));
  EXPECT_FALSE(cell_property<gboolean>(l, 1, 0, "strikethrough"));
  // Icons follow the due state: a completed task, an event due today.
  GtkTreeIter it;
  gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(l->store), &it, nullptr, 1);
  GdkPixbuf* pb = nullptr;
  gtk_tree_model_get(GTK_TREE_MODEL(l->store), &it, ITEM_COL_ICON, &pb, -1);
  EXPECT_EQ(icon_get(ICON_TASK_DONE), pb);
  if (pb) g_object_unref(pb);
}

TEST_F(ItemListTest, HeaderTextStaysReadableOnDarkThemes) {
  GtkSettings* s = gtk_settings_get_default();
  task("x", lt(2026, 3, 10, 9, 0));
  model().view = static_cast<int32_t>(g_repos[0].root);
  g_object_set(s, "gtk-application-prefer-dark-theme", TRUE, nullptr);
  ItemList* l = make();
  item_list_load(l, now);
  pump();
  GdkRGBA* bg = cell_property<GdkRGBA*>(l, 1, 0, "background-rgba");
  GtkStyleContext* sc = gtk_widget_get_style_context(l->view);
  GdkRGBA fg;
  gtk_style_context_get_color(sc, GTK_STATE_FLAG_NORMAL, &fg);
  auto lum = [](const GdkRGBA& c) { return 0.2126 * c.red + 0.7152 * c.green + 0.0722 * c.blue; };
  // Whatever the theme, the header background and the text differ clearly.
  ASSERT_NE(nullptr, bg);
  GdkRGBA text = fg;
  if (cell_property<gboolean>(l, 1, 0, "foreground-set")) {
    GdkRGBA* f = cell_property<GdkRGBA*>(l, 1, 0, "foreground-rgba");
    text = *f;
    gdk_rgba_free(f);
  }
  EXPECT_GT(std::abs(lum(*bg) - lum(text)), 0.4);
  gdk_rgba_free(bg);
  g_object_set(s, "gtk-application-prefer-dark-theme", FALSE, nullptr);
}

TEST_F(ItemListTest, DeletingTheSelectedItemSelectsTheOneBelowOrAbove) {
  app_core().settings.sort_by = 1;
  task("a");
  int64_t b = task("b");
  int64_t c = task("c");
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* l = make();
  model().selected_item = b;
  item_list_reload(l, now);
  EXPECT_EQ((std::vector<int64_t>{b}), item_list_selected(l));
  ASSERT_EQ(0, item_remove(b));
  model().selected_item = b;
  int changes = events.changes;
  item_list_reload(l, now);
  EXPECT_EQ(c, model().selected_item);
  EXPECT_EQ((std::vector<int64_t>{c}), item_list_selected(l));
  EXPECT_GT(events.changes, changes);  // the cursor move ran the handler
  ASSERT_EQ(0, item_remove(c));
  item_list_reload(l, now);
  ASSERT_EQ(1u, item_list_selected(l).size());
  EXPECT_EQ("a", item_get(item_list_selected(l)[0])->title);
}

TEST_F(ItemListTest, CandidateSkipsHeaderRows) {
  int64_t today = task("today", lt(2026, 3, 10, 9, 0));
  task("tomorrow", lt(2026, 3, 11, 9, 0));
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* l = make();
  model().selected_item = today;
  item_list_reload(l, now);
  ASSERT_EQ(0, item_remove(today));
  item_list_reload(l, now);
  // The row below the deleted one was the next day's header.
  ASSERT_GE(model().selected_item, 0);
  EXPECT_EQ("tomorrow", item_get(model().selected_item)->title);
}

TEST_F(ItemListTest, FirstItemRowIsChosenAndHeadersCannotBeSelected) {
  task("x", lt(2026, 3, 10, 9, 0));
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* l = make();
  model().selected_item = -1;
  item_list_reload(l, now);
  GtkTreePath* p = nullptr;
  gtk_tree_view_get_cursor(GTK_TREE_VIEW(l->view), &p, nullptr);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(1, gtk_tree_path_get_indices(p)[0]);
  gtk_tree_path_free(p);
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(l->view));
  GtkTreePath* header = gtk_tree_path_new_from_indices(0, -1);
  gtk_tree_selection_select_path(sel, header);
  EXPECT_FALSE(gtk_tree_selection_path_is_selected(sel, header));
  gtk_tree_path_free(header);
}

TEST_F(ItemListTest, ReloadRunsTheSelectionHandlerOnce) {
  app_core().settings.sort_by = 1;
  int64_t mid = -1;
  for (int i = 0; i < 40; i++) {
    int64_t s = task(("t" + std::to_string(100 + i)).c_str());
    if (i == 20) mid = s;
  }
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* l = make();
  model().selected_item = mid;
  events.changes = 0;
  item_list_reload(l, now);
  EXPECT_EQ(1, events.changes);
  EXPECT_EQ((std::vector<int64_t>{mid}), item_list_selected(l));
  events.changes = 0;
  item_list_reload(l, now);
  EXPECT_EQ(1, events.changes);
}

TEST_F(ItemListTest, EmptyListClearsTheSelection) {
  model().view = static_cast<int32_t>(g_repos[0].root);
  model().selected_item = 5;
  ItemList* l = make();
  item_list_reload(l, now);
  EXPECT_EQ(-1, model().selected_item);
  EXPECT_EQ(1, events.emptied);
  EXPECT_EQ(0, events.changes);  // the reload itself is silent
}

TEST_F(ItemListTest, RowsOfItemsRemovedBeforeTheNextReloadReadAsEmpty) {
  app_core().settings.sort_by = 1;
  int64_t a = task("a");
  task("b");
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* l = make();
  item_list_load(l, now);
  ASSERT_EQ(0, item_remove(a));
  // The view may still draw the old rows until the reload that follows.
  GtkTreeIter it;
  ASSERT_TRUE(gtk_tree_model_get_iter_first(l->store, &it));
  gchar* title = nullptr;
  GdkPixbuf* pb = nullptr;
  gtk_tree_model_get(l->store, &it, ITEM_COL_TITLE, &title, ITEM_COL_ICON, &pb, -1);
  EXPECT_STREQ("", title);
  EXPECT_EQ(nullptr, pb);
  g_free(title);
  pump();
  item_list_load(l, now);
  EXPECT_EQ(std::vector<std::string>{"b"}, rows(l));
  // Iterators of an earlier load are not valid for the new model.
  GtkTreePath* path = gtk_tree_model_get_path(l->store, &it);
  EXPECT_EQ(nullptr, path);
  if (path) gtk_tree_path_free(path);
}

// A list longer than the first rows a load shows: pairs of dated items that
// tie on their times, then undated items that all tie, each added in
// reverse title order so that only the titles' collation puts them right.
class LongItemList : public ItemListTest {
 public:
  using ItemListTest::now;
  using ItemListTest::rows;
  static constexpr int kPairs = 100;
  static constexpr int kUndated = 300;
  void SetUp() override {
    ItemListTest::SetUp();
    for (int p = kPairs - 1; p >= 0; p--)
      for (const char* half : {"b", "a"}) add(title("d%03d-", p) + half, lt(2026, 5, 1, 9, 0) + p * 60);
    for (int u = kUndated - 1; u >= 0; u--) {
      add(title("u%03d", u), 0);
      if (u == kUndated - 1) last_row = last_slot;  // the last title in list order
    }
    model().view = VIEW_FIXED;
    model().fixed_kind = FIXED_ALL;
  }
  static std::string title(const char* fmt, int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, fmt, n);
    return buf;
  }
  void add(const std::string& name, int64_t due) {
    Item item;
    item.type = ITEM_TASK;
    item.title = name;
    item.due = due;
    item.created = item.modified = now;
    uint8_t uuid[16] = {0x5a};
    int n = ++added;
    std::memcpy(uuid + 8, &n, sizeof n);
    int64_t slot = -1;
    ASSERT_NE(nullptr, items_add_from_str(0, uuid, item_header_format(item).c_str(), &slot));
    last_slot = slot;
  }
  std::vector<std::string> expected() {
    std::vector<std::string> out{"[" + std::string(ui_string(STR_LATER)) + "]"};
    for (int p = 0; p < kPairs; p++)
      for (const char* half : {"a", "b"}) out.push_back(title("d%03d-", p) + half);
    out.push_back("[" + std::string(ui_string(STR_GROUP_NO_DATE)) + "]");
    for (int u = 0; u < kUndated; u++) out.push_back(title("u%03d", u));
    return out;
  }
  void wait_filled(ItemList* l) {
    while (l->fill_source) gtk_main_iteration_do(TRUE);
  }
  // The list as the focus of an active window (no window manager here to
  // activate it), which the keyboard's actions require.
  void focus(ItemList* l) {
    GtkWidget* top = gtk_widget_get_toplevel(l->view);
    GdkEvent* fe = gdk_event_new(GDK_FOCUS_CHANGE);
    fe->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(top)));
    fe->focus_change.send_event = TRUE;
    fe->focus_change.in = TRUE;
    gtk_widget_send_focus_change(top, fe);
    gdk_event_free(fe);
    gtk_widget_grab_focus(l->view);
  }
  // A key press as the keyboard delivers it to the list.
  void press(ItemList* l, guint keyval, GdkModifierType state = GdkModifierType(0)) {
    GdkEvent* ev = gdk_event_new(GDK_KEY_PRESS);
    ev->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(l->view)));
    ev->key.keyval = keyval;
    ev->key.state = state;
    GdkDisplay* display = gtk_widget_get_display(l->view);
    GdkKeymapKey* keys = nullptr;
    gint n = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &n) && n > 0) {
      ev->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
      ev->key.group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    gdk_event_set_device(ev, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    gtk_widget_grab_focus(l->view);
    gtk_widget_event(l->view, ev);
    gdk_event_free(ev);
  }
  int added = 0;
  int64_t last_slot = -1;
  int64_t last_row = -1;
};

TEST_F(LongItemList, ShowsItsFirstRowsAtOnceAndTheRestInListOrder) {
  ItemList* l = make();
  EXPECT_EQ(2 * kPairs + kUndated, item_list_load(l, now));
  EXPECT_EQ(2 * kPairs + kUndated, model().type_counts[ITEM_TASK]) << "counts cover rows not shown yet";
  std::vector<std::string> first = rows(l), want = expected();
  ASSERT_LT(first.size(), want.size());
  EXPECT_EQ(first, std::vector<std::string>(want.begin(), want.begin() + long(first.size())));
  wait_filled(l);
  EXPECT_EQ(want, rows(l));
}

// Whatever needs every row finds it there, however far the slices got.
TEST_F(LongItemList, KeysAndSelectionFinishTheListFirst) {
  struct Case {
    const char* name;
    std::function<void(LongItemList*, ItemList*)> act;
    std::function<void(LongItemList*, ItemList*)> check;
  };
  const Case cases[] = {
      {"End goes to the last row",
       [](LongItemList*, ItemList* l) { gtk_bindings_activate(G_OBJECT(l->view), GDK_KEY_End, GdkModifierType(0)); },
       [](LongItemList* t, ItemList* l) { EXPECT_EQ(std::vector<int64_t>{t->last_row}, item_list_selected(l)); }},
      {"Ctrl+A selects every item",
       [](LongItemList*, ItemList* l) { gtk_bindings_activate(G_OBJECT(l->view), GDK_KEY_a, GDK_CONTROL_MASK); },
       [](LongItemList*, ItemList* l) { EXPECT_EQ(size_t(2 * kPairs + kUndated), item_list_selected(l).size()); }},
      {"typing searches every title", [](LongItemList* t, ItemList* l) { t->press(l, GDK_KEY_u); },
       [](LongItemList*, ItemList*) {}},
      {"an item not shown yet is selected",
       [](LongItemList* t, ItemList* l) { EXPECT_TRUE(item_list_select_item(l, t->last_row)); },
       [](LongItemList* t, ItemList* l) { EXPECT_EQ(std::vector<int64_t>{t->last_row}, item_list_selected(l)); }},
      {"a reload starts the order over", [](LongItemList* t, ItemList* l) { item_list_reload(l, t->now); },
       [](LongItemList* t, ItemList* l) {
         t->wait_filled(l);
         EXPECT_EQ(t->expected(), t->rows(l));
       }},
  };
  ItemList* l = make();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model().selected_item = -1;
    item_list_reload(l, now);
    ASSERT_NE(0u, l->fill_source);
    focus(l);
    c.act(this, l);
    pump();
    EXPECT_EQ(expected().size(), rows(l).size());
    c.check(this, l);
  }
}

TEST_F(ItemListTest, ColumnHeadersReportTheirIndexAndIconColumnIsMarked) {
  ItemList* l = make();
  for (int i = 0; i < 3; i++) gtk_tree_view_column_clicked(l->columns[i]);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), events.clicked);
  EXPECT_NE(nullptr, g_object_get_data(G_OBJECT(l->columns[0]), "i"));
  EXPECT_EQ(nullptr, g_object_get_data(G_OBJECT(l->columns[1]), "i"));
}

}  // namespace
