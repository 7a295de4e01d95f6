// SPDX-License-Identifier: GPL-3.0-or-later
// Export followed by import gives back identical items, for every kind of
// file and every control character and escape a text may hold.
#include <filesystem>
#include <functional>

#include "common/file_calls.h"

#include "interchange_fixture.h"

namespace {

class RoundTripTest : public InterchangeTest {
 protected:
  // Every control character a stored text can hold (not NUL, which ends
  // it; CR only before LF, as the editors store line ends) and every
  // character the formats escape, next to the escape sequences themselves.
  static std::string every_control() {
    std::string s = "start";
    for (int c = 1; c < 0x20; c++) {
      if (c == '\r') continue;
      s += static_cast<char>(c);
      s += 'x';
    }
    s += "\x7F;,:\\\"\\n\\t\\r\\,\\;\\\\ \"quoted\" tab\tend\t";
    return s;
  }
  // A title keeps to one line.
  static std::string one_line() { return "Title\twith\ttabs, ; : \\ \\n \\t \"q\" \x01\x1F\x7F"; }

  int64_t target() { return tag_create(1, g_repos[1].root, "back"); }
};

TEST_F(RoundTripTest, CalendarKeepsTitlesAndBodies) {
  ItemForm f;
  f.title = one_line();
  f.body = every_control();
  f.due = lt(2030, 5, 6, 7, 8);
  int64_t task = item_store(-1, ITEM_TASK, f, 0, model().view);
  ASSERT_GE(task, 0);
  f.end = f.due + 3600;
  f.body += "\nmore";
  int64_t event = item_store(-1, ITEM_EVENT, f, 0, model().view);
  ASSERT_GE(event, 0);
  std::string path = dir.file("all.ics");
  ASSERT_EQ(export_calendar(path.c_str(), 0, -1), 2);
  int64_t t = target();
  ASSERT_EQ(import_calendar(path.c_str(), t), 2);
  for (int32_t s : linked_items(static_cast<int32_t>(t))) {
    const Item* back = item_get(s);
    const Item* orig = item_get(back->type == ITEM_TASK ? task : event);
    EXPECT_EQ(back->title, orig->title);
    EXPECT_EQ(item_body_load(back), item_body_load(orig));
  }
}

TEST_F(RoundTripTest, ContactsKeepEveryField) {
  std::string note = vcard_escape(every_control().c_str());
  std::string card = "BEGIN:VCARD\nVERSION:3.0\nN:Fam\\;ily;Gi\\,ven\nFN:" + vcard_escape(one_line().c_str()) +
                     "\nURL:http://example.org/a\\,b\nTEL;TYPE=CELL:+49\\;1\nEMAIL;TYPE=INTERNET:a@b.c\n"
                     "ADR;TYPE=HOME:;;Street\\t1\\nBack;Town\\, North;;123;Land;DE\nNOTE:" +
                     note + "\nEND:VCARD\n";
  VCardRecord rec;
  ASSERT_EQ(vcard_parse(card.data(), card.size(), &rec), 0);
  std::string stored = vcard_compose_full(rec);
  int64_t slot = vcard_store(-1, rec, stored, model().view);
  ASSERT_GE(slot, 0);
  std::string path = dir.file("all.vcf");
  ASSERT_EQ(export_contacts(path.c_str(), 0, -1), 1);
  int64_t t = target();
  ASSERT_EQ(import_contacts(path.c_str(), t), 1);
  std::vector<int32_t> back = linked_items(static_cast<int32_t>(t));
  ASSERT_EQ(back.size(), 1u);
  const Item* item = item_get(back[0]);
  EXPECT_EQ(item->title, item_get(slot)->title);
  std::string text = item_body_load(item);
  VCardRecord again;
  ASSERT_EQ(vcard_parse(text.data(), text.size(), &again), 0);
  EXPECT_EQ(vcard_unescape(again.note), every_control());
  EXPECT_EQ(vcard_formatted_name(again), one_line());
  EXPECT_EQ(vcard_family_name(again), "Fam;ily");
  EXPECT_EQ(vcard_given_name(again), "Gi,ven");
  EXPECT_EQ(vcard_url(again), "http://example.org/a,b");
  ASSERT_FALSE(again.addresses.empty());
  EXPECT_EQ(vcard_address_text(again.addresses[0]), "Street\t1\nBack, 123, Town, North, Land");
  for (int i = 0; i < 8; i++) EXPECT_EQ(vcard_unescape(again.addresses[0].part[i]), vcard_unescape(rec.addresses[0].part[i]));
  ASSERT_EQ(again.phones.size(), 1u);
  EXPECT_EQ(vcard_unescape(again.phones[0].value), "+49;1");
  EXPECT_EQ(again.phones[0].flags, rec.phones[0].flags);
}

TEST_F(RoundTripTest, TabEscapesOfOtherProgramsReadAsTabs) {
  // A second export and import changes nothing more.
  std::string card =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Tab Person\r\nNOTE:Column\\tvalue\\nnext\\tline\r\nEND:VCARD\r\n";
  ASSERT_EQ(import_vcf(card), 1);
  const Item* first = only(ITEM_VCARD);
  ASSERT_NE(first, nullptr);
  std::string body = item_body_load(first);
  VCardRecord rec;
  ASSERT_EQ(vcard_parse(body.data(), body.size(), &rec), 0);
  EXPECT_EQ(vcard_unescape(rec.note), "Column\tvalue\nnext\tline");
  // Export and import twice over: the text stays the same.
  int64_t from = -1;
  for (const Item* item = first; item;) {
    int64_t slot = item_find(item->uuid);
    std::string path = dir.file("again.vcf");
    ASSERT_EQ(export_contacts(path.c_str(), 0, slot), 1);
    int64_t t = tag_create(1, g_repos[1].root, "round");
    ASSERT_EQ(import_contacts(path.c_str(), t), 1);
    std::vector<int32_t> back = linked_items(static_cast<int32_t>(t));
    ASSERT_EQ(back.size(), 1u);
    std::string text = item_body_load(item_get(back[0]));
    VCardRecord again;
    ASSERT_EQ(vcard_parse(text.data(), text.size(), &again), 0);
    EXPECT_EQ(vcard_unescape(again.note), "Column\tvalue\nnext\tline");
    EXPECT_EQ(item_get(back[0])->title, "Tab Person");
    if (from >= 0) break;
    from = back[0];
    item = item_get(back[0]);
  }
}

// Every path that writes an export file: calendar, contacts and accounts,
// and a note saved as a file of its own; each is given one item to write.
struct ExportCase {
  const char* name;
  std::function<int(const char*)> run;
};

std::vector<ExportCase> export_cases() {
  auto slot_titled = [](const char* title) {
    int64_t c = -1;
    while (Item* item = slot_next<Item>(model().items, &c))
      if (item->title == title) return c;
    return int64_t(-1);
  };
  return {
      {"out.ics", [](const char* p) { return export_calendar(p, 0, -1); }},
      {"out.vcf", [](const char* p) { return export_contacts(p, 0, -1); }},
      {"out.json", [](const char* p) { return export_accounts(p, 0, -1); }},
      {"out.txt", [slot_titled](const char* p) { return save_item_as(p, slot_titled("idea")) == 0 ? 1 : -1; }},
  };
}

class ExportFileTest : public RoundTripTest {
 protected:
  void SetUp() override {
    RoundTripTest::SetUp();
    ItemForm f;
    f.title = "call";
    f.due = lt(2030, 5, 6, 7, 8);
    ASSERT_GE(item_store(-1, ITEM_TASK, f, 0, model().view), 0);
    ASSERT_EQ(1, import_vcf("BEGIN:VCARD\nVERSION:3.0\nN:Berg;Ola\nFN:Ola Berg\nEND:VCARD\n"));
    ItemForm k;
    k.title = "bank";
    k.body = key_body_format({"https://bank.example", "me", "pw", 0, ""});
    k.markup = 1;
    ASSERT_GE(item_store(-1, ITEM_KEY, k, 0, model().view), 0);
    ItemForm n;
    n.title = "idea";
    n.body = "a note of its own";
    ASSERT_GE(item_store(-1, ITEM_NOTE, n, 0, model().view), 0);
    // A folder of its own, so that the log the test reads is not watched.
    folder = std::filesystem::canonical(dir.path()).string() + "/out";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
  }
  std::string earlier(const char* name) {
    std::string path = folder + "/" + name;
    std::ofstream(path, std::ios::binary) << "earlier export";
    return path;
  }
  std::string folder;
};

// An export over an earlier file puts the new one in its place only once it
// is on the disk, and makes the rename itself durable.
TEST_F(ExportFileTest, ExportsReplaceAnEarlierFileDurably) {
  for (const ExportCase& c : export_cases()) {
    std::string path = earlier(c.name);
    file_calls::watch(folder);
    EXPECT_EQ(1, c.run(path.c_str())) << c.name;
    EXPECT_EQ("", file_calls::replace_fault(file_calls::stop(), path, folder)) << c.name;
    EXPECT_NE("earlier export", read(path)) << c.name;
  }
}

// The folder's sync after the rename failing: the new file may not survive
// a power loss, so the export says it failed and the log says where.
TEST_F(ExportFileTest, AFolderSyncThatFailsFailsTheExport) {
  for (const ExportCase& c : export_cases()) {
    std::string path = earlier(c.name);
    int rc = 0;
    std::vector<file_calls::Event> ev;
    std::string log = logged([&] {
      file_calls::watch(folder);
      file_calls::fail_at(2, EIO, false, "fsync");  // the first is the file's own
      rc = c.run(path.c_str());
      ev = file_calls::stop();
    });
    EXPECT_EQ(-1, rc) << c.name;
    EXPECT_GE(file_calls::find(ev, "fsync!failed", folder), 0) << c.name << "\n" << file_calls::describe(ev);
    EXPECT_NE(log.find("write_file_all: cannot sync the folder"), std::string::npos) << c.name << "\n" << log;
  }
}

}  // namespace
