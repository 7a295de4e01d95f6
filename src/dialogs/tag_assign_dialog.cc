// SPDX-License-Identifier: GPL-3.0-or-later
// The tag assignment dialog.
#include "dialogs/tag_assign_dialog.h"

#include <string>

#include "dialogs/modal.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/tag.h"
#include "model/tag_assign.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

// Tags deeper than this are not listed (their ancestors are).
constexpr int kMaxDepth = 31;

TagAssignWidgets g_open;

struct Choice {
  int64_t tag;
  bool chosen;
};

struct Assign {
  TagAssignWidgets w;
  std::vector<Choice> choices;
};

int row_id(GtkTreeModel* m, GtkTreeIter* it) {
  int id = 0;
  gtk_tree_model_get(m, it, TAG_COL_ID, &id, -1);
  return id;
}

void on_toggled(GtkToggleButton* b, gpointer p) {
  auto* a = static_cast<Assign*>(p);
  bool any = false;
  for (size_t i = 0; i < a->choices.size(); i++) {
    if (a->w.checks[i] == GTK_WIDGET(b)) a->choices[i].chosen = gtk_toggle_button_get_active(b);
    any = any || a->choices[i].chosen;
  }
  gtk_widget_set_sensitive(a->w.ok, any);
}

void add_rows(Assign* a, GtkWidget* box, GtkTreeModel* m, GtkTreeIter* it, int depth, int64_t selected,
              const std::vector<int64_t>& items) {
  int id = row_id(m, it);
  const Tag* tag = id >= 1 ? tag_get(id) : nullptr;
  if (tag) {
    bool chosen = id == selected || (items.size() == 1 && tag_link_exists(id, static_cast<int32_t>(items[0])));
    a->choices.push_back({id, chosen});
    gchar* name = nullptr;
    gtk_tree_model_get(m, it, TAG_COL_TEXT, &name, -1);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new(std::string(static_cast<size_t>(depth), '\t').c_str()), FALSE,
                       FALSE, 0);
    GtkWidget* check = gtk_check_button_new_with_label(name ? name : tag->name.c_str());
    g_free(name);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), chosen);
    gtk_box_pack_start(GTK_BOX(row), check, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    a->w.checks.push_back(check);
    a->w.tags.push_back(id);
  }
  if (depth >= kMaxDepth) return;
  GtkTreeIter child;
  if (!gtk_tree_model_iter_children(m, &child, it)) return;
  do {
    add_rows(a, box, m, &child, depth + 1, selected, items);
  } while (gtk_tree_model_iter_next(m, &child));
}

}  // namespace

const TagAssignWidgets& tag_assign_widgets() { return g_open; }

bool tag_assign_dialog(ItemList* list, TagTree* tree) {
  if (!tree) return false;
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree->view));
  GtkTreeModel* m = nullptr;
  GtkTreeIter it;
  if (!gtk_tree_selection_get_selected(sel, &m, &it)) return false;
  int selected = row_id(m, &it);

  std::vector<int64_t> items = list ? item_list_selected(list) : std::vector<int64_t>();
  if (items.empty() && model().selected_item >= 0) items.push_back(model().selected_item);
  int repo;
  if (selected < 1) {
    const Item* item = items.empty() ? nullptr : item_get(items[0]);
    if (!item) return false;
    repo = item->repo;
  } else {
    const Tag* tag = tag_get(selected);
    if (!tag) return false;
    repo = tag->repo;
  }

  Assign a;
  GtkWidget* d = dialog_new(STR_TAGS);
  a.w.dialog = d;
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  a.w.ok = dialog_add_button(d, STR_ACCEPT, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(d), 300, 500);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_vexpand(box, TRUE);
  GtkTreeIter top;
  if (gtk_tree_model_get_iter_first(m, &top)) {
    do {
      int id = row_id(m, &top);
      const Tag* t = id >= 1 ? tag_get(id) : nullptr;
      if (t && t->repo == repo) {
        add_rows(&a, box, m, &top, 0, selected, items);
        break;
      }
    } while (gtk_tree_model_iter_next(m, &top));
  }
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(sw), box);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), sw, TRUE, TRUE, 0);
  bool any = false;
  for (const Choice& c : a.choices) any = any || c.chosen;
  gtk_widget_set_sensitive(a.w.ok, any);
  for (GtkWidget* c : a.w.checks) g_signal_connect(c, "toggled", G_CALLBACK(on_toggled), &a);
  gtk_widget_show_all(d);

  TagAssignWidgets saved = g_open;
  g_open = a.w;
  int response;
  {
    ModalScope scope(d);
    do {
      response = scope.run();
    } while (response == GTK_RESPONSE_OK && !gtk_widget_get_sensitive(a.w.ok));
  }
  g_open = saved;
  gtk_widget_destroy(d);
  if (response != GTK_RESPONSE_OK) return false;

  std::vector<TagChoice> choices;
  for (const Choice& c : a.choices) choices.push_back({c.tag, c.chosen});
  return tags_assign(repo, choices, items) == 0;
}
