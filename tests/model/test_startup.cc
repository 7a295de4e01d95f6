// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and shutdown without widgets: profile directory, master password
// prompts, first run, repository root, default repository, and a profile
// that reopens with everything it held.
#include <cstring>
#include <fstream>

#include "model/tag_ops.h"
#include "storage/journal.h"
#include "support/log.h"
#include "support/string_ids.h"
#include "test_startup_fixture.h"

using namespace startup_test;

namespace {

TEST_F(StartupTest, FirstRunMakesProfileRootAndDefaultRepository) {
  first_run("work");
  EXPECT_EQ(0, asked_password);
  EXPECT_EQ(1, asked_new);
  EXPECT_EQ(1, asked_confirm);
  EXPECT_TRUE(messages.empty());
  const AppCore& a = app_core();
  EXPECT_TRUE(a.first_run);
  EXPECT_EQ(home + "/.config/work", a.config_dir);
  struct stat st;
  ASSERT_EQ(0, stat((home + "/.config").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  ASSERT_EQ(0, stat(a.config_dir.c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  EXPECT_TRUE(exists(a.config_dir + "/config"));
  // The root is "Ordika" whatever the profile.
  EXPECT_EQ(home + "/Ordika", a.repo_root);
  EXPECT_EQ(a.repo_root, setting_get(config_db(), "repo_root"));

  ASSERT_EQ(1u, repo_table().size());
  EXPECT_TRUE(repo_table()[0].mounted);
  EXPECT_STREQ(ui_string(STR_DEFAULT_REPO_NAME), repo_table()[0].name.c_str());
  EXPECT_EQ(20u, repo_password(&repo_table()[0]).size());
  // Root tag shown with the repository's name, and the four default tags.
  int64_t root = root_tag(0);
  ASSERT_GT(root, 0);
  EXPECT_EQ(repo_table()[0].name, tag_get(root)->name);
  EXPECT_EQ(5, count_tags(0));
  for (StrId id : {STR_LIST_CONTACTS, STR_DEFAULT_TAG_PERSONAL, STR_LIST_KEYS, STR_DEFAULT_TAG_WORK})
    EXPECT_GT(tag_named(ui_string(id)), 0) << id;
  // Nothing to undo in a fresh repository.
  EXPECT_EQ(0, journal_state(repo_table()[0].db));

  log_message(LOG_INFO, "probe");
  ASSERT_EQ(0, log_flush());
  EXPECT_TRUE(exists(a.config_dir + "/ordika.log"));
}

TEST_F(StartupTest, ExistingProfileAsksOnceAndKeepsItsRepository) {
  first_run();
  std::string path = repo_table()[0].path;
  restart();
  EXPECT_EQ(1, asked_password);
  EXPECT_FALSE(app_core().first_run);
  ASSERT_EQ(1u, repo_table().size());
  EXPECT_EQ(path, repo_table()[0].path);
  EXPECT_TRUE(repo_table()[0].mounted);
  EXPECT_EQ(5, count_tags(0));
}

TEST_F(StartupTest, CancelledPromptOfExistingProfileQuitsSilently) {
  first_run();
  app_shutdown();
  repo_table_clear();
  passwords = {cancel()};
  EXPECT_EQ(STARTUP_QUIT, start());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(0, startup_exit_status(STARTUP_QUIT));
  EXPECT_EQ(nullptr, config_db());
}

TEST_F(StartupTest, WrongPasswordsThreeTimesFail) {
  first_run();
  app_shutdown();
  repo_table_clear();
  std::string before;
  {
    std::ifstream f(app_core().config_dir + "/config", std::ios::binary);
    before.assign(std::istreambuf_iterator<char>(f), {});
  }
  passwords = {{"wrong-1"}, {"wrong-2"}, {"Wrong-3"}};
  EXPECT_EQ(STARTUP_FAILED, start());
  EXPECT_EQ((std::vector<StrId>{STR_MSG_WRONG_PASSWORD, STR_MSG_WRONG_PASSWORD, STR_MSG_WRONG_PASSWORD}), messages);
  EXPECT_EQ(1, startup_exit_status(STARTUP_FAILED));
  std::ifstream f(home + "/.config/test/config", std::ios::binary);
  EXPECT_EQ(before, std::string(std::istreambuf_iterator<char>(f), {}));

  passwords = {{"wrong-1"}, {kMaster}};
  EXPECT_EQ(STARTUP_READY, start());
  EXPECT_EQ((std::vector<StrId>{STR_MSG_WRONG_PASSWORD}), messages);
}

TEST_F(StartupTest, FirstRunPromptRules) {
  // New password cancelled: quit without a file.
  new_passwords = {cancel()};
  EXPECT_EQ(STARTUP_QUIT, start());
  EXPECT_FALSE(exists(home + "/.config/test/config"));

  // Differences and a cancelled confirmation in attempts 1 and 2 ask again.
  new_passwords = {{kMaster}, {kMaster}, {kMaster}};
  confirmations = {{"Other-Pass-123"}, cancel(), {kMaster}};
  EXPECT_EQ(STARTUP_READY, start());
  EXPECT_EQ((std::vector<StrId>{STR_MSG_PASSWORDS_DIFFER}), messages);
  app_shutdown();
  repo_table_clear();
  std::filesystem::remove_all(home + "/.config/test");

  // Third attempt: a cancelled confirmation fails.
  new_passwords = {{kMaster}, {kMaster}, {kMaster}};
  confirmations = {cancel(), cancel(), cancel()};
  EXPECT_EQ(STARTUP_FAILED, start());
  EXPECT_FALSE(exists(home + "/.config/test/config"));

  // Third attempt: a difference fails.
  new_passwords = {{kMaster}, {kMaster}, {kMaster}};
  confirmations = {{"x"}, {"y"}, {"z"}};
  EXPECT_EQ(STARTUP_FAILED, start());
  EXPECT_EQ((std::vector<StrId>{STR_MSG_PASSWORDS_DIFFER, STR_MSG_PASSWORDS_DIFFER, STR_MSG_PASSWORDS_DIFFER}),
            messages);
  EXPECT_FALSE(exists(home + "/.config/test/config"));

  // A password that breaks the rule is refused before it is confirmed.
  new_passwords = {{"short"}, {kMaster}};
  confirmations = {{kMaster}};
  EXPECT_EQ(STARTUP_READY, start());
  EXPECT_EQ((std::vector<StrId>{STR_PASSWORD_RULES_10}), messages);
}

TEST_F(StartupTest, UnusableDirectoriesFailCleanly) {
  new_passwords = {{kMaster}};
  confirmations = {{kMaster}};
  EXPECT_EQ(STARTUP_FAILED, start("../escape"));
  EXPECT_EQ(STARTUP_FAILED, start("a/b"));

  // A file where the repository root should be.
  std::ofstream(home + "/Ordika") << "not a directory";
  EXPECT_EQ(STARTUP_FAILED, start());
  EXPECT_EQ((std::vector<StrId>{STR_MSG_REPO_ROOT_NOT_CREATED}), messages);
  EXPECT_EQ(nullptr, config_db());
  // The profile itself was created and reopens once the root can be made.
  std::filesystem::remove(home + "/Ordika");
  passwords = {{kMaster}};
  EXPECT_EQ(STARTUP_READY, start());
  EXPECT_EQ(1u, repo_table().size());

  app_shutdown();
  repo_table_clear();
  std::ofstream(home + "/.config/blocked") << "x";
  EXPECT_EQ(STARTUP_FAILED, start("blocked"));
}

TEST_F(StartupTest, ProfileReopensWithEveryItemTagLinkAndReminder) {
  ScopedTz tz("UTC");
  first_run();
  int64_t root = root_tag(0);
  int64_t work = tag_create(0, root, "work: projects");
  ASSERT_GT(work, 0);
  int64_t sub = tag_create(0, work, "sub");
  ASSERT_GT(sub, 0);

  int64_t note = add_note(sub, "note: with colon", "line 1\nline 2\n");
  ASSERT_GE(note, 0);
  model().view = static_cast<int32_t>(work);
  ItemForm task;
  task.title = "weekly task";
  task.due = time(nullptr) + 3 * 86400;
  task.remind_unit = 2;  // hours
  task.remind_count = 1;
  task.freq = FREQ_WEEKLY;
  task.end_kind = RECUR_COUNT;
  task.recur_count = 5;
  int64_t t = item_store(-1, ITEM_TASK, task, 0, model().view);
  ASSERT_GE(t, 0);
  ASSERT_EQ(0, update_tag_item(static_cast<int32_t>(sub), static_cast<int32_t>(t), 1));
  int64_t done = add_note(work, "finished");
  ASSERT_EQ(0, item_set_flags(done, ITEM_COMPLETED));
  ASSERT_EQ(1, slot_array_count(model().reminders));

  // A second repository with its own item.
  int second = add_repository("second");
  repo_remount();
  int64_t root2 = root_tag(second);
  ASSERT_GT(root2, 0);
  EXPECT_EQ(1, count_tags(second));  // no default tags for it
  ASSERT_GE(add_note(root2, "in second"), 0);

  // Select the sub tag and the task.
  model().view = static_cast<int32_t>(tag_find(tag_get(sub)->uuid));
  model().selected_item = item_find(item_get(t)->uuid);
  uint8_t task_uuid[16], sub_uuid[16];
  std::memcpy(task_uuid, item_get(t)->uuid, 16);
  std::memcpy(sub_uuid, tag_get(sub)->uuid, 16);
  int items_before = count_items();
  int64_t links_before = slot_array_count(model().tag_links);

  restart();
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(2u, repo_table().size());
  EXPECT_EQ(items_before, count_items());
  EXPECT_EQ(links_before, slot_array_count(model().tag_links));
  EXPECT_EQ(7, count_tags(0));
  EXPECT_EQ("second", tag_get(root_tag(1))->name);

  int64_t t2 = item_find(task_uuid);
  ASSERT_GE(t2, 0);
  const Item* it = item_get(t2);
  EXPECT_EQ("weekly task", it->title);
  EXPECT_EQ(task.due, it->due);
  EXPECT_EQ(FREQ_WEEKLY, it->recurrence.freq);
  EXPECT_EQ(5, it->recur_count);
  EXPECT_EQ(recur_advance(task.due, it->recurrence, 4), it->last_occurrence);
  EXPECT_EQ(3600, it->remind_offset);
  int64_t sub2 = tag_find(sub_uuid);
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(sub2), static_cast<int32_t>(t2)));
  EXPECT_EQ("work: projects", tag_get(tag_named("work: projects"))->name);

  int64_t note2 = -1;
  int64_t cursor = -1;
  while (const Item* i = slot_next<Item>(model().items, &cursor))
    if (i->title == "note: with colon") note2 = cursor;
  ASSERT_GE(note2, 0);
  EXPECT_EQ("line 1\nline 2\n", item_body_load(item_get(note2)));
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(sub2), static_cast<int32_t>(note2)));

  // Reminder list rebuilt; the completed note has none.
  ASSERT_EQ(1, slot_array_count(model().reminders));
  int64_t rc = -1;
  const Reminder* r = slot_next<Reminder>(model().reminders, &rc);
  EXPECT_EQ(t2, r->item);
  EXPECT_EQ(task.due - 3600, r->remind_at);

  // The selection came back by uuid.
  EXPECT_EQ(sub2, model().view);
  EXPECT_EQ(t2, model().selected_item);
}

TEST_F(StartupTest, BrokenRepositoriesDoNotStopTheOthers) {
  first_run();
  int b = add_repository("broken data");
  int c = add_repository("gone");
  ASSERT_EQ(1, b);
  ASSERT_EQ(2, c);
  std::string b_path = repo_table()[b].path;
  std::string c_path = repo_table()[c].path;
  restart();
  ASSERT_GE(add_note(root_tag(0), "survivor"), 0);
  EXPECT_EQ(3u, repo_table().size());
  app_shutdown();

  // Garbage in one database, a missing directory for another.
  {
    std::ofstream f(b_path + "/data", std::ios::binary | std::ios::trunc);
    f << std::string(4096, 'g');
  }
  std::filesystem::remove_all(c_path);
  restart();
  EXPECT_EQ((std::vector<StrId>{STR_MSG_DATA_NOT_LOADED}), messages);
  EXPECT_NE(0, last_error());
  EXPECT_TRUE(repo_table()[0].mounted);
  EXPECT_FALSE(repo_table()[1].mounted);
  EXPECT_FALSE(repo_table()[2].mounted);
  EXPECT_EQ(1, count_items());
  // Nothing stored was changed: the records keep their flags, the file its bytes.
  EXPECT_EQ(3, repo_list_count(config_db()));
  app_shutdown();
  repo_table_clear();
  model_clean();
  passwords = {{kMaster}};
  ASSERT_EQ(STARTUP_READY, start());
  EXPECT_TRUE(repo_table()[1].enabled);
  EXPECT_TRUE(repo_table()[2].enabled);
  std::ifstream f(b_path + "/data", std::ios::binary);
  EXPECT_EQ(std::string(4096, 'g'), std::string(std::istreambuf_iterator<char>(f), {}));
}

TEST_F(StartupTest, DuplicateTagUuidLeavesThatRepositoryOut) {
  first_run();
  int b = add_repository("copy");
  repo_remount();
  ASSERT_GE(add_note(root_tag(0), "in first"), 0);
  ASSERT_GE(add_note(root_tag(b), "in second"), 0);
  // The second repository also stores a tag with a uuid of the first.
  int64_t dup = tag_named(ui_string(STR_LIST_CONTACTS));
  Tag copy = *tag_get(dup);
  copy.repo = b;
  ASSERT_EQ(0, tags_save_tag(&copy));
  restart();
  EXPECT_TRUE(model().duplicate_tag);
  EXPECT_EQ((std::vector<StrId>{STR_MSG_DATA_NOT_LOADED}), messages);
  EXPECT_TRUE(repo_table()[0].mounted);
  EXPECT_FALSE(repo_table()[1].mounted);
  EXPECT_EQ(1, count_items());
  EXPECT_EQ(5, count_tags(0));
  EXPECT_EQ(0, count_tags(1));
  // The second repository's rows are all still there.
  ASSERT_EQ(0, repo_open(&repo_table()[1]));
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(repo_table()[1].db, "SELECT count(*) FROM t1", -1, &s, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(s));
  EXPECT_EQ(3, sqlite3_column_int(s, 0));  // root tag, note, the copied tag
  sqlite3_finalize(s);
  repo_close(&repo_table()[1]);
}

}  // namespace
