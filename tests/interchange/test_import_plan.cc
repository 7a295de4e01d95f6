// SPDX-License-Identifier: GPL-3.0-or-later
// The two halves of an import: parsing on another thread touches no model
// state, storing in slices inside one batch gives what the one-call import
// gives, and a batch dropped half-way leaves nothing. Export targets never
// reach the profile or a repository's folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "interchange/import_plan.h"
#include "interchange_fixture.h"
#include "model/app_core.h"
#include "storage/repo.h"

namespace {

using ImportPlanTest = InterchangeTest;

std::string events(int n) {
  std::string body;
  for (int i = 0; i < n; i++)
    body += "BEGIN:VEVENT\nUID:e" + std::to_string(i) + "\nDTSTART:20300101T100000Z\nSUMMARY:Event " +
            std::to_string(i) + "\nEND:VEVENT\n";
  return vcalendar(body + "BEGIN:VEVENT\nSUMMARY:no start\nEND:VEVENT\n");
}

TEST_F(ImportPlanTest, ParsedOnAWorkerAndStoredInSlicesAsOneStep) {
  std::string path = write("plan.ics", events(25));
  ImportPlan plan;
  int rc = -2;
  std::thread worker([&] { rc = import_plan_read(IMPORT_CALENDAR, path.c_str(), &plan); });
  worker.join();
  ASSERT_EQ(0, rc);
  EXPECT_EQ(25u, plan.entries.size());
  EXPECT_EQ(1, plan.skipped);
  EXPECT_TRUE(plan.found_any);
  EXPECT_TRUE(items_of(ITEM_EVENT).empty()) << "parsing stores nothing";

  int64_t tag = g_repos[0].root;
  expect_one_undo_step(0, [&] {
    ItemBatch batch(0);
    ImportReport report;
    for (size_t i = 0; i < plan.entries.size(); i += 7) import_plan_store(plan, i, i + 7, &batch, tag, &report);
    EXPECT_EQ(25, report.imported);
    ASSERT_EQ(0, batch.commit());
  });
  EXPECT_EQ(25u, items_of(ITEM_EVENT).size());
}

TEST_F(ImportPlanTest, ABatchDroppedHalfWayLeavesNothing) {
  ImportPlan plan;
  std::string text = events(10);
  import_plan_parse(IMPORT_CALENDAR, text.data(), text.size(), "", &plan);
  auto before = dump();
  {
    ItemBatch batch(0);
    import_plan_store(plan, 0, 5, &batch, g_repos[0].root, nullptr);
    EXPECT_EQ(5u, items_of(ITEM_EVENT).size());
  }
  EXPECT_TRUE(items_of(ITEM_EVENT).empty());
  EXPECT_EQ(before, dump());
}

TEST_F(ImportPlanTest, MalformedAndRefusedInputIsMarked) {
  ImportPlan json;
  std::string broken = "[{\"title\": \"A\"}, {\"title\": \"B\", \"colour\": \"red\"}]";
  import_plan_parse(IMPORT_ACCOUNTS, broken.data(), broken.size(), "", &json);
  EXPECT_TRUE(json.malformed);
  EXPECT_EQ(1u, json.entries.size()) << "what came before the error is kept for the tool";

  ImportPlan latin;
  std::string bad = "caf\xE9";
  import_plan_parse(IMPORT_ACCOUNTS, bad.data(), bad.size(), "", &latin);
  EXPECT_TRUE(latin.malformed);
  import_plan_parse(IMPORT_NOTES, bad.data(), bad.size(), "n.txt", &latin);
  EXPECT_TRUE(latin.entries.empty());
  EXPECT_EQ(1, latin.skipped);

  ImportPlan none;
  std::string prose = "no calendar here\n";
  import_plan_parse(IMPORT_CALENDAR, prose.data(), prose.size(), "", &none);
  EXPECT_FALSE(none.found_any);
  EXPECT_EQ(-1, import_plan_read(IMPORT_CALENDAR, dir.file("absent.ics").c_str(), &none));
}

TEST_F(ImportPlanTest, ExportSlicesMakeTheSameFilesAsTheOneCallExports) {
  int64_t root = g_repos[0].root;
  for (const char* title : {"Bank", "Mail", "Shop"}) {
    ItemForm f;
    f.title = title;
    f.body = "https://x.example\nuser\npw-" + std::string(title) + "\n0\n";
    ASSERT_GE(item_store(-1, ITEM_KEY, f, 0, root), 0);
  }
  ItemForm ev;
  ev.title = "Meeting";
  ev.due = 1900000000;
  ASSERT_GE(item_store(-1, ITEM_EVENT, ev, 0, root), 0);
  ItemForm card;
  card.title = "Ann";
  card.body = "BEGIN:VCARD\nVERSION:3.0\nFN:Ann\nEND:VCARD\n";
  ASSERT_GE(item_store(-1, ITEM_VCARD, card, 0, root), 0);

  auto sliced = [](ExportKind kind) {
    std::string out = export_head(kind);
    bool first = true;
    for (int64_t slot : export_slots(kind, 0))
      if (export_append(kind, slot, first, &out)) first = false;
    return out + export_tail(kind);
  };
  EXPECT_EQ(accounts_text(0, -1, nullptr), sliced(EXPORT_ACCOUNTS));
  EXPECT_EQ(contacts_text(0, -1, nullptr), sliced(EXPORT_CONTACTS));
  // DTSTAMP is the time of writing: compared without it.
  auto no_stamp = [](std::string s) {
    size_t p;
    while ((p = s.find("DTSTAMP:")) != std::string::npos) s.erase(p, s.find("\r\n", p) + 2 - p);
    return s;
  };
  EXPECT_EQ(no_stamp(calendar_text(0, -1, nullptr)), no_stamp(sliced(EXPORT_CALENDAR)));
  EXPECT_EQ(3u, export_slots(EXPORT_ACCOUNTS, 0).size());
  EXPECT_TRUE(export_slots(EXPORT_NOTES, 0).empty());

  std::string folder = dir.subdir("notes");
  ItemForm note;
  note.title = "Plan";
  note.body = "step one";
  int64_t slot = item_store(-1, ITEM_NOTE, note, 0, root);
  ASSERT_EQ(0, export_note_file(slot, folder.c_str()));
  ASSERT_EQ(0, export_note_file(slot, folder.c_str()));
  EXPECT_EQ("step one", read(folder + "/Plan (1)"));
}

TEST_F(ImportPlanTest, AnExportOfOneItemTakesItOnlyWhenItIsOfTheKind) {
  int64_t root = g_repos[0].root;
  auto stored = [&](int type) {
    ItemForm f;
    f.title = "one";
    if (type == ITEM_VCARD) f.body = "BEGIN:VCARD\nVERSION:3.0\nFN:one\nEND:VCARD\n";
    return item_store(-1, type, f, 0, root);
  };
  const int64_t task = stored(ITEM_TASK), event = stored(ITEM_EVENT), note = stored(ITEM_NOTE),
                card = stored(ITEM_VCARD), key = stored(ITEM_KEY);
  struct Case {
    ExportKind kind;
    int64_t slot;
    bool taken;
  } cases[] = {
      {EXPORT_CALENDAR, task, true}, {EXPORT_CALENDAR, event, true}, {EXPORT_CALENDAR, note, false},
      {EXPORT_CONTACTS, card, true}, {EXPORT_CONTACTS, key, false},  {EXPORT_ACCOUNTS, key, true},
      {EXPORT_ACCOUNTS, card, false}, {EXPORT_NOTES, note, true},    {EXPORT_NOTES, task, false},
  };
  for (const Case& c : cases) {
    std::vector<int64_t> want;
    if (c.taken) want.push_back(c.slot);
    EXPECT_EQ(export_slots(c.kind, 0, c.slot), want) << c.kind << " " << c.slot;
  }
  EXPECT_TRUE(export_slots(EXPORT_CALENDAR, 0, 999999).empty());
}

TEST_F(ImportPlanTest, ExportTargetsStayOutOfTheProfileAndRepositories) {
  std::string profile = dir.subdir("profile"), repo = dir.subdir("repo"), out = dir.subdir("out");
  std::string saved = app_core().config_dir;
  app_core().config_dir = profile;
  repo_table().resize(1);
  repo_table()[0].path = repo;
  EXPECT_EQ(EXPORT_TARGET_OK, export_target_check(out + "/a.ics", false));
  EXPECT_EQ(EXPORT_TARGET_OK, export_target_check(out, true));
  EXPECT_EQ(EXPORT_TARGET_PROFILE, export_target_check(profile + "/config", false));
  EXPECT_EQ(EXPORT_TARGET_PROFILE, export_target_check(out + "/../profile/x", false));
  EXPECT_EQ(EXPORT_TARGET_REPOSITORY, export_target_check(repo + "/data", false));
  EXPECT_EQ(EXPORT_TARGET_REPOSITORY, export_target_check(repo, true));
  EXPECT_EQ(EXPORT_TARGET_NO_FOLDER, export_target_check(dir.file("none/x.ics"), false));
  EXPECT_EQ(EXPORT_TARGET_NO_FOLDER, export_target_check("", false));
  repo_table().clear();
  app_core().config_dir = saved;
}

}  // namespace
