// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/test_support.h"
#include "interchange/vcard.h"
#include "interchange/vcard_edit.h"
#include "support/strings.h"

namespace {

VCardRecord parse(const std::string& s) {
  VCardRecord r;
  EXPECT_EQ(vcard_parse(s.data(), s.size(), &r), 0) << s;
  return r;
}

TEST(VcardParse, PropertiesTypesAndLimits) {
  std::string text =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;John;Q;Dr.;Jr.\r\nFN:Doe\\, John\r\n"
      "BDAY:1980-05-17\r\nURL:http://x.example\r\nNOTE:hi\\nthere\r\n"
      "TEL;TYPE=HOME,CELL:111\r\nTEL;TYPE=HOME;TYPE=CELL:222\r\nTEL;TYPE=iPhone:333\r\n"
      "item1.EMAIL;type=INTERNET;type=pref:a@x.example\r\n"
      "ADR;TYPE=WORK:;;Main St 1;Springfield;;12345;USA;US\r\nEND:VCARD\r\n";
  VCardRecord r = parse(text);
  EXPECT_EQ(r.version, 3);
  EXPECT_EQ(vcard_formatted_name(r), "Doe, John");
  EXPECT_EQ(vcard_family_name(r), "Doe");
  EXPECT_EQ(vcard_given_name(r), "John");
  EXPECT_EQ(r.n[3], "Dr.");
  EXPECT_EQ(r.birthday, 19800517);
  EXPECT_EQ(vcard_unescape(r.note), "hi\nthere");
  ASSERT_EQ(r.phones.size(), 3u);
  EXPECT_EQ(r.phones[0].flags, TEL_HOME | TEL_CELL);  // a type list is kept
  EXPECT_EQ(r.phones[1].flags, TEL_HOME | TEL_CELL);
  EXPECT_EQ(r.phones[2].flags, 0);  // unknown type: the number stays
  EXPECT_EQ(r.phones[2].value, "333");
  ASSERT_EQ(r.emails.size(), 1u);
  EXPECT_EQ(r.emails[0].flags, EMAIL_INTERNET | EMAIL_PREF);
  ASSERT_EQ(r.addresses.size(), 1u);
  EXPECT_EQ(r.addresses[0].flags, ADR_WORK);
  EXPECT_EQ(r.addresses[0].part[2], "Main St 1");
  EXPECT_EQ(r.addresses[0].part[7], "US");
}

TEST(VcardParse, ElevenPhonesAndFourAddressesAreCapped) {
  std::string text = "BEGIN:VCARD\nFN:x\n";
  for (int i = 0; i < 11; i++) text += "TEL:" + std::to_string(i) + "\n";
  for (int i = 0; i < 4; i++) text += "ADR:;;s" + std::to_string(i) + ";;;;;\n";
  text += "END:VCARD\n";
  VCardRecord r = parse(text);
  EXPECT_EQ(r.phones.size(), 10u);
  EXPECT_EQ(r.addresses.size(), 3u);
  VCardRecord bad;
  EXPECT_EQ(vcard_parse("FN:x\n", 5, &bad), -1);
  EXPECT_EQ(vcard_parse("", 0, &bad), -1);
}

TEST(VcardCompose, WritesTheKeptSubsetInOrderAndParsesBack) {
  VCardRecord r = parse(
      "BEGIN:VCARD\nVERSION:2.1\nN:Doe;Jane\nFN:Jane Doe\nBDAY:19900102\nTEL;WORK;VOICE:555\n"
      "EMAIL:j@x\nEMAIL;HOME:k@x\nADR;HOME;POSTAL:;;Street;Town;;1;Land;DE\nNOTE:n\nEND:VCARD\n");
  std::string out = vcard_compose_full(r);
  EXPECT_EQ(out,
            "BEGIN:VCARD\nVERSION:3.0\nN:Doe;Jane\nFN:Jane Doe\nBDAY:19900102\n"
            "TEL;TYPE=WORK;TYPE=VOICE:555\nEMAIL;TYPE=INTERNET;TYPE=PREF:j@x\nEMAIL;TYPE=INTERNET;TYPE=HOME:k@x\n"
            "ADR;TYPE=HOME;TYPE=POSTAL:;;Street;Town;;1;Land;DE\nNOTE:n\nEND:VCARD\n");
  VCardRecord again = parse(out);
  EXPECT_EQ(vcard_compose_full(again), out);
}

TEST(VcardAddress, LaidOutByCountry) {
  strings_set_language(0);
  VCardAddress a;
  a.part[2] = "Hauptstr. 5";
  a.part[3] = "Berlin";
  a.part[5] = "10115";
  a.part[6] = "Germany";
  a.part[7] = "DE";
  // German layout: street, postal code, city, country.
  EXPECT_EQ(vcard_address_text(a), "Hauptstr. 5, 10115, Berlin, Germany");
  a.part[7] = "";
  EXPECT_EQ(vcard_address_text(a), "Hauptstr. 5, Berlin, 10115, Germany");
  VCardAddress empty;
  EXPECT_EQ(vcard_address_text(empty), "");
}

TEST(VcardImport, QuotedPrintableFoldingAndBase64) {
  std::string file =
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=B6rg\r\n"
      "FN:J\xc3\xb6rg M\xc3\xbcller\r\n"
      "NOTE;ENCODING=QUOTED-PRINTABLE:line one=0Aline two that is =\r\nsoft broken\r\n"
      "PHOTO;ENCODING=BASE64;TYPE=JPEG:AAAA\r\n BBBB\r\n"
      "TEL;ENCODING=BASE64:MTIz\r\n"
      "X-CUSTOM:dropped\r\n"
      "TEL;CELL:+49 170\r\n 123\r\n"
      "END:VCARD\r\n";
  auto cards = vcard_import_cards(file.data(), file.size());
  ASSERT_EQ(cards.size(), 1u);
  VCardRecord r = parse(cards[0]);
  EXPECT_EQ(vcard_family_name(r), "M\xc3\xbcller");
  EXPECT_EQ(r.note, "line one\\nline two that is soft broken");
  ASSERT_EQ(r.phones.size(), 1u);
  EXPECT_EQ(r.phones[0].value, "+49 170123");
  // Properties the record does not read are kept (a photo unfolded); a
  // BASE64 value of one it reads would be misread as text and is dropped.
  EXPECT_NE(cards[0].find("X-CUSTOM:dropped\n"), std::string::npos);
  EXPECT_NE(cards[0].find("PHOTO;ENCODING=BASE64;TYPE=JPEG:AAAABBBB\n"), std::string::npos) << cards[0];
  EXPECT_EQ(cards[0].find("MTIz"), std::string::npos);
}

TEST(VcardImport, Latin1QuotedPrintableBecomesUtf8) {
  std::string file = "BEGIN:VCARD\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller\nFN:x\nEND:VCARD\n";
  auto cards = vcard_import_cards(file.data(), file.size());
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(parse(cards[0]).n[0], "M\xc3\xbcller");
}

TEST(VcardExport, NormalisedFoldedCrlf) {
  std::string note(100, 'n');
  std::string body = "BEGIN:VCARD\nVERSION:3.0\nN:A;B\nFN:B A\nNOTE:" + note + "\nEND:VCARD\n";
  std::string out = vcard_export_text(body);
  EXPECT_NE(out.find("NOTE:" + note.substr(0, 70) + "\r\n "), std::string::npos) << out;
  EXPECT_EQ(out.find('\n', 0), out.find("\r\n") + 1);
  EXPECT_EQ(out.substr(out.size() - 11), "END:VCARD\r\n");
  EXPECT_EQ(vcard_export_text("garbage"), "");
}

using test_support::read_file;

// Cards written by other programs: what a person would see after import.
TEST(VcardCorpus, RealWorldCardsKeepTheirPhonesAndNames) {
  const std::string dir = std::string(ORDIKA_SOURCE_DIR) + "/tests/data/corpora/vcf/";
  struct Expect {
    const char* file;
    size_t cards;
    size_t index;
    const char* family;
    size_t min_phones;
  } cases[] = {
      {"ezvcard-John_Doe_IPHONE.vcf", 1, 0, "Doe", 7},
      // Quoted-printable UTF-8 names, bare 2.1 type names.
      {"ezvcard-John_Doe_ANDROID.vcf", 6, 2, "\xc3\x91 \xc3\x91 \xc3\x91 \xc3\x91 ", 1},
      {"ezvcard-John_Doe_GMAIL.vcf", 1, 0, "Doe", 1},
      {"ezvcard-John_Doe_MS_OUTLOOK.vcf", 1, 0, "Doe", 1},
      {"ezvcard-rfc6350-example.vcf", 1, 0, "Perreault", 2},
      {"ezvcard-gmail-list.vcf", 3, 0, "Smith", 0},
  };
  for (auto& c : cases) {
    std::string data = read_file(dir + c.file);
    ASSERT_FALSE(data.empty()) << "corpus not found at " << dir << c.file;
    auto cards = vcard_import_cards(data.data(), data.size());
    ASSERT_EQ(cards.size(), c.cards) << c.file;
    VCardRecord r = parse(cards[c.index]);
    EXPECT_EQ(vcard_family_name(r), c.family) << c.file;
    EXPECT_GE(r.phones.size(), c.min_phones) << c.file;
  }
}

}  // namespace
