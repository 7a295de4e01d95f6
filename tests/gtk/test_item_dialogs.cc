// SPDX-License-Identifier: GPL-3.0-or-later
// The tag assignment, search and history dialogs through their handlers,
// checked on the links, search results and versions in the repository.
#include <algorithm>
#include <memory>

#include "dialogs/history_dialog.h"
#include "dialogs/search_dialog.h"
#include "dialogs/tag_assign_dialog.h"
#include "editor_driver.h"
#include "model/ops.h"
#include "model/search.h"
#include "model/tag_ops.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

using ItemDialogTest = EditorTest;

int64_t new_note(const std::string& title, const std::string& body, int64_t under) {
  ItemForm f;
  f.title = title;
  f.body = body;
  int32_t view = model().view;
  model().view = static_cast<int32_t>(under);
  int64_t slot = item_store(-1, ITEM_NOTE, f, 0, under);
  model().view = view;
  return slot;
}

// Links of an item as stored: read back from the database by reloading the
// repository's links is beyond these tests; the in-memory links are what
// the store wrote in the same group.
bool linked(int64_t tag_slot, int64_t item) {
  return tag_link_exists(static_cast<int32_t>(tag_slot), static_cast<int32_t>(item));
}

TEST_F(ItemDialogTest, TagAssignmentOfSeveralItems) {
  int64_t home = make_tag(g_repos[0].root, "home");
  int64_t deep = make_tag(home, "deep");
  int64_t root = g_repos[0].root;
  int64_t a = make_item(root, ITEM_TASK, "a", "x", 0);
  int64_t b = make_item(root, ITEM_TASK, "b", "y", 0);
  int64_t c = make_item(root, ITEM_TASK, "c", "z", 0);
  ASSERT_EQ(0, group_begin(0));
  ASSERT_EQ(0, update_tag_item(static_cast<int32_t>(tag), static_cast<int32_t>(c), 1));
  ASSERT_EQ(0, update_tag_item(static_cast<int32_t>(home), static_cast<int32_t>(b), 1));
  ASSERT_EQ(0, group_end(0, 0));
  ASSERT_TRUE(a >= 0 && b >= 0 && c >= 0);

  TagTree* tree = tag_tree_new(TagTreeCallbacks{});
  auto tree_window = std::make_unique<TestWindow>(tree->view);
  ASSERT_TRUE(tag_tree_select(tree, static_cast<int>(home)));
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemList* list = item_list_new(ItemListCallbacks{});
  auto list_window = std::make_unique<TestWindow>(list->view);
  ASSERT_EQ(3, item_list_load(list, time(nullptr)));
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(list->view));
  gtk_tree_selection_unselect_all(sel);
  GtkTreeIter it;
  if (gtk_tree_model_get_iter_first(list->store, &it)) {
    do {
      GtkTreePath* p = gtk_tree_model_get_path(list->store, &it);
      int64_t item = item_list_item_at(list, p);
      if (item == a || item == b) gtk_tree_selection_select_path(sel, p);
      gtk_tree_path_free(p);
    } while (gtk_tree_model_iter_next(list->store, &it));
  }
  ASSERT_EQ(2u, item_list_selected(list).size());

  bool ok_start = false, ok_none = true;
  std::vector<int64_t> listed;
  {
    Script s;
    s.then([&](GtkWindow* w) {
      const TagAssignWidgets& t = tag_assign_widgets();
      ASSERT_EQ(GTK_WINDOW(t.dialog), w);
      listed = t.tags;
      ok_start = sensitive(t.ok);
      for (GtkWidget* check : t.checks) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), FALSE);
      ok_none = sensitive(t.ok);
      for (size_t i = 0; i < t.tags.size(); i++)
        if (t.tags[i] == deep || t.tags[i] == tag) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(t.checks[i]), TRUE);
      respond(w, GTK_RESPONSE_OK);
    });
    EXPECT_TRUE(tag_assign_dialog(list, tree));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_TRUE(ok_start);  // the selected tag starts chosen
  EXPECT_FALSE(ok_none);
  // The repository's tags in tree order, its root first.
  ASSERT_GE(listed.size(), 4u);
  EXPECT_EQ(g_repos[0].root, listed[0]);
  for (int64_t item : {a, b}) {
    EXPECT_TRUE(linked(deep, item));
    EXPECT_TRUE(linked(tag, item));
    EXPECT_FALSE(linked(home, item));
    EXPECT_FALSE(linked(g_repos[0].root, item));
  }
  EXPECT_TRUE(linked(tag, c));
  EXPECT_FALSE(linked(deep, c));

  // Cancel changes nothing.
  {
    Script s;
    s.then([](GtkWindow* w) {
      for (GtkWidget* check : tag_assign_widgets().checks)
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), TRUE);
      respond(w, GTK_RESPONSE_CANCEL);
    });
    EXPECT_FALSE(tag_assign_dialog(list, tree));
  }
  EXPECT_FALSE(linked(home, a));
}

TEST_F(ItemDialogTest, SearchByBodyTextAndAnEmptyResultKeepsTheDialog) {
  int64_t a = new_note("groceries", "Buy Saffron and rice", tag);
  new_note("other", "nothing here", tag);
  ASSERT_GE(a, 0);
  search_state_set("", 0);
  bool ok_empty = true, said_nothing = false;
  std::string kept;
  int found;
  {
    Script s;
    s.then([&](GtkWindow* w) {
       ok_empty = sensitive(search_widgets().ok);
       set_text(search_widgets().entry, "no such 100% text");
       respond(w, GTK_RESPONSE_OK);
     })
        .then([&](GtkWindow* w) {
          said_nothing = is_message(w);
          respond(w, GTK_RESPONSE_OK);
        })
        .then([&](GtkWindow* w) {
          kept = gtk_entry_get_text(GTK_ENTRY(search_widgets().entry));
          set_text(search_widgets().entry, "SAFFRON");  // only in the body, other case
          respond(w, GTK_RESPONSE_OK);
        });
    found = search_dialog();
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_FALSE(ok_empty);
  EXPECT_TRUE(said_nothing);
  EXPECT_EQ("no such 100% text", kept);
  EXPECT_EQ(1, found);
  EXPECT_TRUE(linked(-1, a));
  EXPECT_EQ("SAFFRON", search_text());

  // Case-sensitive: the capitals no longer match; cancel gives -1.
  {
    Script s;
    s.then([](GtkWindow* w) {
       EXPECT_EQ(std::string("SAFFRON"), gtk_entry_get_text(GTK_ENTRY(search_widgets().entry)));
       gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(search_widgets().case_check), TRUE);
       respond(w, GTK_RESPONSE_OK);
     })
        .then([](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); })  // nothing found
        .then([](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); });
    EXPECT_EQ(-1, search_dialog());
    EXPECT_EQ(0, s.unexpected);
  }
}

int count_versions(int64_t slot) {
  HistoryView view;
  return history_load(&view, item_get(slot));
}

TEST_F(ItemDialogTest, HistoryShowsVersionsAndDeletesThem) {
  int64_t slot = new_note("v1", "first body", tag);
  ASSERT_GE(slot, 0);
  for (const char* title : {"v2", "v3"}) {
    ItemForm f;
    item_form_fill(slot, ITEM_NOTE, &f);
    f.title = title;
    f.body = std::string("body of ") + title;
    ASSERT_EQ(slot, item_store(slot, ITEM_NOTE, f, 1, 0));  // keep history
  }
  ASSERT_EQ(2, count_versions(slot));

  int rows = 0;
  std::string first_title, rendered, after_delete, after_last;
  bool delete_on = false;
  {
    Script s;
    s.then([&](GtkWindow*) {
       const HistoryWidgets& h = history_widgets();
       rows = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(h.store), nullptr);
       GtkTreeIter it;
       gtk_tree_model_get_iter_first(GTK_TREE_MODEL(h.store), &it);
       gchar* t = nullptr;
       gtk_tree_model_get(GTK_TREE_MODEL(h.store), &it, HIST_COL_TITLE, &t, -1);
       first_title = t ? t : "";
       g_free(t);
       GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(h.text));
       GtkTextIter x, y;
       gtk_text_buffer_get_bounds(buf, &x, &y);
       gchar* txt = gtk_text_buffer_get_text(buf, &x, &y, FALSE);
       rendered = txt ? txt : "";
       g_free(txt);
       delete_on = sensitive(h.remove);
       // Delete the last row: the first is selected after.
       GtkTreePath* last = gtk_tree_path_new_from_indices(rows - 1, -1);
       gtk_tree_view_set_cursor(GTK_TREE_VIEW(h.list), last, nullptr, FALSE);
       gtk_tree_path_free(last);
       history_delete_selected();  // asks: the next step answers
     })
        .then([](GtkWindow* w) { respond(w, GTK_RESPONSE_YES); })
        .then([&](GtkWindow* w) {
          const HistoryWidgets& h = history_widgets();
          GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(h.list));
          GtkTreeModel* m;
          GtkTreeIter it;
          if (gtk_tree_selection_get_selected(sel, &m, &it)) {
            gchar* t = nullptr;
            gtk_tree_model_get(m, &it, HIST_COL_TITLE, &t, -1);
            after_delete = t ? t : "";
            g_free(t);
          }
          after_last = std::to_string(gtk_tree_model_iter_n_children(GTK_TREE_MODEL(h.store), nullptr));
          respond(w, GTK_RESPONSE_OK);
        });
    EXPECT_EQ(2, item_history(slot));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ(2, rows);
  EXPECT_TRUE(delete_on);
  // The first row (the newest; saves within one second tie) is shown
  // rendered, and stays selected when the last row goes.
  ASSERT_TRUE(first_title == "v1" || first_title == "v2") << first_title;
  EXPECT_NE(rendered.find(first_title == "v1" ? "first body" : "body of v2"), std::string::npos) << rendered;
  EXPECT_NE(rendered.find(first_title), std::string::npos);
  EXPECT_EQ(first_title, after_delete);
  EXPECT_EQ("1", after_last);
  // Stored: one earlier version left, and the current item untouched.
  EXPECT_EQ(1, count_versions(slot));
  Stored st = read_back_slot(slot);
  EXPECT_EQ("v3", st.item.title);
  EXPECT_EQ("body of v3", st.body);
  EXPECT_EQ("v3", item_get(slot)->title);
}

}  // namespace

namespace {

TEST_F(ItemDialogTest, TagsBelowDepthThirtyOneAreNotListed) {
  std::vector<int64_t> chain;
  int64_t parent = g_repos[0].root;
  for (int depth = 1; depth <= 40; depth++) {
    parent = make_tag(parent, ("level " + std::to_string(depth)).c_str());
    ASSERT_GE(parent, 1);
    chain.push_back(parent);
  }
  int64_t item = make_item(g_repos[0].root, ITEM_NOTE, "n", "", 0);
  model().selected_item = item;
  TagTree* tree = tag_tree_new(TagTreeCallbacks{});
  auto window = std::make_unique<TestWindow>(tree->view);
  // A fixed row selected: the selected item's repository is listed.
  ASSERT_TRUE(tag_tree_select(tree, VIEW_TRASH));
  std::vector<int64_t> listed;
  bool ok_start = false;
  {
    Script s;
    s.then([&](GtkWindow* w) {
      listed = tag_assign_widgets().tags;
      ok_start = sensitive(tag_assign_widgets().ok);
      respond(w, GTK_RESPONSE_CANCEL);
    });
    EXPECT_FALSE(tag_assign_dialog(nullptr, tree));
  }
  auto has = [&](int64_t t) { return std::find(listed.begin(), listed.end(), t) != listed.end(); };
  EXPECT_TRUE(has(g_repos[0].root));
  EXPECT_TRUE(has(tag));
  EXPECT_TRUE(has(chain[30]));   // depth 31
  EXPECT_FALSE(has(chain[31]));  // depth 32
  EXPECT_FALSE(has(chain[39]));
  EXPECT_TRUE(ok_start);  // the item carries the root tag
  model().selected_item = -1;
}

}  // namespace
