// SPDX-License-Identifier: GPL-3.0-or-later
// The key and contact editors, the password generator and the address
// dialog through their handlers, each checked on the item read back from its
// database (and, for a contact, on its exported card).
#include <fstream>
#include <sstream>

#include "crypto/crypto.h"
#include "dialogs/address_dialog.h"
#include "dialogs/contact_editor.h"
#include "dialogs/key_editor.h"
#include "dialogs/password_generator.h"
#include "editor_driver.h"
#include "interchange/interchange.h"
#include "model/ops.h"

namespace {

using KeyContactTest = EditorTest;

KeySection* key_section() { return static_cast<KeySection*>(editor_current()->states[0]); }
ContactSection* contact() { return static_cast<ContactSection*>(editor_current()->states[0]); }

void click(GtkWidget* button) { gtk_button_clicked(GTK_BUTTON(button)); }

int64_t new_key(const std::string& title, const std::string& body) {
  ItemForm f;
  f.title = title;
  f.body = body;
  f.markup = 1;
  return item_store(-1, ITEM_KEY, f, 0, model().view);
}

TEST_F(KeyContactTest, NewKeyWithGeneratedPasswordAndExpiry) {
  generator_settings() = GeneratorSettings{};
  std::string preview, in_entry;
  int level_before = -1, level_after = -1;
  int64_t expiry = local_time_of(2031, 5, 17, 0, 0, 0);
  int64_t slot = -1;
  {
  Script s;
  s.then([&](GtkWindow*) {
     KeySection* k = key_section();
     set_text(editor_current()->title_entry, "bank");
     set_text(k->url, "https://bank.example");
     set_text(k->user, "me");
     level_before = static_cast<int>(gtk_level_bar_get_value(GTK_LEVEL_BAR(k->strength)));
     click(k->generate);  // runs the generator: the next step drives it
   })
      .then([&](GtkWindow* w) {
        const GeneratorWidgets& g = generator_widgets();
        ASSERT_EQ(GTK_WINDOW(g.dialog), w);
        preview = gtk_entry_get_text(GTK_ENTRY(g.preview));
        respond(w, GTK_RESPONSE_OK);
      })
      .then([&](GtkWindow* w) {
        KeySection* k = key_section();
        in_entry = gtk_entry_get_text(GTK_ENTRY(k->password));
        level_after = static_cast<int>(gtk_level_bar_get_value(GTK_LEVEL_BAR(k->strength)));
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(k->expiry_check), TRUE);
        date_picker_set(k->expiry, expiry);
        respond(w, GTK_RESPONSE_OK);
      });
  slot = item_edit(ITEM_KEY, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  }
  // What the generator showed is what the key got.
  EXPECT_EQ(16u, preview.size());
  EXPECT_EQ(0, password_check(preview.c_str(), 16, 15));
  EXPECT_EQ(preview, in_entry);
  EXPECT_EQ(0, level_before);
  EXPECT_GE(level_after, 3);
  ASSERT_GE(slot, 0);
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ(ITEM_KEY, st.item.type);
  EXPECT_EQ(1, st.item.markup);
  EXPECT_EQ("https://bank.example\nme\n" + preview + "\n" + std::to_string(expiry) + "\n", st.body);
  EXPECT_EQ(expiry, st.item.due);
  EXPECT_EQ(3 * 86400, st.item.remind_offset);
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(tag), static_cast<int32_t>(slot)));

  // Unchecking the expiry removes due time and reminder.
  Script s2;
  s2.then([](GtkWindow* w) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(key_section()->expiry_check), FALSE);
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_EQ(slot, item_edit(ITEM_KEY, slot, tag));
  st = read_back_slot(slot);
  EXPECT_EQ(0, st.item.due);
  EXPECT_EQ(0, st.item.remind_offset);
  EXPECT_EQ("https://bank.example\nme\n" + preview + "\n0\n", st.body);
}

TEST_F(KeyContactTest, ShortKeyBodyShowButtonAndLongNotes) {
  int64_t slot = new_key("short", "https://a.example\nuser\n");
  ASSERT_GE(slot, 0);
  std::string url, user, pw, label_once, label_twice;
  bool visible_once = false, visible_twice = true;
  {
  Script s;
  s.then([&](GtkWindow* w) {
    KeySection* k = key_section();
    url = gtk_entry_get_text(GTK_ENTRY(k->url));
    user = gtk_entry_get_text(GTK_ENTRY(k->user));
    pw = gtk_entry_get_text(GTK_ENTRY(k->password));
    click(k->show);
    visible_once = gtk_entry_get_visibility(GTK_ENTRY(k->password));
    label_once = gtk_button_get_label(GTK_BUTTON(k->show));
    click(k->show);
    visible_twice = gtk_entry_get_visibility(GTK_ENTRY(k->password));
    label_twice = gtk_button_get_label(GTK_BUTTON(k->show));
    respond(w, GTK_RESPONSE_CANCEL);  // nothing changed: no question
  });
  EXPECT_EQ(-1, item_edit(ITEM_KEY, slot, tag));
  EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ("https://a.example", url);
  EXPECT_EQ("user", user);
  EXPECT_EQ("", pw);
  EXPECT_TRUE(visible_once);
  EXPECT_EQ(ui_string(STR_HIDE), label_once);
  EXPECT_FALSE(visible_twice);
  EXPECT_EQ(ui_string(STR_SHOW), label_twice);

  // Notes far beyond 4095 bytes are stored whole.
  std::string notes(9000, 'n');
  Script s2;
  s2.then([&](GtkWindow* w) {
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(key_section()->notes)), notes.c_str(), -1);
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_EQ(slot, item_edit(ITEM_KEY, slot, tag));
  std::string body = read_back_slot(slot).body;
  EXPECT_EQ(std::string("https://a.example\nuser\n\n0\n") + notes, body) << body.substr(0, 64);
}

TEST_F(KeyContactTest, GeneratorLimitsAndRequiredClasses) {
  generator_settings() = GeneratorSettings{};
  GtkWidget* target = gtk_entry_new();
  g_object_ref_sink(target);
  bool locked = true, active = true, ok_19 = true, ok_20 = false;
  std::string preview_19, preview_20;
  {
  Script s;
  s.then([&](GtkWindow* w) {
    const GeneratorWidgets& g = generator_widgets();
    for (GtkWidget* c : g.classes) {
      locked = locked && !sensitive(c);
      active = active && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c));
    }
    set_text(g.length, "19");
    ok_19 = sensitive(g.ok);
    preview_19 = gtk_entry_get_text(GTK_ENTRY(g.preview));
    set_text(g.length, "20");
    ok_20 = sensitive(g.ok);
    preview_20 = gtk_entry_get_text(GTK_ENTRY(g.preview));
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_TRUE(password_generator_dialog(target, 20, 15));
  }
  EXPECT_TRUE(locked);
  EXPECT_TRUE(active);
  EXPECT_FALSE(ok_19);
  EXPECT_EQ("", preview_19);
  EXPECT_TRUE(ok_20);
  EXPECT_EQ(0, password_check(preview_20.c_str(), 20, 15));
  EXPECT_EQ(preview_20, gtk_entry_get_text(GTK_ENTRY(target)));
  EXPECT_EQ(20, generator_settings().length);

  // Cancel leaves the target alone.
  Script s2;
  s2.then([](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); });
  EXPECT_FALSE(password_generator_dialog(target, 0, 0));
  EXPECT_EQ(preview_20, gtk_entry_get_text(GTK_ENTRY(target)));
  g_object_unref(target);
}

VCardRecord parse_stored(int64_t slot) {
  Stored st = read_back_slot(slot);
  VCardRecord r;
  EXPECT_EQ(0, vcard_parse(st.body.data(), st.body.size(), &r)) << st.body;
  return r;
}

TEST_F(KeyContactTest, NewContactRowsLimitsAndSaveAndNew) {
  Script s;
  std::string fn_both, fn_family;
  bool ok_empty = true, add_at_10 = true, row_kept = false;
  std::string emptied;
  s.then([&](GtkWindow* w) {
     ContactSection* c = contact();
     Editor* ed = editor_current();
     ok_empty = sensitive(ed->ok_button);
     set_text(c->family, "Berg");
     fn_family = gtk_entry_get_text(GTK_ENTRY(c->formatted));
     set_text(c->given, "Ola");
     fn_both = gtk_entry_get_text(GTK_ENTRY(c->formatted));
     // The only phone row is emptied, not removed.
     set_text(c->phones[0].entry, "1");
     contact_remove_phone(c, 0);
     emptied = gtk_entry_get_text(GTK_ENTRY(c->phones[0].entry));
     row_kept = c->n_phones == 1 && gtk_widget_get_visible(c->phones[0].entry);
     for (int i = 0; i < 12; i++) contact_add_phone(c);
     add_at_10 = sensitive(c->add_phone);
     for (int i = 0; i < 10; i++) set_text(c->phones[i].entry, ("+47 " + std::to_string(i)).c_str());
     set_text(c->phones[4].entry, "");  // a row in use without a number is not written
     gtk_combo_box_set_active(GTK_COMBO_BOX(c->phones[1].combo), 5);  // work fax
     contact_remove_phone(c, 0);
     set_text(c->emails[0].entry, "ola@example.org");
     respond(w, GTK_RESPONSE_APPLY);
   })
      .then([&](GtkWindow* w) {
        ContactSection* c = contact();
        // A fresh contact: one empty phone row, which takes the next number.
        EXPECT_EQ(1, c->n_phones);
        EXPECT_FALSE(gtk_widget_get_visible(c->phones[1].entry));
        set_text(c->given, "Kari");
        set_text(c->phones[0].entry, "+47 99");
        respond(w, GTK_RESPONSE_OK);
      });
  int64_t last = item_edit(ITEM_VCARD, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_FALSE(ok_empty);
  EXPECT_EQ("Berg", fn_family);
  EXPECT_EQ("Ola Berg", fn_both);
  EXPECT_EQ("", emptied);
  EXPECT_TRUE(row_kept);
  EXPECT_FALSE(add_at_10);
  ASSERT_EQ(2, count_items(ITEM_VCARD));

  int64_t c = -1, first = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->type == ITEM_VCARD && c != last) first = c;
  ASSERT_GE(first, 0);
  EXPECT_EQ("Ola Berg", item_get(first)->title);
  VCardRecord r = parse_stored(first);
  EXPECT_EQ("Berg", r.n[0]);
  EXPECT_EQ("Ola", r.n[1]);
  ASSERT_EQ(8u, r.phones.size());  // ten rows, one removed, one empty
  EXPECT_EQ("+47 1", r.phones[0].value);
  EXPECT_EQ(TEL_WORK | TEL_FAX, r.phones[0].flags);
  EXPECT_EQ("+47 5", r.phones[3].value);
  ASSERT_EQ(1u, r.emails.size());
  EXPECT_EQ("ola@example.org", r.emails[0].value);

  VCardRecord r2 = parse_stored(last);
  EXPECT_EQ("Kari", item_get(last)->title);
  ASSERT_EQ(1u, r2.phones.size());
  EXPECT_EQ("+47 99", r2.phones[0].value);
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(tag), static_cast<int32_t>(last)));
}

TEST_F(KeyContactTest, AddressLaidOutByCountry) {
  Script s;
  int combo_at_open = -1;
  bool street_shown = false, hidden_row = false;
  std::string row0_label;
  s.then([](GtkWindow*) {
     set_text(contact()->family, "Weber");
     contact_add_address(contact());
   })
      .then([&](GtkWindow* w) {
        const AddressDialogWidgets& a = address_dialog_widgets();
        ASSERT_EQ(GTK_WINDOW(a.dialog), w);
        // No country: the last entry.
        combo_at_open = gtk_combo_box_get_active(GTK_COMBO_BOX(a.country));
        gtk_combo_box_set_active(GTK_COMBO_BOX(a.country), address_country_entry(2));  // DE
        const AddressRow* rows = address_layout(2);
        for (int r = 0; r < 7; r++) {
          if (rows[r].component < 0) {
            hidden_row = hidden_row || !gtk_widget_get_visible(a.entries[r]);
            continue;
          }
          if (rows[r].component == 2) street_shown = gtk_widget_get_visible(a.entries[r]);
          const char* texts[7] = {"", "", "Hauptstr. 5", "Berlin", "", "10115", "Germany"};
          set_text(a.entries[r], texts[rows[r].component]);
        }
        row0_label = gtk_label_get_text(GTK_LABEL(a.labels[0]));
        respond(w, GTK_RESPONSE_OK);
      })
      .then([](GtkWindow* w) {
        // The fourth address cannot be added.
        ContactSection* c = contact();
        EXPECT_EQ(1, c->n_addresses);
        EXPECT_NE(std::string(), gtk_label_get_text(GTK_LABEL(c->addresses[0].label)));
        respond(w, GTK_RESPONSE_OK);
      });
  int64_t slot = item_edit(ITEM_VCARD, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_EQ(10, combo_at_open);
  EXPECT_TRUE(street_shown);
  EXPECT_EQ(ui_string(address_layout(2)[0].label_id), row0_label);
  ASSERT_GE(slot, 0);
  VCardRecord r = parse_stored(slot);
  ASSERT_EQ(1u, r.addresses.size());
  EXPECT_EQ("Hauptstr. 5", r.addresses[0].part[2]);
  EXPECT_EQ("Berlin", r.addresses[0].part[3]);
  EXPECT_EQ("10115", r.addresses[0].part[5]);
  EXPECT_EQ("DE", r.addresses[0].part[7]);
  EXPECT_EQ(ADR_HOME, r.addresses[0].flags);
  (void)hidden_row;
}

// A card as an address book exports it: organisation, title, a photo and
// twelve phones, more than the editor has rows for.
std::string real_world_vcf() {
  std::string c =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Okafor;Chidi;Ike;Mr.;\r\nFN:Chidi Okafor\r\nORG:Lagos Tiles Ltd.\r\n"
      "TITLE:Buyer\r\nPHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk\r\n"
      " +M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==\r\n";
  for (int i = 0; i < 12; i++) c += "TEL;TYPE=WORK;TYPE=VOICE:+234 1 700 " + std::to_string(100 + i) + "\r\n";
  c += "EMAIL;TYPE=INTERNET:chidi@tiles.example\r\nX-CUSTOM-ID:8731\r\nEND:VCARD\r\n";
  return c;
}

TEST_F(KeyContactTest, EditingOnePhoneOfAnImportedCardKeepsTheRest) {
  model().view = static_cast<int32_t>(tag);
  std::string vcf = real_world_vcf();
  ASSERT_EQ(1, import_contacts_text(vcf.data(), vcf.size(), model().view));
  model().view = static_cast<int32_t>(g_repos[0].root);
  int64_t slot = -1, c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->type == ITEM_VCARD) slot = c;
  ASSERT_GE(slot, 0);
  std::string before = read_back_slot(slot).body;

  // Opened and closed untouched: nothing asked, nothing stored.
  {
    Script s0;
    s0.then([](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); });
    EXPECT_EQ(-1, item_edit(ITEM_VCARD, slot, tag));
    EXPECT_EQ(0, s0.unexpected);
  }

  Script s;
  int rows = 0;
  s.then([&](GtkWindow* w) {
    ContactSection* cs = contact();
    rows = cs->n_phones;
    set_text(cs->phones[2].entry, "+234 803 555 0000");
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_EQ(slot, item_edit(ITEM_VCARD, slot, tag));
  EXPECT_EQ(10, rows);
  std::string after = read_back_slot(slot).body;
  EXPECT_NE(before, after);

  int n = 0;
  std::string out = contacts_text(0, slot, &n);
  ASSERT_EQ(1, n);
  std::string unfolded;
  for (size_t i = 0; i < out.size(); i++) {
    if (out.compare(i, 3, "\r\n ") == 0) {
      i += 2;
      continue;
    }
    unfolded += out[i];
  }
  for (const char* kept : {"ORG:Lagos Tiles Ltd.", "TITLE:Buyer", "N:Okafor;Chidi;Ike;Mr.",
                           "PHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk"
                           "+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==",
                           "X-CUSTOM-ID:8731", "+234 1 700 111", "+234 1 700 110", "+234 803 555 0000",
                           "EMAIL;TYPE=INTERNET:chidi@tiles.example"})
    EXPECT_NE(unfolded.find(kept), std::string::npos) << kept << "\n" << unfolded;
  EXPECT_EQ(unfolded.find("+234 1 700 102"), std::string::npos);
  size_t tels = 0;
  for (size_t p = unfolded.find("\r\nTEL;"); p != std::string::npos; p = unfolded.find("\r\nTEL;", p + 1)) tels++;
  EXPECT_EQ(12u, tels);
}

TEST_F(KeyContactTest, BirthdayNotesAndAddressesOfAnExistingContact) {
  model().view = static_cast<int32_t>(tag);
  std::string vcf =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Sato;Yuki;;;\r\nFN:Yuki Sato\r\nBDAY:1990-04-02\r\n"
      "ADR;TYPE=HOME:;;1-2 Chome;Tokyo;;100-0001;Japan;\r\nADR;TYPE=WORK:;;Office St 9;Osaka;;;;\r\n"
      "NOTE:likes tea\\nand cats\r\nNICKNAME:Yu\r\nEND:VCARD\r\n";
  ASSERT_EQ(1, import_contacts_text(vcf.data(), vcf.size(), model().view));
  model().view = static_cast<int32_t>(g_repos[0].root);
  int64_t slot = -1, c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->type == ITEM_VCARD) slot = c;
  ASSERT_GE(slot, 0);
  EXPECT_NE(0, read_back_slot(slot).item.due);  // the next birthday

  bool bday_on = false, notes_on = false;
  int addresses = 0;
  std::string notes, second_label;
  {
    Script s;
    s.then([&](GtkWindow* w) {
      ContactSection* cs = contact();
      bday_on = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(cs->bday_check));
      notes_on = cs->notes_shown && gtk_widget_get_visible(cs->notes_box);
      GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(cs->notes));
      GtkTextIter a, b;
      gtk_text_buffer_get_bounds(buf, &a, &b);
      gchar* t = gtk_text_buffer_get_text(buf, &a, &b, FALSE);
      notes = t;
      g_free(t);
      addresses = cs->n_addresses;
      contact_remove_address(cs, 0);  // the work address moves up
      second_label = gtk_label_get_text(GTK_LABEL(cs->addresses[0].label));
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(cs->bday_check), FALSE);
      contact_show_notes(cs, false);
      respond(w, GTK_RESPONSE_OK);
    });
    EXPECT_EQ(slot, item_edit(ITEM_VCARD, slot, tag));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_TRUE(bday_on);
  EXPECT_TRUE(notes_on);
  EXPECT_EQ("likes tea\nand cats", notes);
  EXPECT_EQ(2, addresses);
  EXPECT_NE(second_label.find("Osaka"), std::string::npos) << second_label;
  Stored st = read_back_slot(slot);
  EXPECT_EQ(0, st.item.due);  // no birthday, no yearly date
  EXPECT_EQ(0, st.item.remind_offset);
  EXPECT_EQ(st.body.find("BDAY"), std::string::npos) << st.body;
  EXPECT_EQ(st.body.find("NOTE"), std::string::npos);
  EXPECT_EQ(st.body.find("Tokyo"), std::string::npos);
  EXPECT_NE(st.body.find("ADR;TYPE=WORK:;;Office St 9;Osaka;;;;"), std::string::npos);
  EXPECT_NE(st.body.find("NICKNAME:Yu"), std::string::npos);
}

// A contact stored with one phone and one e-mail address, both preferred.
int64_t preferred_contact(int64_t tag) {
  std::string card =
      "BEGIN:VCARD\nVERSION:3.0\nN:Lind;Eva\nFN:Eva Lind\nTEL;TYPE=CELL;TYPE=PREF:+46 70 111\n"
      "EMAIL;TYPE=INTERNET;TYPE=PREF:eva@example.se\nEND:VCARD\n";
  VCardRecord rec;
  EXPECT_EQ(0, vcard_parse(card.data(), card.size(), &rec));
  return vcard_store(-1, rec, card, tag);
}

TEST_F(KeyContactTest, UntouchedPhoneAndEmailRowsKeepTheirTypesWhenAnotherFieldIsEdited) {
  int64_t slot = preferred_contact(tag);
  ASSERT_GE(slot, 0);
  Script s;
  s.then([](GtkWindow* w) {
    set_text(contact()->url, "https://eva.example");
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_EQ(slot, item_edit(ITEM_VCARD, slot, tag));
  VCardRecord r = parse_stored(slot);
  EXPECT_EQ("https://eva.example", r.url);
  ASSERT_EQ(1u, r.phones.size());
  EXPECT_EQ(TEL_CELL | TEL_PREF, r.phones[0].flags);
  ASSERT_EQ(1u, r.emails.size());
  EXPECT_EQ(EMAIL_INTERNET | EMAIL_PREF, r.emails[0].flags);
}

TEST_F(KeyContactTest, NoteLinesThatLookLikePropertiesStayNoteText) {
  static const char kNote[] = "met at the fair, hall 2; C:\\notes\nTEL:123";
  int64_t slot = preferred_contact(tag);
  ASSERT_GE(slot, 0);
  Script s;
  s.then([](GtkWindow* w) {
    ContactSection* c = contact();
    contact_show_notes(c, true);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->notes)), kNote, -1);
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_EQ(slot, item_edit(ITEM_VCARD, slot, tag));
  VCardRecord r = parse_stored(slot);
  EXPECT_EQ(kNote, vcard_unescape(r.note));
  ASSERT_EQ(1u, r.phones.size());
  EXPECT_EQ("+46 70 111", r.phones[0].value);
}

}  // namespace
