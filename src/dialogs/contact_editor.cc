// SPDX-License-Identifier: GPL-3.0-or-later
// The contact editor: a section on the editor shell that shows a card's
// fields in rows and saves the user's changes into the stored card through
// vcard_apply_edit, so that everything the rows do not show is kept.
#include "dialogs/contact_editor.h"

#include <ctime>

#include "dialogs/address_dialog.h"
#include "dialogs/date_picker.h"
#include "dialogs/layout.h"
#include "interchange/interchange.h"
#include "interchange/vcard_edit.h"
#include "model/recur.h"
#include "model/settings.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

namespace {

constexpr size_t kComponentMax = 1022;

// Cut at a character boundary.
std::string cut(std::string s, size_t max) {
  if (s.size() <= max) return s;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) n--;
  s.resize(n);
  return s;
}

std::string entry_text(GtkWidget* e) { return gtk_entry_get_text(GTK_ENTRY(e)); }

std::string joined_name(const std::string& given, const std::string& family) {
  if (given.empty()) return family;
  if (family.empty()) return given;
  return given + " " + family;
}

int email_entry(int flags) { return flags & EMAIL_HOME ? 0 : flags & EMAIL_WORK ? 1 : 2; }
int email_flags(int entry) { return entry == 0 ? EMAIL_HOME : entry == 1 ? EMAIL_WORK : 0; }
int adr_entry(int flags) { return flags & ADR_HOME ? 0 : flags & ADR_WORK ? 1 : 2; }
int adr_flags(int entry) { return entry == 0 ? ADR_HOME : entry == 1 ? ADR_WORK : 0; }

int combo_entry(GtkWidget* combo) {
  int i = gtk_combo_box_get_active(GTK_COMBO_BOX(combo));
  return i < 0 ? 0 : i;
}

void set_visible_row(std::initializer_list<GtkWidget*> widgets, bool on) {
  for (GtkWidget* w : widgets) {
    if (on) gtk_widget_show_all(w);
    else gtk_widget_hide(w);
  }
}

VCardAddress escaped_address(const ContactAddress& a) {
  VCardAddress out;
  for (int i = 0; i < 8; i++) out.part[i] = vcard_escape(a.part[i].c_str());
  return out;
}

void refresh_address_label(ContactAddress* a) {
  gtk_label_set_text(GTK_LABEL(a->label), vcard_address_text(escaped_address(*a)).c_str());
}

void apply_visibility(ContactSection* c) {
  for (int i = 0; i < kVcardMaxPhones; i++) {
    ContactRow& r = c->phones[i];
    set_visible_row({r.combo, r.entry, r.remove}, i < c->n_phones);
  }
  for (int i = 0; i < kVcardMaxEmails; i++) {
    ContactRow& r = c->emails[i];
    set_visible_row({r.combo, r.entry, r.remove}, i < c->n_emails);
  }
  for (int k = 0; k < kVcardMaxAddresses; k++) {
    ContactAddress& a = c->addresses[k];
    set_visible_row({a.combo, a.box, a.remove}, k < c->n_addresses);
  }
  set_visible_row({c->notes_label, c->notes_box, c->notes_remove}, c->notes_shown);
  set_visible_row({c->add_notes}, !c->notes_shown);
  gtk_widget_set_sensitive(c->add_phone, c->n_phones < kVcardMaxPhones);
  gtk_widget_set_sensitive(c->add_email, c->n_emails < kVcardMaxEmails);
  gtk_widget_set_sensitive(c->add_address, c->n_addresses < kVcardMaxAddresses);
}

void reset_row(ContactRow* r) {
  gtk_combo_box_set_active(GTK_COMBO_BOX(r->combo), 0);
  gtk_entry_set_text(GTK_ENTRY(r->entry), "");
  r->origin = r->loaded = -1;
  r->flags = 0;
}

void reset_address(ContactAddress* a) {
  for (auto& p : a->part) p.clear();
  gtk_combo_box_set_active(GTK_COMBO_BOX(a->combo), 0);
  gtk_label_set_text(GTK_LABEL(a->label), "");
  a->origin = a->loaded = -1;
  a->flags = 0;
  a->edited = false;
}

void add_row(ContactRow* rows, int* n, int max) {
  if (*n >= max) return;
  ContactRow& r = rows[(*n)++];
  reset_row(&r);
  gtk_widget_show_all(r.combo);
  gtk_widget_show_all(r.entry);
  gtk_widget_show_all(r.remove);
  gtk_widget_grab_focus(r.entry);
}

void remove_row(ContactRow* rows, int* n, int i) {
  if (i < 0 || i >= *n) return;
  if (*n == 1) {
    gtk_entry_set_text(GTK_ENTRY(rows[0].entry), "");
    return;
  }
  for (int j = i; j + 1 < *n; j++) {
    ContactRow& to = rows[j];
    ContactRow& from = rows[j + 1];
    gtk_entry_set_text(GTK_ENTRY(to.entry), gtk_entry_get_text(GTK_ENTRY(from.entry)));
    gtk_combo_box_set_active(GTK_COMBO_BOX(to.combo), combo_entry(from.combo));
    to.origin = from.origin;
    to.loaded = from.loaded;
    to.flags = from.flags;
  }
  reset_row(&rows[--(*n)]);
}

// --- Signal handlers --------------------------------------------------------------------

void on_name_changed(GtkEditable*, gpointer p) {
  auto* c = static_cast<ContactSection*>(p);
  // A new contact's formatted name follows its names; an existing one's is
  // the user's own.
  if (c->ed->slot < 0)
    gtk_entry_set_text(GTK_ENTRY(c->formatted), joined_name(entry_text(c->given), entry_text(c->family)).c_str());
  editor_validate(c->ed);
}

void on_bday_toggled(GtkToggleButton* b, gpointer p) {
  gtk_widget_set_sensitive(static_cast<ContactSection*>(p)->bday, gtk_toggle_button_get_active(b));
}

void on_picker_validity(GtkWidget*, gpointer p) { editor_validate(static_cast<ContactSection*>(p)->ed); }

template <int Kind>
void on_remove(GtkButton* b, gpointer p) {
  auto* c = static_cast<ContactSection*>(p);
  int i = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "row"));
  if (Kind == 0) contact_remove_phone(c, i);
  else if (Kind == 1) contact_remove_email(c, i);
  else contact_remove_address(c, i);
}

void on_add_phone(GtkButton*, gpointer p) { contact_add_phone(static_cast<ContactSection*>(p)); }
void on_add_email(GtkButton*, gpointer p) { contact_add_email(static_cast<ContactSection*>(p)); }
void on_add_address(GtkButton*, gpointer p) { contact_add_address(static_cast<ContactSection*>(p)); }
void on_edit_address(GtkButton* b, gpointer p) {
  contact_edit_address(static_cast<ContactSection*>(p), GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "row")));
}
void on_add_notes(GtkButton*, gpointer p) { contact_show_notes(static_cast<ContactSection*>(p), true); }
void on_remove_notes(GtkButton*, gpointer p) { contact_show_notes(static_cast<ContactSection*>(p), false); }

// --- Building ---------------------------------------------------------------------------

GtkWidget* labelled(GtkWidget* grid, int row, StrId label_id, GtkWidget* field) {
  GtkWidget* label = form_row(grid, row, label_id, field);
  gtk_widget_show(label);
  gtk_widget_show_all(field);
  return label;
}

GtkWidget* remove_button(int row, GCallback handler, ContactSection* c) {
  // An icon keeps the rows narrow; the tooltip and the accessible name say
  // what it does.
  GtkWidget* b = gtk_button_new_from_icon_name("edit-delete-symbolic", GTK_ICON_SIZE_BUTTON);
  gtk_widget_set_tooltip_text(b, ui_text(STR_DELETE_ROW));
  set_accessible_name(b, STR_DELETE_ROW);
  g_object_set_data(G_OBJECT(b), "row", GINT_TO_POINTER(row));
  g_signal_connect(b, "clicked", handler, c);
  return b;
}

void build_rows(ContactSection* c, GtkWidget* grid, ContactRow* rows, int n, int first_row, StrId list_id,
                GCallback remove) {
  for (int i = 0; i < n; i++) {
    ContactRow& r = rows[i];
    r.combo = combo_from_list(ui_string(list_id), 0);
    r.entry = gtk_entry_new();
    gtk_entry_set_activates_default(GTK_ENTRY(r.entry), TRUE);
    gtk_widget_set_hexpand(r.entry, TRUE);
    set_accessible_name(r.entry, list_id == STR_PHONE_KINDS ? STR_ADD_PHONE : STR_ADD_EMAIL);
    r.remove = remove_button(i, remove, c);
    gtk_grid_attach(GTK_GRID(grid), r.combo, 0, first_row + i, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), r.entry, 1, first_row + i, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), r.remove, 2, first_row + i, 1, 1);
    gtk_widget_set_no_show_all(r.combo, FALSE);
  }
}

GtkWidget* attach_button(GtkWidget* grid, int row, StrId label_id, GCallback handler, ContactSection* c) {
  GtkWidget* b = button_new(label_id);
  gtk_widget_set_halign(b, GTK_ALIGN_START);
  g_signal_connect(b, "clicked", handler, c);
  gtk_grid_attach(GTK_GRID(grid), b, 1, row, 1, 1);
  gtk_widget_show(b);
  return b;
}

void* contact_build(Editor* ed, GtkWidget* outer, int* row) {
  auto* c = new ContactSection;
  c->ed = ed;
  GtkWidget* grid = form_grid_new();
  c->given = gtk_entry_new();
  labelled(grid, 0, STR_GIVEN_NAME, c->given);
  c->family = gtk_entry_new();
  labelled(grid, 1, STR_FAMILY_NAME, c->family);
  c->formatted = gtk_entry_new();
  labelled(grid, 2, STR_DISPLAY_NAME, c->formatted);
  c->org = gtk_entry_new();
  labelled(grid, 3, STR_ORGANIZATION, c->org);
  c->url = gtk_entry_new();
  labelled(grid, 4, STR_WEB_ADDRESS, c->url);
  // Return in a one-line field saves, as in the other editors.
  for (GtkWidget* e : {c->given, c->family, c->formatted, c->org, c->url})
    gtk_entry_set_activates_default(GTK_ENTRY(e), TRUE);
  c->bday_check = gtk_check_button_new();
  set_accessible_name(c->bday_check, STR_BIRTHDAY);
  c->bday = date_picker_new();
  date_picker_set_date_only(c->bday, true);
  gtk_widget_set_sensitive(c->bday, FALSE);
  labelled(grid, 5, STR_BIRTHDAY, button_row({c->bday_check, c->bday}));
  GtkWidget* gap = gtk_label_new("");
  gtk_grid_attach(GTK_GRID(grid), gap, 0, 6, 1, 1);
  gtk_widget_show(gap);

  build_rows(c, grid, c->phones, kVcardMaxPhones, 7, STR_PHONE_KINDS, G_CALLBACK(on_remove<0>));
  c->add_phone = attach_button(grid, 17, STR_ADD_PHONE, G_CALLBACK(on_add_phone), c);
  build_rows(c, grid, c->emails, kVcardMaxEmails, 18, STR_EMAIL_KINDS, G_CALLBACK(on_remove<1>));
  c->add_email = attach_button(grid, 28, STR_ADD_EMAIL, G_CALLBACK(on_add_email), c);
  for (int k = 0; k < kVcardMaxAddresses; k++) {
    ContactAddress& a = c->addresses[k];
    a.combo = combo_from_list(ui_string(STR_ADDRESS_KINDS), 0);
    a.label = gtk_label_new("");
    gtk_label_set_line_wrap(GTK_LABEL(a.label), TRUE);
    gtk_widget_set_halign(a.label, GTK_ALIGN_START);
    gtk_label_set_xalign(GTK_LABEL(a.label), 0);
    a.edit = button_new(STR_EDIT);
    g_object_set_data(G_OBJECT(a.edit), "row", GINT_TO_POINTER(k));
    g_signal_connect(a.edit, "clicked", G_CALLBACK(on_edit_address), c);
    a.box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    gtk_box_pack_start(GTK_BOX(a.box), a.label, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(a.box), a.edit, FALSE, FALSE, 0);
    gtk_widget_set_hexpand(a.box, TRUE);
    a.remove = remove_button(k, G_CALLBACK(on_remove<2>), c);
    gtk_grid_attach(GTK_GRID(grid), a.combo, 0, 29 + k, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), a.box, 1, 29 + k, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), a.remove, 2, 29 + k, 1, 1);
  }
  c->add_address = attach_button(grid, 32, STR_ADD_ADDRESS, G_CALLBACK(on_add_address), c);

  c->notes_label = form_label_new(STR_NOTES);
  gtk_widget_set_valign(c->notes_label, GTK_ALIGN_START);
  c->notes = gtk_text_view_new();
  gtk_widget_set_size_request(c->notes, -1, 100);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(c->notes), GTK_WRAP_WORD_CHAR);
  set_accessible_name(c->notes, STR_NOTES);
  c->notes_box = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(c->notes_box), GTK_SHADOW_IN);
  gtk_widget_set_hexpand(c->notes_box, TRUE);
  gtk_container_add(GTK_CONTAINER(c->notes_box), c->notes);
  c->notes_remove = button_new(STR_DELETE);
  g_signal_connect(c->notes_remove, "clicked", G_CALLBACK(on_remove_notes), c);
  gtk_grid_attach(GTK_GRID(grid), c->notes_label, 0, 33, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), c->notes_box, 1, 33, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), c->notes_remove, 2, 33, 1, 1);
  c->add_notes = attach_button(grid, 34, STR_ADD_NOTES, G_CALLBACK(on_add_notes), c);

  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_widget_set_size_request(sw, 400, 300);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(sw), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  // A new contact's rows fit without scrolling; only a long card scrolls.
  gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(sw), TRUE);
  gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(sw), 560);
  gtk_widget_set_hexpand(sw, TRUE);
  gtk_widget_set_vexpand(sw, TRUE);
  gtk_container_add(GTK_CONTAINER(sw), grid);
  gtk_grid_attach(GTK_GRID(outer), sw, 0, (*row)++, 3, 1);
  gtk_widget_show(grid);
  gtk_widget_show_all(sw);

  g_signal_connect(c->given, "changed", G_CALLBACK(on_name_changed), c);
  g_signal_connect(c->family, "changed", G_CALLBACK(on_name_changed), c);
  g_signal_connect(c->bday_check, "toggled", G_CALLBACK(on_bday_toggled), c);
  g_signal_connect(c->bday, "text-validity", G_CALLBACK(on_picker_validity), c);
  return c;
}

// --- Filling and gathering ----------------------------------------------------------------

void load_rows(ContactRow* rows, int* n, const std::vector<VCardTyped>& values, int (*entry_of)(int)) {
  *n = 0;
  for (size_t i = 0; i < values.size(); i++) {
    ContactRow& r = rows[(*n)++];
    r.origin = static_cast<int>(i);
    r.flags = values[i].flags;
    r.loaded = entry_of(values[i].flags);
    gtk_combo_box_set_active(GTK_COMBO_BOX(r.combo), r.loaded);
    gtk_entry_set_text(GTK_ENTRY(r.entry), values[i].value.c_str());
  }
  // One empty row to type into.
  if (*n == 0) {
    reset_row(&rows[0]);
    *n = 1;
  }
}

void load(ContactSection* c) {
  const VCardRecord& r = c->shown;
  gtk_entry_set_text(GTK_ENTRY(c->given), vcard_given_name(r).c_str());
  gtk_entry_set_text(GTK_ENTRY(c->family), vcard_family_name(r).c_str());
  gtk_entry_set_text(GTK_ENTRY(c->formatted), vcard_formatted_name(r).c_str());
  gtk_entry_set_text(GTK_ENTRY(c->org), vcard_org_name(r).c_str());
  gtk_entry_set_text(GTK_ENTRY(c->url), vcard_url(r).c_str());
  if (r.birthday) {
    date_picker_set(c->bday, local_time_of(r.birthday / 10000, r.birthday / 100 % 100, r.birthday % 100, 0, 0, 0));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->bday_check), TRUE);
  }
  load_rows(c->phones, &c->n_phones, r.phones, contact_phone_entry);
  load_rows(c->emails, &c->n_emails, r.emails, email_entry);
  c->n_addresses = 0;
  for (size_t i = 0; i < r.addresses.size(); i++) {
    if (vcard_address_text(r.addresses[i]).empty()) continue;
    ContactAddress& a = c->addresses[c->n_addresses++];
    for (int p = 0; p < 8; p++) {
      a.part[p] = vcard_unescape(r.addresses[i].part[p]);
      if (a.part[p].size() > kComponentMax) a.part[p] = cut(a.part[p], kComponentMax);
    }
    a.origin = static_cast<int>(i);
    a.flags = r.addresses[i].flags;
    a.loaded = adr_entry(a.flags);
    a.edited = false;
    gtk_combo_box_set_active(GTK_COMBO_BOX(a.combo), a.loaded);
    refresh_address_label(&a);
  }
  std::string note = vcard_unescape(r.note);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->notes)), note.c_str(), -1);
  c->notes_shown = !note.empty();
}

void contact_fill(Editor* ed, void* st, const ItemForm& form) {
  auto* c = static_cast<ContactSection*>(st);
  c->shown = VCardRecord();
  c->card.clear();
  if (ed->slot >= 0) {
    c->card = form.body;
    if (vcard_parse(c->card.data(), c->card.size(), &c->shown) != 0) {
      log_message(LOG_WARNING, "contact_fill: %lld is no vCard", static_cast<long long>(ed->slot));
      c->shown = VCardRecord();
    }
  }
  load(c);
  apply_visibility(c);
}

void gather_rows(const ContactRow* rows, int n, int (*flags_of)(int), int keep_mask, std::vector<VCardTyped>* out,
                 std::vector<int>* origins) {
  for (int i = 0; i < n; i++) {
    const ContactRow& r = rows[i];
    std::string value = gtk_entry_get_text(GTK_ENTRY(r.entry));
    if (value.empty()) continue;
    int entry = combo_entry(r.combo);
    int flags;
    if (r.origin >= 0 && entry == r.loaded) flags = r.flags;  // the type as stored
    else if (r.origin >= 0) flags = (r.flags & keep_mask) | flags_of(entry);
    else flags = flags_of(entry);
    out->push_back({flags, value});
    origins->push_back(r.origin);
  }
}

VCardEdit gather_edit(ContactSection* c) {
  VCardEdit e;
  e.shown = c->shown;
  VCardRecord& r = e.edited;
  std::string given = entry_text(c->given), family = entry_text(c->family);
  r.n[0] = vcard_escape(family.c_str());
  r.n[1] = vcard_escape(given.c_str());
  for (int i = 2; i < 5; i++) r.n[i] = c->shown.n[i];
  std::string fn = entry_text(c->formatted);
  if (fn.empty()) fn = joined_name(given, family);
  r.fn = vcard_escape(fn.c_str());
  // Only the name is shown: the units after it stay as written, and an
  // untouched name keeps its own escapes.
  std::string org = entry_text(c->org);
  r.org = org == vcard_org_name(c->shown) ? c->shown.org : vcard_org_with_name(c->shown.org, vcard_escape(org.c_str()));
  r.url = entry_text(c->url);
  if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->bday_check))) {
    time_t t = static_cast<time_t>(date_picker_get(c->bday));
    struct tm tm {};
    if (t != 0 && localtime_r(&t, &tm)) r.birthday = (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
  }
  gather_rows(c->phones, c->n_phones, contact_phone_flags, 0, &r.phones, &e.phone_origin);
  gather_rows(c->emails, c->n_emails, email_flags, ~(EMAIL_HOME | EMAIL_WORK), &r.emails, &e.email_origin);
  for (int k = 0; k < c->n_addresses; k++) {
    const ContactAddress& a = c->addresses[k];
    if (gtk_label_get_text(GTK_LABEL(a.label))[0] == '\0') continue;
    int entry = combo_entry(a.combo);
    if (a.origin >= 0 && !a.edited && entry == a.loaded) {
      r.addresses.push_back(c->shown.addresses[a.origin]);
    } else {
      VCardAddress out = escaped_address(a);
      out.flags = a.origin >= 0 && entry == a.loaded ? a.flags
                                                     : (a.flags & ~(ADR_HOME | ADR_WORK)) | adr_flags(entry);
      r.addresses.push_back(out);
    }
    e.address_origin.push_back(a.origin);
  }
  if (c->notes_shown) r.note = vcard_escape(text_view_text(c->notes).c_str());
  return e;
}

// The card as edited, with the title and the birthday's yearly date it
// gives. Without a name (which cannot be saved) the form stays empty.
void contact_gather(Editor*, void* st, ItemForm* form) {
  auto* c = static_cast<ContactSection*>(st);
  if (entry_text(c->given).empty() && entry_text(c->family).empty()) return;
  VCardEdit e = gather_edit(c);
  vcard_form_fields(e.edited, vcard_apply_edit(c->card, e), form);
}

bool contact_valid(Editor*, void* st) {
  auto* c = static_cast<ContactSection*>(st);
  if (entry_text(c->given).empty() && entry_text(c->family).empty()) return false;
  return date_picker_text_valid(c->bday);
}

void contact_shown(Editor* ed, void* st) {
  auto* c = static_cast<ContactSection*>(st);
  apply_visibility(c);
  gtk_widget_grab_focus(c->given);
  (void)ed;
}

void contact_saved_new(Editor*, void* st) {
  auto* c = static_cast<ContactSection*>(st);
  c->card.clear();
  c->shown = VCardRecord();
  for (GtkWidget* e : {c->given, c->family, c->formatted, c->org, c->url}) gtk_entry_set_text(GTK_ENTRY(e), "");
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->notes)), "", -1);
  date_picker_set(c->bday, 0);
  for (auto& r : c->phones) reset_row(&r);
  for (auto& r : c->emails) reset_row(&r);
  for (auto& a : c->addresses) reset_address(&a);
  c->n_phones = c->n_emails = 1;
  c->n_addresses = 0;
  c->notes_shown = false;
  apply_visibility(c);
  gtk_widget_grab_focus(c->given);
}

void contact_destroy(void* st) { delete static_cast<ContactSection*>(st); }

const EditorSection kContactSection = {contact_build, contact_fill,      contact_gather, contact_valid,
                                       contact_shown, contact_saved_new, contact_destroy};

bool contact_differs(Editor*, const ItemForm& baseline, const ItemForm& gathered) {
  return baseline.body != gathered.body;
}

int64_t contact_store(Editor* ed, const ItemForm& form, int) {
  VCardRecord rec;
  if (vcard_parse(form.body.data(), form.body.size(), &rec) != 0) {
    log_message(LOG_ERROR, "contact_store: %lld", static_cast<long long>(ed->slot));
    return -1;
  }
  // A new contact goes under the editor's target tag.
  return item_store(ed->slot, ITEM_VCARD, form, 0, ed->target_tag);
}

}  // namespace

int contact_phone_entry(int f) {
  bool fax = f & TEL_FAX, cell = f & TEL_CELL, home = f & TEL_HOME, work = f & TEL_WORK, pref = f & TEL_PREF;
  if (!fax && cell) return 0;
  if (!fax && !cell && home) return 1;
  if (!fax && !cell && !home && work) return 2;
  if (!fax && !cell && !home && !work && pref) return 3;
  if (fax && home) return 4;
  if (fax && work) return 5;
  if (fax) return 6;
  if (f & TEL_PAGER) return 7;
  return 8;
}

int contact_phone_flags(int entry) {
  static const int flags[] = {TEL_CELL | TEL_VOICE, TEL_HOME | TEL_VOICE, TEL_WORK | TEL_VOICE,
                              TEL_PREF | TEL_VOICE, TEL_HOME | TEL_FAX,   TEL_WORK | TEL_FAX,
                              TEL_FAX,              TEL_PAGER,            TEL_VOICE};
  return entry >= 0 && entry < 9 ? flags[entry] : TEL_VOICE;
}

void contact_add_phone(ContactSection* c) {
  add_row(c->phones, &c->n_phones, kVcardMaxPhones);
  gtk_widget_set_sensitive(c->add_phone, c->n_phones < kVcardMaxPhones);
}

void contact_remove_phone(ContactSection* c, int row) {
  remove_row(c->phones, &c->n_phones, row);
  apply_visibility(c);
}

void contact_add_email(ContactSection* c) {
  add_row(c->emails, &c->n_emails, kVcardMaxEmails);
  gtk_widget_set_sensitive(c->add_email, c->n_emails < kVcardMaxEmails);
}

void contact_remove_email(ContactSection* c, int row) {
  remove_row(c->emails, &c->n_emails, row);
  apply_visibility(c);
}

void contact_add_address(ContactSection* c) {
  if (c->n_addresses >= kVcardMaxAddresses) return;
  ContactAddress& a = c->addresses[c->n_addresses];
  reset_address(&a);
  if (!address_dialog(GTK_WINDOW(c->ed->dialog), a.part)) {
    reset_address(&a);
    return;
  }
  a.edited = true;
  refresh_address_label(&a);
  c->n_addresses++;
  apply_visibility(c);
}

void contact_edit_address(ContactSection* c, int k) {
  if (k < 0 || k >= c->n_addresses) return;
  ContactAddress& a = c->addresses[k];
  std::string parts[8];
  for (int i = 0; i < 8; i++) parts[i] = a.part[i];
  if (!address_dialog(GTK_WINDOW(c->ed->dialog), parts)) return;
  bool same = true;
  for (int i = 0; i < 8; i++) same = same && parts[i] == a.part[i];
  if (same) return;  // confirmed unchanged: the stored text stays as it was
  for (int i = 0; i < 8; i++) a.part[i] = parts[i];
  a.edited = true;
  refresh_address_label(&a);
}

void contact_remove_address(ContactSection* c, int k) {
  if (k < 0 || k >= c->n_addresses) return;
  for (int j = k; j + 1 < c->n_addresses; j++) {
    ContactAddress& to = c->addresses[j];
    ContactAddress& from = c->addresses[j + 1];
    for (int i = 0; i < 8; i++) to.part[i] = from.part[i];
    gtk_combo_box_set_active(GTK_COMBO_BOX(to.combo), combo_entry(from.combo));
    to.origin = from.origin;
    to.loaded = from.loaded;
    to.flags = from.flags;
    to.edited = from.edited;
    gtk_label_set_text(GTK_LABEL(to.label), gtk_label_get_text(GTK_LABEL(from.label)));
  }
  reset_address(&c->addresses[--c->n_addresses]);
  apply_visibility(c);
}

void contact_show_notes(ContactSection* c, bool shown) {
  c->notes_shown = shown;
  apply_visibility(c);
  if (shown) gtk_widget_grab_focus(c->notes);
}

const EditorSpec& contact_editor_spec() {
  static const EditorSpec spec = [] {
    EditorSpec s;
    s.type = ITEM_VCARD;
    s.title_id = STR_TYPE_CONTACT;
    s.size_index = DLG_VCARD;
    s.title_row = false;
    s.body_rows = false;
    s.keep_history = false;
    s.show_all = false;
    s.sections = {kContactSection};
    s.store = contact_store;
    s.differs = contact_differs;
    return s;
  }();
  return spec;
}
