// SPDX-License-Identifier: GPL-3.0-or-later
// The item list's tree model.
#include "views/item_model_gtk.h"

#include <ctime>
#include <new>

#include "model/item.h"
#include "model/list.h"
#include "support/local_dates.h"
#include "views/icons_gtk.h"
#include "views/item_list_gtk.h"

namespace {

struct ItemModelData {
  std::vector<ItemModelRow> rows;
  std::string labels[11];
  int64_t now = 0;
  gint stamp = 0;
};

}  // namespace

struct OrdikaItemModel {
  GObject parent;
  ItemModelData* d;
};
struct OrdikaItemModelClass {
  GObjectClass parent_class;
};

static void ordika_item_model_iface_init(GtkTreeModelIface* iface);
G_DEFINE_TYPE_WITH_CODE(OrdikaItemModel, ordika_item_model, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(GTK_TYPE_TREE_MODEL, ordika_item_model_iface_init))

namespace {

ItemModelData* data_of(GtkTreeModel* m) { return reinterpret_cast<OrdikaItemModel*>(m)->d; }

bool row_of(GtkTreeModel* m, GtkTreeIter* it, size_t* out) {
  ItemModelData* d = data_of(m);
  if (!it || it->stamp != d->stamp) return false;
  size_t i = static_cast<size_t>(GPOINTER_TO_INT(it->user_data));
  if (i >= d->rows.size()) return false;
  *out = i;
  return true;
}

void set_iter(ItemModelData* d, GtkTreeIter* it, size_t i) {
  it->stamp = d->stamp;
  it->user_data = GINT_TO_POINTER(static_cast<int>(i));
  it->user_data2 = nullptr;
  it->user_data3 = nullptr;
}

GtkTreeModelFlags get_flags(GtkTreeModel*) {
  return static_cast<GtkTreeModelFlags>(GTK_TREE_MODEL_LIST_ONLY | GTK_TREE_MODEL_ITERS_PERSIST);
}

gint get_n_columns(GtkTreeModel*) { return ITEM_COL_COUNT; }

GType get_column_type(GtkTreeModel*, gint column) {
  switch (column) {
    case ITEM_COL_ICON: return GDK_TYPE_PIXBUF;
    case ITEM_COL_TITLE:
    case ITEM_COL_TIME: return G_TYPE_STRING;
    case ITEM_COL_SLOT:
    case ITEM_COL_GROUP: return G_TYPE_INT;
    default: return G_TYPE_INVALID;
  }
}

gboolean get_iter(GtkTreeModel* m, GtkTreeIter* it, GtkTreePath* path) {
  ItemModelData* d = data_of(m);
  if (gtk_tree_path_get_depth(path) != 1) return FALSE;
  int i = gtk_tree_path_get_indices(path)[0];
  if (i < 0 || static_cast<size_t>(i) >= d->rows.size()) return FALSE;
  set_iter(d, it, static_cast<size_t>(i));
  return TRUE;
}

GtkTreePath* get_path(GtkTreeModel* m, GtkTreeIter* it) {
  size_t i;
  if (!row_of(m, it, &i)) return nullptr;
  return gtk_tree_path_new_from_indices(static_cast<int>(i), -1);
}

void get_value(GtkTreeModel* m, GtkTreeIter* it, gint column, GValue* value) {
  g_value_init(value, get_column_type(m, column));
  size_t i;
  if (!row_of(m, it, &i)) return;
  ItemModelData* d = data_of(m);
  const ItemModelRow& r = d->rows[i];
  // An item taken out of memory before the next reload shows as an empty row.
  const Item* item = r.slot >= 0 ? item_get(r.slot) : nullptr;
  switch (column) {
    case ITEM_COL_ICON:
      if (item) g_value_set_object(value, icon_get(list_icon(item, d->now)));
      break;
    case ITEM_COL_TITLE:
      if (r.slot < 0)
        g_value_set_string(value, r.group >= 0 && r.group <= 10 ? d->labels[r.group].c_str() : "");
      else
        g_value_set_string(value, item ? item->title.c_str() : "");
      break;
    case ITEM_COL_TIME:
      g_value_set_string(value, shown_date_time(r.time, DATE_SHORT).c_str());
      break;
    case ITEM_COL_SLOT: g_value_set_int(value, r.slot); break;
    case ITEM_COL_GROUP: g_value_set_int(value, r.group); break;
    default: break;
  }
}

gboolean iter_next(GtkTreeModel* m, GtkTreeIter* it) {
  size_t i;
  if (!row_of(m, it, &i) || i + 1 >= data_of(m)->rows.size()) return FALSE;
  set_iter(data_of(m), it, i + 1);
  return TRUE;
}

gboolean iter_previous(GtkTreeModel* m, GtkTreeIter* it) {
  size_t i;
  if (!row_of(m, it, &i) || i == 0) return FALSE;
  set_iter(data_of(m), it, i - 1);
  return TRUE;
}

gboolean iter_children(GtkTreeModel* m, GtkTreeIter* it, GtkTreeIter* parent) {
  if (parent || data_of(m)->rows.empty()) return FALSE;
  set_iter(data_of(m), it, 0);
  return TRUE;
}

gboolean iter_has_child(GtkTreeModel*, GtkTreeIter*) { return FALSE; }

gint iter_n_children(GtkTreeModel* m, GtkTreeIter* it) {
  return it ? 0 : static_cast<gint>(data_of(m)->rows.size());
}

gboolean iter_nth_child(GtkTreeModel* m, GtkTreeIter* it, GtkTreeIter* parent, gint n) {
  ItemModelData* d = data_of(m);
  if (parent || n < 0 || static_cast<size_t>(n) >= d->rows.size()) return FALSE;
  set_iter(d, it, static_cast<size_t>(n));
  return TRUE;
}

gboolean iter_parent(GtkTreeModel*, GtkTreeIter*, GtkTreeIter*) { return FALSE; }

void finalize(GObject* obj) {
  delete reinterpret_cast<OrdikaItemModel*>(obj)->d;
  G_OBJECT_CLASS(ordika_item_model_parent_class)->finalize(obj);
}

}  // namespace

static void ordika_item_model_iface_init(GtkTreeModelIface* iface) {
  iface->get_flags = get_flags;
  iface->get_n_columns = get_n_columns;
  iface->get_column_type = get_column_type;
  iface->get_iter = get_iter;
  iface->get_path = get_path;
  iface->get_value = get_value;
  iface->iter_next = iter_next;
  iface->iter_previous = iter_previous;
  iface->iter_children = iter_children;
  iface->iter_has_child = iter_has_child;
  iface->iter_n_children = iter_n_children;
  iface->iter_nth_child = iter_nth_child;
  iface->iter_parent = iter_parent;
}

static void ordika_item_model_class_init(OrdikaItemModelClass* klass) { G_OBJECT_CLASS(klass)->finalize = finalize; }

static void ordika_item_model_init(OrdikaItemModel* self) {
  self->d = new ItemModelData;
  // Iterators of an earlier model are never taken for this one's.
  static gint stamps = 0;
  self->d->stamp = ++stamps;
}

GtkTreeModel* item_model_new(std::vector<ItemModelRow> rows, const std::string (&labels)[11], int64_t now) {
  auto* m = static_cast<OrdikaItemModel*>(g_object_new(ordika_item_model_get_type(), nullptr));
  m->d->rows = std::move(rows);
  for (int i = 0; i < 11; i++) m->d->labels[i] = labels[i];
  m->d->now = now;
  return GTK_TREE_MODEL(m);
}

void item_model_append(GtkTreeModel* model, const std::vector<ItemModelRow>& rows) {
  ItemModelData* d = data_of(model);
  for (const ItemModelRow& r : rows) {
    d->rows.push_back(r);
    size_t i = d->rows.size() - 1;
    GtkTreeIter it;
    set_iter(d, &it, i);
    GtkTreePath* path = gtk_tree_path_new_from_indices(static_cast<int>(i), -1);
    gtk_tree_model_row_inserted(model, path, &it);
    gtk_tree_path_free(path);
  }
}
