// SPDX-License-Identifier: GPL-3.0-or-later
// Applying an editor's changes to a stored card: what the editor does not
// show survives, unchanged properties stay byte for byte, changed ones are
// rewritten in place; and the import and export keep whole cards.
#include <gtest/gtest.h>

#include <functional>

#include "interchange/vcard_edit.h"
#include "interchange_fixture.h"

namespace {

// A card as phones and address books write them: grouped properties, an
// organisation, a folded photo, a five-part name and twelve phones.
std::string real_world_card() {
  std::string c =
      "BEGIN:VCARD\n"
      "VERSION:3.0\n"
      "N:Lindqvist;Maria;Elisabet;Dr.;PhD\n"
      "FN:Dr. Maria Lindqvist\n"
      "NICKNAME:Mia\n"
      "ORG:Acme Robotics;Research\n"
      "TITLE:Head of Sensors\n"
      "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAAYEBQYFBAYGBQYHBwYIChAKCgkJChQODwwQFxQYGBcU\n"
      " FhYaHSUfGhsjHBYWICwgIyYnKSopGR8tMC0oMCUoKSj/2wBDAQcHBwoIChMKChMoGhYaKCgoKCgo\n"
      "item1.EMAIL;TYPE=INTERNET;TYPE=WORK:maria@acme.example\n"
      "item1.X-ABLabel:Work\n";
  for (int i = 0; i < 12; i++)
    c += std::string("TEL;TYPE=") + (i % 2 ? "WORK" : "CELL") + ";TYPE=VOICE:+46 8 555 01" + std::to_string(10 + i) +
         "\n";
  c += "X-SOCIALPROFILE;TYPE=mastodon:https://social.example/@mia\n"
       "END:VCARD\n";
  return c;
}

VCardRecord parsed(const std::string& text) {
  VCardRecord r;
  EXPECT_EQ(vcard_parse(text.data(), text.size(), &r), 0) << text;
  return r;
}

int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) n++;
  return n;
}

// Every line of `a` except those starting with one of `changed` appears in `b`.
void expect_lines_kept(const std::string& a, const std::string& b, std::initializer_list<std::string> changed) {
  size_t pos = 0;
  while (pos < a.size()) {
    size_t nl = a.find('\n', pos);
    std::string line = a.substr(pos, nl - pos + 1);
    bool skip = false;
    for (const std::string& c : changed) skip = skip || line.compare(0, c.size(), c) == 0;
    if (!skip) {
      EXPECT_NE(b.find(line), std::string::npos) << "lost: " << line;
    }
    pos = nl + 1;
  }
}

TEST(VcardEdit, UntouchedCardStaysByteForByte) {
  std::string card = real_world_card();
  VCardEdit e = vcard_edit_of(parsed(card));
  EXPECT_EQ(vcard_apply_edit(card, e), card);
  // Names compared unescaped: the editor's escaping of a comma is no change.
  std::string c2 = "BEGIN:VCARD\nFN:Doe, John\nN:Doe;John\nEND:VCARD\n";
  VCardEdit e2 = vcard_edit_of(parsed(c2));
  e2.edited.fn = "Doe\\, John";
  EXPECT_EQ(vcard_apply_edit(c2, e2), c2);
}

TEST(VcardEdit, OnePhoneChangedKeepsEverythingElse) {
  std::string card = real_world_card();
  VCardEdit e = vcard_edit_of(parsed(card));
  ASSERT_EQ(e.shown.phones.size(), 10u);
  e.edited.phones[3].value = "+46 70 999 99 99";
  std::string out = vcard_apply_edit(card, e);
  expect_lines_kept(card, out, {"TEL;TYPE=WORK;TYPE=VOICE:+46 8 555 0113"});
  EXPECT_EQ(count(out, "TEL;"), 12);
  EXPECT_NE(out.find("TEL;TYPE=WORK;TYPE=VOICE:+46 70 999 99 99\n"), std::string::npos) << out;
  // In place: between the third and fifth phone.
  EXPECT_LT(out.find("0112"), out.find("+46 70 999"));
  EXPECT_LT(out.find("+46 70 999"), out.find("0114"));
  VCardRecord back = parsed(out);
  EXPECT_EQ(back.phones[3].value, "+46 70 999 99 99");
  EXPECT_EQ(back.n[2], "Elisabet");
}

TEST(VcardEdit, NamesTypesRemovalsAndAdditions) {
  std::string card = real_world_card();
  VCardEdit e = vcard_edit_of(parsed(card));
  e.edited.n[1] = "Marie";
  e.edited.fn = "Marie Lindqvist";
  // Phone 0 removed (rows move up), one added, e-mail type changed.
  e.edited.phones.erase(e.edited.phones.begin());
  e.phone_origin.erase(e.phone_origin.begin());
  e.edited.phones.push_back({TEL_HOME | TEL_FAX, "+46 8 000"});
  e.phone_origin.push_back(-1);
  e.edited.emails[0].flags = EMAIL_INTERNET | EMAIL_HOME;
  e.edited.birthday = 19800514;
  e.edited.note = "met at the fair\\nbring slides";
  std::string out = vcard_apply_edit(card, e);

  EXPECT_NE(out.find("N:Lindqvist;Marie;Elisabet;Dr.;PhD\n"), std::string::npos) << out;
  EXPECT_NE(out.find("FN:Marie Lindqvist\n"), std::string::npos);
  EXPECT_EQ(out.find("0110"), std::string::npos);  // the removed phone
  // The new phone follows the last phone the editor showed, before the ones
  // it did not.
  size_t added = out.find("TEL;TYPE=HOME;TYPE=FAX:+46 8 000\n");
  ASSERT_NE(added, std::string::npos) << out;
  EXPECT_LT(out.find("0119"), added);
  EXPECT_LT(added, out.find("0120"));
  // The grouped e-mail keeps its group and its label line.
  EXPECT_NE(out.find("item1.EMAIL;TYPE=INTERNET;TYPE=HOME:maria@acme.example\n"), std::string::npos) << out;
  EXPECT_NE(out.find("item1.X-ABLabel:Work\n"), std::string::npos);
  EXPECT_LT(out.find("BDAY:19800514\n"), out.find("END:VCARD"));
  expect_lines_kept(card, out, {"TEL", "N:", "FN:", "item1.EMAIL"});
  VCardRecord back = parsed(out);
  EXPECT_EQ(back.birthday, 19800514);
  EXPECT_EQ(back.note, "met at the fair\\nbring slides");
  EXPECT_EQ(back.phones.size(), 10u);
  EXPECT_EQ(back.phones[9].value, "+46 8 000");

  // Clearing fields removes their lines.
  VCardEdit e2 = vcard_edit_of(back);
  e2.edited.birthday = 0;
  e2.edited.note.clear();
  std::string out2 = vcard_apply_edit(out, e2);
  EXPECT_EQ(out2.find("BDAY"), std::string::npos);
  EXPECT_EQ(out2.find("NOTE"), std::string::npos);
  EXPECT_NE(out2.find("ORG:Acme Robotics;Research\n"), std::string::npos);
}

// The editor shows the organisation's name only: typing a name replaces the
// first component of ORG and keeps the units after it as written.
TEST(VcardEdit, TheOrganisationNameIsEditedAndItsUnitsKept) {
  struct Case {
    const char* stored;  // ORG value, nullptr: no ORG line
    const char* shown;   // the name the editor shows
    const char* typed;   // the name the user leaves (unescaped)
    const char* line;    // the ORG line written, nullptr: none
  } cases[] = {
      {"Acme Robotics;Research", "Acme Robotics", "Acme Labs", "ORG:Acme Labs;Research\n"},
      {"Acme\\, Inc.;R&D;Sensors", "Acme, Inc.", "Acme, Inc.", "ORG:Acme\\, Inc.;R&D;Sensors\n"},
      {"Acme;Research", "Acme", "", "ORG:;Research\n"},
      {"Acme", "Acme", "", nullptr},
      {"Acme;;", "Acme", "", nullptr},
      {nullptr, "", "Tiles; Ltd.", "ORG:Tiles\\; Ltd.\n"},
  };
  for (const Case& c : cases) {
    std::string card = "BEGIN:VCARD\nVERSION:3.0\nN:Roe;Jan\nFN:Jan Roe\n";
    if (c.stored) card += std::string("ORG:") + c.stored + "\n";
    card += "TEL:123\nEND:VCARD\n";
    VCardEdit e = vcard_edit_of(parsed(card));
    EXPECT_EQ(vcard_org_name(e.shown), c.shown) << card;
    if (vcard_org_name(e.shown) != c.typed)
      e.edited.org = vcard_org_with_name(e.shown.org, vcard_escape(c.typed));
    std::string out = vcard_apply_edit(card, e);
    if (c.line) EXPECT_NE(out.find(c.line), std::string::npos) << out;
    else EXPECT_EQ(out.find("ORG"), std::string::npos) << out;
    expect_lines_kept(card, out, {"ORG"});
  }
}

// A line break left raw in an edited value, changed or added, existing card
// or new, stays inside its property: it can never add one.
TEST(VcardEdit, ARawLineBreakInAValueNeverStartsAProperty) {
  const std::string card = "BEGIN:VCARD\nVERSION:3.0\nN:Roe;Jan\nFN:Jan Roe\nTEL:123\nNOTE:old\nEND:VCARD\n";
  struct Case {
    const char* what;
    std::function<void(VCardRecord&)> edit;
    std::function<std::string(const VCardRecord&)> read;
  } cases[] = {
      {"note", [](VCardRecord& r) { r.note = "a\nTEL:999"; }, [](const VCardRecord& r) { return r.note; }},
      {"web address", [](VCardRecord& r) { r.url = "x\r\nTEL:999"; }, [](const VCardRecord& r) { return r.url; }},
      {"phone", [](VCardRecord& r) { r.phones[0].value = "1\rTEL:999"; },
       [](const VCardRecord& r) { return r.phones[0].value; }},
  };
  for (const Case& c : cases) {
    for (bool fresh : {false, true}) {
      VCardEdit e = vcard_edit_of(parsed(card));
      c.edit(e.edited);
      VCardRecord back = parsed(vcard_apply_edit(fresh ? std::string() : card, e));
      EXPECT_EQ(1u, back.phones.size()) << c.what << fresh;
      EXPECT_NE(std::string::npos, c.read(back).find("\\nTEL:999")) << c.what << fresh;
    }
  }
}

TEST(VcardEdit, OldStyleTypesAndCardsWithoutEnd) {
  std::string card = "BEGIN:VCARD\nVERSION:2.1\nN:Roe;Jan\nTEL;HOME;VOICE;X-CUSTOM=1:123\nADR;HOME:;;Street 1;Town;;;;DE\n";
  VCardEdit e = vcard_edit_of(parsed(card));
  e.edited.phones[0].flags = TEL_WORK | TEL_VOICE;
  e.edited.addresses.push_back({ADR_WORK, {"", "", "Road 2", "City", "", "", "", "FR"}});
  e.address_origin.push_back(-1);
  e.edited.url = "https://roe.example";
  std::string out = vcard_apply_edit(card, e);
  EXPECT_NE(out.find("TEL;X-CUSTOM=1;TYPE=WORK;TYPE=VOICE:123\n"), std::string::npos) << out;
  EXPECT_NE(out.find("ADR;HOME:;;Street 1;Town;;;;DE\nADR;TYPE=WORK:;;Road 2;City;;;;FR\n"), std::string::npos);
  EXPECT_NE(out.find("URL:https://roe.example\n"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 10), "END:VCARD\n");
  VCardRecord back = parsed(out);
  EXPECT_EQ(back.phones[0].flags, TEL_WORK | TEL_VOICE);
  EXPECT_EQ(back.addresses.size(), 2u);

  // No stored card: the edited record is written whole.
  VCardEdit fresh;
  fresh.edited.n[0] = "New";
  fresh.edited.fn = "New";
  EXPECT_EQ(vcard_apply_edit("", fresh), vcard_compose_full(fresh.edited));
}

class WholeCardTest : public InterchangeTest {};

TEST_F(WholeCardTest, ImportEditExportKeepsTheCard) {
  std::string crlf;
  for (char c : real_world_card()) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  ASSERT_EQ(import_vcf(crlf), 1);
  Item* item = only(ITEM_VCARD);
  ASSERT_TRUE(item);
  std::string body = item_body_load(item);
  EXPECT_NE(body.find("ORG:Acme Robotics;Research"), std::string::npos) << body;
  EXPECT_NE(body.find("PHOTO;ENCODING=b;TYPE=JPEG:/9j/"), std::string::npos);
  EXPECT_EQ(count(body, "TEL;"), 12);

  VCardEdit e = vcard_edit_of(parsed(body));
  e.edited.phones[0].value = "+46 70 123";
  int64_t slot = item_find(item->uuid);
  std::string text = vcard_apply_edit(body, e);
  ASSERT_EQ(vcard_store(slot, e.edited, text, 0), slot);

  std::string out = read(dir.file("out.vcf"));
  ASSERT_EQ(export_contacts(dir.file("out.vcf").c_str(), 0, slot), 1);
  out = read(dir.file("out.vcf"));
  for (const char* kept : {"ORG:Acme Robotics;Research", "TITLE:Head of Sensors", "NICKNAME:Mia",
                           "N:Lindqvist;Maria;Elisabet;Dr.;PhD", "X-SOCIALPROFILE", "item1.X-ABLabel:Work",
                           "+46 8 555 0121", "TEL;TYPE=CELL;TYPE=VOICE:+46 70 123"})
    EXPECT_NE(out.find(kept), std::string::npos) << kept << "\n" << out;
  EXPECT_EQ(out.find("0110"), std::string::npos);
  EXPECT_EQ(count(out, "TEL;"), 12);
  // The photo comes out whole (unfolded here) and every line ends in CR LF.
  std::string unfolded;
  for (size_t i = 0; i < out.size(); i++) {
    if (out.compare(i, 3, "\r\n ") == 0) {
      i += 2;
      continue;
    }
    unfolded += out[i];
  }
  EXPECT_NE(unfolded.find("KCgoKCgo\r\n"), std::string::npos);
  EXPECT_EQ(count(out, "\n"), count(out, "\r\n"));
}

TEST_F(WholeCardTest, LargeCardsAreKeptWhole) {
  std::string note(6000, 'x');
  std::string vcf = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Big;Card\r\nFN:Big Card\r\nNOTE:" + note + "\r\nEND:VCARD\r\n";
  ASSERT_EQ(import_vcf(vcf), 1);
  Item* item = only(ITEM_VCARD);
  ASSERT_TRUE(item);
  EXPECT_NE(item_body_load(item).find(note + "\n"), std::string::npos);
}

}  // namespace
