// SPDX-License-Identifier: GPL-3.0-or-later
// Contacts through vCard files: titles (escaped names, cards without FN),
// birthdays, kept types, quoted-printable values, export folding and round
// trips.
#include <ctime>

#include "interchange_fixture.h"
#include "model/view_dates.h"

namespace {

class ContactsTest : public InterchangeTest {};

VCardRecord parse_body(const Item* item) {
  VCardRecord rec;
  std::string body = item_body_load(item);
  EXPECT_EQ(vcard_parse(body.data(), body.size(), &rec), 0) << body;
  return rec;
}

TEST_F(ContactsTest, TitlesFromEscapedNamesAndFromOtherFields) {
  std::string vcf =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;John\r\nFN:Doe\\, John\r\nTEL;TYPE=HOME;TYPE=CELL:+1 555 0100\r\n"
      "END:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;Anna;;;\r\nEMAIL:anna@example.org\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL;TYPE=INTERNET:only@example.org\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nTEL:+49 30 1234\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:nothing to name it by\r\nEND:VCARD\r\n";
  ImportReport r;
  EXPECT_EQ(import_vcf(vcf, &r), 4);
  EXPECT_EQ(r.skipped, 1);

  Item* doe = titled("Doe, John");
  ASSERT_TRUE(doe);
  EXPECT_EQ(doe->type, ITEM_VCARD);
  VCardRecord rec = parse_body(doe);
  EXPECT_EQ(rec.fn, "Doe\\, John");  // the body keeps the vCard escape
  ASSERT_EQ(rec.phones.size(), 1u);
  EXPECT_EQ(rec.phones[0].flags, TEL_HOME | TEL_CELL);
  EXPECT_EQ(doe->due, 0);

  Item* anna = titled("Anna Smith");
  ASSERT_TRUE(anna);
  EXPECT_EQ(vcard_formatted_name(parse_body(anna)), "Anna Smith");  // FN written into the body
  EXPECT_NE(titled("only@example.org"), nullptr);
  EXPECT_NE(titled("+49 30 1234"), nullptr);
}

TEST_F(ContactsTest, BirthdayGivesAYearlyDueWithADayReminder) {
  time_t now = time(nullptr);
  struct tm today {};
  localtime_r(&now, &today);
  // A birthday that passed this year (yesterday's date) and one still to come.
  time_t y = now - 86400;
  struct tm yesterday {};
  localtime_r(&y, &yesterday);
  char past[16];
  std::strftime(past, sizeof past, "1980%m%d", &yesterday);
  time_t tmrw = now + 2 * 86400;
  struct tm later {};
  localtime_r(&tmrw, &later);
  char future[16];
  std::strftime(future, sizeof future, "1975-%m-%d", &later);
  std::string vcf = "BEGIN:VCARD\nVERSION:3.0\nFN:Past\nBDAY:" + std::string(past) +
                    "\nEND:VCARD\nBEGIN:VCARD\nVERSION:3.0\nFN:Future\nBDAY:" + future + "\nEND:VCARD\n";
  ASSERT_EQ(import_vcf(vcf), 2);

  Item* p = titled("Past");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->recurrence.freq, FREQ_YEARLY);
  EXPECT_EQ(p->remind_offset, 86400);
  EXPECT_GT(p->due, now);
  EXPECT_EQ(p->due, lt(yesterday.tm_year + 1901, yesterday.tm_mon + 1, yesterday.tm_mday));

  Item* f = titled("Future");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->due, lt(later.tm_year + 1900, later.tm_mon + 1, later.tm_mday));
  EXPECT_EQ(parse_body(f).birthday, 19750000 + (later.tm_mon + 1) * 100 + later.tm_mday);
}

TEST_F(ContactsTest, LeapDayBirthdayKeepsItsDayInLeapYears) {
  ASSERT_EQ(import_vcf("BEGIN:VCARD\nVERSION:3.0\nFN:Leap\nBDAY:19960229\nEND:VCARD\n"), 1);
  Item* item = titled("Leap");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->recurrence.freq, FREQ_YEARLY);
  EXPECT_EQ(fmt(item->due).substr(4), "-02-29 00:00:00");
  EXPECT_LE(item->due, time(nullptr));
  // The next occurrences: 1 March in common years, 29 February in leap years.
  EXPECT_EQ(fmt(recur_first_at_or_after(item->due, item->recurrence, lt(2027, 1, 1))), "2027-03-01 00:00:00");
  EXPECT_EQ(fmt(recur_first_at_or_after(item->due, item->recurrence, lt(2028, 1, 1))), "2028-02-29 00:00:00");
  // The view shows the coming birthday.
  EXPECT_GT(displayed_occurrence(item), time(nullptr));
}

TEST_F(ContactsTest, QuotedPrintableAndOtherCharsets) {
  std::string vcf =
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen\r\n"
      "FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:J=FCrgen M=FCller\r\n"
      "NOTE;ENCODING=QUOTED-PRINTABLE:first=0Asecond =\r\n third\r\n"
      "PHOTO;ENCODING=BASE64:AAAA\r\n"
      "END:VCARD\r\n";
  ASSERT_EQ(import_vcf(vcf), 1);
  Item* c = titled("J\xC3\xBCrgen M\xC3\xBC" "ller");
  ASSERT_TRUE(c);
  VCardRecord rec = parse_body(c);
  EXPECT_EQ(rec.note, "first\\nsecond third");
  EXPECT_EQ(vcard_family_name(rec), "M\xC3\xBCller");
  EXPECT_NE(item_body_load(c).find("PHOTO;ENCODING=BASE64:AAAA\n"), std::string::npos);
}

TEST_F(ContactsTest, ExportFoldsNormalisesAndRoundTrips) {
  std::string note(100, 'n');
  std::string vcf =
      "BEGIN:VCARD\nVERSION:3.0\nN:Roe;Jane\nFN:Jane Roe\nTEL;TYPE=WORK:+1 555 0199\n"
      "EMAIL;TYPE=INTERNET:jane@example.org\nADR;TYPE=HOME:;;1 Main St\\, Apt 2;Springfield;;12345;USA;US\n"
      "URL:https://example.org/jane\nNOTE:" + note + "\nBDAY:19800517\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nFN:Second\nEND:VCARD\n";
  ASSERT_EQ(import_vcf(vcf), 2);
  ItemForm n;
  n.title = "a note is no contact";
  ASSERT_GE(item_store(-1, ITEM_NOTE, n, 0, model().view), 0);

  std::string path = dir.file("out.vcf");
  ASSERT_EQ(export_contacts(path.c_str(), 0, -1), 2);
  std::string text = read(path);
  size_t cards = 0;
  for (size_t p = text.find("BEGIN:VCARD\r\n"); p != std::string::npos; p = text.find("BEGIN:VCARD\r\n", p + 1)) cards++;
  EXPECT_EQ(cards, 2u);
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);  // CR LF line ends
  for (size_t pos = 0; pos < text.size();) {
    size_t nl = text.find("\r\n", pos);
    ASSERT_NE(nl, std::string::npos);
    EXPECT_LE(nl - pos, 75u);
    pos = nl + 2;
  }
  EXPECT_NE(text.find("NOTE:" + note.substr(0, 70) + "\r\n " + note.substr(70)), std::string::npos);
  EXPECT_NE(text.find("ADR;TYPE=HOME:;;1 Main St\\, Apt 2;Springfield;;12345;USA;US\r\n"), std::string::npos);

  // Into the second repository: the same people come back.
  model().view = static_cast<int32_t>(g_repos[1].root);
  ImportReport r;
  EXPECT_EQ(import_contacts(path.c_str(), model().view, &r), 2);
  int64_t c = -1;
  int seen = 0;
  while (Item* item = slot_next<Item>(model().items, &c)) {
    if (item->repo != 1) continue;
    seen++;
    if (item->title != "Jane Roe") continue;
    VCardRecord rec = parse_body(item);
    EXPECT_EQ(rec.birthday, 19800517);
    ASSERT_EQ(rec.phones.size(), 1u);
    EXPECT_EQ(rec.phones[0].value, "+1 555 0199");
    EXPECT_EQ(rec.phones[0].flags, TEL_WORK);
    ASSERT_EQ(rec.emails.size(), 1u);
    EXPECT_EQ(rec.emails[0].value, "jane@example.org");
    ASSERT_EQ(rec.addresses.size(), 1u);
    EXPECT_EQ(vcard_unescape(rec.addresses[0].part[2]), "1 Main St, Apt 2");
    EXPECT_EQ(vcard_url(rec), "https://example.org/jane");
    EXPECT_EQ(vcard_unescape(rec.note), note);
  }
  EXPECT_EQ(seen, 2);

  // One contact only.
  Item* jane = titled("Jane Roe");
  int64_t js = item_find(jane->uuid);
  ASSERT_EQ(export_contacts(path.c_str(), 0, js), 1);
  EXPECT_EQ(read(path).find("Second"), std::string::npos);
}

TEST_F(ContactsTest, OversizedCardIsSkippedAndTheOthersStay) {
  std::string big(kInterchangeItemMax + 100, 'x');
  std::string vcf = "BEGIN:VCARD\nVERSION:3.0\nFN:Small\nEND:VCARD\n"
                    "BEGIN:VCARD\nVERSION:3.0\nFN:Big\nNOTE:" + big + "\nEND:VCARD\n"
                    "BEGIN:VCARD\nVERSION:3.0\nFN:Medium\nNOTE:" + std::string(20000, 'm') + "\nEND:VCARD\n";
  EXPECT_EQ(import_vcf(vcf), 2);
  EXPECT_TRUE(titled("Small"));
  EXPECT_FALSE(titled("Big"));
  ASSERT_TRUE(titled("Medium"));
  // Cards beyond the 4 KiB of old are kept whole.
  VCardRecord rec = parse_body(titled("Medium"));
  EXPECT_EQ(rec.note, std::string(20000, 'm'));
}

TEST_F(ContactsTest, StoreUpdatesAnExistingContact) {
  ASSERT_EQ(import_vcf("BEGIN:VCARD\nVERSION:3.0\nFN:Before\nBDAY:19800101\nEND:VCARD\n"), 1);
  Item* item = titled("Before");
  ASSERT_TRUE(item);
  int64_t slot = item_find(item->uuid);
  VCardRecord rec;
  std::string text = "BEGIN:VCARD\nVERSION:3.0\nFN:After\nEND:VCARD\n";
  ASSERT_EQ(vcard_parse(text.data(), text.size(), &rec), 0);
  EXPECT_EQ(vcard_store(slot, rec, vcard_compose_full(rec), model().view), slot);
  EXPECT_EQ(item_get(slot)->title, "After");
  EXPECT_EQ(item_get(slot)->due, 0);  // no birthday any more
  EXPECT_EQ(item_get(slot)->recurrence.freq, FREQ_NONE);
  EXPECT_EQ(items_of(ITEM_VCARD).size(), 1u);
}

}  // namespace
