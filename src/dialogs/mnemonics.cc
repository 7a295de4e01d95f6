// SPDX-License-Identifier: GPL-3.0-or-later
// Mnemonics chosen from each language's own texts.
#include "dialogs/mnemonics.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

bool taken_has(const std::vector<gunichar>& taken, gunichar c) {
  return std::find(taken.begin(), taken.end(), c) != taken.end();
}

// A widget that shows a text which could carry a mnemonic, and how to read
// and write that text.
struct Target {
  GtkWidget* widget;
  enum Kind { BUTTON, MENU_ITEM, LABEL } kind;
};

const char* target_text(const Target& t) {
  switch (t.kind) {
    case Target::BUTTON:
      return gtk_button_get_label(GTK_BUTTON(t.widget));
    case Target::MENU_ITEM:
      return gtk_menu_item_get_label(GTK_MENU_ITEM(t.widget));
    case Target::LABEL:
      return gtk_label_get_label(GTK_LABEL(t.widget));
  }
  return nullptr;
}

bool target_underlined(const Target& t) {
  switch (t.kind) {
    case Target::BUTTON:
      return gtk_button_get_use_underline(GTK_BUTTON(t.widget));
    case Target::MENU_ITEM:
      return gtk_menu_item_get_use_underline(GTK_MENU_ITEM(t.widget));
    case Target::LABEL:
      return gtk_label_get_use_underline(GTK_LABEL(t.widget));
  }
  return false;
}

void on_button_relabelled(GObject* button, GParamSpec*, gpointer);

void target_set(const Target& t, const std::string& text) {
  switch (t.kind) {
    case Target::BUTTON:
      gtk_button_set_use_underline(GTK_BUTTON(t.widget), TRUE);
      gtk_button_set_label(GTK_BUTTON(t.widget), text.c_str());
      // A later relabel (Show/Hide) brings a text without a mnemonic.
      if (!g_object_get_data(G_OBJECT(t.widget), "mnemonic-hooked")) {
        g_object_set_data(G_OBJECT(t.widget), "mnemonic-hooked", GINT_TO_POINTER(1));
        g_signal_connect(t.widget, "notify::label", G_CALLBACK(on_button_relabelled), nullptr);
      }
      break;
    case Target::MENU_ITEM:
      gtk_menu_item_set_use_underline(GTK_MENU_ITEM(t.widget), TRUE);
      gtk_menu_item_set_label(GTK_MENU_ITEM(t.widget), text.c_str());
      break;
    case Target::LABEL:
      gtk_label_set_text_with_mnemonic(GTK_LABEL(t.widget), text.c_str());
      break;
  }
}

bool inside_button(GtkWidget* w) {
  for (GtkWidget* p = gtk_widget_get_parent(w); p; p = gtk_widget_get_parent(p))
    if (GTK_IS_BUTTON(p) || GTK_IS_MENU_ITEM(p)) return true;
  return false;
}

// The targets of one scope in tree order; menu shells below start scopes of
// their own (collected into `shells`).
void collect(GtkWidget* w, std::vector<Target>* out, std::vector<GtkWidget*>* shells) {
  if (GTK_IS_MENU_SHELL(w)) {
    shells->push_back(w);
    return;
  }
  if (GTK_IS_MENU_ITEM(w)) {
    if (!GTK_IS_SEPARATOR_MENU_ITEM(w)) out->push_back({w, Target::MENU_ITEM});
    if (GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(w))) shells->push_back(sub);
    return;
  }
  if (GTK_IS_BUTTON(w)) {
    const char* label = gtk_button_get_label(GTK_BUTTON(w));
    if (label && *label) {
      out->push_back({w, Target::BUTTON});
      return;
    }
  }
  if (GTK_IS_LABEL(w) && gtk_label_get_mnemonic_widget(GTK_LABEL(w)) && !gtk_label_get_use_markup(GTK_LABEL(w)) &&
      !inside_button(w))
    out->push_back({w, Target::LABEL});
  if (GTK_IS_NOTEBOOK(w)) {
    GtkNotebook* nb = GTK_NOTEBOOK(w);
    for (int i = 0; i < gtk_notebook_get_n_pages(nb); i++) {
      GtkWidget* tab = gtk_notebook_get_tab_label(nb, gtk_notebook_get_nth_page(nb, i));
      // The notebook switches to the page when its tab's mnemonic is used.
      if (tab && GTK_IS_LABEL(tab) && !gtk_label_get_use_markup(GTK_LABEL(tab))) out->push_back({tab, Target::LABEL});
    }
  }
  if (GTK_IS_CONTAINER(w) && !GTK_IS_COMBO_BOX(w)) {
    GList* kids = gtk_container_get_children(GTK_CONTAINER(w));
    for (GList* l = kids; l; l = l->next) collect(static_cast<GtkWidget*>(l->data), out, shells);
    g_list_free(kids);
  }
}

// The dialog's own buttons (Cancel, Save) are the ones used most: they
// choose first.
bool in_action_area(const Target& t) {
  return t.kind == Target::BUTTON && gtk_widget_get_ancestor(t.widget, GTK_TYPE_BUTTON_BOX) != nullptr;
}

// The text as shown: the underscores of a mnemonic text are markers, not
// characters.
std::string plain_text(const Target& t) {
  std::string plain = target_text(t);
  if (!target_underlined(t)) return plain;
  std::string out;
  for (size_t i = 0; i < plain.size(); i++) {
    if (plain[i] == '_' && i + 1 < plain.size()) i++;
    out += plain[i];
  }
  return out;
}

void assign_scope(std::vector<Target> targets) {
  std::stable_partition(targets.begin(), targets.end(), in_action_area);
  std::vector<gunichar> taken;
  std::vector<const Target*> open;
  for (const Target& t : targets) {
    const char* text = target_text(t);
    if (!text || !*text) continue;
    gunichar key = target_underlined(t) ? mnemonic_of(text) : 0;
    if (key && !taken_has(taken, key)) {
      taken.push_back(key);
    } else {
      open.push_back(&t);
    }
  }
  // Each text takes its preferred free character; a text left without one
  // takes a character from another text that can move to a character of its
  // own (augmenting paths), so that every text that can have one gets one.
  struct Choice {
    const Target* target;
    std::string plain;
    std::vector<std::pair<int, gunichar>> options;
    int chosen = -1;  // index into options
  };
  std::vector<Choice> choices;
  for (const Target* t : open) {
    Choice c{t, plain_text(*t), {}};
    for (const auto& o : mnemonic_candidates(c.plain))
      if (!taken_has(taken, o.second)) c.options.push_back(o);
    choices.push_back(std::move(c));
  }
  std::vector<std::pair<gunichar, size_t>> owner;  // character -> choice
  auto owner_of = [&](gunichar ch) -> long {
    for (const auto& o : owner)
      if (o.first == ch) return static_cast<long>(o.second);
    return -1;
  };
  auto set_owner = [&](gunichar ch, size_t who) {
    for (auto& o : owner)
      if (o.first == ch) {
        o.second = who;
        return;
      }
    owner.push_back({ch, who});
  };
  for (size_t i = 0; i < choices.size(); i++) {
    for (size_t k = 0; k < choices[i].options.size(); k++) {
      if (owner_of(choices[i].options[k].second) >= 0) continue;
      choices[i].chosen = static_cast<int>(k);
      set_owner(choices[i].options[k].second, i);
      break;
    }
  }
  std::function<bool(size_t, std::vector<gunichar>*)> augment = [&](size_t i, std::vector<gunichar>* seen) {
    for (size_t k = 0; k < choices[i].options.size(); k++) {
      gunichar ch = choices[i].options[k].second;
      if (taken_has(*seen, ch)) continue;
      seen->push_back(ch);
      long other = owner_of(ch);
      if (other < 0 || augment(static_cast<size_t>(other), seen)) {
        choices[i].chosen = static_cast<int>(k);
        set_owner(ch, i);
        return true;
      }
    }
    return false;
  };
  for (size_t i = 0; i < choices.size(); i++) {
    if (choices[i].chosen >= 0) continue;
    std::vector<gunichar> seen;
    augment(i, &seen);
  }
  for (const Choice& c : choices)
    target_set(*c.target, mnemonic_text(c.plain, c.chosen >= 0 ? c.options[static_cast<size_t>(c.chosen)].first : -1));
}

void assign_from(GtkWidget* root) {
  std::vector<Target> targets;
  std::vector<GtkWidget*> shells;
  if (GTK_IS_MENU_SHELL(root)) {
    GList* kids = gtk_container_get_children(GTK_CONTAINER(root));
    for (GList* l = kids; l; l = l->next) collect(static_cast<GtkWidget*>(l->data), &targets, &shells);
    g_list_free(kids);
  } else {
    collect(root, &targets, &shells);
  }
  assign_scope(targets);
  for (GtkWidget* s : shells) assign_from(s);
}

void on_button_relabelled(GObject* button, GParamSpec*, gpointer) {
  const char* label = gtk_button_get_label(GTK_BUTTON(button));
  if (!label || mnemonic_of(label)) return;
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(button));
  if (GTK_IS_WINDOW(top)) assign_from(top);
}

}  // namespace

std::string mnemonic_text(const std::string& text, int at) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (static_cast<int>(i) == at) out += '_';
    if (text[i] == '_') out += '_';
    out += text[i];
  }
  return out;
}

std::vector<std::pair<int, gunichar>> mnemonic_candidates(const std::string& text) {
  std::vector<std::pair<int, gunichar>> out;
  if (!g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), nullptr)) return out;
  std::vector<gunichar> seen;
  // Word initials first, then any letter, then digits.
  for (int pass = 0; pass < 3; pass++) {
    bool after_word = false;
    for (const char* p = text.c_str(); *p; p = g_utf8_next_char(p)) {
      gunichar c = g_utf8_get_char(p);
      bool initial = !after_word;
      after_word = g_unichar_isalnum(c);
      bool fits = pass == 0 ? g_unichar_isalpha(c) && initial : pass == 1 ? g_unichar_isalpha(c) : g_unichar_isdigit(c);
      gunichar key = g_unichar_tolower(c);
      if (!fits || taken_has(seen, key)) continue;
      seen.push_back(key);
      out.push_back({static_cast<int>(p - text.c_str()), key});
    }
  }
  return out;
}

int mnemonic_pick(const std::string& text, const std::vector<gunichar>& taken) {
  for (const auto& o : mnemonic_candidates(text))
    if (!taken_has(taken, o.second)) return o.first;
  return -1;
}

gunichar mnemonic_of(const char* text) {
  for (const char* p = text; p && *p; p++) {
    if (*p != '_') continue;
    if (p[1] == '_') {
      p++;
      continue;
    }
    if (!p[1]) return 0;
    return g_unichar_tolower(g_utf8_get_char_validated(p + 1, -1));
  }
  return 0;
}

void assign_mnemonics(GtkWidget* root) {
  if (root) assign_from(root);
}
