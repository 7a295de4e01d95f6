// SPDX-License-Identifier: GPL-3.0-or-later
// The recurrence details dialog.
#include "dialogs/recurrence_dialog.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "dialogs/date_picker.h"
#include "dialogs/layout.h"
#include "dialogs/modal.h"
#include "model/recur.h"
#include "support/strings.h"

namespace {

constexpr int64_t kProposedUntil = 2592000;  // 30 days after the start

struct EndControls {
  GtkWidget* never;
  GtkWidget* after;
  GtkWidget* on;
  GtkWidget* count;
  GtkWidget* until;
  GtkWidget* ok;
  GtkWidget* count_unit;
  const RecurrenceRule* rule;
};

// OK waits while the rule could not be kept as shown: a count of no
// occurrences, or an until field holding text that is not a date.
void update_ok(EndControls* e) {
  bool ok = date_picker_text_valid(e->until);
  if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(e->after)))
    ok = ok && std::strtol(gtk_entry_get_text(GTK_ENTRY(e->count)), nullptr, 10) > 0;
  gtk_widget_set_sensitive(e->ok, ok);
}

void on_count_changed(GtkEditable*, gpointer p) {
  auto* e = static_cast<EndControls*>(p);
  count_unit_label_update(e->count_unit, std::strtol(gtk_entry_get_text(GTK_ENTRY(e->count)), nullptr, 10));
  update_ok(e);
}

// The unit word after the interval follows the chosen number (entry i is i + 1).
void on_interval_changed(GtkComboBox* combo, gpointer unit) {
  count_unit_label_update(static_cast<GtkWidget*>(unit), gtk_combo_box_get_active(combo) + 1);
}
void on_until_validity(GtkWidget*, gpointer p) { update_ok(static_cast<EndControls*>(p)); }

GtkWidget* radio(GtkWidget* group, StrId label_id) {
  const char* t = ui_string(label_id);
  return group ? gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(group), t ? t : "")
               : gtk_radio_button_new_with_label(nullptr, t ? t : "");
}

void on_never(GtkToggleButton* b, gpointer p) {
  if (!gtk_toggle_button_get_active(b)) return;
  auto* e = static_cast<EndControls*>(p);
  gtk_widget_set_sensitive(e->count, FALSE);
  gtk_widget_set_sensitive(e->until, FALSE);
  gtk_entry_set_text(GTK_ENTRY(e->count), "");
  update_ok(e);
}

void on_after(GtkToggleButton* b, gpointer p) {
  if (!gtk_toggle_button_get_active(b)) return;
  auto* e = static_cast<EndControls*>(p);
  gtk_widget_set_sensitive(e->count, TRUE);
  gtk_widget_set_sensitive(e->until, FALSE);
  std::string n = e->rule->recur_count ? std::to_string(e->rule->recur_count) : "5";
  gtk_entry_set_text(GTK_ENTRY(e->count), n.c_str());
  update_ok(e);
}

void on_on(GtkToggleButton* b, gpointer p) {
  if (!gtk_toggle_button_get_active(b)) return;
  auto* e = static_cast<EndControls*>(p);
  gtk_widget_set_sensitive(e->count, FALSE);
  gtk_entry_set_text(GTK_ENTRY(e->count), "");
  gtk_widget_set_sensitive(e->until, TRUE);
  update_ok(e);
}

GtkWidget* hbox(std::initializer_list<GtkWidget*> kids) { return button_row(kids); }

}  // namespace

bool recurrence_dialog(RecurrenceRule* rule, int64_t start) {
  if (rule->freq < 1 || rule->freq > 4) return false;
  const int64_t remembered_until = rule->until;
  if (rule->end_kind != 2) rule->until = start + kProposedUntil;

  GtkWidget* d = dialog_new(STR_RECURRENCE_TITLE);
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  GtkWidget* ok_button = dialog_add_button(d, STR_ACCEPT, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  GtkWidget* grid = form_grid_new();
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), grid, TRUE, TRUE, 5);

  static const StrId kUnitIds[4] = {STR_UNIT_DAY, STR_UNIT_WEEK, STR_UNIT_MONTH,
                                    STR_UNIT_YEAR};  // day, week, month, year
  GtkWidget* interval = combo_from_list(ui_string(STR_INTERVAL_LIST), rule->interval_minus_one);
  GtkWidget* interval_unit = count_unit_label_new(kUnitIds[rule->freq - 1], rule->interval_minus_one + 1);
  form_row(grid, 0, STR_REPEAT_EVERY, hbox({interval, interval_unit}));
  g_signal_connect(interval, "changed", G_CALLBACK(on_interval_changed), interval_unit);

  int row = 1;
  GtkWidget* days[7] = {};
  GtkWidget* monthly = nullptr;
  if (rule->freq == 2) {
    static const StrId kDayIds[7] = {STR_SUNDAY,   STR_MONDAY, STR_TUESDAY, STR_WEDNESDAY,
                                     STR_THURSDAY, STR_FRIDAY, STR_SATURDAY};
    gtk_grid_attach(GTK_GRID(grid), form_label_new(STR_REPEAT_ON), 0, 1, 1, 1);
    for (int i = 0; i < 7; i++) {
      const char* t = ui_string(kDayIds[i]);
      days[i] = gtk_check_button_new_with_label(t ? t : "");
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(days[i]), (rule->by_day >> i) & 1);
      gtk_grid_attach(GTK_GRID(grid), days[i], 1, 1 + i, 1, 1);
    }
    row = 8;
  } else if (rule->freq == 3) {
    monthly = combo_from_list(ui_string(STR_MONTHLY_MODE_LIST), rule->by_day ? 1 : 0);
    form_row(grid, 1, STR_REPEAT_BY, monthly);
    row = 2;
  }

  EndControls e{};
  e.rule = rule;
  e.ok = ok_button;
  e.never = radio(nullptr, STR_END_NEVER);
  e.after = radio(e.never, STR_END_AFTER);
  e.on = radio(e.never, STR_END_ON);
  e.count = numeric_entry_new(3);
  e.count_unit = count_unit_label_new(STR_UNIT_OCCURRENCE, rule->recur_count ? rule->recur_count : 0);
  e.until = date_picker_new();
  date_picker_set_date_only(e.until, true);
  date_picker_set(e.until, rule->until);
  gtk_grid_attach(GTK_GRID(grid), form_label_new(STR_RECURRENCE_ENDS), 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), e.never, 1, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), hbox({e.after, e.count, e.count_unit}), 1, row + 1, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), hbox({e.on, e.until}), 1, row + 2, 1, 1);
  GtkWidget* active = rule->end_kind == 1 ? e.after : rule->end_kind == 2 ? e.on : e.never;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(active), TRUE);
  gtk_widget_set_sensitive(e.count, rule->end_kind == 1);
  gtk_widget_set_sensitive(e.until, rule->end_kind == 2);
  if (rule->recur_count) gtk_entry_set_text(GTK_ENTRY(e.count), std::to_string(rule->recur_count).c_str());
  g_signal_connect(e.never, "toggled", G_CALLBACK(on_never), &e);
  g_signal_connect(e.after, "toggled", G_CALLBACK(on_after), &e);
  g_signal_connect(e.on, "toggled", G_CALLBACK(on_on), &e);
  g_signal_connect(e.until, "text-validity", G_CALLBACK(on_until_validity), &e);
  g_signal_connect(e.count, "changed", G_CALLBACK(on_count_changed), &e);
  update_ok(&e);

  gtk_widget_show_all(d);
  int response;
  {
    ModalScope scope(d);
    response = scope.run();
  }
  bool ok = response == GTK_RESPONSE_OK;
  if (ok) {
    int idx = gtk_combo_box_get_active(GTK_COMBO_BOX(interval));
    rule->interval_minus_one = idx < 0 ? 0 : idx;
    if (rule->freq == 2) {
      int mask = 0;
      for (int i = 0; i < 7; i++)
        if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(days[i]))) mask |= 1 << i;
      rule->by_day = mask;
    } else if (rule->freq == 3) {
      int m = gtk_combo_box_get_active(GTK_COMBO_BOX(monthly));
      rule->by_day = m < 0 ? 0 : m;
    }
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(e.never))) {
      rule->end_kind = 0;
    } else if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(e.after))) {
      rule->end_kind = 1;
    } else {
      rule->end_kind = 2;
      // The picker gives the chosen day at 00:00; the series ends with that
      // day, so its occurrence on the day (at any time) still counts.
      int64_t day = date_picker_get(e.until);
      rule->until = day > 0 ? local_midnight_after(day, 1) - 1 : 0;
    }
    rule->recur_count = static_cast<int32_t>(std::strtol(gtk_entry_get_text(GTK_ENTRY(e.count)), nullptr, 10));
  }
  gtk_widget_destroy(d);
  if (rule->end_kind != 2) rule->until = remembered_until;
  return ok;
}
