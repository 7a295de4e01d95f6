// SPDX-License-Identifier: GPL-3.0-or-later
// The task and event editors: their schedule sections and specs.
#include "dialogs/schedule.h"

#include <cstdlib>
#include <string>

#include "dialogs/date_picker.h"
#include "dialogs/layout.h"
#include "markup/detail_text.h"
#include "model/full_rule.h"
#include "model/item.h"
#include "model/recur.h"
#include "model/settings.h"
#include "support/strings.h"

namespace {

// --- Reminder box -------------------------------------------------------------------------

void reminder_sensitivity(ReminderBox* r) {
  bool on = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(r->check));
  gtk_widget_set_sensitive(r->count, on);
  gtk_widget_set_sensitive(r->unit, on);
}

void on_reminder_toggled(GtkToggleButton*, gpointer p) { reminder_sensitivity(static_cast<ReminderBox*>(p)); }

// The unit words read with the count beside them ("1 hour", "2 hours"), in
// each language's plural forms; the combo's rows are relabelled in place so
// the chosen unit stays chosen.
void reminder_units_follow_count(ReminderBox* r) {
  static const StrId kUnitIds[4] = {STR_REMINDER_UNIT_MINUTE, STR_REMINDER_UNIT_HOUR, STR_REMINDER_UNIT_DAY,
                                    STR_REMINDER_UNIT_WEEK};  // minute, hour, day, week
  long long n = std::strtoll(gtk_entry_get_text(GTK_ENTRY(r->count)), nullptr, 10);
  GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(r->unit));
  GtkTreeIter it;
  int i = 0;
  for (gboolean ok = gtk_tree_model_get_iter_first(model, &it); ok && i < 4; ok = gtk_tree_model_iter_next(model, &it), i++)
    gtk_list_store_set(GTK_LIST_STORE(model), &it, 0, ui_plural(kUnitIds[i], n).c_str(), -1);
}

void on_reminder_count_changed(GtkEditable*, gpointer p) { reminder_units_follow_count(static_cast<ReminderBox*>(p)); }

void* reminder_build(Editor*, GtkWidget* grid, int* row) {
  auto* r = new ReminderBox;
  r->check = gtk_check_button_new();
  r->count = numeric_entry_new(3);
  r->unit = combo_from_list(ui_string(STR_REMINDER_UNIT_LIST), 0);
  reminder_units_follow_count(r);
  set_accessible_name(r->check, STR_LABEL_REMINDER);
  form_row(grid, (*row)++, STR_LABEL_REMINDER, button_row({r->check, r->count, r->unit}));
  g_signal_connect(r->check, "toggled", G_CALLBACK(on_reminder_toggled), r);
  g_signal_connect(r->count, "changed", G_CALLBACK(on_reminder_count_changed), r);
  return r;
}

void reminder_fill(Editor*, void* st, const ItemForm& form) {
  auto* r = static_cast<ReminderBox*>(st);
  bool on = form.remind_unit >= 1 && form.remind_unit <= 4;
  gtk_entry_set_text(GTK_ENTRY(r->count), on ? std::to_string(form.remind_count).c_str() : "");
  gtk_combo_box_set_active(GTK_COMBO_BOX(r->unit), on ? form.remind_unit - 1 : 0);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r->check), on);
  reminder_sensitivity(r);
}

void reminder_gather(Editor*, void* st, ItemForm* form) {
  auto* r = static_cast<ReminderBox*>(st);
  if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(r->check))) {
    form->remind_unit = 0;
    form->remind_count = 0;
    return;
  }
  int idx = gtk_combo_box_get_active(GTK_COMBO_BOX(r->unit));
  form->remind_unit = (idx < 0 ? 0 : idx) + 1;
  form->remind_count = static_cast<int32_t>(std::strtol(gtk_entry_get_text(GTK_ENTRY(r->count)), nullptr, 10));
}

void reminder_destroy(void* st) { delete static_cast<ReminderBox*>(st); }

const EditorSection kReminderSection = {reminder_build, reminder_fill, reminder_gather, nullptr,
                                        nullptr,        nullptr,       reminder_destroy};

// --- Pickers shared by both -------------------------------------------------------------

void on_picker_validity(GtkWidget*, gpointer ed) { editor_validate(static_cast<Editor*>(ed)); }

GtkWidget* picker_new(Editor* ed) {
  GtkWidget* p = date_picker_new();
  g_signal_connect(p, "text-validity", G_CALLBACK(on_picker_validity), ed);
  return p;
}

// --- Task: due time -----------------------------------------------------------------------

void* due_build(Editor* ed, GtkWidget* grid, int* row) {
  auto* s = new DueSection;
  s->picker = picker_new(ed);
  ed->start_picker = s->picker;
  form_row(grid, (*row)++, STR_LABEL_DUE, s->picker);
  return s;
}

// A task without a due time shows an empty field and keeps none.
void due_fill(Editor*, void* st, const ItemForm& form) { date_picker_set(static_cast<DueSection*>(st)->picker, form.due); }

void due_gather(Editor*, void* st, ItemForm* form) { form->due = date_picker_get(static_cast<DueSection*>(st)->picker); }

bool due_valid(Editor*, void* st) { return date_picker_text_valid(static_cast<DueSection*>(st)->picker); }

void due_destroy(void* st) { delete static_cast<DueSection*>(st); }

const EditorSection kDueSection = {due_build, due_fill, due_gather, due_valid, nullptr, nullptr, due_destroy};

// --- Event: start and end ----------------------------------------------------------------

struct EventCtx {
  Editor* ed;
  EventTimes times;
};

void on_start_changed(GtkWidget*, gpointer p) {
  auto* c = static_cast<EventCtx*>(p);
  EventTimes* t = &c->times;
  if (t->duration >= 0) date_picker_set(t->end, date_picker_get(t->start) + t->duration);
  editor_validate(c->ed);
}

void on_end_changed(GtkWidget*, gpointer p) {
  auto* c = static_cast<EventCtx*>(p);
  c->times.duration = date_picker_get(c->times.end) - date_picker_get(c->times.start);
  editor_validate(c->ed);
}

void* event_build(Editor* ed, GtkWidget* grid, int* row) {
  auto* c = new EventCtx;
  c->ed = ed;
  EventTimes* t = &c->times;
  t->start = picker_new(ed);
  t->end = picker_new(ed);
  ed->start_picker = t->start;
  form_row(grid, (*row)++, STR_LABEL_START, t->start);
  form_row(grid, (*row)++, STR_LABEL_END, t->end);
  return c;
}

// An event stored without a start or an end shows the defaults of a new one;
// they are stored only when the user changes the times.
void event_fill(Editor*, void* st, const ItemForm& form) {
  auto* c = static_cast<EventCtx*>(st);
  EventTimes* t = &c->times;
  int64_t start = form.due ? form.due : next_half_hour();
  int64_t end = form.end ? form.end : start + 3600;
  date_picker_set(t->start, start);
  date_picker_set(t->end, end);
  t->duration = end - start;
  g_signal_connect(t->start, "changed", G_CALLBACK(on_start_changed), c);
  g_signal_connect(t->end, "changed", G_CALLBACK(on_end_changed), c);
}

void event_gather(Editor*, void* st, ItemForm* form) {
  EventTimes* t = &static_cast<EventCtx*>(st)->times;
  form->due = date_picker_get(t->start);
  form->end = date_picker_get(t->end);
}

bool event_valid(Editor*, void* st) {
  EventTimes* t = &static_cast<EventCtx*>(st)->times;
  return date_picker_text_valid(t->start) && date_picker_text_valid(t->end) &&
         date_picker_get(t->end) >= date_picker_get(t->start);
}

void event_destroy(void* st) { delete static_cast<EventCtx*>(st); }

const EditorSection kEventSection = {event_build, event_fill, event_gather, event_valid,
                                     nullptr,     nullptr,    event_destroy};

// --- Recurrence (task and event) ------------------------------------------------------------

// The date a series starts on: the start picker's, or for a task without a
// due time the time a new one would get.
int64_t rule_start(const RecurrenceBox* b) {
  int64_t t = b->ed->start_picker ? date_picker_get(b->ed->start_picker) : 0;
  return t ? t : next_half_hour();
}

void describe(RecurrenceBox* b) {
  if (!b->full_rule_text.empty()) {
    gtk_label_set_text(GTK_LABEL(b->description), b->full_rule_text.c_str());
    return;
  }
  Recurrence r{};
  r.freq = static_cast<uint8_t>(b->rule.freq);
  r.interval_minus_one = static_cast<uint8_t>(b->rule.interval_minus_one);
  r.by_day = static_cast<uint8_t>(b->rule.by_day);
  r.end_kind = static_cast<uint8_t>(b->rule.end_kind);
  std::string text = recurrence_text(r, b->rule.recur_count, b->rule.until, rule_start(b));
  gtk_label_set_text(GTK_LABEL(b->description), text.c_str());
}

void recurrence_visibility(RecurrenceBox* b) {
  bool on = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b->check));
  bool own = b->full_rule_text.empty();
  gtk_widget_set_sensitive(b->check, own);
  gtk_widget_set_sensitive(b->freq, on && own);
  gtk_widget_set_visible(b->details, on && own);
  gtk_widget_set_visible(b->description, on);
}

void on_rule_start_changed(GtkWidget*, gpointer p) { describe(static_cast<RecurrenceBox*>(p)); }

void on_recur_toggled(GtkToggleButton*, gpointer p) { recurrence_visibility(static_cast<RecurrenceBox*>(p)); }

void on_freq_changed(GtkComboBox* combo, gpointer p) {
  auto* b = static_cast<RecurrenceBox*>(p);
  int idx = gtk_combo_box_get_active(combo);
  b->rule.freq = (idx < 0 ? 0 : idx) + 1;
  b->rule.interval_minus_one = 0;
  b->rule.by_day = 0;
  describe(b);
}

void on_details(GtkButton*, gpointer p) {
  auto* b = static_cast<RecurrenceBox*>(p);
  if (recurrence_dialog(&b->rule, rule_start(b))) describe(b);
}

void* recurrence_build(Editor* ed, GtkWidget* grid, int* row) {
  auto* b = new RecurrenceBox;
  b->ed = ed;
  b->check = gtk_check_button_new();
  set_accessible_name(b->check, STR_LABEL_RECURRENCE);
  b->freq = combo_from_list(ui_string(STR_FREQUENCY_LIST), 0);
  b->details = button_new(STR_EDIT);
  b->description = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(b->description), 0.0f);
  gtk_label_set_line_wrap(GTK_LABEL(b->description), TRUE);
  GtkWidget* box = button_row({b->check, b->freq, b->details});
  gtk_box_pack_start(GTK_BOX(box), b->description, TRUE, TRUE, 0);
  form_row(grid, (*row)++, STR_LABEL_RECURRENCE, box);
  return b;
}

void recurrence_fill(Editor* ed, void* st, const ItemForm& form) {
  auto* b = static_cast<RecurrenceBox*>(st);
  if (const Item* item = item_get(ed->slot)) {
    if (const FullRule* full = item_full_rule(item)) {
      b->full_rule_text = full_rule_text(*full, item->due);
      gtk_widget_set_tooltip_text(b->description, ui_text(STR_RULE_READ_ONLY));
    }
  }
  bool full = !b->full_rule_text.empty();
  b->rule.freq = form.freq > 0 || full ? form.freq : 1;
  b->rule.interval_minus_one = form.interval_minus_one;
  b->rule.by_day = form.by_day;
  b->rule.end_kind = form.end_kind;
  b->rule.recur_count = form.recur_count;
  b->rule.until = form.until;
  gtk_combo_box_set_active(GTK_COMBO_BOX(b->freq), b->rule.freq >= 1 && b->rule.freq <= 4 ? b->rule.freq - 1 : 0);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(b->check), form.freq > 0 || full);
  // Connected after filling, so that setting the combo keeps the stored rule.
  if (ed->start_picker) g_signal_connect(ed->start_picker, "changed", G_CALLBACK(on_rule_start_changed), b);
  g_signal_connect(b->check, "toggled", G_CALLBACK(on_recur_toggled), b);
  g_signal_connect(b->freq, "changed", G_CALLBACK(on_freq_changed), b);
  g_signal_connect(b->details, "clicked", G_CALLBACK(on_details), b);
}

void recurrence_shown(Editor*, void* st) {
  auto* b = static_cast<RecurrenceBox*>(st);
  recurrence_visibility(b);
  if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b->check))) describe(b);
}

void recurrence_gather(Editor*, void* st, ItemForm* form) {
  auto* b = static_cast<RecurrenceBox*>(st);
  bool keep = !b->full_rule_text.empty();
  if (!keep && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b->check))) return;
  form->freq = b->rule.freq;
  form->interval_minus_one = b->rule.interval_minus_one;
  form->by_day = b->rule.by_day;
  form->end_kind = b->rule.end_kind;
  form->recur_count = b->rule.recur_count;
  form->until = b->rule.until;
}

void recurrence_destroy(void* st) { delete static_cast<RecurrenceBox*>(st); }

const EditorSection kRecurrenceSection = {recurrence_build, recurrence_fill, recurrence_gather, nullptr,
                                          recurrence_shown, nullptr,         recurrence_destroy};

}  // namespace

const EditorSpec& task_editor_spec() {
  static const EditorSpec spec = [] {
    EditorSpec s;
    s.type = ITEM_TASK;
    s.title_id = STR_TYPE_TASK;
    s.size_index = DLG_TASK;
    s.sections = {kDueSection, kRecurrenceSection, kReminderSection};
    return s;
  }();
  return spec;
}

const EditorSpec& event_editor_spec() {
  static const EditorSpec spec = [] {
    EditorSpec s;
    s.type = ITEM_EVENT;
    s.title_id = STR_TYPE_EVENT;
    s.size_index = DLG_EVENT;
    s.sections = {kEventSection, kRecurrenceSection, kReminderSection};
    return s;
  }();
  return spec;
}
