// SPDX-License-Identifier: GPL-3.0-or-later
// Detail texts of items, keys, contacts and history versions, in English.
#include <fstream>
#include <functional>

#include "interchange/vcard.h"
#include "markup/detail_text.h"
#include "markup/markup.h"
#include "model/full_rule.h"
#include "model/test_ops_fixture.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

namespace {

std::string L(StrId id) { return ui_string(id); }
std::string line_of(StrId id, int n) {
  const char* s;
  const char* e;
  text_line(ui_string(id), n, &s, &e);
  std::string out(s, e);
  while (!out.empty() && out.back() == '\r') out.pop_back();
  return out;
}
std::string row(StrId id, const std::string& value) { return "|**" + L(id) + "**|" + value + "\n"; }

class DetailTest : public RepoModelTest {
 protected:
  void SetUp() override {
    RepoModelTest::SetUp();
    ASSERT_EQ(strings_set_language(0), 1);
    model().view = static_cast<int32_t>(g_repos[0].root);
  }
  int64_t store(int type, const std::string& title, const std::string& body, int markup = 0) {
    ItemForm f;
    f.title = title;
    f.body = body;
    f.markup = static_cast<uint8_t>(markup);
    return item_store(-1, type, f, 0, model().view);
  }
  ScopedTz tz{"Europe/Berlin"};
};

TEST_F(DetailTest, ReminderPhrases) {
  EXPECT_EQ(reminder_text(5400), ui_plural_format(STR_REMIND_N_MINUTES_BEFORE, 90));
  EXPECT_EQ(reminder_text(7200), ui_plural_format(STR_REMIND_N_HOURS_BEFORE, 2));
  EXPECT_EQ(reminder_text(2 * 86400), ui_plural_format(STR_REMIND_N_DAYS_BEFORE, 2));
  EXPECT_EQ(reminder_text(2 * 604800), ui_plural_format(STR_REMIND_N_WEEKS_BEFORE, 2));
  EXPECT_EQ(reminder_text(1), ui_plural_format(STR_REMIND_N_MINUTES_BEFORE, 0));  // at the due time
  EXPECT_EQ(reminder_text(0), L(STR_NONE_WORD));
  EXPECT_EQ(reminder_text(-60), L(STR_NONE_WORD));
  EXPECT_EQ(reminder_text(5400), "90 minutes before");
  // One of a unit reads as one.
  EXPECT_EQ(reminder_text(3600), "1 hour before");
  EXPECT_EQ(reminder_text(86400), "1 day before");
  EXPECT_EQ(reminder_text(60), "1 minute before");
  // Counts beyond an int are shown whole.
  EXPECT_EQ(reminder_text(int64_t{604800} * 5000000000LL), "5000000000 weeks before");
}

TEST_F(DetailTest, ReminderPhrasesFollowEachLanguagesPluralRules) {
  ASSERT_EQ(strings_set_language(4), 1);
  EXPECT_EQ(reminder_text(60), "за 1 минуту");
  EXPECT_EQ(reminder_text(2 * 3600), "за 2 часа");
  EXPECT_EQ(reminder_text(5 * 86400), "за 5 дней");
  EXPECT_EQ(reminder_text(21 * 60), "за 21 минуту");
  EXPECT_EQ(reminder_text(11 * 60), "за 11 минут");
  ASSERT_EQ(strings_set_language(1), 1);
  EXPECT_EQ(reminder_text(1), "0 minute avant");
  EXPECT_EQ(reminder_text(3 * 3600), "3 heures avant");
  ASSERT_EQ(strings_set_language(3), 1);
  EXPECT_EQ(reminder_text(3600), "1 Stunde vorher");
  ASSERT_EQ(strings_set_language(0), 1);
}

TEST_F(DetailTest, RecurrencePhrases) {
  int64_t monday = lt(2030, 3, 4, 10);
  // Every 2 weeks on Monday and Wednesday until a date.
  Recurrence w = rule(FREQ_WEEKLY, 1, 2 | 8, RECUR_UNTIL);
  EXPECT_EQ(recurrence_text(w, 0, lt(2030, 6, 30, 10), monday),
            ui_plural_format(STR_EVERY_N_WEEKS, 2) + " " + L(STR_ON_WEEKDAYS) + " " + L(STR_MONDAY) + ", " +
                L(STR_WEDNESDAY) + ", " + ui_format(STR_UNTIL_DATE, "June 30, 2030"));
  // No weekday set: the start's.
  EXPECT_EQ(recurrence_text(rule(FREQ_WEEKLY), 0, 0, monday), L(STR_ON_WEEKDAYS) + " " + L(STR_MONDAY));
  // Monthly on the second Tuesday, every 3 months, 5 times.
  int64_t tuesday = lt(2030, 3, 12, 18);
  EXPECT_EQ(recurrence_text(rule(FREQ_MONTHLY, 2, 1, RECUR_COUNT), 5, 0, tuesday),
            ui_plural_format(STR_EVERY_N_MONTHS, 3) + " " + ui_line(STR_NTH_TUESDAY, 1) + ", " +
                ui_plural_format(STR_ENDS_AFTER_N, 5));
  EXPECT_EQ(recurrence_text(rule(FREQ_MONTHLY), 0, 0, lt(2030, 3, 31)), ui_format(STR_ON_DAY_N, 31));
  EXPECT_EQ(recurrence_text(rule(FREQ_MONTHLY, 0, 1), 0, 0, lt(2030, 3, 31)),
            ui_line(STR_NTH_SUNDAY, 3));  // the 5th Sunday repeats on the 4th
  EXPECT_EQ(recurrence_text(rule(FREQ_DAILY), 0, 0, monday), "");
  EXPECT_EQ(recurrence_text(rule(FREQ_DAILY, 2), 0, 0, monday), ui_plural_format(STR_EVERY_N_DAYS, 3));
  EXPECT_EQ(recurrence_text(rule(FREQ_YEARLY, 0, 0, RECUR_COUNT), 7, 0, monday), ui_plural_format(STR_ENDS_AFTER_N, 7));
  EXPECT_EQ(recurrence_text(rule(FREQ_YEARLY, 0, 0, RECUR_COUNT), 1, 0, monday), "ends after 1 occurrence");
  EXPECT_EQ(recurrence_text(rule(FREQ_YEARLY, 1), 0, 0, monday), ui_plural_format(STR_EVERY_N_YEARS, 2));
  EXPECT_EQ(recurrence_text(rule(FREQ_NONE), 0, 0, monday), "");
}

TEST_F(DetailTest, EventLinesAndVerbatimBody) {
  ItemForm f;
  f.title = "Standup";
  f.body = "Room 4\n**not bold**";
  f.due = lt(2030, 3, 4, 10);
  f.end = lt(2030, 3, 4, 11, 30);
  f.freq = FREQ_WEEKLY;
  f.interval_minus_one = 1;
  f.by_day = 2 | 8;
  f.end_kind = RECUR_UNTIL;
  f.until = lt(2030, 6, 30, 10);
  f.remind_unit = 1;
  f.remind_count = 90;
  int64_t s = item_store(-1, ITEM_EVENT, f, 0, model().view);
  ASSERT_GE(s, 0);
  std::string text = item_detail_text(item_get(s));
  EXPECT_EQ(text, row(STR_LABEL_START, "March 4, 2030 at 10:00 AM") + row(STR_LABEL_END, "March 4, 2030 at 11:30 AM") +
                      row(STR_LABEL_REMINDER, ui_plural_format(STR_REMIND_N_MINUTES_BEFORE, 90)) +
                      row(STR_LABEL_RECURRENCE,
                          L(STR_FREQ_WEEKLY) + ", " +
                              recurrence_text(item_get(s)->recurrence, 0, item_get(s)->last_occurrence, f.due)) +
                      "\n{{{Room 4\n**not bold**}}}");
  EXPECT_NE(text.find(ui_format(STR_UNTIL_DATE, "June 30, 2030")), std::string::npos);

  // A task without reminder or body; an event without recurrence.
  ItemForm t;
  t.title = "Task";
  t.due = lt(2030, 1, 2, 8);
  int64_t ts = item_store(-1, ITEM_TASK, t, 0, model().view);
  EXPECT_EQ(item_detail_text(item_get(ts)), row(STR_LABEL_DUE, "January 2, 2030 at 8:00 AM"));
  // A task that repeats says so as an event does.
  t.freq = FREQ_DAILY;
  t.end_kind = RECUR_COUNT;
  t.recur_count = 4;
  int64_t rs = item_store(-1, ITEM_TASK, t, 0, model().view);
  EXPECT_EQ(item_detail_text(item_get(rs)),
            row(STR_LABEL_DUE, "January 2, 2030 at 8:00 AM") +
                row(STR_LABEL_RECURRENCE, L(STR_FREQ_DAILY) + ", " + ui_plural_format(STR_ENDS_AFTER_N, 4)));
  ItemForm e;
  e.title = "Once";
  e.due = lt(2030, 1, 2, 8);
  int64_t es = item_store(-1, ITEM_EVENT, e, 0, model().view);
  EXPECT_EQ(item_detail_text(item_get(es)),
            row(STR_LABEL_START, "January 2, 2030 at 8:00 AM") + row(STR_LABEL_RECURRENCE, L(STR_NONE_WORD)));
  // A note with markup on: the body as it is.
  int64_t ns = store(ITEM_NOTE, "N", "== Heading\ntext", 1);
  EXPECT_EQ(item_detail_text(item_get(ns)), "\n== Heading\ntext");
  EXPECT_EQ(item_detail_text(item_get(store(ITEM_NOTE, "Empty", ""))), "");
}

TEST_F(DetailTest, AFullRuleIsShownInItsOwnWords) {
  ItemForm f;
  f.title = "Review";
  f.due = lt(2030, 1, 25, 16);
  f.freq = FREQ_MONTHLY;
  f.by_day = 1;
  int64_t s = item_store(-1, ITEM_EVENT, f, 0, model().view);
  ASSERT_GE(s, 0);
  ASSERT_EQ(0, item_full_rule_set(s, "RRULE:FREQ=MONTHLY;BYDAY=-1FR\n"));
  EXPECT_EQ(item_detail_text(item_get(s)),
            row(STR_LABEL_START, "January 25, 2030 at 4:00 PM") + row(STR_LABEL_RECURRENCE, "Monthly, on the last Friday"));
}

TEST_F(DetailTest, LinkedItemsExpandOneLevelAndMissingOnesVanish) {
  int64_t b = store(ITEM_NOTE, "B", "bee");
  std::string link_b = "[[ordika:" + uuid_to_hex(item_get(b)->uuid) + "]]\r\n";
  int64_t a = store(ITEM_NOTE, "A", link_b + "ay", 1);  // A links B in turn
  std::string link_a = "[[ordika:" + uuid_to_hex(item_get(a)->uuid) + "]]\r\n";
  std::string dead = "[[ordika:" + std::string(32, 'f') + "]]\r\n";
  int64_t top = store(ITEM_NOTE, "Top", link_a + link_b + dead + "rest", 1);
  std::string sep = "\n\n" + std::string() ;
  for (int i = 0; i < 16; i++) sep += "\xE2\x80\x94";
  sep += "\n";
  EXPECT_EQ(sep.size(), 51u);
  std::string header_a = "**" + L(STR_TYPE_NOTE) + ": A**\n\n", header_b = "**" + L(STR_TYPE_NOTE) + ": B**\n\n";
  EXPECT_EQ(linked_item_header(item_get(a)), header_a);
  // A's own link to B is not expanded inside Top.
  EXPECT_EQ(item_detail_text(item_get(top)), "\nrest" + sep + header_a + "\nay" + sep + header_b + "\n{{{bee}}}");
  // Only links: no body text, just the linked items.
  int64_t only = store(ITEM_NOTE, "Only", link_b, 0);
  EXPECT_EQ(item_detail_text(item_get(only)), sep + header_b + "\n{{{bee}}}");
  // After B is deleted, its link disappears without a trace.
  ASSERT_EQ(item_remove(b), 0);
  EXPECT_EQ(item_detail_text(item_get(top)), "\nrest" + sep + header_a + "\nay");
  // At most 64 links are expanded; the rest are dropped.
  int64_t c = store(ITEM_NOTE, "C", "see");
  std::string link_c = "[[ordika:" + uuid_to_hex(item_get(c)->uuid) + "]]\n";
  std::string many;
  for (int i = 0; i < 70; i++) many += link_c;
  int64_t hub = store(ITEM_NOTE, "Hub", many + "end", 1);
  std::string text = item_detail_text(item_get(hub));
  size_t seps = 0;
  for (size_t p = text.find(sep); p != std::string::npos; p = text.find(sep, p + 1)) seps++;
  EXPECT_EQ(seps, 64u);
  EXPECT_EQ(text.rfind("\nend", 0), 0u);
  // A link that is no link (too short, wrong closing) stays text.
  int64_t odd = store(ITEM_NOTE, "Odd", "[[ordika:123]]", 1);
  EXPECT_EQ(item_detail_text(item_get(odd)), "\n[[ordika:123]]");
}

TEST_F(DetailTest, KeyMarkup) {
  KeyBody k;
  k.url = "https://bank.example";
  k.user = "me";
  k.password = "pw";
  k.date = lt(2030, 1, 15, 12);
  k.notes = "PIN below";
  std::string dots = "\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F";
  EXPECT_EQ(key_markup(key_body_format(k)), row(STR_WEB_ADDRESS, "[[https://bank.example]]") +
                                                row(STR_USER_NAME, "{{{me}}}") + "|**" + L(STR_PASSWORD) +
                                                "**|[[password:7077|" + dots + "]]\n" + row(STR_EXPIRES, "January 15, 2030") +
                                                "\nPIN below\n");
  KeyBody bare;
  EXPECT_EQ(key_markup(key_body_format(bare)), row(STR_WEB_ADDRESS, ""));
  // The rendered link carries the password, which decodes back.
  MarkupResult r;
  ASSERT_EQ(markup_parse(key_markup(key_body_format(k)).c_str(), &r), 0);
  ASSERT_EQ(r.links.size(), 2u);
  char pw[16];
  EXPECT_EQ(password_link_decode(r.links[1].target.c_str(), pw, sizeof pw), 2);
  EXPECT_STREQ(pw, "pw");

  // Over the buffer: cut and logged.
  KeyBody big = k;
  big.notes = std::string(4000, 'n');
  std::string log_path = dir.file("log");
  log_stop();
  log_reenable();
  log_set_file(log_path.c_str());
  std::string text = key_markup(key_body_format(big));
  log_flush();
  log_stop();
  log_reenable();
  EXPECT_EQ(text.size(), 4095u);
  std::ifstream in(log_path);
  std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(log.find("Buffer overrun in key_markup"), std::string::npos);

  // Contacts and keys with an empty body show nothing.
  int64_t ks = store(ITEM_KEY, "Empty key", "");
  EXPECT_EQ(item_detail_text(item_get(ks)), "");
  int64_t ks2 = store(ITEM_KEY, "Key", key_body_format(k), 1);
  EXPECT_EQ(item_detail_text(item_get(ks2)), key_markup(key_body_format(k)));
}

TEST(PasswordLink, Decode) {
  char buf[4];
  EXPECT_EQ(password_link_decode("password:616263", buf, sizeof buf), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(password_link_decode("password:61626364", buf, sizeof buf), -1);  // no room for the terminator
  EXPECT_EQ(password_link_decode("password:616", buf, sizeof buf), -1);
  EXPECT_EQ(password_link_decode("password:zz", buf, sizeof buf), -1);
  EXPECT_EQ(password_link_decode("https://x", buf, sizeof buf), -1);
  EXPECT_EQ(password_link_decode("password:", buf, sizeof buf), 0);
  EXPECT_EQ(password_link_decode(nullptr, buf, sizeof buf), -1);
}

TEST_F(DetailTest, VcardMarkup) {
  std::string card =
      "BEGIN:VCARD\nVERSION:3.0\nN:Doe;John\nFN:John Doe\nBDAY:19800517\nURL:https://example.org\n"
      "TEL;TYPE=CELL:1\nTEL;TYPE=HOME;TYPE=FAX:2\nTEL;TYPE=WORK;TYPE=FAX:3\nTEL;TYPE=FAX:4\nTEL;TYPE=HOME:5\n"
      "TEL;TYPE=WORK:6\nTEL;TYPE=PREF:7\nTEL;TYPE=PAGER:8\nTEL;TYPE=VOICE:9\n"
      "EMAIL;TYPE=INTERNET;TYPE=HOME:h@x\nEMAIL;TYPE=INTERNET;TYPE=WORK:w@x\nEMAIL;TYPE=INTERNET:o@x\n"
      "ADR;TYPE=HOME:;;1 Main St\\, Apt 2;Springfield;;12345;USA;US\nNOTE:first\\nsecond\\tx\\;y\nEND:VCARD\n";
  std::string expect =
      "==Doe, John\n||\n" + row(STR_BIRTHDAY, "May 17, 1980") + row(STR_WEB_ADDRESS, "[[https://example.org]]") + "||\n";
  int kinds[] = {0, 4, 5, 6, 1, 2, 3, 7, 8};
  for (int i = 0; i < 9; i++)
    expect += "|**" + line_of(STR_PHONE_KINDS, kinds[i]) + ":**|" + std::to_string(i + 1) + "\n";
  expect += "||\n";
  expect += "|**" + line_of(STR_EMAIL_KINDS, 0) + ":**|h@x\n|**" + line_of(STR_EMAIL_KINDS, 1) + ":**|w@x\n|**" +
            line_of(STR_EMAIL_KINDS, 2) + ":**|o@x\n||\n";
  VCardRecord rec;
  ASSERT_EQ(vcard_parse(card.data(), card.size(), &rec), 0);
  expect += "|**" + line_of(STR_ADDRESS_KINDS, 0) + ":**|" + vcard_address_text(rec.addresses[0]) + "\n||\n";
  expect += "first\nsecond\tx;y";
  EXPECT_EQ(vcard_markup(card), expect);
  EXPECT_NE(expect.find("1 Main St, Apt 2"), std::string::npos);

  // Name only; a birthday without a web address.
  EXPECT_EQ(vcard_markup("BEGIN:VCARD\nN:;Ann\nFN:Ann\nEND:VCARD\n"), "==Ann\n||\n");
  EXPECT_EQ(vcard_markup("BEGIN:VCARD\nN:Roe\nBDAY:2001-02-03\nEND:VCARD\n"),
            "==Roe\n||\n" + row(STR_BIRTHDAY, "February 3, 2001") + "||\n");
  // The organisation's name, without its units.
  EXPECT_EQ(vcard_markup("BEGIN:VCARD\nN:Roe\nORG:Acme\\, Inc.;Sales\nEND:VCARD\n"),
            "==Roe\n||\n" + row(STR_ORGANIZATION, "Acme, Inc.") + "||\n");
  EXPECT_EQ(vcard_markup("not a card"), "");
  // Without N the heading is the formatted name, else the first e-mail.
  EXPECT_EQ(vcard_markup("BEGIN:VCARD\nFN:Ann Lee\nEND:VCARD\n"), "==Ann Lee\n||\n");
  EXPECT_EQ(vcard_markup("BEGIN:VCARD\nN:;\nEMAIL:a@x\nEND:VCARD\n"),
            "==a@x\n||\n|**" + line_of(STR_EMAIL_KINDS, 2) + ":**|a@x\n||\n");
}

TEST_F(DetailTest, HistoryTexts) {
  Item ev;
  ev.type = ITEM_EVENT;
  ev.markup = 0;
  ev.due = lt(2030, 3, 4, 10);
  ev.end = lt(2030, 3, 4, 11);
  ev.recurrence = rule(FREQ_DAILY, 0, 0, RECUR_COUNT);
  ev.recur_count = 4;
  ev.remind_offset = 600;
  ev.created = lt(2030, 1, 1);
  ev.modified = lt(2030, 1, 2, 9, 15);
  ev.title = "Old title";
  std::string header = item_header_format(ev);
  EXPECT_EQ(history_detail_text(header.c_str(), "was\nthis"),
            row(STR_LABEL_TITLE, "Old title") + row(STR_DETAIL_MODIFIED, "January 2, 2030 at 9:15 AM") + "|**" + L(STR_TYPE) +
                ":**|" + L(STR_TYPE_EVENT) + "\n" + "|**" + L(STR_MARKUP) + ":**|" + L(STR_NO) + "\n" +
                row(STR_LABEL_REMINDER, ui_plural_format(STR_REMIND_N_MINUTES_BEFORE, 10)) +
                row(STR_LABEL_START, "March 4, 2030 at 10:00 AM") + row(STR_LABEL_END, "March 4, 2030 at 11:00 AM") +
                row(STR_LABEL_RECURRENCE, L(STR_FREQ_DAILY) + ", " + ui_plural_format(STR_ENDS_AFTER_N, 4)) +
                "\n{{{was\nthis}}}");

  Item task = ev;
  task.type = ITEM_TASK;
  task.end = 0;
  header = item_header_format(task);
  EXPECT_EQ(history_detail_text(header.c_str(), ""),
            row(STR_LABEL_TITLE, "Old title") + row(STR_DETAIL_MODIFIED, "January 2, 2030 at 9:15 AM") + "|**" + L(STR_TYPE) +
                ":**|" + L(STR_TYPE_TASK) + "\n" + "|**" + L(STR_MARKUP) + ":**|" + L(STR_NO) + "\n" +
                row(STR_LABEL_REMINDER, ui_plural_format(STR_REMIND_N_MINUTES_BEFORE, 10)) +
                row(STR_LABEL_DUE, "March 4, 2030 at 10:00 AM") +
                row(STR_LABEL_RECURRENCE, L(STR_FREQ_DAILY) + ", " + ui_plural_format(STR_ENDS_AFTER_N, 4)));

  Item key;
  key.type = ITEM_KEY;
  key.created = key.modified = lt(2030, 1, 2, 9, 15);
  key.title = "K";
  KeyBody kb;
  kb.password = "pw";
  header = item_header_format(key);
  EXPECT_EQ(history_detail_text(header.c_str(), key_body_format(kb)),
            row(STR_LABEL_TITLE, "K") + row(STR_DETAIL_MODIFIED, "January 2, 2030 at 9:15 AM") + "|**" + L(STR_TYPE) + ":**|" +
                L(STR_TYPE_KEY) + "\n\n" + key_markup(key_body_format(kb)));

  Tag tag;
  tag.name = "Projects";
  tag.modified = lt(2030, 1, 2, 9, 15);
  std::string ts = tag_string_format(tag);
  EXPECT_EQ(history_detail_text(ts.c_str(), ""), "|**" + L(STR_TYPE) + ":**|" + L(STR_TYPE_TAG) + "\n" +
                                                     row(STR_DETAIL_NAME, "Projects") +
                                                     row(STR_DETAIL_MODIFIED, "January 2, 2030 at 9:15 AM"));
  tag.modified = 0;
  ts = tag_string_format(tag);
  EXPECT_EQ(history_detail_text(ts.c_str(), ""), "|**" + L(STR_TYPE) + ":**|" + L(STR_TYPE_TAG) + "\n" +
                                                     row(STR_DETAIL_NAME, "Projects") + row(STR_DETAIL_MODIFIED, ""));
}

TEST_F(DetailTest, OtherLanguagesGiveTheirLabels) {
  ASSERT_EQ(strings_set_language(3), 1);
  EXPECT_EQ(reminder_text(7200), "2 Stunden vorher");
  EXPECT_NE(std::string(ui_string_in(3, STR_REMIND_N_HOURS_BEFORE)),
            std::string(ui_string_in(0, STR_REMIND_N_HOURS_BEFORE)));
  strings_set_language(0);
}

}  // namespace
