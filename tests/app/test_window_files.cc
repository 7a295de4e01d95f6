// SPDX-License-Identifier: GPL-3.0-or-later
// The file commands run through the command table on a real window, with the
// file choosers answered through their hook: imports of real calendars and
// address books land in the selected tag as one undo step, exports are
// private files that import back to the same items, malformed files store
// nothing and say so, and a cancelled import leaves nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "app/file_commands.h"
#include "app/sliced_job.h"
#include "dialogs/file_chooser.h"
#include "interchange/interchange.h"
#include "model/ops.h"
#include "model/tag.h"
#include "storage/journal.h"
#include "support/files.h"
#include "support/log.h"
#include "support/string_ids.h"
#include "window_fixture.h"

namespace {

const std::string kCorpora = ORDIKA_SOURCE_DIR "/tests/data/corpora";

// Answers every message box that comes on top and keeps its text; progress
// dialogs are left to run (or cancelled once `cancel_when` holds).
struct Dialogs {
  std::vector<std::string> messages;
  std::vector<StrId> chooser_titles;
  std::function<bool()> cancel_when;
  std::string password;  // typed into a password prompt
  int prompts = 0;
  bool cancel_sent = false;
  guint source = 0;

  Dialogs() { source = g_timeout_add(5, tick, this); }
  ~Dialogs() {
    g_source_remove(source);
    set_chooser_hook(nullptr);
  }
  Dialogs(const Dialogs&) = delete;
  Dialogs& operator=(const Dialogs&) = delete;

  // The chooser returns these paths (nothing: cancelled).
  void choose(std::vector<std::string> paths) {
    set_chooser_hook([this, paths](const ChooserRequest& r) {
      chooser_titles.push_back(r.title_id);
      return paths;
    });
  }

  static gboolean tick(gpointer p) {
    auto* d = static_cast<Dialogs*>(p);
    GtkWindow* w = top_window();
    if (!w || !GTK_IS_DIALOG(w) || !gtk_widget_get_mapped(GTK_WIDGET(w))) return G_SOURCE_CONTINUE;
    if (GTK_IS_MESSAGE_DIALOG(w)) {
      gchar* text = nullptr;
      g_object_get(w, "text", &text, nullptr);
      d->messages.push_back(text ? text : "");
      g_free(text);
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    } else if (find_widget<GtkProgressBar>(GTK_WIDGET(w), GTK_TYPE_PROGRESS_BAR)) {
      if (d->cancel_when && !d->cancel_sent && d->cancel_when()) {
        d->cancel_sent = true;
        gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
      }
    } else if (GtkEntry* e = find_widget<GtkEntry>(GTK_WIDGET(w), GTK_TYPE_ENTRY)) {
      d->prompts++;
      gtk_entry_set_text(e, d->password.c_str());
      gtk_dialog_response(GTK_DIALOG(w), d->password.empty() ? GTK_RESPONSE_CANCEL : GTK_RESPONSE_OK);
    }
    return G_SOURCE_CONTINUE;
  }
};

int count_type(int type) {
  int n = 0;
  int64_t c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->type == type) n++;
  return n;
}

int count_linked(int64_t tag, int type) {
  int n = 0;
  int64_t c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->type == type && tag_link_exists(static_cast<int32_t>(tag), static_cast<int32_t>(c))) n++;
  return n;
}

int64_t find_titled(const std::string& title) {
  int64_t c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->title == title) return c;
  return -1;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

int mode_of(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return st.st_mode & 0777;
}

std::string big_calendar(int events) {
  std::string s = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n";
  for (int i = 0; i < events; i++) {
    s += "BEGIN:VEVENT\r\nUID:bulk-" + std::to_string(i) + "@example.org\r\nDTSTART:20300101T100000Z\r\n";
    s += "SUMMARY:Bulk event " + std::to_string(i) + "\r\nDESCRIPTION:" + std::string(200, 'x') + "\r\nEND:VEVENT\r\n";
  }
  return s + "END:VCALENDAR\r\n";
}

class FileCommands : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    app_core().config_dir = dir.file("profile");
    ::mkdir(app_core().config_dir.c_str(), 0700);
    app_core().home = dir.path();
  }
};

TEST_F(FileCommands, RealCalendarAndAddressBookImportIntoTheTagAsOneUndoStepEach) {
  select(static_cast<int>(work));
  ASSERT_TRUE(sensitive(CMD_IMPORT_CALENDAR));
  Dialogs d;
  const std::string ics = kCorpora + "/ics/icalendar-example.ics";
  const std::string vcf = kCorpora + "/vcf/ezvcard-John_Doe_IPHONE.vcf";
  auto before = dump();
  int events_before = count_type(ITEM_EVENT) + count_type(ITEM_TASK);

  d.choose({ics});
  ASSERT_EQ(0, command_run(&w, CMD_IMPORT_CALENDAR));
  pump();
  EXPECT_EQ((std::vector<StrId>{STR_IMPORT_CALENDAR}), d.chooser_titles);
  EXPECT_TRUE(d.messages.empty()) << d.messages.front();
  int imported = count_type(ITEM_EVENT) + count_type(ITEM_TASK) - events_before;
  EXPECT_GT(imported, 0);
  EXPECT_EQ(imported, count_linked(work, ITEM_EVENT) + count_linked(work, ITEM_TASK));
  EXPECT_EQ(0, count_linked(home, ITEM_EVENT) + count_linked(home, ITEM_TASK));
  EXPECT_EQ(std::to_string(imported) + " items imported.", status_text());
  auto after_calendar = dump();

  d.choose({vcf});
  ASSERT_EQ(0, command_run(&w, CMD_IMPORT_CONTACTS));
  pump();
  EXPECT_EQ(1, count_linked(work, ITEM_VCARD));
  EXPECT_TRUE(d.messages.empty());

  // Each import is exactly one step of the journal.
  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(after_calendar, dump());
  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(before, dump());
}

TEST_F(FileCommands, ExportsArePrivateFilesThatImportBackToTheSameItems) {
  int64_t ev = add(work, ITEM_EVENT, "Dentist", "room 4, floor 2", 1900000000);
  add(work, ITEM_TASK, "Taxes", "", 1900086400);
  add(work, ITEM_VCARD, "Ann", "BEGIN:VCARD\nVERSION:3.0\nN:Lee;Ann\nFN:Ann Lee\nTEL;TYPE=HOME:123\nEND:VCARD\n");
  KeyBody kb;
  kb.url = "https://bank.example";
  kb.user = "ann";
  kb.password = "S3cret!";
  kb.notes = "my notes";
  ItemForm key;
  key.title = "Bank";
  key.body = key_body_format(kb);
  key.markup = 1;
  model().view = static_cast<int32_t>(work);
  ASSERT_GE(item_store(-1, ITEM_KEY, key, 0, work), 0);
  select(static_cast<int>(work));
  Dialogs d;
  const std::string ics = dir.file("out.ics"), vcf = dir.file("out.vcf"), json = dir.file("out.json");
  write(ics, "old content");  // replaced whole
  d.choose({ics});
  ASSERT_EQ(0, command_run(&w, CMD_EXPORT_CALENDAR));
  d.choose({vcf});
  ASSERT_EQ(0, command_run(&w, CMD_EXPORT_CONTACTS));
  d.choose({json});
  ASSERT_EQ(0, command_run(&w, CMD_EXPORT_ACCOUNTS));
  pump();
  EXPECT_EQ((std::vector<StrId>{STR_EXPORT_CALENDAR, STR_EXPORT_CONTACTS, STR_EXPORT_KEYS}), d.chooser_titles);
  EXPECT_TRUE(d.messages.empty());
  for (const std::string& f : {ics, vcf, json}) EXPECT_EQ(0600, mode_of(f)) << f;
  EXPECT_EQ(std::string::npos, read_all(ics).find("old content"));
  EXPECT_NE(std::string::npos, read_all(json).find("S3cret!"));

  // Into the other repository, so that the UIDs of ours make new items.
  select(static_cast<int>(g_repos[1].root));
  for (auto [cmd, path] : {std::pair{CMD_IMPORT_CALENDAR, ics}, {CMD_IMPORT_CONTACTS, vcf}, {CMD_IMPORT_ACCOUNTS, json}}) {
    d.choose({path});
    ASSERT_EQ(0, command_run(&w, cmd));
    pump();
  }
  EXPECT_TRUE(d.messages.empty());
  int64_t copy = -1, c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->title == "Dentist" && it->repo == 1) copy = c;
  ASSERT_GE(copy, 0);
  EXPECT_EQ(item_get(ev)->due, item_get(copy)->due);
  EXPECT_EQ("room 4, floor 2", item_body_load(item_get(copy)));
  EXPECT_EQ(2, count_linked(g_repos[1].root, ITEM_EVENT) + count_linked(g_repos[1].root, ITEM_TASK));
  EXPECT_EQ(1, count_linked(g_repos[1].root, ITEM_VCARD));
  EXPECT_EQ(1, count_linked(g_repos[1].root, ITEM_KEY));
  int64_t bank = -1;
  c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->title == "Bank" && it->repo == 1) bank = c;
  ASSERT_GE(bank, 0);
  EXPECT_NE(std::string::npos, item_body_load(item_get(bank)).find("S3cret!"));
}

TEST_F(FileCommands, MalformedFilesStoreNothingAndSaySo) {
  select(static_cast<int>(work));
  Dialogs d;
  auto before = dump();
  int items_before = static_cast<int>(slot_array_count(model().items));

  const std::string junk = dir.file("junk.ics");
  write(junk, "this is not a calendar\n");
  d.choose({junk});
  ASSERT_EQ(0, command_run(&w, CMD_IMPORT_CALENDAR));
  pump();
  ASSERT_EQ(1u, d.messages.size());
  EXPECT_NE(std::string::npos, d.messages[0].find("junk.ics")) << d.messages[0];

  // A good account then a syntax error: all or nothing in the window.
  const std::string json = dir.file("broken.json");
  write(json, "[{\"title\": \"Good\", \"password\": \"pw\"}, {\"title\": \"Bad\" \"oops\": 1}");
  d.choose({json});
  ASSERT_EQ(0, command_run(&w, CMD_IMPORT_ACCOUNTS));
  pump();
  ASSERT_EQ(2u, d.messages.size());
  EXPECT_NE(std::string::npos, d.messages[1].find("broken.json"));
  EXPECT_LT(find_titled("Good"), 0);

  const std::string empty_cards = dir.file("none.vcf");
  write(empty_cards, "BEGIN:VCARD\r\nVERSION:3.0\r\nEND:VCARD\r\n");
  d.choose({empty_cards});
  ASSERT_EQ(0, command_run(&w, CMD_IMPORT_CONTACTS));
  pump();
  EXPECT_EQ(3u, d.messages.size());

  d.choose({dir.file("missing.ics")});
  ASSERT_EQ(0, command_run(&w, CMD_IMPORT_CALENDAR));
  pump();
  ASSERT_EQ(4u, d.messages.size());
  EXPECT_NE(std::string::npos, d.messages[3].find("missing.ics"));

  EXPECT_EQ(items_before, static_cast<int>(slot_array_count(model().items)));
  EXPECT_EQ(before, dump());
}

TEST_F(FileCommands, CancelDuringAnImportLeavesNothing) {
  select(static_cast<int>(work));
  const std::string big = dir.file("big.ics");
  write(big, big_calendar(1500));
  auto before = dump();
  int events_before = count_type(ITEM_EVENT);
  {
    // Cancelled once items are in memory: the slices have begun storing.
    // One item a slice, so that the cancel comes before the end however
    // fast the machine.
    file_commands_set_slice(1);
    Dialogs d;
    d.cancel_when = [&] { return count_type(ITEM_EVENT) > events_before; };
    d.choose({big});
    ASSERT_EQ(0, command_run(&w, CMD_IMPORT_CALENDAR));
    pump();
    EXPECT_TRUE(d.cancel_sent);
    EXPECT_TRUE(d.messages.empty());
    file_commands_set_slice(0);
  }
  EXPECT_EQ(events_before, count_type(ITEM_EVENT));
  EXPECT_EQ(before, dump());

  // Run to its end, the same file is one step of 1500 events.
  Dialogs d;
  d.choose({big});
  ASSERT_EQ(0, command_run(&w, CMD_IMPORT_CALENDAR));
  pump();
  EXPECT_EQ(events_before + 1500, count_type(ITEM_EVENT));

  // A cancelled export writes nothing, not even over an earlier file.
  const std::string out = dir.file("out.ics");
  write(out, "earlier");
  {
    // One item a slice here too: on a loaded machine the whole file could
    // otherwise be built before the cancel is pressed.
    file_commands_set_slice(1);
    Dialogs c;
    c.cancel_when = [] { return true; };
    c.choose({out});
    ASSERT_EQ(0, command_run(&w, CMD_EXPORT_CALENDAR));
    pump();
    EXPECT_TRUE(c.cancel_sent);
    EXPECT_TRUE(c.messages.empty());
    file_commands_set_slice(0);
  }
  EXPECT_EQ("earlier", read_all(out));
  d.choose({out});
  ASSERT_EQ(0, command_run(&w, CMD_EXPORT_CALENDAR));
  pump();
  std::string text = read_all(out);
  EXPECT_NE(std::string::npos, text.find("SUMMARY:Bulk event 1499"));
  EXPECT_EQ(0, text.compare(text.size() - 15, 15, "END:VCALENDAR\r\n"));

  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(before, dump());
}

TEST_F(FileCommands, NotesImportSeveralFilesAsOneStepAndSkipBinaryOnes) {
  select(static_cast<int>(home));
  const std::string a = dir.file("a.txt"), b = dir.file("b.txt"), bin = dir.file("c.bin");
  write(a, std::string("\xEF\xBB\xBF") + "first note");
  write(b, "second note");
  write(bin, std::string("\x7F" "ELF\0\0\1", 7));
  Dialogs d;
  auto before = dump();
  d.choose({a, b, bin});
  ASSERT_EQ(0, command_run(&w, CMD_IMPORT_NOTES));
  pump();
  EXPECT_EQ(2, count_linked(home, ITEM_NOTE));
  int64_t first = find_titled(a);
  ASSERT_GE(first, 0);
  EXPECT_EQ("first note", item_body_load(item_get(first)));
  EXPECT_EQ("Imported: 2, skipped: 1.", status_text());
  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(before, dump());
}

TEST_F(FileCommands, NotesExportAndSaveAsWriteTheItemsFormats) {
  int64_t note = add(work, ITEM_NOTE, "Shopping/list", "milk\neggs");
  int64_t ev = add(work, ITEM_EVENT, "Concert", "", 1900000000);
  select(static_cast<int>(work));
  Dialogs d;
  const std::string out = dir.file("notes");
  ::mkdir(out.c_str(), 0700);
  d.choose({out});
  ASSERT_EQ(0, command_run(&w, CMD_EXPORT_NOTES));
  pump();
  EXPECT_EQ("milk\neggs", read_all(out + "/Shopping_list"));

  select_item(ev);
  const std::string one = dir.file("one.ics");
  d.choose({one});
  ASSERT_EQ(0, command_run(&w, CMD_SAVE_AS));
  pump();
  std::string ics = read_all(one);
  EXPECT_NE(std::string::npos, ics.find("SUMMARY:Concert"));
  EXPECT_EQ(std::string::npos, ics.find("Shopping"));
  EXPECT_EQ(0600, mode_of(one));

  select_item(note);
  const std::string txt = dir.file("note.txt");
  d.choose({txt});
  ASSERT_EQ(0, command_run(&w, CMD_SAVE_AS));
  pump();
  EXPECT_EQ("milk\neggs", read_all(txt));
  EXPECT_EQ((std::vector<StrId>{STR_EXPORT_NOTES, STR_SAVE_AS, STR_SAVE_AS}), d.chooser_titles);
  EXPECT_TRUE(d.messages.empty());

  // Never into the profile folder, where the configuration database lives.
  d.choose({app_core().config_dir + "/config"});
  ASSERT_EQ(0, command_run(&w, CMD_SAVE_AS));
  pump();
  ASSERT_EQ(1u, d.messages.size());
  EXPECT_FALSE(file_exists(app_core().config_dir + "/config"));

  // A cancelled chooser writes nothing and says nothing.
  d.choose({});
  ASSERT_EQ(0, command_run(&w, CMD_EXPORT_CALENDAR));
  pump();
  EXPECT_EQ(1u, d.messages.size());
}

TEST_F(FileCommands, DroppedFilesImportByKindIntoTheTagUnderThem) {
  const std::string ics = kCorpora + "/ics/icalendar-example.ics";
  const std::string note = dir.file("dropped.txt");
  write(note, "from the desktop");
  gchar* uris_c[] = {g_filename_to_uri(ics.c_str(), nullptr, nullptr), g_filename_to_uri(note.c_str(), nullptr, nullptr),
                     g_strdup("https://example.org/x.ics"), nullptr};
  std::vector<std::string> paths = uris_to_paths(uris_c);
  for (gchar* u : uris_c) g_free(u);
  ASSERT_EQ((std::vector<std::string>{ics, note}), paths);

  EXPECT_EQ(IMPORT_CALENDAR, import_kind_of("x.ICS"));
  EXPECT_EQ(IMPORT_CONTACTS, import_kind_of("/a/b.vcf"));
  EXPECT_EQ(IMPORT_ACCOUNTS, import_kind_of("k.json"));
  EXPECT_EQ(IMPORT_NOTES, import_kind_of("readme"));
  EXPECT_EQ(IMPORT_NOTES, import_kind_of(".ics"));

  Dialogs d;
  int n = import_dropped_files(&w, home, paths);
  pump();
  EXPECT_GT(n, 1);
  EXPECT_EQ(1, count_linked(home, ITEM_NOTE));
  EXPECT_EQ(n - 1, count_linked(home, ITEM_EVENT) + count_linked(home, ITEM_TASK));
  EXPECT_EQ(-1, import_dropped_files(&w, VIEW_TRASH, paths)) << "a fixed row takes no files";
  EXPECT_TRUE(d.messages.empty());
}

TEST_F(FileCommands, UserGuideIsFoundByLanguageThenEnglish) {
  const std::string a = dir.file("guide_a"), b = dir.file("guide_b");
  for (const std::string& p : {a, a + "/fr", b, b + "/en", b + "/de"}) ::mkdir(p.c_str(), 0700);
  write(b + "/en/index.html", "en");
  write(b + "/de/index.html", "de");
  EXPECT_EQ(b + "/de/index.html", user_guide_find({a, b}, "de"));
  EXPECT_EQ(b + "/en/index.html", user_guide_find({a, b}, "fr")) << "an empty folder is no guide";
  write(a + "/fr/index.html", "fr");
  EXPECT_EQ(a + "/fr/index.html", user_guide_find({a, b}, "fr"));
  EXPECT_EQ("", user_guide_find({dir.file("nowhere")}, "en"));

  // The installed guide first, the source tree's after it.
  std::vector<std::string> roots = user_guide_roots();
  ASSERT_EQ(2u, roots.size());
  EXPECT_EQ("/doc/ordika/guide", roots[0].substr(roots[0].size() - 17));
  EXPECT_EQ(ORDIKA_SOURCE_DIR "/docs/guide", roots[1]);
  // Every language of the window finds the shipped guide in its own language.
  for (const char* lang : {"en", "fr", "es", "de", "ru"})
    EXPECT_EQ(ORDIKA_SOURCE_DIR "/docs/guide/" + std::string(lang) + "/index.html", user_guide_find({roots[1]}, lang));
}

TEST_F(FileCommands, RepositoryExportAsksForAPasswordAndWritesAPrivateFile) {
  signed_in_account().id = 11;
  signed_in_account().host = "me.example";
  signed_in_account().user = "me";
  app_core().has_account = true;
  repo_table()[0].server_id = "srv-own";
  repo_table()[0].account_id = 11;
  repo_set_password(&repo_table()[0], "Repo-Password-123");
  select(static_cast<int>(g_repos[0].root));
  ASSERT_TRUE(command_enabled(CMD_EXPORT_REPO, command_state(w)));
  select(static_cast<int>(work));
  EXPECT_FALSE(command_enabled(CMD_EXPORT_REPO, command_state(w))) << "only on the repository's row";
  select(static_cast<int>(g_repos[0].root));

  const std::string file = dir.file("own.repo");
  Dialogs d;
  d.choose({file});  // the prompt is cancelled: nothing written
  ASSERT_EQ(0, command_run(&w, CMD_EXPORT_REPO));
  pump();
  EXPECT_EQ(1, d.prompts);
  EXPECT_FALSE(file_exists(file));

  d.password = "Export-Pass-123";
  ASSERT_EQ(0, command_run(&w, CMD_EXPORT_REPO));
  pump();
  EXPECT_EQ((std::vector<StrId>{STR_EXPORT_REPOSITORY, STR_EXPORT_REPOSITORY}), d.chooser_titles);
  EXPECT_TRUE(d.messages.empty());
  EXPECT_EQ(0600, mode_of(file));
  RepoRecord rec;
  ASSERT_EQ(0, parse_repo_import("Export-Pass-123", file.c_str(), &rec));
  EXPECT_EQ("srv-own", rec.server_id);
  EXPECT_EQ("Repo-Password-123", rec.password);

  // Refused by the layer below: STR_MSG_EXPORT_REPO_FAILED, the earlier file stays.
  repo_table()[0].account_id = 0;
  ASSERT_EQ(0, command_run(&w, CMD_EXPORT_REPO));
  pump();
  EXPECT_EQ(1u, d.messages.size());
  EXPECT_EQ(0, parse_repo_import("Export-Pass-123", file.c_str(), &rec));
  signed_in_account() = Account();
}

TEST_F(FileCommands, SendTraceWithoutAWorkingAccountSaysWhy) {
  app_core().has_account = true;
  commands_refresh(&w);
  Dialogs d;
  ASSERT_EQ(0, command_run(&w, CMD_SEND_TRACE));
  pump();
  ASSERT_EQ(1u, d.messages.size());
  log_message(LOG_INFO, "logging goes on after a trace");
  EXPECT_EQ(0, log_flush());
}

}  // namespace
