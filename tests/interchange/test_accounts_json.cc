// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "interchange/accounts_json.h"

namespace {

std::vector<std::pair<JsonToken, std::string>> scan(const std::string& s, int* rc) {
  std::vector<std::pair<JsonToken, std::string>> out;
  *rc = json_scan(s.data(), s.size(), [&](JsonToken k, const std::string& t) {
    out.emplace_back(k, t);
    return 0;
  });
  return out;
}

TEST(JsonScan, TokensLiteralsAndEscapes) {
  int rc;
  auto t = scan(R"([{"a": "x\"y\\z\/w\n", "b": 12, "c": true, "d": false, "e": null, "f": -1.5e+3}])", &rc);
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(t.size(), 16u);
  EXPECT_EQ(t[0].first, JSON_ARRAY_START);
  EXPECT_EQ(t[1].first, JSON_OBJECT_START);
  EXPECT_EQ(t[3].second, "x\"y\\z/w\n");
  EXPECT_EQ(t[5].second, "12");
  EXPECT_EQ(t[7].second, "true");
  EXPECT_EQ(t[9].second, "false");
  EXPECT_EQ(t[11].second, "null");
  EXPECT_EQ(t[13].second, "-1.5e+3");
  EXPECT_EQ(t[14].first, JSON_OBJECT_END);
}

TEST(JsonScan, UnicodeEscapesBecomeUtf8) {
  int rc;
  auto t = scan(R"(["caf\u00e9 \u20ac \ud83d\ude00 \ud800x"])", &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(t[1].second, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xef\xbf\xbdx");
}

TEST(JsonScan, SyntaxErrors) {
  int rc;
  scan(R"(["unterminated)", &rc);
  EXPECT_EQ(rc, -1);
  scan("[12x]", &rc);
  EXPECT_EQ(rc, -1);
  scan("[#]", &rc);
  EXPECT_EQ(rc, -1);
  scan(R"(["\u12"])", &rc);
  EXPECT_EQ(rc, -1);
  scan("{\"a\":1}", &rc);  // literal right before a brace
  EXPECT_EQ(rc, 0);
}

TEST(JsonString, EscapesControlCharactersAsValidJson) {
  EXPECT_EQ(json_string("a\"b\\c\n\t\r\a\v\x01"), "\"a\\\"b\\\\c\\n\\t\\u0007\\u000b\\u0001\"");
  // What we write reads back unchanged (CR aside).
  std::string original = "p\"w\\d\x07\x0b\tend \xc3\xa4";
  int rc;
  auto t = scan(json_string(original), &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(t[0].second, original);
}

std::vector<AccountRecord> read_accounts(const std::string& s, int* rc) {
  std::vector<AccountRecord> out;
  *rc = accounts_json_read(s.data(), s.size(), [&](const AccountRecord& r) { out.push_back(r); });
  return out;
}

TEST(AccountsJson, ExportReadsBackAndExpiryIsBareDate) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  AccountRecord a;
  a.title = "Mail";
  a.url = "https://mail.example";
  a.username = "ann";
  a.password = "p\"a\\ss\n";
  a.notes = "two\nlines";
  struct tm tm {};
  tm.tm_year = 2040 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 15;
  tm.tm_isdst = -1;
  a.expires = mktime(&tm);
  AccountRecord b;
  b.title = "Bank";
  std::string file = accounts_json_file(accounts_json_entry(a) + "," + accounts_json_entry(b));
  EXPECT_NE(file.find("\"expires\": 20400315\r\n"), std::string::npos);
  EXPECT_EQ(accounts_json_entry(b).find("expires"), std::string::npos);
  int rc;
  auto got = read_accounts(file, &rc);
  ASSERT_EQ(rc, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].title, a.title);
  EXPECT_EQ(got[0].password, a.password);
  EXPECT_EQ(got[0].notes, a.notes);
  EXPECT_EQ(got[0].url, a.url);
  EXPECT_EQ(got[0].expires, a.expires);  // local midnight, as written
  EXPECT_EQ(got[1].expires, 0);
  EXPECT_EQ(accounts_json_file(""), "[\r\n]\r\n");
}

TEST(AccountsJson, UnknownKeyStopsButKeepsEarlierEntries) {
  int rc;
  auto got = read_accounts(R"([{"title":"a"},{"title":"b","totp":"x"},{"title":"c"}])", &rc);
  EXPECT_EQ(rc, -2);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].title, "a");
}

TEST(AccountsJson, NullsDatesAndCompactEntries) {
  int rc;
  auto got = read_accounts(
      R"({"title":"n","username":null,"expires":null}{"title":"d","expires":"2031-05-06"})"
      R"({"title":"x","expires":"soon"}{"title":"num","expires":1900000000}{"url":"no title"})",
      &rc);
  ASSERT_EQ(rc, 4);
  EXPECT_EQ(got[0].username, "");
  EXPECT_EQ(got[0].expires, 0);
  struct tm tm {};
  time_t t = static_cast<time_t>(got[1].expires);
  localtime_r(&t, &tm);
  EXPECT_EQ(tm.tm_year + 1900, 2031);
  EXPECT_EQ(tm.tm_mon + 1, 5);
  EXPECT_EQ(tm.tm_mday, 6);
  EXPECT_EQ(tm.tm_hour, 0);
  EXPECT_EQ(got[2].expires, 0);
  EXPECT_EQ(got[3].expires, 1900000000);
}

}  // namespace
