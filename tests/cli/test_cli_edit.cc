// SPDX-License-Identifier: GPL-3.0-or-later
// `edit` changes only what its options name: every other field of the item,
// shown by the window's editors or not, stays as stored. The records are
// read in this process from the profile the tool wrote.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "model/app_core.h"
#include "model/item.h"
#include "model/model.h"
#include "support/log.h"

namespace {

using Fields = std::map<std::string, std::string>;

// uuid -> every stored field of every item of the profile in `home`.
std::map<std::string, Fields> stored_items(const std::string& home) {
  std::map<std::string, Fields> out;
  char cwd[4096];
  std::string back = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
  app_reset();
  StartupIO io;
  io.ask_password = [](int attempt, std::string* pw) {
    *pw = "Master123pw";
    return attempt > 1 ? 1 : 0;
  };
  io.ask_new_password = io.ask_confirmation = [](int, std::string*) { return 1; };
  io.show_message = [](StrId) {};
  EXPECT_EQ(STARTUP_READY, app_startup(nullptr, home.c_str(), 0, io));
  int64_t c = -1;
  while (Item* it = slot_next<Item>(model().items, &c)) {
    const Recurrence& r = it->recurrence;
    out[uuid_to_hex(it->uuid)] = {
        {"title", it->title},
        {"body", item_body_load(it)},
        {"type", std::to_string(it->type)},
        {"repo", std::to_string(it->repo)},
        {"flags", std::to_string(it->flags)},
        {"markup", std::to_string(it->markup)},
        {"rule", std::to_string(r.freq) + "/" + std::to_string(r.interval_minus_one) + "/" + std::to_string(r.by_day) +
                     "/" + std::to_string(r.end_kind)},
        {"recur_count", std::to_string(it->recur_count)},
        {"remind_offset", std::to_string(it->remind_offset)},
        {"due", std::to_string(it->due)},
        {"end", std::to_string(it->end)},
        {"last_occurrence", std::to_string(it->last_occurrence)},
        {"next_remind", std::to_string(it->next_remind)},
        {"created", std::to_string(it->created)},
    };
  }
  app_reset();
  log_stop();
  log_reenable();
  if (::chdir(back.c_str()) != 0) ADD_FAILURE() << "cannot return to " << back;
  return out;
}

// Tasks and events with and without times, a contact with a birthday, keys
// with every field, notes: what an editor form with defaults would fill in.
const char kCalendar[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n"
    "BEGIN:VTODO\r\nUID:u1\r\nSUMMARY:undated title\r\nDESCRIPTION:kept\r\nEND:VTODO\r\n"
    "BEGIN:VTODO\r\nUID:u2\r\nSUMMARY:undated body\r\nEND:VTODO\r\n"
    "BEGIN:VTODO\r\nUID:u3\r\nSUMMARY:undated markup\r\nEND:VTODO\r\n"
    "BEGIN:VTODO\r\nUID:u5\r\nSUMMARY:undated due\r\nEND:VTODO\r\n"
    "BEGIN:VTODO\r\nUID:u6\r\nSUMMARY:undated rrule\r\nEND:VTODO\r\n"
    "BEGIN:VTODO\r\nUID:c1\r\nSUMMARY:done title\r\nDUE:20310310T083000Z\r\nSTATUS:COMPLETED\r\nEND:VTODO\r\n"
#define DATED_TASK(uid, title)                                                                                 \
  "BEGIN:VTODO\r\nUID:" uid "\r\nSUMMARY:" title "\r\nDESCRIPTION:step one\\nstep two\r\n"                      \
  "DUE:20310310T083000Z\r\nRRULE:FREQ=WEEKLY;BYDAY=MO,WE;COUNT=4\r\n"                                         \
  "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT90S\r\nEND:VALARM\r\nEND:VTODO\r\n"
    DATED_TASK("d1", "dated title") DATED_TASK("d2", "dated due") DATED_TASK("d3", "dated remind")
        DATED_TASK("d4", "dated rrule")
#define EVENT(uid, title)                                                                                      \
  "BEGIN:VEVENT\r\nUID:" uid "\r\nSUMMARY:" title "\r\nDTSTART:20310311T130000Z\r\nDTEND:20310311T143000Z\r\n"  \
  "RRULE:FREQ=DAILY;UNTIL=20310320T130000Z\r\n"                                                                \
  "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT90S\r\nEND:VALARM\r\nEND:VEVENT\r\n"
            EVENT("e1", "event title") EVENT("e2", "event due") EVENT("e3", "event end")
                EVENT("e4", "event remind") EVENT("e5", "event rrule") EVENT("e6", "event body")
    "END:VCALENDAR\r\n";
#undef DATED_TASK
#undef EVENT

const char kCards[] =
    "BEGIN:VCARD\nVERSION:3.0\nN:Lind;Eva\nFN:contact title\nBDAY:1980-07-21\nTEL;TYPE=CELL:+46 70 111\n"
    "X-CUSTOM:kept\nEND:VCARD\n"
    "BEGIN:VCARD\nVERSION:3.0\nN:Berg;Ola\nFN:contact body\nBDAY:1975-02-03\nEND:VCARD\n";

std::string key_json(const char* title) {
  return std::string("{\"title\":\"") + title +
         "\",\"url\":\"https://bank.example\",\"username\":\"me\",\"password\":\"s3cret\","
         "\"notes\":\"PIN below\",\"expires\":\"2040-06-01\"}";
}

class CliEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, h.run({"init"}).status);
    CliResult tags = h.run({"tags"});
    ASSERT_EQ(0, tags.status) << tags.err;
    std::string root = split_tabs(tags.line(0))[0];
    h.write("in.ics", kCalendar);
    h.write("in.vcf", kCards);
    std::string keys = "[";
    for (const char* t : {"key title", "key url", "key user", "key password", "key notes", "key expires"})
      keys += (keys.size() > 1 ? "," : "") + key_json(t);
    h.write("in.json", keys + "]");
    ASSERT_EQ("16", h.run({"import", "ics", h.path("in.ics"), root}).line(0));
    ASSERT_EQ("2", h.run({"import", "vcf", h.path("in.vcf"), root}).line(0));
    ASSERT_EQ("6", h.run({"import", "json", h.path("in.json"), root}).line(0));
    h.write("note.txt", "first line\nsecond line\n");
    for (const char* t : {"note title", "note body", "note markup"})
      ASSERT_EQ(0, h.run({"add", "note", root, "--title", t, "--body-file", h.path("note.txt")}).status);
    h.write("new.txt", "another text\n");
    h.write("new.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Other\nEND:VCARD\n");
  }
  CliHome h;
};

TEST_F(CliEdit, AnOptionChangesItsOwnFieldsAndNothingElse) {
  struct Case {
    const char* item;  // its title before the edit
    std::vector<std::string> options;
    std::vector<std::string> changes;  // the first must change; the others may (derived)
  } cases[] = {
      {"undated title", {"--title", "renamed"}, {"title"}},
      {"undated body", {"--body-file", h.path("new.txt")}, {"body"}},
      {"undated markup", {"--markup"}, {"markup"}},
      {"undated due", {"--due", "2031-05-01 10:00"}, {"due", "last_occurrence", "next_remind"}},
      {"undated rrule", {"--rrule", "FREQ=DAILY;COUNT=3"}, {"rule", "recur_count", "last_occurrence", "next_remind"}},
      {"done title", {"--title", "renamed"}, {"title"}},
      {"dated title", {"--title", "renamed"}, {"title"}},
      {"dated due", {"--due", "2031-03-17 10:00"}, {"due", "last_occurrence", "next_remind"}},
      {"dated remind", {"--remind", "2h"}, {"remind_offset", "next_remind"}},
      {"dated rrule", {"--rrule", ""}, {"rule", "recur_count", "last_occurrence", "next_remind"}},
      {"event title", {"--title", "renamed"}, {"title"}},
      {"event due", {"--due", "2031-03-11 12:00"}, {"due", "last_occurrence", "next_remind"}},
      {"event end", {"--end", "2031-03-11 18:00"}, {"end"}},
      {"event remind", {"--remind", "1d"}, {"remind_offset", "next_remind"}},
      {"event rrule", {"--rrule", "FREQ=WEEKLY;COUNT=2"}, {"rule", "recur_count", "last_occurrence", "next_remind"}},
      {"event body", {"--body-file", h.path("new.txt")}, {"body"}},
      {"note title", {"--title", "renamed"}, {"title"}},
      {"note body", {"--body-file", h.path("new.txt")}, {"body"}},
      {"note markup", {"--markup"}, {"markup"}},
      {"contact title", {"--title", "renamed"}, {"title"}},
      {"contact body", {"--body-file", h.path("new.vcf")}, {"body"}},
      {"key title", {"--title", "renamed"}, {"title"}},
      {"key url", {"--url", "https://other.example"}, {"body"}},
      {"key user", {"--user", "you"}, {"body"}},
      {"key password", {"--password", "n3w"}, {"body"}},
      {"key notes", {"--notes", "PIN above"}, {"body"}},
      {"key expires", {"--expires", "2041-01-02"}, {"body", "due", "last_occurrence", "next_remind"}},
  };
  std::map<std::string, Fields> before = stored_items(h.home());
  std::map<std::string, std::string> uuid_of;
  for (const auto& [uuid, f] : before) uuid_of[f.at("title")] = uuid;
  ASSERT_EQ("0", before[uuid_of["undated title"]]["due"]) << "a task stored without a due time";
  ASSERT_NE("0", before[uuid_of["done title"]]["flags"]) << "a completed task";
  ASSERT_NE("0", before[uuid_of["dated title"]]["remind_offset"]) << "a reminder";
  for (const Case& c : cases) {
    ASSERT_TRUE(uuid_of.count(c.item)) << c.item;
    std::vector<std::string> args = {"edit", uuid_of[c.item]};
    args.insert(args.end(), c.options.begin(), c.options.end());
    CliResult r = h.run(args);
    EXPECT_EQ(0, r.status) << c.item << ": " << r.err;
  }
  std::map<std::string, Fields> after = stored_items(h.home());
  ASSERT_EQ(before.size(), after.size());
  for (const Case& c : cases) {
    const Fields& was = before[uuid_of[c.item]];
    const Fields& now = after[uuid_of[c.item]];
    EXPECT_NE(was.at(c.changes[0]), now.at(c.changes[0])) << c.item << ": " << c.changes[0];
    for (const auto& [name, value] : was) {
      if (std::find(c.changes.begin(), c.changes.end(), name) != c.changes.end()) continue;
      EXPECT_EQ(value, now.at(name)) << c.item << ": " << name;
    }
  }
}

}  // namespace
