// SPDX-License-Identifier: GPL-3.0-or-later
// Settings of the configuration database.
#include "model/settings.h"

#include <climits>

#include "model/item.h"
#include "model/model.h"
#include "model/tag.h"
#include "storage/db.h"

namespace {

struct IntSetting {
  const char* key;
  int Settings::*field;
  int sentinel;  // default of the comparison read at save
};

// Load order of the integer settings after the language.
const IntSetting kInts[] = {
    {"ui.new_reminders_alert", &Settings::new_reminders_alert, -1},
    {"ui.upcoming_days", &Settings::upcoming_days, -1},
    {"ui.idle_timeout", &Settings::idle_timeout, -1},
    {"ui.sort_by", &Settings::sort_by, -1},
    {"ui.show_completed", &Settings::show_completed, -1},
    {"ui.markup_cheat_sheet", &Settings::markup_cheat_sheet, -1},
    {"win.maximized", &Settings::maximized, -1},
    // A stored position of -1 is legitimate: these compare against INT_MAX.
    {"win.left", &Settings::win_left, INT_MAX},
    {"win.top", &Settings::win_top, INT_MAX},
    {"win.width", &Settings::win_width, INT_MAX},
    {"win.height", &Settings::win_height, INT_MAX},
    {"win.hs_pos", &Settings::hs_pos, -1},
    {"win.vs_pos", &Settings::vs_pos, -1},
};

const char* const kColumnKeys[3] = {"win.col.0.width", "win.col.1.width", "win.col.2.width"};
const char* const kDialogKeys[DLG_COUNT][2] = {
    {"notedlg.w", "notedlg.h"}, {"taskdlg.w", "taskdlg.h"}, {"eventdlg.w", "eventdlg.h"},
    {"keydlg.w", "keydlg.h"},   {"vcardlg.w", "vcardlg.h"}, {"repodlg.w", "repodlg.h"},
};

int at_least(int value, int low) { return value < low ? low : value; }

void put_if_changed(sqlite3* cfg, const char* key, int value, int sentinel) {
  if (setting_get_int(cfg, key, sentinel) != value) setting_put_int(cfg, key, value);
}

}  // namespace

void settings_load(sqlite3* cfg, int locale_language, Settings* s) {
  *s = Settings();
  s->language = locale_language;
  if (locale_language != 4) s->language = setting_get_int(cfg, "ui.language", locale_language);
  for (const IntSetting& i : kInts) s->*(i.field) = setting_get_int(cfg, i.key, s->*(i.field));
  for (int c = 0; c < 3; c++) s->col_width[c] = setting_get_int(cfg, kColumnKeys[c], s->col_width[c]);

  if (s->language < 0 || s->language > 4) s->language = 0;
  s->win_left = at_least(s->win_left, 0);
  s->win_top = at_least(s->win_top, 0);
  s->win_width = at_least(s->win_width, 400);
  s->win_height = at_least(s->win_height, 400);
  s->hs_pos = at_least(s->hs_pos, 120);
  s->vs_pos = at_least(s->vs_pos, 160);
  s->col_width[0] = at_least(s->col_width[0], 20);
  s->col_width[1] = at_least(s->col_width[1], 64);
  s->col_width[2] = at_least(s->col_width[2], 96);

  s->tag_id = setting_get_int(cfg, "tag.id", -2);
  if (s->tag_id == -1) s->tag_id = -2;  // search results do not outlive the run
  s->tag_uuid = setting_get(cfg, "tag.uuid");
  s->item_uuid = setting_get(cfg, "item.uuid");
}

void dialog_sizes_load(sqlite3* cfg, DialogSizes* d) {
  *d = DialogSizes();
  for (int i = 0; i < DLG_COUNT; i++) {
    d->width[i] = setting_get_int(cfg, kDialogKeys[i][0], d->width[i]);
    d->height[i] = setting_get_int(cfg, kDialogKeys[i][1], d->height[i]);
  }
}

void settings_save(sqlite3* cfg, const Settings& s, int selected_tag, int64_t selected_item) {
  if (!cfg) return;
  // One transaction for all the writes: one sync instead of one per setting.
  Transaction tx(cfg);
  put_if_changed(cfg, "ui.language", s.language, -1);
  for (const IntSetting& i : kInts) put_if_changed(cfg, i.key, s.*(i.field), i.sentinel);
  for (int c = 0; c < 3; c++) put_if_changed(cfg, kColumnKeys[c], s.col_width[c], -1);

  const Tag* tag = selected_tag > 0 ? tag_get(selected_tag) : nullptr;
  if (selected_tag < 1 || !tag) {
    setting_put_str(cfg, "tag.uuid", "");
    setting_put_int(cfg, "tag.id", selected_tag < 1 ? selected_tag : -2);
  } else {
    setting_put_str(cfg, "tag.uuid", uuid_to_hex(tag->uuid).c_str());
    setting_put_int(cfg, "tag.id", -2);
  }
  const Item* item = selected_item >= 0 ? item_get(selected_item) : nullptr;
  setting_put_str(cfg, "item.uuid", item ? uuid_to_hex(item->uuid).c_str() : "");
  tx.commit();
}

void dialog_sizes_save(sqlite3* cfg, const DialogSizes& d) {
  if (!cfg) return;
  Transaction tx(cfg);
  for (int i = 0; i < DLG_COUNT; i++) {
    setting_put_int(cfg, kDialogKeys[i][0], d.width[i]);
    setting_put_int(cfg, kDialogKeys[i][1], d.height[i]);
  }
  tx.commit();
}

void settings_restore_selection(Settings* s) {
  Model& m = model();
  m.view = s->tag_id;
  if (!s->tag_uuid.empty()) {
    int64_t slot = tag_find_hex(s->tag_uuid.c_str());
    if (slot > 0) m.view = static_cast<int32_t>(slot);
  }
  if (!s->item_uuid.empty()) {
    int64_t slot = item_find_hex(s->item_uuid.c_str());
    if (slot >= 0) m.selected_item = slot;
  }
  s->tag_uuid.clear();
  s->item_uuid.clear();
}
