// SPDX-License-Identifier: GPL-3.0-or-later
// GtkDatePicker, the program's one GObject subclass.
#include "dialogs/date_picker.h"

#include <time.h>

#include <cstring>
#include <string>

#include "dialogs/date_text.h"
#include "dialogs/modal.h"
#include "model/recur.h"
#include "support/strings.h"

namespace {

struct GtkDatePicker {
  GtkBox parent;
  GtkWidget* entry;
  GtkWidget* button;
};

struct GtkDatePickerClass {
  GtkBoxClass parent_class;
  void (*changed)(GtkDatePicker* picker);
};

struct DatePickerPrivate {
  int64_t time;
  int32_t date_only;
  int32_t text_invalid;  // the field holds typed text that is no date
};

gint g_private_offset = 0;
guint g_signal_changed = 0;
guint g_signal_validity = 0;

DatePickerPrivate* priv(GtkWidget* w) {
  return static_cast<DatePickerPrivate*>(G_STRUCT_MEMBER_P(w, g_private_offset));
}

GtkDatePicker* self(GtkWidget* w) { return reinterpret_cast<GtkDatePicker*>(w); }

void default_changed(GtkDatePicker*) {}

void class_init(gpointer klass, gpointer) {
  g_type_class_adjust_private_offset(klass, &g_private_offset);
  auto* k = static_cast<GtkDatePickerClass*>(klass);
  k->changed = default_changed;
  GType type = G_TYPE_FROM_CLASS(klass);
  g_signal_changed = g_signal_new("changed", type, static_cast<GSignalFlags>(G_SIGNAL_RUN_FIRST | G_SIGNAL_ACTION),
                                  G_STRUCT_OFFSET(GtkDatePickerClass, changed), nullptr, nullptr, nullptr,
                                  G_TYPE_NONE, 0);
  g_signal_validity = g_signal_new("text-validity", type, G_SIGNAL_RUN_LAST, 0, nullptr, nullptr, nullptr,
                                   G_TYPE_NONE, 0);
}

void set_invalid(GtkWidget* w, bool invalid) {
  DatePickerPrivate* p = priv(w);
  GtkWidget* entry = self(w)->entry;
  GtkStyleContext* style = gtk_widget_get_style_context(entry);
  if (invalid) {
    gtk_style_context_add_class(style, GTK_STYLE_CLASS_ERROR);
    gtk_entry_set_icon_from_icon_name(GTK_ENTRY(entry), GTK_ENTRY_ICON_SECONDARY, "dialog-warning");
    // The example shows the form that is always understood.
    std::string example = date_text_format(p->time ? p->time : next_half_hour(), p->date_only != 0);
    gtk_entry_set_icon_tooltip_text(GTK_ENTRY(entry), GTK_ENTRY_ICON_SECONDARY, example.c_str());
  } else {
    gtk_style_context_remove_class(style, GTK_STYLE_CLASS_ERROR);
    gtk_entry_set_icon_from_icon_name(GTK_ENTRY(entry), GTK_ENTRY_ICON_SECONDARY, nullptr);
  }
  if ((p->text_invalid != 0) != invalid) {
    p->text_invalid = invalid ? 1 : 0;
    g_signal_emit(w, g_signal_validity, 0);
  }
}

void rewrite(GtkWidget* w) {
  DatePickerPrivate* p = priv(w);
  std::string text = date_text_format(p->time, p->date_only != 0);
  gtk_entry_set_text(GTK_ENTRY(self(w)->entry), text.c_str());
  set_invalid(w, false);
}

gboolean on_spin_output(GtkSpinButton* spin, gpointer) {
  int v = gtk_spin_button_get_value_as_int(spin);
  if (v < 0 || v > 9) return FALSE;
  char buf[4] = {'0', static_cast<char>('0' + v), 0, 0};
  gtk_entry_set_text(GTK_ENTRY(spin), buf);
  return TRUE;
}

GtkWidget* spin_new(int max, int value) {
  GtkWidget* s = gtk_spin_button_new_with_range(0, max, 1);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(s), value);
  g_signal_connect(s, "output", G_CALLBACK(on_spin_output), nullptr);
  return s;
}

void popup(GtkWidget* w) {
  DatePickerPrivate* p = priv(w);
  GtkWidget* top = gtk_widget_get_toplevel(w);
  GtkWidget* d = gtk_dialog_new();
  gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  if (GTK_IS_WINDOW(top)) gtk_window_set_transient_for(GTK_WINDOW(d), GTK_WINDOW(top));
  gtk_window_set_decorated(GTK_WINDOW(d), FALSE);
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  dialog_add_button(d, STR_OK, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(d));

  time_t start = static_cast<time_t>(p->time ? p->time : next_half_hour());
  struct tm tm;
  localtime_r(&start, &tm);
  GtkWidget* cal = gtk_calendar_new();
  gtk_calendar_select_month(GTK_CALENDAR(cal), tm.tm_mon, tm.tm_year + 1900);
  gtk_calendar_select_day(GTK_CALENDAR(cal), tm.tm_mday);
  gtk_box_pack_start(GTK_BOX(content), cal, TRUE, TRUE, 0);
  GtkWidget* hours = nullptr;
  GtkWidget* minutes = nullptr;
  if (!p->date_only) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    hours = spin_new(23, tm.tm_hour);
    minutes = spin_new(59, tm.tm_min);
    gtk_box_pack_start(GTK_BOX(box), gtk_label_new("Hours:"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), hours, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), gtk_label_new("Minutes:"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), minutes, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(content), box, TRUE, TRUE, 0);
  }
  // Directly below the picker.
  int x = 0, y = 0, ox = 0, oy = 0;
  GdkWindow* gw = GTK_IS_WINDOW(top) ? gtk_widget_get_window(top) : nullptr;
  if (gw && gtk_widget_translate_coordinates(w, top, 0, 0, &x, &y)) {
    gdk_window_get_origin(gw, &ox, &oy);
    GtkAllocation a;
    gtk_widget_get_allocation(w, &a);
    gtk_window_move(GTK_WINDOW(d), ox + x, oy + y + a.height);
  }
  gtk_widget_show_all(d);
  int response;
  {
    ModalScope scope(d);
    response = scope.run();
  }
  if (response == GTK_RESPONSE_OK) {
    guint year = 0, month = 0, day = 0;
    gtk_calendar_get_date(GTK_CALENDAR(cal), &year, &month, &day);
    struct tm chosen;
    std::memset(&chosen, 0, sizeof chosen);
    chosen.tm_year = static_cast<int>(year) - 1900;
    chosen.tm_mon = static_cast<int>(month);
    chosen.tm_mday = static_cast<int>(day);
    if (hours) chosen.tm_hour = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(hours));
    if (minutes) chosen.tm_min = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(minutes));
    chosen.tm_isdst = -1;
    p->time = static_cast<int64_t>(mktime(&chosen));
    rewrite(w);
    gtk_widget_destroy(d);
    g_signal_emit(w, g_signal_changed, 0);
    return;
  }
  gtk_widget_destroy(d);
}

void on_button_clicked(GtkButton*, gpointer w) { popup(static_cast<GtkWidget*>(w)); }

void on_entry_activate(GtkEntry*, gpointer w) { date_picker_commit_text(static_cast<GtkWidget*>(w)); }

gboolean on_entry_focus_out(GtkWidget*, GdkEvent*, gpointer w) {
  date_picker_commit_text(static_cast<GtkWidget*>(w));
  return FALSE;
}

void instance_init(GTypeInstance* instance, gpointer) {
  GtkWidget* w = GTK_WIDGET(instance);
  GtkDatePicker* s = self(w);
  DatePickerPrivate* p = priv(w);
  p->time = 0;
  p->date_only = 0;
  p->text_invalid = 0;
  gtk_orientable_set_orientation(GTK_ORIENTABLE(w), GTK_ORIENTATION_HORIZONTAL);
  s->entry = gtk_entry_new();
  const char* label = ui_string(STR_CALENDAR);
  s->button = gtk_button_new_with_label(label ? label : "");
  gtk_box_pack_start(GTK_BOX(w), s->entry, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(w), s->button, FALSE, FALSE, 5);
  g_signal_connect(s->button, "clicked", G_CALLBACK(on_button_clicked), w);
  g_signal_connect(s->entry, "activate", G_CALLBACK(on_entry_activate), w);
  g_signal_connect(s->entry, "focus-out-event", G_CALLBACK(on_entry_focus_out), w);
}

}  // namespace

GType gtk_date_picker_get_type() {
  static gsize type_id = 0;
  if (g_once_init_enter(&type_id)) {
    GTypeInfo info;
    std::memset(&info, 0, sizeof info);
    info.class_size = sizeof(GtkDatePickerClass);
    info.class_init = class_init;
    info.instance_size = sizeof(GtkDatePicker);
    info.instance_init = instance_init;
    GType t = g_type_register_static(gtk_box_get_type(), "GtkDatePicker", &info, static_cast<GTypeFlags>(0));
    g_private_offset = g_type_add_instance_private(t, sizeof(DatePickerPrivate));
    g_once_init_leave(&type_id, t);
  }
  return static_cast<GType>(type_id);
}

GtkWidget* date_picker_new() { return GTK_WIDGET(g_object_new(GTK_TYPE_DATE_PICKER, nullptr)); }

int64_t date_picker_get(GtkWidget* picker) { return GTK_IS_DATE_PICKER(picker) ? priv(picker)->time : 0; }

void date_picker_set(GtkWidget* picker, int64_t time) {
  if (!GTK_IS_DATE_PICKER(picker)) return;
  priv(picker)->time = time;
  rewrite(picker);
}

void date_picker_set_date_only(GtkWidget* picker, bool date_only) {
  if (GTK_IS_DATE_PICKER(picker)) priv(picker)->date_only = date_only ? 1 : 0;
}

bool date_picker_get_date_only(GtkWidget* picker) {
  return GTK_IS_DATE_PICKER(picker) && priv(picker)->date_only != 0;
}

bool date_picker_text_valid(GtkWidget* picker) {
  return !GTK_IS_DATE_PICKER(picker) || priv(picker)->text_invalid == 0;
}

int date_picker_commit_text(GtkWidget* picker) {
  if (!GTK_IS_DATE_PICKER(picker)) return -1;
  DatePickerPrivate* p = priv(picker);
  const char* text = gtk_entry_get_text(GTK_ENTRY(self(picker)->entry));
  // The shown text of the held time reads back as itself.
  if (date_text_format(p->time, p->date_only != 0) == text) {
    set_invalid(picker, false);
    return 0;
  }
  int64_t t = 0;
  if (date_text_parse(text, p->date_only != 0, p->time, &t) != 0) {
    set_invalid(picker, true);
    return -1;
  }
  bool differs = t != p->time;
  p->time = t;
  rewrite(picker);
  if (differs) g_signal_emit(picker, g_signal_changed, 0);
  return 0;
}

GtkWidget* date_picker_entry(GtkWidget* picker) {
  return GTK_IS_DATE_PICKER(picker) ? self(picker)->entry : nullptr;
}

GtkWidget* date_picker_button(GtkWidget* picker) {
  return GTK_IS_DATE_PICKER(picker) ? self(picker)->button : nullptr;
}
