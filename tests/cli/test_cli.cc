// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>

#include "cli_runner.h"

namespace {

// A fresh profile with its default repository.
class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    CliResult r = h.run({"init"});
    ASSERT_EQ(r.status, 0) << r.err;
    CliResult tags = h.run({"tags"});
    ASSERT_EQ(tags.status, 0) << tags.err;
    for (auto& line : tags.lines()) {
      auto f = split_tabs(line);
      ASSERT_EQ(f.size(), 5u) << line;
      tag_by_name[f[4]] = f[0];
    }
    root = split_tabs(tags.line(0))[0];
    work = tag_by_name["Work"];
    ASSERT_FALSE(work.empty()) << tags.out;
  }

  std::string add(const std::vector<std::string>& args) {
    std::vector<std::string> a = {"add"};
    a.insert(a.end(), args.begin(), args.end());
    CliResult r = h.run(a);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string uuid = r.line(0);
    EXPECT_EQ(uuid.size(), 32u) << r.out;
    return uuid;
  }

  // uuid -> fields of an `items` listing.
  std::map<std::string, std::vector<std::string>> items(const std::string& view = "all") {
    CliResult r = h.run({"items", view});
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::vector<std::string>> m;
    for (auto& l : r.lines()) m[split_tabs(l)[0]] = split_tabs(l);
    return m;
  }

  std::vector<std::string> titles(const std::string& view) {
    CliResult r = h.run({"items", view});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> t;
    for (auto& l : r.lines()) t.push_back(split_tabs(l)[4]);
    return t;
  }

  CliHome h;
  std::map<std::string, std::string> tag_by_name;
  std::string root, work;
};

TEST_F(Cli, InitCreatesProfileOnceWithDefaultRepositoryAndTags) {
  CliResult again = h.run({"init"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("exists"), std::string::npos);
  CliResult repos = h.run({"repos"});
  ASSERT_EQ(repos.status, 0);
  auto f = split_tabs(repos.line(0));
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0], "0");
  EXPECT_EQ(f[2].rfind(h.home() + "/Ordika/", 0), 0u);
  EXPECT_EQ(f[3], "");
  EXPECT_EQ(f[4], "em");
  // Root first at depth 0 with an empty parent, then the default tags in name order.
  CliResult tags = h.run({"tags"});
  auto lines = tags.lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(split_tabs(lines[0])[1], "");
  EXPECT_EQ(split_tabs(lines[0])[3], "0");
  std::vector<std::string> names;
  for (size_t i = 1; i < lines.size(); i++) {
    EXPECT_EQ(split_tabs(lines[i])[1], root);
    EXPECT_EQ(split_tabs(lines[i])[3], "1");
    names.push_back(split_tabs(lines[i])[4]);
  }
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

TEST_F(Cli, InitRefusesAWeakMasterPassword) {
  CliHome other;
  other.set_env("ORDIKA_PASSWORD", "short");
  CliResult r = other.run({"init"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(other.run({"items"}).status, 1);  // nothing was created
}

TEST_F(Cli, ItemsOfEveryTypeWithTimesRemindersAndRecurrence) {
  std::string task = add({"task", work, "--title", "Report", "--due", "2031-03-10 09:30", "--remind", "2h",
                          "--rrule", "FREQ=WEEKLY;BYDAY=MO,WE;COUNT=4"});
  std::string event = add({"event", work, "--title", "Meeting", "--due", "2031-03-11 14:00", "--end",
                           "2031-03-11 15:00", "--remind", "0"});
  std::string note = add({"note", work, "--title", "Ideas"});
  h.write("card.vcf", "BEGIN:VCARD\nVERSION:3.0\nN:Doe;Ann\nFN:Ann Doe\nTEL;TYPE=CELL:+1 555\nEND:VCARD\n");
  std::string contact = add({"contact", tag_by_name["Contacts"], "--title", "Ann Doe", "--body-file", h.path("card.vcf")});
  std::string key = add({"key", tag_by_name["Keys"], "--title", "Bank", "--url", "https://bank.example", "--user",
                         "ann", "--password", "p@ss\tword", "--expires", "2040-06-01"});
  auto all = items();
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[task][1], "task");
  EXPECT_EQ(all[task][3], "2031-03-10 09:30");
  EXPECT_EQ(all[event][1], "event");
  EXPECT_EQ(all[event][3], "2031-03-11 14:00");
  EXPECT_EQ(all[note][1], "note");
  EXPECT_EQ(all[note][3], "");
  EXPECT_EQ(all[contact][1], "contact");
  EXPECT_EQ(all[key][1], "key");
  EXPECT_EQ(all[key][3], "2040-06-01 00:00");  // expiry after 2038 survives a reload

  // Every view answers, with the right members.
  EXPECT_EQ(titles("tasks"), std::vector<std::string>{"Report"});
  EXPECT_EQ(titles("events"), std::vector<std::string>{"Meeting"});
  EXPECT_EQ(titles("notes"), std::vector<std::string>{"Ideas"});
  EXPECT_EQ(titles("contacts"), std::vector<std::string>{"Ann Doe"});
  EXPECT_EQ(titles("keys"), std::vector<std::string>{"Bank"});
  EXPECT_EQ(titles("tag:" + work).size(), 3u);
  EXPECT_EQ(titles("untagged").size(), 0u);
  EXPECT_EQ(titles("trash").size(), 0u);
  EXPECT_EQ(titles("search:meeting"), std::vector<std::string>{"Meeting"});
  EXPECT_EQ(titles("day:2031-03-11"), std::vector<std::string>{"Meeting"});
  EXPECT_EQ(titles("day:2031-03-12"), std::vector<std::string>{"Report"});  // the Wednesday occurrence
  EXPECT_EQ(h.run({"items", "upcoming"}).status, 0);
  EXPECT_EQ(h.run({"items", "reminders"}).status, 0);
  EXPECT_EQ(h.run({"items", "bogus"}).status, 2);
  EXPECT_EQ(h.run({"items", "day:2031-02-30x"}).status, 1);

  CliResult shown_task = h.run({"show", task});
  ASSERT_EQ(shown_task.status, 0) << shown_task.err;
  EXPECT_NE(shown_task.out.find("Weekly"), std::string::npos) << "the task's recurrence\n" << shown_task.out;
  EXPECT_NE(shown_task.out.find("4 occurrences"), std::string::npos) << shown_task.out;

  CliResult show = h.run({"show", key});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_NE(show.out.find("bank.example"), std::string::npos) << show.out;
  EXPECT_EQ(show.out.find("p@ss"), std::string::npos) << "the password is hidden in the detail text";
}

TEST_F(Cli, ListOrderIsByDateWithUndatedLast) {
  add({"task", work, "--title", "Later", "--due", "2032-01-02 10:00"});
  add({"task", work, "--title", "Sooner", "--due", "2032-01-01 10:00"});
  add({"task", work, "--title", "Undated", "--due", ""});
  EXPECT_EQ(titles("tag:" + work), (std::vector<std::string>{"Sooner", "Later", "Undated"}));
}

TEST_F(Cli, EditKeepsHistoryAndUndoRedoWorkAcrossRuns) {
  std::string note = add({"note", work, "--title", "Draft"});
  h.write("body.txt", "first body\n");
  ASSERT_EQ(h.run({"edit", note, "--body-file", h.path("body.txt"), "--keep-history"}).status, 0);
  ASSERT_EQ(h.run({"edit", note, "--title", "Final", "--keep-history"}).status, 0);
  CliResult hist = h.run({"history", note});
  ASSERT_EQ(hist.status, 0);
  auto lines = hist.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(split_tabs(lines[0])[0].size(), 40u);
  std::vector<std::string> old_titles = {split_tabs(lines[0])[2], split_tabs(lines[1])[2]};
  std::sort(old_titles.begin(), old_titles.end());
  EXPECT_EQ(old_titles, (std::vector<std::string>{"Draft", "Draft"}));
  EXPECT_EQ(items()[note][4], "Final");

  // Each run is its own process: the journal survives between them.
  ASSERT_EQ(h.run({"undo", "0"}).status, 0);
  EXPECT_EQ(items()[note][4], "Draft");
  EXPECT_EQ(h.run({"history", note}).lines().size(), 1u);
  ASSERT_EQ(h.run({"undo", "0"}).status, 0);
  ASSERT_EQ(h.run({"redo", "0"}).status, 0);
  ASSERT_EQ(h.run({"redo", "0"}).status, 0);
  EXPECT_EQ(items()[note][4], "Final");
  EXPECT_EQ(h.run({"history", note}).lines().size(), 2u);
  CliResult none = h.run({"redo", "0"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("nothing to redo"), std::string::npos);
  EXPECT_EQ(h.run({"undo", "7"}).status, 1);
}

TEST_F(Cli, FlagsLinksAndDeletion) {
  std::string task = add({"task", work, "--title", "Call", "--due", "2031-01-01 10:00"});
  std::string personal = tag_by_name["Personal"];
  ASSERT_EQ(h.run({"done", task}).status, 0);
  EXPECT_EQ(items()[task][2], "c");
  ASSERT_EQ(h.run({"done", task}).status, 0);
  EXPECT_EQ(items()[task][2], "");
  ASSERT_EQ(h.run({"link", task, personal}).status, 0);
  EXPECT_EQ(titles("tag:" + personal), std::vector<std::string>{"Call"});
  ASSERT_EQ(h.run({"unlink", task, personal}).status, 0);
  EXPECT_TRUE(titles("tag:" + personal).empty());
  ASSERT_EQ(h.run({"trash", task}).status, 0);
  EXPECT_EQ(titles("trash"), std::vector<std::string>{"Call"});
  EXPECT_TRUE(titles("tag:" + work).empty());
  ASSERT_EQ(h.run({"undo", "0"}).status, 0);  // back out of the trash
  EXPECT_EQ(titles("tag:" + work), std::vector<std::string>{"Call"});
  ASSERT_EQ(h.run({"rm", task}).status, 0);
  EXPECT_TRUE(items().empty());
  ASSERT_EQ(h.run({"undo", "0"}).status, 0);
  EXPECT_EQ(items().size(), 1u);
  std::string note = add({"note", work, "--title", "n"});
  CliResult r = h.run({"done", note});
  EXPECT_EQ(r.status, 1);
}

TEST_F(Cli, TagsAreCreatedAndDeletedWithRelinking) {
  CliResult r = h.run({"tag-add", work, "Projects"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string projects = r.line(0);
  std::string note = add({"note", projects, "--title", "Plan"});
  CliResult tags = h.run({"tags"});
  bool found = false;
  for (auto& l : tags.lines()) {
    auto f = split_tabs(l);
    if (f[0] == projects) {
      found = true;
      EXPECT_EQ(f[1], work);
      EXPECT_EQ(f[3], "2");
    }
  }
  EXPECT_TRUE(found);
  ASSERT_EQ(h.run({"tag-rm", projects}).status, 0);
  // The item moved up to the deleted tag's parent.
  EXPECT_EQ(titles("tag:" + work), std::vector<std::string>{"Plan"});
  EXPECT_EQ(h.run({"tag-rm", root}).status, 1);
}

TEST_F(Cli, ImportAndExportEveryFormat) {
  h.write("in.ics",
          "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:x1\r\nSUMMARY:Dentist\r\nDTSTART:20310401T080000Z\r\n"
          "DTEND:20310401T090000Z\r\nEND:VEVENT\r\nBEGIN:VTODO\r\nSUMMARY:Pay rent\r\nDUE:20310402T100000Z\r\n"
          "RRULE:FREQ=MONTHLY\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
  CliResult r = h.run({"import", "ics", h.path("in.ics"), work});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.line(0), "2");
  h.write("in.vcf",
          "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob Roe\r\nN:Roe;Bob\r\nTEL;TYPE=HOME,CELL:123\r\nEND:VCARD\r\n");
  r = h.run({"import", "vcf", h.path("in.vcf"), tag_by_name["Contacts"]});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.line(0), "1");
  h.write("in.json", R"([{"title":"Mail","username":"bob","password":"x\u00e9y","url":"https://m"}])");
  r = h.run({"import", "json", h.path("in.json"), tag_by_name["Keys"]});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.line(0), "1");
  h.write("a.txt", "\xEF\xBB\xBFnote text\n");
  h.write("b.txt", "second\n");
  r = h.run({"import", "note", h.path("a.txt"), h.path("b.txt"), work});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.line(0), "2");
  EXPECT_EQ(items().size(), 6u);

  ASSERT_EQ(h.run({"export", "ics", work, h.path("out.ics")}).status, 0);
  std::string ics = CliHome::slurp(h.path("out.ics"));
  EXPECT_NE(ics.find("SUMMARY:Dentist"), std::string::npos);
  EXPECT_NE(ics.find("RRULE:FREQ=MONTHLY"), std::string::npos);
  ASSERT_EQ(h.run({"export", "vcf", work, h.path("out.vcf")}).status, 0);
  // The card as the file wrote it: its own spelling of the types is kept.
  EXPECT_NE(CliHome::slurp(h.path("out.vcf")).find("TEL;TYPE=HOME,CELL:123"), std::string::npos);
  ASSERT_EQ(h.run({"export", "json", work, h.path("out.json")}).status, 0);
  EXPECT_NE(CliHome::slurp(h.path("out.json")).find("\"password\": \"x\xc3\xa9y\""), std::string::npos);
  std::string dir = h.path("notes");
  mkdir(dir.c_str(), 0700);
  ASSERT_EQ(h.run({"export", "notes", work, dir}).status, 0);

  // Re-importing our own calendar export updates instead of duplicating.
  r = h.run({"import", "ics", h.path("out.ics"), work});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(items().size(), 6u);
}

TEST_F(Cli, AnImportIsOneUndoStepAsInTheWindow) {
  add({"note", work, "--title", "Before"});
  std::string body;
  for (int i = 0; i < 20; i++)
    body += "BEGIN:VEVENT\r\nUID:u" + std::to_string(i) + "\r\nSUMMARY:E" + std::to_string(i) +
            "\r\nDTSTART:20310401T080000Z\r\nEND:VEVENT\r\n";
  h.write("many.ics", "BEGIN:VCALENDAR\r\n" + body + "END:VCALENDAR\r\n");
  CliResult r = h.run({"import", "ics", h.path("many.ics"), work});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.line(0), "20");
  EXPECT_EQ(items().size(), 21u);
  ASSERT_EQ(h.run({"undo", "0"}).status, 0);
  EXPECT_EQ(titles("tag:" + work), std::vector<std::string>{"Before"});
  ASSERT_EQ(h.run({"redo", "0"}).status, 0);
  EXPECT_EQ(items().size(), 21u);
}

TEST_F(Cli, RepositoriesExportAndMasterPasswordChange) {
  CliResult r = h.run({"repo-add", "Archive"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.line(0), "1");
  EXPECT_EQ(h.run({"repos"}).lines().size(), 2u);
  h.set_env("ORDIKA_EXPORT_PASSWORD", "Export123pw");
  // A repository file hands over a server repository; a local one has none.
  CliResult local = h.run({"repo-export", "1", h.path("archive.repo")});
  EXPECT_EQ(local.status, 1);
  EXPECT_NE(local.err.find("not on a server"), std::string::npos);
  EXPECT_FALSE(CliHome::slurp(h.path("archive.repo")).size());

  std::string note = add({"note", work, "--title", "Kept"});
  h.set_env("ORDIKA_NEW_PASSWORD", "Changed456pw");
  ASSERT_EQ(h.run({"passwd"}).status, 0);
  EXPECT_EQ(h.run({"items"}).status, 1);  // the old password no longer opens it
  h.set_env("ORDIKA_PASSWORD", "Changed456pw");
  EXPECT_EQ(items()[note][4], "Kept");
  EXPECT_EQ(h.run({"repos"}).lines().size(), 2u);
}

TEST_F(Cli, PasswordsFromStandardInput) {
  h.unset_env("ORDIKA_PASSWORD");
  CliResult r = h.run({"items"}, "Master123pw\n");
  EXPECT_EQ(r.status, 0) << r.err;
  r = h.run({"items"}, "nope\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("wrong master password"), std::string::npos);
  h.unset_env("ORDIKA_NEW_PASSWORD");
  r = h.run({"passwd"}, "Master123pw\nFresh789pwX\nFresh789pwY\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("differ"), std::string::npos);
}

TEST_F(Cli, ErrorsAreClearAndLoseNothing) {
  std::string task = add({"task", work, "--title", "Safe", "--due", "2031-05-05 10:00"});
  std::string undated = add({"task", work, "--title", "Loose", "--due", ""});
  auto before = items();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"show", "00000000000000000000000000000000"}, 1, "no item"},
      {{"edit", "zz"}, 1, "no item"},
      {{"add", "task", work, "--title", "x", "--due", "2031-02-31 10:00"}, 1, "bad time"},
      {{"add", "task", work, "--title", "x", "--due", "tomorrow"}, 1, "bad time"},
      {{"add", "task", work}, 1, "--title"},
      {{"add", "gadget", work, "--title", "x"}, 2, "unknown item type"},
      {{"add", "note", "ffffffffffffffffffffffffffffffff", "--title", "x"}, 1, "no tag"},
      {{"add", "note", work, "--title", "x", "--body-file", "/nonexistent/file"}, 1, "cannot read"},
      {{"edit", task, "--remind", "5x"}, 1, "bad reminder"},
      {{"edit", task, "--rrule", "FREQ=DAILY;"}, 1, "bad recurrence"},
      {{"edit", undated, "--remind", "1h"}, 1, "a reminder needs a due time"},
      {{"add", "task", work, "--title", "x", "--due", "", "--remind", "1h"}, 1, "a reminder needs a due time"},
      {{"add", "event", work, "--title", "x", "--due", ""}, 1, "an event with an end needs a start"},
      {{"import", "ics", "/nonexistent.ics", work}, 1, "cannot read"},
      {{"import", "note", "/nonexistent.txt", work}, 1, "cannot read"},
      {{"export", "notes", work, "/nonexistent/dir"}, 1, "not a folder"},
      {{"link", task, "00000000000000000000000000000001"}, 1, "no tag"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"undo"}, 2, "undo"},
  };
  for (auto& c : cases) {
    CliResult r = h.run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args[0] << ": " << r.err;
  }
  EXPECT_EQ(items(), before);
  CliResult missing = h.run({"--profile", "Other", "items"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("not found"), std::string::npos);
  h.set_env("ORDIKA_PASSWORD", "Wrong123pw");
  CliResult wrong = h.run({"items"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("wrong master password"), std::string::npos);
  EXPECT_EQ(wrong.out, "");
}

TEST(CliHelp, EveryCommandHasHelp) {
  CliHome h;
  CliResult r = h.run({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* cmd : {"init", "repos", "repo-add", "repo-export", "tags", "tag-add", "tag-rm", "items", "show",
                          "add", "edit", "done", "trash", "rm", "link", "unlink", "history", "import", "export",
                          "undo", "redo", "passwd"}) {
    EXPECT_NE(r.out.find(cmd), std::string::npos) << cmd;
    CliResult one = h.run({"help", cmd});
    EXPECT_EQ(one.status, 0) << cmd;
    EXPECT_NE(one.out.find(std::string("ordika-cli ") + cmd), std::string::npos) << cmd;
  }
  EXPECT_EQ(h.run({}).status, 2);
}

// A birthday imported with its birth year as start: `show` gives the same
// occurrence as the list, whatever view the saved selection left.
TEST_F(Cli, ShowGivesTheOccurrenceTheListShows) {
  std::string birthday = add({"event", work, "--title", "Ann", "--due", "1972-10-30 00:00", "--end",
                              "1972-10-30 23:59", "--rrule", "FREQ=YEARLY"});
  std::string listed = items()[birthday][3];
  ASSERT_EQ(listed.size(), 16u);
  EXPECT_NE(listed.substr(0, 4), "1972");
  EXPECT_EQ(listed.substr(4), "-10-30 00:00");
  for (const char* view : {"all", "reminders", "trash"}) {
    ASSERT_EQ(h.run({"items", view}).status, 0);  // leaves the view selected
    CliResult show = h.run({"show", birthday});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find(listed), std::string::npos) << view << "\n" << show.out;
    EXPECT_EQ(show.out.find("1972-10-30"), std::string::npos) << view << "\n" << show.out;
  }
}

}  // namespace
