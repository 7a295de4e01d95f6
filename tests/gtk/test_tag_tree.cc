// SPDX-License-Identifier: GPL-3.0-or-later
// The tag tree: fixed rows, tags in collation order, in-place renaming.
#include <string>
#include <vector>

#include "gtk_fixture.h"
#include "storage/repo.h"
#include "views/icons_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

struct Events {
  std::vector<bool> editing;
  std::vector<int64_t> renamed;
  std::vector<int> failures;
};

void on_editing(bool active, void* d) { static_cast<Events*>(d)->editing.push_back(active); }
void on_renamed(int64_t tag, bool, void* d) { static_cast<Events*>(d)->renamed.push_back(tag); }
void on_failed(int64_t, int rc, void* d) { static_cast<Events*>(d)->failures.push_back(rc); }

class TagTreeTest : public GtkModelTest {
 protected:
  TagTree* make() {
    TagTreeCallbacks cb;
    cb.data = &events;
    cb.editing = on_editing;
    cb.renamed = on_renamed;
    cb.rename_failed = on_failed;
    TagTree* t = tag_tree_new(cb);
    window = std::make_unique<TestWindow>(t->view);
    return t;
  }
  void TearDown() override {
    window.reset();
    GtkModelTest::TearDown();
  }
  // "name(id)" of the children of a row, in store order.
  std::vector<std::string> rows(TagTree* t, GtkTreeIter* parent) {
    std::vector<std::string> out;
    GtkTreeModel* m = GTK_TREE_MODEL(t->store);
    GtkTreeIter it;
    for (bool ok = gtk_tree_model_iter_children(m, &it, parent); ok; ok = gtk_tree_model_iter_next(m, &it)) {
      gchar* name = nullptr;
      int id = 0;
      gtk_tree_model_get(m, &it, TAG_COL_TEXT, &name, TAG_COL_ID, &id, -1);
      out.push_back(std::string(name ? name : "") + "(" + std::to_string(id) + ")");
      g_free(name);
    }
    return out;
  }
  std::string path_of(TagTree* t, int id) {
    GtkTreeIter it;
    if (!tag_tree_find(t, id, &it)) return "";
    gchar* s = gtk_tree_model_get_string_from_iter(GTK_TREE_MODEL(t->store), &it);
    std::string out = s;
    g_free(s);
    return out;
  }
  Events events;
  std::unique_ptr<TestWindow> window;
};

TEST_F(TagTreeTest, FixedRowsFirstThenTagsUnderTheirRepositoriesByName) {
  int64_t root = g_repos[0].root;
  int64_t zeta = make_tag(root, "zeta");
  int64_t alpha = make_tag(root, "Alpha");
  int64_t child = make_tag(zeta, "child");
  model().view = static_cast<int32_t>(child);
  TagTree* t = make();
  std::vector<std::string> top = rows(t, nullptr);
  ASSERT_GE(top.size(), 6u);
  EXPECT_EQ(std::string(ui_string(STR_ROW_LISTS)) + "(-4)", top[0]);
  EXPECT_EQ(std::string(ui_string(STR_ROW_TRASH)) + "(-3)", top[1]);
  EXPECT_EQ(std::string(ui_string(STR_ROW_REMINDERS)) + "(-2)", top[2]);
  EXPECT_EQ(std::string(ui_string(STR_ROW_SEARCH_RESULTS)) + "(-1)", top[3]);
  GtkTreeIter repo_row;
  ASSERT_TRUE(tag_tree_find(t, static_cast<int>(root), &repo_row));
  EXPECT_EQ((std::vector<std::string>{"Alpha(" + std::to_string(alpha) + ")", "zeta(" + std::to_string(zeta) + ")"}),
            rows(t, &repo_row));
  // Icons: bullet for fixed rows, database for repositories, tag for tags.
  GdkPixbuf* pb = nullptr;
  gtk_tree_model_get(GTK_TREE_MODEL(t->store), &repo_row, TAG_COL_ICON, &pb, -1);
  EXPECT_EQ(icon_get(ICON_SLOT_DATABASE), pb);
  if (pb) g_object_unref(pb);
  // The selected tag's row is remembered for the cursor.
  GtkTreePath* sel = tag_tree_selected_row(t);
  ASSERT_NE(nullptr, sel);
  gchar* s = gtk_tree_path_to_string(sel);
  EXPECT_EQ(path_of(t, static_cast<int>(child)), s);
  g_free(s);
  gtk_tree_path_free(sel);
  EXPECT_TRUE(tag_tree_select(t, static_cast<int>(child)));
  EXPECT_EQ(static_cast<int>(child), tag_tree_cursor_id(t));
}

TEST_F(TagTreeTest, RenamingStoresTheTagAndResortsTheRow) {
  int64_t root = g_repos[0].root;
  int64_t a = make_tag(root, "aaa");
  make_tag(root, "mmm");
  TagTree* t = make();
  std::string p = path_of(t, static_cast<int>(a));
  EXPECT_EQ(0, on_tag_edited(t, p.c_str(), "zzz"));
  EXPECT_EQ("zzz", tag_get(a)->name);
  GtkTreeIter repo_row;
  ASSERT_TRUE(tag_tree_find(t, static_cast<int>(root), &repo_row));
  EXPECT_EQ("zzz(" + std::to_string(a) + ")", rows(t, &repo_row).back());
  EXPECT_EQ(std::vector<int64_t>{a}, events.renamed);
  ASSERT_FALSE(events.editing.empty());
  EXPECT_FALSE(events.editing.back());
}

TEST_F(TagTreeTest, EmptyNamesAndFixedRowsChangeNothing) {
  int64_t a = make_tag(g_repos[0].root, "keep");
  TagTree* t = make();
  std::string p = path_of(t, static_cast<int>(a));
  auto before = dump(0);
  EXPECT_EQ(0, on_tag_edited(t, p.c_str(), ""));
  EXPECT_EQ("keep", tag_get(a)->name);
  EXPECT_EQ(0, on_tag_edited(t, "1", "Bin"));
  EXPECT_EQ(std::string(ui_string(STR_ROW_TRASH)) + "(-3)", rows(t, nullptr)[1]);
  EXPECT_EQ(0, on_tag_edited(t, "99:3", "x"));
  EXPECT_EQ(before, dump(0));
  EXPECT_TRUE(events.renamed.empty());
  EXPECT_EQ(3u, events.editing.size());  // every end of editing is reported
}

TEST_F(TagTreeTest, RepositoryRowRenamesTheRepositoryAndKeepsTheRowOnFailure) {
  TagTree* t = make();
  std::string p = path_of(t, static_cast<int>(g_repos[0].root));
  ASSERT_FALSE(p.empty());
  // No repository table entry backs this test repository: the rename fails,
  // the stored root tag is untouched and the row keeps its text.
  auto before = dump(0);
  EXPECT_NE(0, on_tag_edited(t, p.c_str(), "Work"));
  EXPECT_EQ(before, dump(0));
  EXPECT_EQ("/", tag_get(g_repos[0].root)->name);
  ASSERT_EQ(1u, events.failures.size());
  EXPECT_TRUE(events.renamed.empty());
}

TEST_F(TagTreeTest, RepositoryRowsShowTheRepositoryName) {
  repo_table().resize(2);
  repo_table()[0].name = "Work";
  repo_table()[1].name = "Home";
  TagTree* t = make();
  std::vector<std::string> top = rows(t, nullptr);
  ASSERT_EQ(6u, top.size());
  // Sorted by the shown names.
  EXPECT_EQ("Home(" + std::to_string(g_repos[1].root) + ")", top[4]);
  EXPECT_EQ("Work(" + std::to_string(g_repos[0].root) + ")", top[5]);
  // The same name again stores nothing and reports no failure.
  std::string p = path_of(t, static_cast<int>(g_repos[0].root));
  EXPECT_EQ(0, on_tag_edited(t, p.c_str(), "Work"));
  EXPECT_TRUE(events.failures.empty());
  repo_table().clear();
}

TEST_F(TagTreeTest, AddedTagAppearsUnderTheSelectedRowWithItsIcon) {
  int64_t parent = make_tag(g_repos[0].root, "parent");
  TagTree* t = make();
  ASSERT_TRUE(tag_tree_select(t, static_cast<int>(parent)));
  int64_t fresh = tag_create(0, parent, "fresh");
  ASSERT_GE(fresh, 1);
  tag_tree_add(t, fresh);
  pump();
  GtkTreeIter row;
  ASSERT_TRUE(tag_tree_find(t, static_cast<int>(parent), &row));
  EXPECT_EQ(std::vector<std::string>{"fresh(" + std::to_string(fresh) + ")"}, rows(t, &row));
  GtkTreeIter it;
  ASSERT_TRUE(tag_tree_find(t, static_cast<int>(fresh), &it));
  GdkPixbuf* pb = nullptr;
  gtk_tree_model_get(GTK_TREE_MODEL(t->store), &it, TAG_COL_ICON, &pb, -1);
  EXPECT_EQ(icon_get(ICON_SLOT_TAG), pb);
  if (pb) g_object_unref(pb);
  // Editing of the new name has started.
  EXPECT_TRUE(t->editing);
}

TEST_F(TagTreeTest, FixedRowTextsCanBeReplaced) {
  TagTree* t = make();
  tag_tree_set_fixed_text(t, VIEW_REMINDERS, "Reminders (3)");
  EXPECT_EQ("Reminders (3)(-2)", rows(t, nullptr)[2]);
  model().view = VIEW_TRASH;
  tag_tree_fill(t);
  EXPECT_EQ(std::string(ui_string(STR_ROW_REMINDERS)) + "(-2)", rows(t, nullptr)[2]);
  GtkTreePath* sel = tag_tree_selected_row(t);
  ASSERT_NE(nullptr, sel);
  EXPECT_EQ(1, gtk_tree_path_get_indices(sel)[0]);
  gtk_tree_path_free(sel);

  // A language change relabels the column and the fixed rows 1..3.
  tag_tree_set_fixed_text(t, VIEW_TRASH, "old");
  ASSERT_EQ(1, strings_set_language(3));
  tag_tree_relabel(t);
  EXPECT_EQ(std::string(ui_string_in(3, STR_ROW_TRASH)) + "(-3)", rows(t, nullptr)[1]);
  EXPECT_STREQ(ui_string_in(3, STR_TAGS), gtk_tree_view_column_get_title(t->column));
  strings_set_language(0);
}

}  // namespace
