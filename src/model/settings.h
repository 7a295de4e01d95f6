// SPDX-License-Identifier: GPL-3.0-or-later
// User preferences and window layout: loaded from the configuration
// database's settings table after unlock, used in memory, written back at
// shutdown (only what changed). The selection is kept across runs by uuid.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;

struct Settings {
  // Fixed values, set at load and never stored.
  int log_level = 7;
  std::string log_file = "ordika.log";
  int server_port = 443;
  std::string server_host = "sync.ordika.example";

  int language = 0;               // "ui.language", 0..4
  int new_reminders_alert = 1;    // "ui.new_reminders_alert"
  int upcoming_days = 5;          // "ui.upcoming_days"
  int idle_timeout = 0;           // "ui.idle_timeout", minutes; 0 never
  int dav_sync_minutes = 15;      // "ui.dav_sync_minutes": calendar and contacts sync; 0 never
  int sort_by = 2;                // "ui.sort_by"
  int show_completed = 1;         // "ui.show_completed"
  int markup_cheat_sheet = 1;     // "ui.markup_cheat_sheet"
  int maximized = 0;              // "win.maximized"
  int win_left = 0;               // "win.left"
  int win_top = 0;                // "win.top"
  int win_width = 800;            // "win.width"
  int win_height = 600;           // "win.height"
  int hs_pos = 200;               // "win.hs_pos"
  int vs_pos = 220;               // "win.vs_pos"
  int col_width[3] = {40, 400, 120};  // "win.col.N.width"

  // Selection saved by the last run, resolved after mounting.
  int tag_id = -2;        // "tag.id": a fixed row of the tag tree (below 1)
  std::string tag_uuid;   // "tag.uuid": a real tag
  std::string item_uuid;  // "item.uuid"
};

// The twelve dialog sizes, in the order note, task, event, key, contact,
// repository manager.
enum { DLG_NOTE, DLG_TASK, DLG_EVENT, DLG_KEY, DLG_VCARD, DLG_REPO, DLG_COUNT };
struct DialogSizes {
  int width[DLG_COUNT] = {600, 600, 600, 600, 600, 600};
  int height[DLG_COUNT] = {500, 500, 500, 500, 600, 300};  // a new contact fits whole
};

// Reads the settings with their defaults and clamps. locale_language is the
// index from the locale; with Russian (4) "ui.language" is not read.
void settings_load(sqlite3* cfg, int locale_language, Settings* s);
void dialog_sizes_load(sqlite3* cfg, DialogSizes* d);

// Writes every integer setting whose stored value differs, then the
// selection: selected_tag (a tag slot, or a fixed row below 1) and
// selected_item (an item slot, or -1), written by uuid.
void settings_save(sqlite3* cfg, const Settings& s, int selected_tag, int64_t selected_item);
// Writes all twelve dialog sizes.
void dialog_sizes_save(sqlite3* cfg, const DialogSizes& d);

// After mounting: the saved tag (by uuid, else the saved fixed row) and item
// become the model's selection. The saved texts are cleared.
void settings_restore_selection(Settings* s);
