// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the item editors through their own modal loops: a script of steps,
// one per run of whatever dialog is on top, and a read-back of items from
// the repository databases.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "dialogs/date_picker.h"
#include "dialogs/editor.h"
#include "dialogs/schedule.h"
#include "gtk_fixture.h"
#include "model/item.h"
#include "model/model.h"
#include "storage/db.h"

// One script at a time. Steps run one per timer tick while a dialog is on top; each usually ends
// by answering the dialog. A dialog that appears after the script ran out
// is cancelled and counted as unexpected.
struct Script {
  std::deque<std::function<void(GtkWindow*)>> steps;
  int unexpected = 0;
  guint source = 0;

  Script() {
    source = g_timeout_add(10, on_tick, this);
  }
  ~Script() {
    g_source_remove(source);
    if (idle) g_source_remove(idle);
  }
  Script(const Script&) = delete;
  Script& operator=(const Script&) = delete;

  Script& then(std::function<void(GtkWindow*)> step) {
    steps.push_back(std::move(step));
    return *this;
  }

  // Steps run from an idle callback of their own, so that a step opening a
  // nested dialog (a button that runs one) leaves this timer free to drive it.
  bool pending = false;
  guint idle = 0;
  std::function<void(GtkWindow*)> current;
  GtkWindow* current_window = nullptr;

  static gboolean on_tick(gpointer p) {
    auto* s = static_cast<Script*>(p);
    if (s->pending) return G_SOURCE_CONTINUE;
    GtkWindow* w = top_window();
    if (!w || !GTK_IS_DIALOG(w) || !gtk_widget_get_mapped(GTK_WIDGET(w))) return G_SOURCE_CONTINUE;
    if (s->steps.empty()) {
      s->unexpected++;
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
      return G_SOURCE_CONTINUE;
    }
    s->pending = true;
    s->current_window = w;
    s->idle = g_idle_add(on_step, s);
    return G_SOURCE_CONTINUE;
  }

  static gboolean on_step(gpointer p) {
    auto* s = static_cast<Script*>(p);
    auto step = std::move(s->steps.front());
    s->steps.pop_front();
    s->pending = false;
    s->idle = 0;
    step(s->current_window);
    return G_SOURCE_REMOVE;
  }
};

inline void respond(GtkWindow* w, int response) { gtk_dialog_response(GTK_DIALOG(w), response); }

inline bool is_message(GtkWindow* w) { return GTK_IS_MESSAGE_DIALOG(w); }

inline void set_text(GtkWidget* entry, const char* text) { gtk_entry_set_text(GTK_ENTRY(entry), text); }

inline void set_body(Editor* ed, const char* text) {
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(ed->body_view)), text, -1);
}

inline bool sensitive(GtkWidget* w) { return gtk_widget_get_sensitive(w); }

// The item as stored: every item of both test repositories is read again
// from its database (as mounting does) and the one with the uuid returned.
struct Stored {
  bool found = false;
  Item item{};
  std::string body;
};

inline Stored read_back(const uint8_t uuid[16]) {
  Stored out;
  for (int repo = 0; repo < 2; repo++) {
    RepoRef ref;
    if (model().repo_lookup(repo, &ref) != 0) continue;
    const RepoDb& r = ref.store;
    objects_load_current(r, repo, [&](int, const uint8_t u[16], const uint8_t hash[20], const uint8_t* c4, size_t len) {
      if (memcmp(u, uuid, 16) != 0) return;
      std::string header;
      if (row_decipher_header(r.key, u, hash, c4, len, &header) != 0 || header.size() < 2 || header[1] != ':') return;
      // Parsed as the loader does, into a view of its own so that the live
      // records stay as they are.
      HistoryView scratch;
      if (Item* it = history_add(&scratch, repo, u, header, hash)) {
        out.item = *it;
        out.found = true;
      }
      if (!out.found) return;
      std::string stored = object_read_current(r, u);
      out.body = body_from_storage(stored.data(), stored.size());
    });
  }
  return out;
}

inline Stored read_back_slot(int64_t slot) {
  const Item* it = item_get(slot);
  if (!it) return {};
  uint8_t uuid[16];
  memcpy(uuid, it->uuid, 16);
  return read_back(uuid);
}

// Number of items of a type in memory.
inline int count_items(int type) {
  int n = 0;
  int64_t c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->type == type) n++;
  return n;
}

// Real repositories (tests/model), a main window on top, a tag "work" under
// the first repository's root, whose root is the selected view.
class EditorTest : public GtkModelTest {
 protected:
  void SetUp() override {
    GtkModelTest::SetUp();
    main = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    set_top_window(GTK_WINDOW(main));
    tag = make_tag(g_repos[0].root, "work");
    model().view = static_cast<int32_t>(g_repos[0].root);
  }
  void TearDown() override {
    set_top_window(nullptr);
    gtk_widget_destroy(main);
    pump();
    GtkModelTest::TearDown();
  }
  GtkWidget* main = nullptr;
  int64_t tag = -1;
};

// Types a time into a picker's field as the user would and confirms it.
inline int type_time(GtkWidget* picker, const std::string& text) {
  gtk_entry_set_text(GTK_ENTRY(date_picker_entry(picker)), text.c_str());
  return date_picker_commit_text(picker);
}

// The sections of the task and event editors: times, recurrence, reminder.
inline DueSection* due_of(Editor* ed) { return static_cast<DueSection*>(ed->states[0]); }
// The event section's state starts with its Editor pointer.
inline EventTimes* times_of(Editor* ed) {
  struct Ctx {
    Editor* ed;
    EventTimes times;
  };
  return &static_cast<Ctx*>(ed->states[0])->times;
}
inline RecurrenceBox* recur_of(Editor* ed) { return static_cast<RecurrenceBox*>(ed->states[1]); }
inline ReminderBox* reminder_of(Editor* ed) { return static_cast<ReminderBox*>(ed->states[2]); }
