// SPDX-License-Identifier: GPL-3.0-or-later
// A whole import is one journal group: one undo step takes it back, the
// change logs hold every row, and a process that dies in the middle leaves
// the repository as it was before the import.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "interchange_fixture.h"
#include "support/log.h"

namespace {

class BulkImportTest : public InterchangeTest {
 protected:
  static std::string events(int n) {
    std::string body;
    for (int i = 0; i < n; i++) {
      char buf[256];
      std::snprintf(buf, sizeof buf,
                    "BEGIN:VEVENT\nUID:e%d@example.org\nDTSTART:2030%02d%02dT100000Z\nSUMMARY:Event %d\n"
                    "DESCRIPTION:Text %d\nBEGIN:VALARM\nTRIGGER:-PT15M\nEND:VALARM\nEND:VEVENT\n",
                    i, 1 + i % 12, 1 + i % 28, i, i);
      body += buf;
    }
    return vcalendar(body);
  }
  static std::string cards(int n) {
    std::string out;
    for (int i = 0; i < n; i++)
      out += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Family" + std::to_string(i) + ";Given\r\nFN:Given Family" +
             std::to_string(i) + "\r\nBDAY:19800102\r\nEND:VCARD\r\n";
    return out;
  }
  static int markers(sqlite3* d) { return storage_test::count_in(d, "t5 WHERE c6=0"); }
};

TEST_F(BulkImportTest, EachImportIsOneUndoStep) {
  g_repos[0].sync = true;
  int64_t t = make_tag(g_repos[0].root, "imported");
  int m = markers(db());
  int n = -1;
  expect_one_undo_step(0, [&] { n = import_calendar(write("e.ics", events(300)).c_str(), t); });
  EXPECT_EQ(n, 300);
  EXPECT_EQ(markers(db()), m + 1);
  EXPECT_EQ(linked_items(static_cast<int32_t>(t)).size(), 300u);
  EXPECT_EQ(storage_test::count_in(db(), "t3 WHERE c3=1"), 1 + 300);
  EXPECT_EQ(storage_test::count_in(db(), "t4 WHERE c3=1"), 300);

  expect_one_undo_step(0, [&] { n = import_contacts(write("c.vcf", cards(200)).c_str(), t); });
  EXPECT_EQ(n, 200);

  std::string json;
  for (int i = 0; i < 50; i++) json += "{\"title\":\"K" + std::to_string(i) + "\",\"password\":\"pw\"}";
  expect_one_undo_step(0, [&] { n = key_import(write("k.json", json).c_str(), t); });
  EXPECT_EQ(n, 50);
  EXPECT_EQ(markers(db()), m + 3);
}

TEST_F(BulkImportTest, ImportsGoIntoTheGivenTagAndLeaveTheViewAlone) {
  int64_t t = tag_create(1, g_repos[1].root, "elsewhere");
  model().view = VIEW_REMINDERS;
  EXPECT_EQ(import_calendar(write("e.ics", events(3)).c_str(), t), 3);
  EXPECT_EQ(import_contacts(write("c.vcf", cards(2)).c_str(), t), 2);
  EXPECT_EQ(import_note(write("n.txt", "note text").c_str(), t), 1);
  EXPECT_EQ(key_import(write("k.json", "[{\"title\":\"K\"}]").c_str(), t), 1);
  EXPECT_EQ(model().view, VIEW_REMINDERS);
  std::vector<int32_t> linked = linked_items(static_cast<int32_t>(t));
  EXPECT_EQ(linked.size(), 7u);
  for (int32_t s : linked) EXPECT_EQ(item_get(s)->repo, 1);
  // Without a real tag nothing is imported.
  EXPECT_EQ(import_contacts(write("c2.vcf", cards(2)).c_str(), VIEW_SEARCH), -1);
  EXPECT_EQ(key_import(write("k2.json", "[{\"title\":\"K\"}]").c_str(), 0), -1);
  EXPECT_EQ(import_note(write("n2.txt", "x").c_str(), -3), 0);
  EXPECT_EQ(linked_items(static_cast<int32_t>(t)).size(), 7u);
}

TEST_F(BulkImportTest, OurUidOfAnotherRepositoryMakesANewItemInTheTarget) {
  ItemForm ev;
  ev.title = "Original";
  ev.due = lt(2030, 3, 4, 10, 0);
  int64_t orig = item_store(-1, ITEM_EVENT, ev, 0, g_repos[1].root);
  ASSERT_GE(orig, 0);
  std::string path = dir.file("one.ics");
  ASSERT_EQ(export_calendar(path.c_str(), 1, orig), 1);
  std::string text = read(path);
  size_t at = text.find("SUMMARY:Original");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 16, "SUMMARY:Changed");
  auto repo1 = dump(1);
  ImportReport r;
  EXPECT_EQ(import_calendar(write("back.ics", text).c_str(), g_repos[0].root, &r), 1);
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(item_get(orig)->title, "Original");
  EXPECT_EQ(dump(1), repo1);
  ASSERT_NE(titled("Changed"), nullptr);
  EXPECT_EQ(titled("Changed")->repo, 0);
  // Into its own repository it updates the item.
  EXPECT_EQ(import_calendar(write("back.ics", text).c_str(), g_repos[1].root, &r), 1);
  EXPECT_EQ(r.updated, 1);
  EXPECT_EQ(item_get(orig)->title, "Changed");
}

TEST_F(BulkImportTest, ReopenedTaskIsStoredOnce) {
  int64_t t = make_tag(g_repos[0].root, "t");
  ItemForm task;
  task.title = "Done";
  task.due = lt(2030, 3, 4, 10, 0);
  task.flags = ITEM_COMPLETED;
  int64_t s = item_store(-1, ITEM_TASK, task, 0, t);
  ASSERT_GE(s, 0);
  std::string path = dir.file("t.ics");
  ASSERT_EQ(export_calendar(path.c_str(), 0, s), 1);
  std::string text = read(path);
  size_t at = text.find("STATUS:COMPLETED");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 16, "STATUS:NEEDS-ACTION");
  int rows = storage_test::count_in(db(), "t5");
  EXPECT_EQ(import_calendar(write("t2.ics", text).c_str(), t), 1);
  EXPECT_EQ(item_get(s)->flags, 0);
  // Marker, the old version deleted, the new one inserted.
  EXPECT_EQ(storage_test::count_in(db(), "t5"), rows + 3);
  reopen();
  ASSERT_EQ(0, journal_undo(db()));
  EXPECT_EQ(storage_test::count_in(db(), "t1 WHERE c3=0"), 3);  // root, t and the task
}

// Ends the process at the 300th row written into t1.
void die_at_300th_item(void*, int op, const char*, const char* table, sqlite3_int64) {
  static int rows = 0;
  if (op == SQLITE_INSERT && std::string(table) == "t1" && ++rows == 300) _exit(0);
}

TEST_F(BulkImportTest, CrashInTheMiddleLeavesTheRepositoryAsBefore) {
  int64_t t = make_tag(g_repos[0].root, "t");
  std::string path = write("big.ics", events(500));
  auto data = dump();
  auto journal = storage_test::dump_table(db(), "t5");
  log_stop();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // A small page cache makes the transaction spill pages into the file
    // behind its journal before it dies.
    reopen();
    db_exec(db(), "PRAGMA cache_size=4;");
    sqlite3_update_hook(db(), die_at_300th_item, nullptr);
    import_calendar(path.c_str(), t);
    _exit(3);  // the import finished: the hook never fired
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  log_reenable();
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(std::ifstream(g_repos[0].file + "-journal").good());  // died inside the transaction

  reopen();
  EXPECT_EQ(storage_test::dump_table(db(), "t5"), journal);
  EXPECT_EQ(dump(), data);
  Stmt check;
  ASSERT_EQ(SQLITE_OK, stmt_prepare(db(), "PRAGMA integrity_check;", &check));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(check.get()));
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0)), "ok");
  check.reset();
  // The next import works and is whole.
  EXPECT_EQ(import_calendar(path.c_str(), t), 500);
  EXPECT_EQ(storage_test::count_in(db(), "t2"), 500);
}

}  // namespace
