// SPDX-License-Identifier: GPL-3.0-or-later
// The icon table: SVG images from the resource bundle, rendered once at the
// screen's scale. Tree views draw them through surfaces of that scale, so a
// 32-pixel image at scale 2 covers 16 logical pixels and stays sharp.
#include "views/icons_gtk.h"

#include <gio/gio.h>

#include "support/log.h"

extern "C" void ordika_icons_register_resource(void);

namespace {

const char* const kPaths[ICON_SLOT_COUNT] = {
    "/icons/task_a.png",   "/icons/event_g.png",  "/icons/note.png",     "/icons/vcard.png",
    "/icons/lock.png",     "/icons/task_r.png",   "/icons/task_y.png",   "/icons/event_r.png",
    "/icons/event_y.png",  "/icons/task_c.png",   "/icons/tag.png",      "/icons/database.png",
    "/icons/bullet.png",   "/icons/ordika_g.png", "/icons/ordika_r.png", "/icons/ordika_48.png",
};

GdkPixbuf* g_icons[ICON_SLOT_COUNT] = {};
cairo_surface_t* g_surfaces[ICON_SLOT_COUNT] = {};
int g_scale = 1;

int logical_size(int slot) {
  if (slot == ICON_SLOT_APP_48) return 48;
  if (slot == ICON_SLOT_APP || slot == ICON_SLOT_APP_ALERT) return 22;  // tray and window icon
  return 16;
}

}  // namespace

const char* icon_resource(int slot) { return slot >= 0 && slot < ICON_SLOT_COUNT ? kPaths[slot] : nullptr; }

int icons_load(int scale) {
  static bool registered = false;
  if (!registered) {
    ordika_icons_register_resource();
    registered = true;
  }
  if (scale < 1) scale = 1;
  g_scale = scale;
  int rc = 0;
  for (int i = 0; i < ICON_SLOT_COUNT; i++) {
    g_clear_object(&g_icons[i]);
    if (g_surfaces[i]) {
      cairo_surface_destroy(g_surfaces[i]);
      g_surfaces[i] = nullptr;
    }
    // The application icons are window-manager icons in device pixels.
    int s = i >= ICON_SLOT_APP ? logical_size(i) : logical_size(i) * scale;
    GError* err = nullptr;
    g_icons[i] = gdk_pixbuf_new_from_resource_at_scale(kPaths[i], s, s, TRUE, &err);
    if (!g_icons[i]) {
      log_message(LOG_ERROR, "icons_load: %s: %s", kPaths[i], err ? err->message : "?");
      g_clear_error(&err);
      rc = -1;
      continue;
    }
    if (i < ICON_SLOT_APP) g_surfaces[i] = gdk_cairo_surface_create_from_pixbuf(g_icons[i], scale, nullptr);
  }
  return rc;
}

GdkPixbuf* icon_get(int slot) { return slot >= 0 && slot < ICON_SLOT_COUNT ? g_icons[slot] : nullptr; }

int icons_scale() { return g_scale; }

void icon_cell_data(GtkTreeViewColumn*, GtkCellRenderer* cell, GtkTreeModel* model, GtkTreeIter* iter,
                    gpointer store_column) {
  GdkPixbuf* pb = nullptr;
  gtk_tree_model_get(model, iter, GPOINTER_TO_INT(store_column), &pb, -1);
  cairo_surface_t* surface = nullptr;
  if (pb) {
    for (int i = 0; i < ICON_SLOT_COUNT; i++)
      if (g_icons[i] == pb) {
        surface = g_surfaces[i];
        break;
      }
    g_object_unref(pb);
  }
  // Icons not from the table (none today) are shown as they are.
  if (surface)
    g_object_set(cell, "surface", surface, nullptr);
  else
    g_object_set(cell, "surface", nullptr, "pixbuf", pb, nullptr);
}
