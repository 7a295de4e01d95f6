// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/bold_label.h"

GtkWidget* bold_label_new(const char* text, double scale) {
  GtkWidget* l = gtk_label_new(text ? text : "");
  PangoAttrList* attrs = pango_attr_list_new();
  pango_attr_list_insert(attrs, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
  if (scale != 1.0) pango_attr_list_insert(attrs, pango_attr_scale_new(scale));
  gtk_label_set_attributes(GTK_LABEL(l), attrs);
  pango_attr_list_unref(attrs);
  gtk_label_set_line_wrap(GTK_LABEL(l), TRUE);
  return l;
}
