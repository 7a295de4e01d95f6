// SPDX-License-Identifier: GPL-3.0-or-later
// Every dialog in every language follows the desktop's conventions: each
// button and field label has an Alt+letter of its own, Cancel comes first,
// and a destructive button is never the one Enter presses.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "dialogs/account_dialog.h"
#include "dialogs/dav_dialogs.h"
#include "dialogs/address_dialog.h"
#include "dialogs/conflict_dialog.h"
#include "dialogs/history_dialog.h"
#include "dialogs/master_password.h"
#include "dialogs/message.h"
#include "dialogs/mnemonics.h"
#include "dialogs/options_dialog.h"
#include "dialogs/password_generator.h"
#include "dialogs/password_prompt.h"
#include "dialogs/recurrence_dialog.h"
#include "dialogs/repo_manager.h"
#include "dialogs/search_dialog.h"
#include "editor_driver.h"
#include "model/item.h"
#include "model/ops.h"
#include "sync/sync.h"

namespace {

struct DialogCase {
  const char* name;
  std::function<void()> open;
};

std::vector<DialogCase> dialog_cases(int64_t tag, int64_t note) {
  std::vector<DialogCase> out = {
      {"delete question", [] { ask_yes_no(STR_ASK_DELETE_NAMED, "x", STR_ASK_DELETE_ITEM_DETAIL, STR_CANCEL, STR_DELETE); }},
      {"discard question",
       [] { ask_yes_no(STR_ASK_DISCARD, nullptr, STR_ASK_DISCARD_DETAIL, STR_KEEP_EDITING, STR_DISCARD); }},
      {"message", [] { show_message_text(STR_APP_NAME, "x"); }},
      {"copyable", [] { show_copyable(STR_PASSWORD_TITLE, "x"); }},
      {"unlock",
       [] {
         std::string pw;
         password_prompt_simple(STR_APP_NAME, STR_ENTER_MASTER_PASSWORD, STR_NONE, &pw);
       }},
      {"master password", [] { master_password_change(); }},
      {"search", [] { search_dialog(); }},
      {"options", [] { options_dialog(); }},
      {"sign in", [] { sign_in_dialog(); }},
      {"recurrence",
       [] {
         RecurrenceRule rule;
         rule.freq = 2;
         recurrence_dialog(&rule, 2000000000);
       }},
      {"address",
       [] {
         std::string parts[8];
         address_dialog(top_window(), parts);
       }},
      {"generator",
       [] {
         GtkWidget* target = gtk_entry_new();
         g_object_ref_sink(target);
         password_generator_dialog(target, 10, 7);
         g_object_unref(target);
       }},
      {"conflict",
       [] {
         SyncConflict k;
         k.remote_exists = k.local_exists = true;
         k.remote_header = k.local_header = "N:x";
         conflict_dialog(k);
       }},
      {"existing note", [note] { item_edit(ITEM_NOTE, note, -1); }},
      {"history", [note] { item_history(note); }},
      {"collections", [] { repo_manager(); }},
      {"accounts", [] { dav_accounts_dialog(); }},
      {"add account",
       [] {
         int repo = -1;
         dav_add_account(&repo);
       }},
  };
  for (int type : {ITEM_NOTE, ITEM_TASK, ITEM_EVENT, ITEM_VCARD, ITEM_KEY})
    out.push_back({"new item", [type, tag] { item_edit(type, -1, tag); }});
  return out;
}

// The buttons of the dialog's action area, in the order they are shown.
std::vector<GtkWidget*> action_buttons(GtkWindow* w) {
  std::vector<GtkWidget*> out;
  GtkWidget* ok_or_any = nullptr;
  each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
    if (!ok_or_any && GTK_IS_BUTTON(x) && gtk_dialog_get_response_for_widget(GTK_DIALOG(w), x) != GTK_RESPONSE_NONE)
      ok_or_any = x;
  });
  if (!ok_or_any) return out;
  GList* kids = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(ok_or_any)));
  // Buttons that answer the dialog; a check box beside them (keep the
  // previous version) is no answer.
  for (GList* l = kids; l; l = l->next)
    if (gtk_widget_get_visible(GTK_WIDGET(l->data)) && GTK_IS_BUTTON(l->data) && !GTK_IS_TOGGLE_BUTTON(l->data))
      out.push_back(GTK_WIDGET(l->data));
  g_list_free(kids);
  return out;
}

bool destructive(GtkWidget* b) {
  return gtk_style_context_has_class(gtk_widget_get_style_context(b), GTK_STYLE_CLASS_DESTRUCTIVE_ACTION);
}

std::string plain(const char* text) {
  std::string out;
  for (const char* p = text; p && *p; p++) {
    if (*p == '_' && p[1]) p++;
    out += *p;
  }
  return out;
}

class DialogConventionsTest : public EditorTest {
 protected:
  void TearDown() override {
    strings_set_language(0);
    EditorTest::TearDown();
  }

  // With ORDIKA_SHOTS set to a folder, every dialog opened here is saved there
// as "<name>-<language>.png" for a person to look at.
void maybe_shoot(GtkWindow* w, const std::string& name) {
  const char* dir = g_getenv("ORDIKA_SHOTS");
  if (!dir || !*dir) return;
  // Drawn offscreen as it stands: running the main loop here would let the
  // script answer the dialog meanwhile.
  gtk_container_check_resize(GTK_CONTAINER(w));
  int width = gtk_widget_get_allocated_width(GTK_WIDGET(w));
  int height = gtk_widget_get_allocated_height(GTK_WIDGET(w));
  cairo_surface_t* shot = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(shot);
  gtk_widget_draw(GTK_WIDGET(w), cr);
  cairo_destroy(cr);
  std::string file = std::string(dir) + "/" + name + ".png";
  for (char& c : file)
    if (c == ' ') c = '_';
  cairo_surface_write_to_png(shot, file.c_str());
  cairo_surface_destroy(shot);
}

// Opens every dialog in every language and hands its window to `check`.
  int shot_index = 0;
  void each_dialog(const std::function<void(GtkWindow*)>& check) {
    ItemForm f;
    f.title = "kept";
    int64_t note = item_store(-1, ITEM_NOTE, f, 0, tag);
    ASSERT_GE(note, 0);
    f.title = "kept, edited";
    ASSERT_EQ(note, item_store(note, ITEM_NOTE, f, 1, tag));  // one earlier version
    for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
      ASSERT_EQ(1, strings_set_language(lang));
      for (const DialogCase& c : dialog_cases(tag, note)) {
        SCOPED_TRACE(std::string(c.name) + " in language " + std::to_string(lang));
        bool seen = false;
        Script s;
        s.then([&](GtkWindow* w) {
          seen = true;
          check(w);
          maybe_shoot(w, std::string(c.name) + "-" + std::to_string(lang) + "-" + std::to_string(shot_index++));
          respond(w, GTK_RESPONSE_CANCEL);
        });
        c.open();
        EXPECT_TRUE(seen);
        EXPECT_EQ(0, s.unexpected);
      }
    }
  }
};

TEST_F(DialogConventionsTest, EveryButtonAndFieldLabelHasAMnemonicOfItsOwn) {
  each_dialog([](GtkWindow* w) {
    std::set<gunichar> keys;
    std::set<GtkWidget*> labelled;
    each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
      const char* text = nullptr;
      bool underline = false;
      if (GTK_IS_BUTTON(x) && gtk_button_get_label(GTK_BUTTON(x)) && *gtk_button_get_label(GTK_BUTTON(x))) {
        text = gtk_button_get_label(GTK_BUTTON(x));
        underline = gtk_button_get_use_underline(GTK_BUTTON(x));
      } else if (GTK_IS_LABEL(x) && gtk_label_get_mnemonic_widget(GTK_LABEL(x)) &&
                 !GTK_IS_BUTTON(gtk_widget_get_parent(x))) {
        text = gtk_label_get_label(GTK_LABEL(x));
        underline = gtk_label_get_use_underline(GTK_LABEL(x));
        for (GtkWidget* m = gtk_label_get_mnemonic_widget(GTK_LABEL(x)); m; m = gtk_widget_get_parent(m))
          labelled.insert(m);
      }
      if (!text) return;
      gunichar key = underline ? mnemonic_of(text) : 0;
      EXPECT_NE(0u, key) << "no mnemonic: " << text;
      if (key) {
        EXPECT_TRUE(keys.insert(key).second) << "clash: " << text;
      }
    });
    // Every field the user types into or picks from is reached by a label's
    // mnemonic, or sits beside the radio or check button that turns it on.
    // A row whose kind is picked in front of it (a contact's phone: Mobile,
    // Home) is named by that choice.
    each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
      GtkWidget* parent = gtk_widget_get_parent(x);
      if (GTK_IS_TOGGLE_BUTTON(x) && GTK_IS_BOX(parent))
        each_widget(parent, [&](GtkWidget* y) { labelled.insert(y); });
      if (GTK_IS_GRID(parent) && !GTK_IS_COMBO_BOX(x)) {
        int top = 0;
        gtk_container_child_get(GTK_CONTAINER(parent), x, "top-attach", &top, nullptr);
        if (GTK_IS_COMBO_BOX(gtk_grid_get_child_at(GTK_GRID(parent), 0, top))) labelled.insert(x);
      }
    });
    each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
      bool field = (GTK_IS_ENTRY(x) && !GTK_IS_COMBO_BOX(gtk_widget_get_parent(x))) || GTK_IS_COMBO_BOX(x);
      if (field && gtk_widget_is_visible(x) && gtk_widget_is_sensitive(x) && gtk_widget_get_can_focus(x) &&
          !labelled.count(x))
        ADD_FAILURE() << "field without a label mnemonic: " << G_OBJECT_TYPE_NAME(x) << " " << gtk_widget_get_name(x);
    });
  });
}

TEST_F(DialogConventionsTest, CancelComesFirst) {
  each_dialog([](GtkWindow* w) {
    std::vector<GtkWidget*> buttons = action_buttons(w);
    for (size_t i = 0; i < buttons.size(); i++) {
      if (gtk_dialog_get_response_for_widget(GTK_DIALOG(w), buttons[i]) == GTK_RESPONSE_CANCEL &&
          plain(gtk_button_get_label(GTK_BUTTON(buttons[i]))) == ui_string(STR_CANCEL)) {
        EXPECT_EQ(0u, i) << plain(gtk_button_get_label(GTK_BUTTON(buttons[0])));
      }
    }
  });
}

TEST_F(DialogConventionsTest, DestructiveButtonsAreMarkedAndNeverTheDefault) {
  each_dialog([](GtkWindow* w) {
    for (GtkWidget* b : action_buttons(w)) {
      std::string label = plain(gtk_button_get_label(GTK_BUTTON(b)));
      bool named = label == ui_string(STR_DELETE) || label == ui_string(STR_DISCARD) ||
                   label == ui_string(STR_DAV_BUTTON_REMOVE);
      EXPECT_EQ(named, destructive(b)) << label;
      if (destructive(b)) {
        EXPECT_FALSE(gtk_widget_has_default(b)) << label;
      }
    }
  });
}

struct PickCase {
  const char* text;
  std::vector<gunichar> taken;
  int at;
};

TEST(Mnemonics, PickPrefersFreeWordInitialsThenLettersThenDigits) {
  const PickCase cases[] = {
      {"File", {}, 0},
      {"Save As", {'s'}, 5},
      {"Save As", {'s', 'a'}, 2},                   // "v"
      {"Add 2", {'a', 'd'}, 4},                     // only the digit is left
      {"OK", {'o', 'k'}, -1},
      {"Отмена", {}, 0},                            // Cyrillic letters serve too
      {"Открыть", {0x043e /* о */}, 2},             // "т"
      {"(Optional) name", {}, 1},                   // punctuation is skipped
      {"E-mail", {'e'}, 2},                         // "m" starts a word after "-"
  };
  for (const PickCase& c : cases) EXPECT_EQ(c.at, mnemonic_pick(c.text, c.taken)) << c.text;
}

TEST(Mnemonics, ALaterTextTakesALetterAnEarlierOneCanGiveUp) {
  // "Ab" would take A first and leave "A" nothing; A moves to "A" and "Ab"
  // takes B. A text that already carries one keeps it.
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window), box);
  GtkWidget* kept = gtk_button_new_with_mnemonic("_Cab");
  GtkWidget* ab = gtk_button_new_with_label("Ab");
  GtkWidget* a = gtk_button_new_with_label("A");
  for (GtkWidget* b : {kept, ab, a}) gtk_box_pack_start(GTK_BOX(box), b, FALSE, FALSE, 0);
  assign_mnemonics(window);
  EXPECT_STREQ("_Cab", gtk_button_get_label(GTK_BUTTON(kept)));
  EXPECT_STREQ("A_b", gtk_button_get_label(GTK_BUTTON(ab)));
  EXPECT_STREQ("_A", gtk_button_get_label(GTK_BUTTON(a)));
  // A later relabel without a mnemonic gets one again by itself.
  gtk_button_set_label(GTK_BUTTON(ab), "Bad");
  EXPECT_STREQ("_Bad", gtk_button_get_label(GTK_BUTTON(ab)));
  gtk_widget_destroy(window);
}

TEST(Mnemonics, TextsEscapeUnderscoresAndReadBack) {
  EXPECT_EQ("_Save", mnemonic_text("Save", 0));
  EXPECT_EQ("a__b _c", mnemonic_text("a_b c", 4));
  EXPECT_EQ("a__b", mnemonic_text("a_b", -1));
  EXPECT_EQ(static_cast<gunichar>('c'), mnemonic_of("a__b _C"));
  EXPECT_EQ(0u, mnemonic_of("a__b"));
  EXPECT_EQ(0x0442u, mnemonic_of("О_ткрыть"));
}

}  // namespace
