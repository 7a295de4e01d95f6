// SPDX-License-Identifier: GPL-3.0-or-later
// The item editor shell: frame, common widgets, validation, gathering, the
// change test and the run loop with save-and-new and the discard question.
// A save starts from the stored item and takes only what the widgets
// changed, so that no editor drops a field it does not show.
#include "dialogs/editor.h"

#include <string>

#include "crypto/wipe.h"
#include "dialogs/date_picker.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/layout.h"
#include "model/app_core.h"
#include "model/forms.h"
#include "model/item.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

// A failed save keeps the editor open: the message says so and points at
// the log, where item_store wrote the cause.
constexpr StrId kSaveFailedId = STR_MSG_ITEM_NOT_SAVED;
// The discard question's buttons name their actions.
constexpr StrId kKeepEditingId = STR_KEEP_EDITING;
constexpr StrId kDiscardId = STR_DISCARD;

std::vector<Editor*>& running() {
  static std::vector<Editor*> stack;
  return stack;
}

void on_title_changed(GtkEditable*, gpointer p) { editor_validate(static_cast<Editor*>(p)); }

// What the widgets show: title, body, markup, then every section, on an
// empty form.
void gather_widgets(Editor* ed, ItemForm* form) {
  *form = ItemForm{};
  if (ed->title_entry) form->title = gtk_entry_get_text(GTK_ENTRY(ed->title_entry));
  if (ed->body_view) form->body = editor_body_text(ed);
  if (ed->markup_check) form->markup = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(ed->markup_check)) ? 1 : 0;
  for (size_t i = 0; i < ed->spec->sections.size(); i++)
    if (ed->spec->sections[i].gather) ed->spec->sections[i].gather(ed, ed->states[i], form);
}

// What the widgets show now becomes the form they were filled with, and the
// baseline takes what they changed: the next change is measured from here.
void rebase(Editor* ed) {
  ItemForm now;
  gather_widgets(ed, &now);
  form_take_changes(&ed->baseline, ed->shown, now);
  ed->shown = std::move(now);
}

void apply_cheat_sheet(Editor* ed) {
  if (!ed->cheat_check) return;
  bool on = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(ed->cheat_check));
  app_core().settings.markup_cheat_sheet = on ? 1 : 0;
  gtk_widget_set_visible(ed->cheat_panel, on);
}

void on_cheat_toggled(GtkToggleButton*, gpointer p) { apply_cheat_sheet(static_cast<Editor*>(p)); }

GtkWidget* scrolled(GtkWidget* child) {
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_container_set_border_width(GTK_CONTAINER(sw), 0);
  gtk_container_add(GTK_CONTAINER(sw), child);
  return sw;
}

void build_body_rows(Editor* ed, int* row) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
  ed->markup_check = gtk_check_button_new_with_label(ui_text(STR_MARKUP));
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->markup_check), ed->baseline.markup != 0);
  ed->cheat_check = gtk_check_button_new_with_label(ui_text(STR_CHEAT_SHEET_CHECK));
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->cheat_check), app_core().settings.markup_cheat_sheet != 0);
  gtk_box_pack_start(GTK_BOX(box), ed->markup_check, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), ed->cheat_check, FALSE, FALSE, 0);
  form_row(ed->grid, (*row)++, STR_NOTES, box);
  g_signal_connect(ed->cheat_check, "toggled", G_CALLBACK(on_cheat_toggled), ed);

  GtkWidget* body_box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
  gtk_widget_set_vexpand(body_box, TRUE);
  gtk_widget_set_hexpand(body_box, TRUE);
  ed->body_view = gtk_text_view_new();
  gtk_widget_set_size_request(ed->body_view, 200, 200);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(ed->body_view), GTK_WRAP_WORD_CHAR);
  set_accessible_name(ed->body_view, STR_NOTES);
  // A new item starts empty whatever the form holds.
  if (ed->slot >= 0) {
    GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(ed->body_view));
    gtk_text_buffer_set_text(buf, ed->baseline.body.c_str(), -1);
  }
  gtk_box_pack_start(GTK_BOX(body_box), scrolled(ed->body_view), TRUE, TRUE, 0);

  GtkWidget* sheet = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(sheet), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(sheet), FALSE);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(sheet)), ui_text(STR_CHEAT_SHEET), -1);
  ed->cheat_panel = scrolled(sheet);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(ed->cheat_panel), GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
  gtk_box_pack_start(GTK_BOX(body_box), ed->cheat_panel, FALSE, FALSE, 0);
  gtk_grid_attach(GTK_GRID(ed->grid), body_box, 0, (*row)++, 2, 1);
}

void build(Editor* ed) {
  const EditorSpec& spec = *ed->spec;
  ed->dialog = dialog_new(spec.title_id);
  dialog_add_button(ed->dialog, STR_CANCEL, GTK_RESPONSE_CANCEL);
  ed->ok_button = dialog_add_button(ed->dialog, STR_ACCEPT, GTK_RESPONSE_OK);
  GtkWidget* action = gtk_widget_get_parent(ed->ok_button);
  if (ed->slot < 0) {
    ed->apply_button = dialog_add_button(ed->dialog, STR_SAVE_AND_NEW, GTK_RESPONSE_APPLY);
    if (GTK_IS_BOX(action)) gtk_box_reorder_child(GTK_BOX(action), ed->apply_button, 1);
  } else if (spec.keep_history && GTK_IS_BOX(action)) {
    ed->keep_history_check = gtk_check_button_new_with_label(ui_text(STR_KEEP_PREVIOUS_VERSION));
    gtk_box_pack_start(GTK_BOX(action), ed->keep_history_check, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(action), ed->keep_history_check, 0);
  }
  gtk_dialog_set_default_response(GTK_DIALOG(ed->dialog), GTK_RESPONSE_OK);

  ed->grid = form_grid_new();
  int row = 0;
  if (spec.title_row) {
    ed->title_entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(ed->title_entry), ed->baseline.title.c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(ed->title_entry), TRUE);
    form_row(ed->grid, row++, STR_LABEL_TITLE, ed->title_entry);
    g_signal_connect(ed->title_entry, "changed", G_CALLBACK(on_title_changed), ed);
  }
  for (const EditorSection& s : spec.sections) ed->states.push_back(s.build ? s.build(ed, ed->grid, &row) : nullptr);
  if (spec.body_rows) build_body_rows(ed, &row);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(ed->dialog));
  gtk_box_pack_start(GTK_BOX(content), ed->grid, TRUE, TRUE, 5);

  for (size_t i = 0; i < spec.sections.size(); i++)
    if (spec.sections[i].fill) spec.sections[i].fill(ed, ed->states[i], ed->baseline);
}

void show(Editor* ed) {
  if (ed->spec->show_all) {
    gtk_widget_show_all(ed->dialog);
  } else {
    gtk_widget_show(ed->grid);
    gtk_widget_show(ed->dialog);
  }
  apply_cheat_sheet(ed);
  for (size_t i = 0; i < ed->spec->sections.size(); i++)
    if (ed->spec->sections[i].shown) ed->spec->sections[i].shown(ed, ed->states[i]);
  gather_widgets(ed, &ed->shown);
  editor_validate(ed);
  if (ed->title_entry) gtk_widget_grab_focus(ed->title_entry);
}

int64_t store(Editor* ed, const ItemForm& form) {
  int keep = ed->keep_history_check && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(ed->keep_history_check)) ? 1 : 0;
  if (ed->spec->store) return ed->spec->store(ed, form, keep);
  return item_store(ed->slot, ed->spec->type, form, keep, ed->target_tag);
}

// Reads what is typed in every date field that has not been confirmed yet
// (OK can be reached from another field with the keyboard). False when one
// holds text that is not a date: it is marked and nothing is saved.
bool commit_typed_dates(GtkWidget* w) {
  bool ok = true;
  if (GTK_IS_DATE_PICKER(w)) return date_picker_commit_text(w) == 0;
  if (GTK_IS_CONTAINER(w)) {
    GList* kids = gtk_container_get_children(GTK_CONTAINER(w));
    for (GList* l = kids; l; l = l->next) ok = commit_typed_dates(static_cast<GtkWidget*>(l->data)) && ok;
    g_list_free(kids);
  }
  return ok;
}

// Gathers and stores when changed. False when a store failed: the failure
// has been shown and the editor stays open with everything typed.
bool save(Editor* ed) {
  if (!commit_typed_dates(ed->dialog)) return false;
  ItemForm form;
  editor_gather(ed, &form);
  bool changed = ed->spec->differs ? ed->spec->differs(ed, ed->baseline, form) : item_form_differs(ed->baseline, form);
  if (!changed) return true;
  int64_t slot = store(ed, form);
  if (slot < 0) {
    log_message(LOG_ERROR, "editor_save: %d, %lld", ed->spec->type, static_cast<long long>(ed->slot));
    show_message(ed->spec->title_id, kSaveFailedId);
    return false;
  }
  ed->stored = slot;
  if (ed->slot >= 0) ed->baseline = form;
  return true;
}

void prepare_next(Editor* ed) {
  if (ed->title_entry) gtk_entry_set_text(GTK_ENTRY(ed->title_entry), "");
  if (ed->body_view) gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(ed->body_view)), "", -1);
  for (size_t i = 0; i < ed->spec->sections.size(); i++)
    if (ed->spec->sections[i].saved_new) ed->spec->sections[i].saved_new(ed, ed->states[i]);
  // What stays in the widgets for the next item is not a change of it.
  rebase(ed);
  editor_validate(ed);
  if (ed->title_entry) gtk_widget_grab_focus(ed->title_entry);
}

void run_loop(Editor* ed, ModalScope* scope) {
  while (true) {
    int response = scope->run();
    if (response == GTK_RESPONSE_APPLY && ed->slot < 0) {
      if (save(ed)) prepare_next(ed);
      continue;
    }
    if (response == GTK_RESPONSE_OK) {
      if (save(ed)) return;
      continue;
    }
    // Text typed into a date field that is not a date is a change too.
    if (commit_typed_dates(ed->dialog) && !editor_changed(ed)) return;
    if (program_ending()) {
      log_message(LOG_NOTICE, "editor_run: closed by a quit signal, changes not stored");
      return;
    }
    if (ask_yes_no(STR_ASK_DISCARD, nullptr, STR_ASK_DISCARD_DETAIL, kKeepEditingId, kDiscardId)) return;
  }
}

}  // namespace

int64_t editor_run(const EditorSpec& spec, int64_t slot, int64_t target_tag) {
  Editor ed;
  ed.spec = &spec;
  ed.slot = slot;
  ed.target_tag = target_tag;
  if (slot >= 0 && !item_get(slot)) {
    log_message(LOG_ERROR, "editor_run: no item %lld", static_cast<long long>(slot));
    return -1;
  }
  item_form_fill(slot, spec.type, &ed.baseline);
  // The stored times, not the defaults a form offers for missing ones: a
  // time the user does not set stays unset.
  if (const Item* item = slot >= 0 ? item_get(slot) : nullptr) {
    ed.baseline.due = item->due;
    ed.baseline.end = item->end;
  }
  build(&ed);
  DialogSizes& sizes = app_core().dialog_sizes;
  int idx = spec.size_index >= 0 && spec.size_index < DLG_COUNT ? spec.size_index : DLG_NOTE;
  running().push_back(&ed);
  {
    ModalScope scope(ed.dialog, &sizes.width[idx], &sizes.height[idx]);
    show(&ed);
    run_loop(&ed, &scope);
  }
  running().pop_back();
  wipe(&ed.baseline.body);
  wipe(&ed.shown.body);
  gtk_widget_destroy(ed.dialog);
  for (size_t i = 0; i < spec.sections.size(); i++)
    if (spec.sections[i].destroy) spec.sections[i].destroy(ed.states[i]);
  return ed.stored;
}

Editor* editor_current() { return running().empty() ? nullptr : running().back(); }

void editor_validate(Editor* ed) {
  bool ok = true;
  if (ed->title_entry) ok = gtk_entry_get_text_length(GTK_ENTRY(ed->title_entry)) > 0;
  for (size_t i = 0; ok && i < ed->spec->sections.size(); i++)
    if (ed->spec->sections[i].valid && !ed->spec->sections[i].valid(ed, ed->states[i])) ok = false;
  gtk_widget_set_sensitive(ed->ok_button, ok);
  if (ed->apply_button) gtk_widget_set_sensitive(ed->apply_button, ok);
}

std::string editor_body_text(Editor* ed) {
  return ed->body_view ? text_view_text(ed->body_view) : std::string();
}

void editor_gather(Editor* ed, ItemForm* form) {
  ItemForm now;
  gather_widgets(ed, &now);
  *form = ed->baseline;
  form_take_changes(form, ed->shown, now);
  wipe(&now.body);  // a key's password
}

bool editor_changed(Editor* ed) {
  ItemForm form;
  editor_gather(ed, &form);
  return ed->spec->differs ? ed->spec->differs(ed, ed->baseline, form) : item_form_differs(ed->baseline, form) != 0;
}
