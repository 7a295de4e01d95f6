// SPDX-License-Identifier: GPL-3.0-or-later
// Settings: defaults, clamps, saving only what changed, the selection kept by
// uuid, and the dialog sizes.
#include <sqlite3.h>

#include <climits>
#include <filesystem>

#include "model/settings.h"
#include "model_fixture.h"
#include "storage/db.h"
#include "storage/repo.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("ordika-settings-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    cfg = config_create(dir.c_str(), "Master-Pass-123");
    ASSERT_NE(nullptr, cfg);
    model_clean();
  }
  void TearDown() override {
    db_close(cfg);
    model_clean();
    std::filesystem::remove_all(dir);
  }

  int changes_during_save(const Settings& s, int tag, int64_t item) {
    int before = sqlite3_total_changes(cfg);
    settings_save(cfg, s, tag, item);
    return sqlite3_total_changes(cfg) - before;
  }

  std::filesystem::path dir;
  sqlite3* cfg = nullptr;
};

TEST_F(SettingsTest, EmptyDatabaseGivesDefaults) {
  Settings s;
  settings_load(cfg, 2, &s);
  EXPECT_EQ(2, s.language);  // from the locale
  EXPECT_EQ(800, s.win_width);
  EXPECT_EQ(600, s.win_height);
  EXPECT_EQ(0, s.win_left);
  EXPECT_EQ(0, s.win_top);
  EXPECT_EQ(200, s.hs_pos);
  EXPECT_EQ(220, s.vs_pos);
  EXPECT_EQ(2, s.sort_by);
  EXPECT_EQ(5, s.upcoming_days);
  EXPECT_EQ(1, s.show_completed);
  EXPECT_EQ(1, s.new_reminders_alert);
  EXPECT_EQ(0, s.idle_timeout);
  EXPECT_EQ(-2, s.tag_id);
  EXPECT_EQ(7, s.log_level);
  EXPECT_EQ("ordika.log", s.log_file);
  EXPECT_EQ(443, s.server_port);
  EXPECT_EQ(40, s.col_width[0]);
  EXPECT_EQ(400, s.col_width[1]);
  EXPECT_EQ(120, s.col_width[2]);
  EXPECT_TRUE(s.tag_uuid.empty());
  EXPECT_TRUE(s.item_uuid.empty());
}

TEST_F(SettingsTest, ClampsAtLoad) {
  setting_put_int(cfg, "win.width", 100);
  setting_put_int(cfg, "win.height", 399);
  setting_put_int(cfg, "win.left", -5);
  setting_put_int(cfg, "win.hs_pos", 10);
  setting_put_int(cfg, "win.vs_pos", 159);
  setting_put_int(cfg, "win.col.0.width", 1);
  setting_put_int(cfg, "win.col.1.width", 63);
  setting_put_int(cfg, "win.col.2.width", 95);
  setting_put_int(cfg, "ui.language", 7);
  setting_put_int(cfg, "tag.id", -1);
  setting_put_str(cfg, "ui.sort_by", "abc");
  Settings s;
  settings_load(cfg, 1, &s);
  EXPECT_EQ(400, s.win_width);
  EXPECT_EQ(400, s.win_height);
  EXPECT_EQ(0, s.win_left);
  EXPECT_EQ(120, s.hs_pos);
  EXPECT_EQ(160, s.vs_pos);
  EXPECT_EQ(20, s.col_width[0]);
  EXPECT_EQ(64, s.col_width[1]);
  EXPECT_EQ(96, s.col_width[2]);
  EXPECT_EQ(0, s.language);  // out of range: English
  EXPECT_EQ(-2, s.tag_id);   // search results are not restored
  EXPECT_EQ(0, s.sort_by);   // not a number

  // The clamped value is what goes back.
  settings_save(cfg, s, -2, -1);
  EXPECT_EQ(400, setting_get_int(cfg, "win.width", 0));
}

TEST_F(SettingsTest, RussianLocaleIgnoresStoredLanguage) {
  setting_put_int(cfg, "ui.language", 1);
  Settings s;
  settings_load(cfg, 4, &s);
  EXPECT_EQ(4, s.language);
  settings_load(cfg, 3, &s);
  EXPECT_EQ(1, s.language);
}

TEST_F(SettingsTest, SavesOnlyWhatChanged) {
  Settings s;
  settings_load(cfg, 0, &s);
  settings_save(cfg, s, -2, -1);
  // Everything is stored now; a second save writes only the selection.
  Settings t;
  settings_load(cfg, 0, &t);
  EXPECT_EQ(3, changes_during_save(t, -2, -1));
  t.win_width = 1024;
  t.show_completed = 0;
  EXPECT_EQ(5, changes_during_save(t, -2, -1));
  Settings u;
  settings_load(cfg, 0, &u);
  EXPECT_EQ(1024, u.win_width);
  EXPECT_EQ(0, u.show_completed);

  // A stored position of -1 is a value like any other.
  setting_put_int(cfg, "win.left", -1);
  u.win_left = -1;
  EXPECT_EQ(3, changes_during_save(u, -2, -1));
  u.win_left = 0;
  EXPECT_EQ(4, changes_during_save(u, -2, -1));
  EXPECT_EQ(0, setting_get_int(cfg, "win.left", 99));
}

TEST_F(SettingsTest, SelectionIsStoredByUuid) {
  uint8_t tag_uuid[16] = {1, 2, 3}, item_uuid[16] = {9, 8, 7};
  int64_t tag = tags_add_from_str(0, tag_uuid, "00000000000000000000000000000000:5:/");
  ASSERT_GT(tag, 0);
  int64_t item = -1;
  ASSERT_NE(nullptr, items_add_from_str(0, item_uuid, "2:0:0:0:0:0;0:0;0:1:1:x", &item));
  Settings s;
  settings_load(cfg, 0, &s);

  settings_save(cfg, s, -4, -1);
  EXPECT_EQ(-4, setting_get_int(cfg, "tag.id", 0));
  EXPECT_EQ("", setting_get(cfg, "tag.uuid"));
  EXPECT_EQ("", setting_get(cfg, "item.uuid"));

  settings_save(cfg, s, static_cast<int>(tag), item);
  EXPECT_EQ(-2, setting_get_int(cfg, "tag.id", 0));
  EXPECT_EQ(uuid_to_hex(tag_uuid), setting_get(cfg, "tag.uuid"));
  EXPECT_EQ(uuid_to_hex(item_uuid), setting_get(cfg, "item.uuid"));

  // Restored after a "remount" in which slots differ.
  tags_reset();
  items_reset();
  uint8_t other[16] = {5};
  tags_add_from_str(0, other, "00000000000000000000000000000000:5:/");
  int64_t tag2 = tags_add_from_str(0, tag_uuid, "00000000000000000000000000000000:5:/");
  int64_t item2 = -1;
  items_add_from_str(0, other, "2:0:0:0:0:0;0:0;0:1:1:y");
  items_add_from_str(0, item_uuid, "2:0:0:0:0:0;0:0;0:1:1:x", &item2);
  Settings r;
  settings_load(cfg, 0, &r);
  settings_restore_selection(&r);
  EXPECT_EQ(tag2, model().view);
  EXPECT_EQ(item2, model().selected_item);
  EXPECT_TRUE(r.tag_uuid.empty());

  // A tag that is gone leaves the stored fixed row; an item that is gone
  // leaves no selection.
  tags_reset();
  items_reset();
  model().selected_item = -1;
  settings_save(cfg, s, -3, 12345);
  EXPECT_EQ("", setting_get(cfg, "item.uuid"));
  setting_put_str(cfg, "tag.uuid", uuid_to_hex(tag_uuid).c_str());
  settings_load(cfg, 0, &r);
  settings_restore_selection(&r);
  EXPECT_EQ(-3, model().view);
  EXPECT_EQ(-1, model().selected_item);
}

TEST_F(SettingsTest, DialogSizesRoundTrip) {
  DialogSizes d;
  dialog_sizes_load(cfg, &d);
  EXPECT_EQ(600, d.width[DLG_NOTE]);
  EXPECT_EQ(600, d.height[DLG_VCARD]);
  EXPECT_EQ(300, d.height[DLG_REPO]);
  d.width[DLG_KEY] = 777;
  d.height[DLG_REPO] = 333;
  dialog_sizes_save(cfg, d);
  EXPECT_EQ(777, setting_get_int(cfg, "keydlg.w", 0));
  EXPECT_EQ(600, setting_get_int(cfg, "vcardlg.w", 0));  // all twelve are written
  DialogSizes e;
  dialog_sizes_load(cfg, &e);
  EXPECT_EQ(777, e.width[DLG_KEY]);
  EXPECT_EQ(333, e.height[DLG_REPO]);
}

}  // namespace
