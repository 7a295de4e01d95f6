// SPDX-License-Identifier: GPL-3.0-or-later
// Accounts as JSON and notes as text files: export layout, import with its
// log lines, safe note file names, never overwriting, and save-as.
#include <sys/stat.h>

#include <filesystem>

#include "interchange_fixture.h"

namespace {

namespace fs = std::filesystem;

class AccountsNotesTest : public InterchangeTest {
 protected:
  int64_t key(const char* title, const KeyBody& k) {
    ItemForm f;
    f.title = title;
    f.body = key_body_format(k);
    f.markup = 1;
    return item_store(-1, ITEM_KEY, f, 0, model().view);
  }
  int64_t note(const std::string& title, const std::string& body) {
    ItemForm f;
    f.title = title;
    f.body = body;
    return item_store(-1, ITEM_NOTE, f, 0, model().view);
  }
};

TEST_F(AccountsNotesTest, AccountsExportLayout) {
  std::string path = dir.file("keys.json");
  ASSERT_EQ(export_accounts(path.c_str(), 0, -1), 0);
  EXPECT_EQ(read(path), "[\r\n]\r\n");

  KeyBody a;
  a.url = "https://bank.example";
  a.user = "me";
  a.password = "p\"w\\d";
  a.date = lt(2030, 1, 15, 12);
  a.notes = "PIN\tbelow";
  ASSERT_GE(key("Bank", a), 0);
  KeyBody b;
  b.password = "x";
  ASSERT_GE(key("Mail", b), 0);
  ASSERT_EQ(export_accounts(path.c_str(), 0, -1), 2);
  std::string text = read(path);
  EXPECT_EQ(text,
            "[\r\n\t{\r\n\t\t\"group\": \"General\",\r\n\t\t\"title\": \"Bank\",\r\n\t\t\"username\": \"me\","
            "\r\n\t\t\"password\": \"p\\\"w\\\\d\",\r\n\t\t\"url\": \"https://bank.example\",\r\n\t\t\"notes\": "
            "\"PIN\\tbelow\",\r\n\t\t\"expires\": 20300115\r\n\t},"
            "\r\n\t{\r\n\t\t\"group\": \"General\",\r\n\t\t\"title\": \"Mail\",\r\n\t\t\"username\": \"\","
            "\r\n\t\t\"password\": \"x\",\r\n\t\t\"url\": \"\",\r\n\t\t\"notes\": \"\"\r\n\t}\r\n]\r\n");

  // Back into the second repository.
  model().view = static_cast<int32_t>(g_repos[1].root);
  EXPECT_EQ(key_import(path.c_str(), model().view), 2);
  int64_t c = -1;
  int seen = 0;
  while (Item* item = slot_next<Item>(model().items, &c)) {
    if (item->repo != 1 || item->title != "Bank") continue;
    seen++;
    KeyBody k;
    std::string body = item_body_load(item);
    key_body_parse(body.c_str(), &k);
    EXPECT_EQ(k.url, a.url);
    EXPECT_EQ(k.user, a.user);
    EXPECT_EQ(k.password, a.password);
    EXPECT_EQ(k.notes, a.notes);
    EXPECT_EQ(k.date, lt(2030, 1, 15));  // the file keeps the date only
    EXPECT_EQ(item->due, lt(2030, 1, 15));
    EXPECT_EQ(item->remind_offset, 3 * 86400);
    EXPECT_EQ(item->markup, 1);
  }
  EXPECT_EQ(seen, 1);
}

TEST_F(AccountsNotesTest, AccountsImportStopsAtAnUnknownKeyAndLogs) {
  std::string json =
      "[{\"title\":\"A\",\"username\":\"u\",\"password\":\"p\",\"expires\":\"2030-01-15\"},"
      "{\"title\":\"B\",\"expires\":20300115},"
      "{\"bogus\":1},{\"title\":\"C\"}]";
  int n = -2;
  std::string log = logged([&] { n = key_import(write("k.json", json).c_str(), model().view); });
  EXPECT_EQ(n, 2);
  EXPECT_NE(log.find("key_import: JSON parsing error"), std::string::npos) << log;
  EXPECT_NE(log.find("key_import: 2 keys imported"), std::string::npos) << log;
  ASSERT_TRUE(titled("A"));
  ASSERT_TRUE(titled("B"));
  EXPECT_FALSE(titled("C"));
  EXPECT_EQ(titled("B")->due, lt(2030, 1, 15));

  log = logged([&] { n = key_import(write("bad.json", "[{\"title\":\"\xFF\"}]").c_str(), model().view); });
  EXPECT_EQ(n, -1);
  EXPECT_NE(log.find("key_import: invalid UTF-8"), std::string::npos) << log;
  EXPECT_NE(log.find("key_import: 0 keys imported"), std::string::npos) << log;  // logged in every case

  // No title: nothing; a compact entry ending in a number is taken.
  EXPECT_EQ(key_import(write("c.json", "{\"url\":\"x\"}{\"title\":\"D\",\"expires\":1893456000}").c_str(), model().view), 1);
  ASSERT_TRUE(titled("D"));
  EXPECT_EQ(titled("D")->due, 1893456000);
  EXPECT_EQ(key_import(dir.file("none.json").c_str(), model().view), -1);

  // A line break inside the password must not shift the fields after it.
  EXPECT_EQ(key_import(write("lf.json", "{\"title\":\"E\",\"password\":\"pw\\n\",\"url\":\"u\",\"notes\":\"n1\\nn2\",\"expires\":\"20300115\"}").c_str(), model().view), 1);
  ASSERT_TRUE(titled("E"));
  KeyBody k;
  std::string body = item_body_load(titled("E"));
  key_body_parse(body.c_str(), &k);
  EXPECT_EQ(k.password, "pw");
  EXPECT_EQ(k.url, "u");
  EXPECT_EQ(k.date, lt(2030, 1, 15));
  EXPECT_EQ(k.notes, "n1\nn2");
}

TEST_F(AccountsNotesTest, NotesExportKeepsInsideTheFolderAndNeverOverwrites) {
  fs::create_directory(dir.file("out"));
  std::string out = dir.file("out");
  ASSERT_GE(note("Same", "first"), 0);
  ASSERT_GE(note("Same", "second"), 0);
  ASSERT_GE(note("../../escape", "e"), 0);
  ASSERT_GE(note("a/b", "ab"), 0);
  ASSERT_GE(note("", "empty title"), 0);
  ASSERT_GE(note("..", "dots"), 0);
  ASSERT_GE(note("tab\there\x01", "ctl"), 0);
  ASSERT_GE(note(std::string(300, 'x') + "\xC3\xA9", "long"), 0);
  // A file of a note's name already there stays as it was.
  write("out/Existing", "precious");
  ASSERT_GE(note("Existing", "new"), 0);

  EXPECT_EQ(export_notes(out.c_str(), 0, -1), 9);
  std::map<std::string, std::string> files;
  for (auto& e : fs::recursive_directory_iterator(dir.path())) {
    if (!e.is_regular_file()) continue;
    std::string rel = fs::relative(e.path(), dir.path()).string();
    if (rel.rfind("out/", 0) == 0) files[rel.substr(4)] = read(e.path().string());
    else EXPECT_TRUE(rel.rfind("data", 0) == 0) << "written outside the folder: " << rel;
  }
  EXPECT_EQ(files.size(), 10u);
  EXPECT_EQ(files["Same"], "first");
  EXPECT_EQ(files["Same (1)"], "second");
  EXPECT_EQ(files["_._.._escape"], "e");
  EXPECT_EQ(files["a_b"], "ab");
  EXPECT_EQ(files["Note"], "empty title");
  EXPECT_EQ(files["_."], "dots");
  EXPECT_EQ(files["tab_here_"], "ctl");
  EXPECT_EQ(files[std::string(200, 'x')], "long");
  EXPECT_EQ(files["Existing"], "precious");
  EXPECT_EQ(files["Existing (1)"], "new");

  // One note under a name of the caller's choosing.
  int64_t s = note("Single", "one");
  ASSERT_GE(s, 0);
  EXPECT_EQ(export_notes(out.c_str(), 0, s, "Chosen"), 1);
  EXPECT_EQ(read(out + "/Chosen"), "one");
  EXPECT_EQ(export_notes((dir.path() + "/missing").c_str(), 0, -1), 0);
}

TEST_F(AccountsNotesTest, NoteFileNames) {
  EXPECT_EQ(note_file_name("Shopping list"), "Shopping list");
  EXPECT_EQ(note_file_name(""), "Note");
  EXPECT_EQ(note_file_name("   "), "Note");
  EXPECT_EQ(note_file_name("."), "_");
  EXPECT_EQ(note_file_name("/etc/passwd"), "_etc_passwd");
  EXPECT_EQ(note_file_name("a\\b"), "a_b");
  // A cut never splits a character.
  std::string cut = note_file_name(std::string(199, 'a') + "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(cut, std::string(199, 'a'));
}

TEST_F(AccountsNotesTest, ImportNote) {
  std::string text = "line one\r\nline two\n\xC3\xA9";
  std::string path = write("bom.txt", "\xEF\xBB\xBF" + text);
  EXPECT_EQ(import_note(path.c_str(), model().view), 1);
  Item* n = titled(path);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->type, ITEM_NOTE);
  EXPECT_EQ(n->markup, 0);
  EXPECT_EQ(n->due, 0);
  EXPECT_EQ(item_body_load(n), "line one\nline two\n\xC3\xA9");

  std::string empty = write("empty.txt", "");
  EXPECT_EQ(import_note(empty.c_str(), model().view), 1);
  ASSERT_TRUE(titled(empty));
  EXPECT_EQ(item_body_load(titled(empty)), "");

  EXPECT_EQ(import_note(dir.file("missing.txt").c_str(), model().view), -1);
  EXPECT_EQ(import_note(write("latin1.txt", "caf\xE9").c_str(), model().view), 0);
  EXPECT_EQ(import_note(write("bin.dat", std::string("a\0b", 3)).c_str(), model().view), 0);
  EXPECT_EQ(items_of(ITEM_NOTE).size(), 2u);
}

TEST_F(AccountsNotesTest, SaveItemAs) {
  ItemForm ev;
  ev.title = "Event";
  ev.due = lt(2030, 1, 1, 9);
  int64_t es = item_store(-1, ITEM_EVENT, ev, 0, model().view);
  ASSERT_EQ(import_vcf("BEGIN:VCARD\nVERSION:3.0\nFN:Card\nEND:VCARD\n"), 1);
  int64_t cs = item_find(titled("Card")->uuid);
  KeyBody k;
  k.password = "secret";
  int64_t ks = key("Key", k);
  int64_t ns = note("Note", "body\ntext");

  std::string p = dir.file("saved");
  ASSERT_EQ(save_item_as(p.c_str(), es), 0);
  EXPECT_NE(read(p).find("BEGIN:VEVENT\r\n"), std::string::npos);
  ASSERT_EQ(save_item_as(p.c_str(), cs), 0);
  EXPECT_EQ(read(p).rfind("BEGIN:VCARD\r\nVERSION:3.0\r\n", 0), 0u);
  ASSERT_EQ(save_item_as(p.c_str(), ks), 0);
  EXPECT_EQ(read(p), key_body_format(k));
  ASSERT_EQ(save_item_as(p.c_str(), ns), 0);
  EXPECT_EQ(read(p), "body\ntext");
  EXPECT_EQ(save_item_as((dir.path() + "/no/dir").c_str(), ns), -1);
  EXPECT_EQ(save_item_as(p.c_str(), -1), -1);
}

}  // namespace
