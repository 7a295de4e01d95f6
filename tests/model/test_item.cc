// SPDX-License-Identifier: GPL-3.0-or-later
#include <openssl/evp.h>

#include <cstring>

#include "model_fixture.h"

namespace {

const uint8_t kUuid[16] = {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

Item sample_item() {
  Item it;
  it.type = ITEM_EVENT;
  it.markup = 1;
  it.due = 1700000000;
  it.end = 1700003600;
  it.recurrence = rule(FREQ_MONTHLY, 1, 0, RECUR_COUNT);
  it.recur_count = 5;
  it.remind_offset = 600;
  it.next_remind = 1699999400;
  it.created = 1600000000;
  it.modified = 1600000001;
  it.title = "a:b";
  return it;
}

using ItemFormat = ModelTest;

TEST_F(ItemFormat, HeaderStringHasTheExactLayout) {
  Item it = sample_item();
  EXPECT_EQ(item_header_format(it), "1:0:1:1700000000:1700003600:16777475;5:600;1699999400:1600000000:1600000001:a:b");
  it.recurrence.end_kind = RECUR_UNTIL;
  it.last_occurrence = 1800000000;
  EXPECT_EQ(item_header_format(it), "1:0:1:1700000000:1700003600:33554691;1800000000:600;1699999400:1600000000:1600000001:a:b");
  it.recurrence.end_kind = RECUR_FOREVER;
  EXPECT_EQ(item_header_format(it), "1:0:1:1700000000:1700003600:259;0:600;1699999400:1600000000:1600000001:a:b");
}

TEST_F(ItemFormat, HeaderRoundTripKeepsEveryFieldAndATitleWithColons) {
  Item it = sample_item();
  it.title = "meet: room 3: ::";
  Item* back = items_add_from_str(2, kUuid, item_header_format(it).c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(0, memcmp(back->uuid, kUuid, 16));
  EXPECT_EQ(back->repo, 2);
  EXPECT_EQ(back->type, ITEM_EVENT);
  EXPECT_EQ(back->flags, 0);
  EXPECT_EQ(back->markup, 1);
  EXPECT_EQ(back->due, it.due);
  EXPECT_EQ(back->end, it.end);
  EXPECT_EQ(recurrence_pack(back->recurrence), recurrence_pack(it.recurrence));
  EXPECT_EQ(back->recur_count, 5);
  EXPECT_EQ(back->remind_offset, 600);
  EXPECT_EQ(back->next_remind, it.next_remind);
  EXPECT_EQ(back->created, it.created);
  EXPECT_EQ(back->modified, it.modified);
  EXPECT_EQ(back->title, "meet: room 3: ::");
  EXPECT_EQ(item_header_format(*back), item_header_format(it));
}

TEST_F(ItemFormat, UntilTimeLoadsIntoLastOccurrence) {
  Item it = sample_item();
  it.recurrence.end_kind = RECUR_UNTIL;
  it.last_occurrence = 1750000000;
  Item* back = items_add_from_str(0, kUuid, item_header_format(it).c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->recur_count, 0);
  EXPECT_EQ(back->last_occurrence, 1750000000);
  item_set_last_occurrence(back);
  EXPECT_EQ(back->last_occurrence, 1750000000);
}

TEST_F(ItemFormat, TimesAfter2038Load) {
  Item it = sample_item();
  it.due = 4102444800LL;  // 2100-01-01
  it.end = 4102448400LL;
  it.recurrence.end_kind = RECUR_UNTIL;
  it.last_occurrence = 5000000000LL;
  it.next_remind = 4102444200LL;
  it.created = 3000000000LL;
  it.modified = 3000000001LL;
  Item* back = items_add_from_str(0, kUuid, item_header_format(it).c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->due, 4102444800LL);
  EXPECT_EQ(back->end, 4102448400LL);
  EXPECT_EQ(back->last_occurrence, 5000000000LL);
  EXPECT_EQ(back->next_remind, 4102444200LL);
  EXPECT_EQ(back->created, 3000000000LL);
  EXPECT_EQ(back->modified, 3000000001LL);

  uint8_t tag_uuid[16] = {7};
  int64_t slot = tags_add_from_str(0, tag_uuid, "00000000000000000000000000000000:3000000000:later");
  ASSERT_GT(slot, 0);
  EXPECT_EQ(tag_get(slot)->modified, 3000000000LL);
}

TEST_F(ItemFormat, SimpleNoteHeaderLoads) {
  Item* note = items_add_from_str(0, kUuid, "2:0:0:0:0:0:0:100:100:x");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->type, ITEM_NOTE);
  EXPECT_EQ(note->title, "x");
  EXPECT_EQ(note->next_remind, 0);
  EXPECT_EQ(item_header_format(*note)[1], ':');
  Tag tag;
  tag.name = "n";
  EXPECT_NE(tag_string_format(tag)[1], ':');
}

TEST_F(ItemFormat, CountAfterSemicolonIsIgnoredWithoutRecurrence) {
  Item* it = items_add_from_str(0, kUuid, "0:0:0:1000:0:0;7:0;0:100:100:t");
  ASSERT_NE(it, nullptr);
  EXPECT_EQ(it->recur_count, 0);
  item_set_last_occurrence(it);
  EXPECT_EQ(it->last_occurrence, 1000);
}

TEST_F(ItemFormat, ParserRejectsEachInvalidField) {
  const char* bad[] = {
      "5:0:0:0:0:0;0:0;0:100:100:type too big",
      "-1:0:0:0:0:0;0:0;0:100:100:negative type",
      "0:5:0:0:0:0;0:0;0:100:100:flags 5",
      "0:-1:0:0:0:0;0:0;0:100:100:negative flags",
      "0:0:0:-5:0:0;0:0;0:100:100:negative due",
      "0:0:0:0:-5:0;0:0;0:100:100:negative end",
      "0:0:0:0:0:-1;0:0;0:100:100:negative recurrence",
      "0:0:0:0:0:0;0:-60;0:100:100:negative reminder",
      "0:0:0:0:0:0;0:0;0:0:100:created zero",
      "0:0:0:0:0:0;0:0;0:100:0:modified zero",
      "0:0:0:0:0:0;0:0;0:-3:100:created negative",
      "0:0:0:0:0:0;0:0;0:200:100:created after modified",
      "0:0:0:0:0:0;0:0;0:100:100",   // no title token
      "0:0:0:0:0:0;0:0;0:100",       // missing token
      "",                            // empty
      "0:0:0:x:0:0;0:0;0:100:100:t",  // not a number
      "0:0:0::0:0;0:0;0:100:100:t",   // empty number
      "0:0:0:0:0:0;x:0;0:100:100:t",  // bad count
      "0:0:0:0:0:4294967296:0:100:100:t",  // recurrence wider than 32 bits
      "0:0:0:99999999999999999999:0:0:0:100:100:t",  // out of range
  };
  for (const char* h : bad) {
    EXPECT_EQ(items_add_from_str(0, kUuid, h), nullptr) << h;
  }
  EXPECT_EQ(slot_array_count(model().items), 0);
  EXPECT_EQ(items_add_from_str(0, kUuid, nullptr), nullptr);
}

TEST_F(ItemFormat, ParseHeaderForHistorySkipsTheSemicolonValues) {
  Item rec;
  ASSERT_EQ(0, item_parse_header("3:7:1:50:60:259;9:600;55:10:5:card", &rec));
  EXPECT_EQ(rec.type, 3);
  EXPECT_EQ(rec.flags, 7);  // no validation
  EXPECT_EQ(rec.due, 50);
  EXPECT_EQ(rec.recurrence.freq, 3);
  EXPECT_EQ(rec.recurrence.interval_minus_one, 1);
  EXPECT_EQ(rec.recur_count, 0);
  EXPECT_EQ(rec.remind_offset, 600);
  EXPECT_EQ(rec.next_remind, 0);
  EXPECT_EQ(rec.created, 10);
  EXPECT_EQ(rec.title, "card");
  EXPECT_EQ(-1, item_parse_header("3:7:1:50", &rec));
}

TEST_F(ItemFormat, BodyLineEndsForStorage) {
  EXPECT_EQ(body_to_storage("one\ntwo\r\nthree"), "one\r\ntwo\r\nthree");
  EXPECT_EQ(body_to_storage("\n\n"), "\r\n\r\n");
  std::string stored = "a\r\nlone\rcr\r\n";
  EXPECT_EQ(body_from_storage(stored.data(), stored.size()), "a\nlonecr\n");
}

TEST_F(ItemFormat, PaddingLeavesRoomForATerminator) {
  EXPECT_EQ(padded_length(0), 16u);
  EXPECT_EQ(padded_length(15), 16u);
  EXPECT_EQ(padded_length(16), 32u);
  EXPECT_EQ(padded_length(31), 32u);
  std::vector<uint8_t> p = pad16("0123456789abcde");
  ASSERT_EQ(p.size(), 16u);
  EXPECT_EQ(p[15], 0);
  p = pad16("0123456789abcdef");
  ASSERT_EQ(p.size(), 32u);
  for (size_t i = 16; i < 32; i++) EXPECT_EQ(p[i], 0);
}

TEST_F(ItemFormat, VersionHashIsSha1OfHeaderAndStoredBody) {
  std::string header = "2:0:0:0:0:0;0:0;0:100:100:x";
  std::string body = body_to_storage("line\nnext");
  uint8_t got[20], want[20];
  item_version_hash(header, body, got);
  std::string all = header + body;
  unsigned int len = 0;
  EVP_Digest(all.data(), all.size(), want, &len, EVP_sha1(), nullptr);
  ASSERT_EQ(len, 20u);
  EXPECT_EQ(0, memcmp(got, want, 20));
}

TEST_F(ItemFormat, RecurrencePacksLowestByteFirst) {
  Recurrence r = rule(FREQ_WEEKLY, 3, 0x22, RECUR_UNTIL);
  EXPECT_EQ(recurrence_pack(r), 2 | 3 << 8 | 0x22 << 16 | 2 << 24);
  Recurrence back = recurrence_unpack(recurrence_pack(r));
  EXPECT_EQ(back.freq, 2);
  EXPECT_EQ(back.interval_minus_one, 3);
  EXPECT_EQ(back.by_day, 0x22);
  EXPECT_EQ(back.end_kind, 2);
}

using KeyBodyTest = ModelTest;

TEST_F(KeyBodyTest, FormatAndParseRoundTrip) {
  KeyBody k;
  k.url = "https://example.org/?a=1&b=:";
  k.user = "ü ser";
  k.password = "p:a;s\\s\tword";
  k.date = 4102444800LL;
  k.notes = "line 1\nline 2\n";
  std::string body = key_body_format(k);
  EXPECT_EQ(body, "https://example.org/?a=1&b=:\nü ser\np:a;s\\s\tword\n4102444800\nline 1\nline 2\n");
  KeyBody back;
  key_body_parse(body.c_str(), &back);
  EXPECT_EQ(back.url, k.url);
  EXPECT_EQ(back.user, k.user);
  EXPECT_EQ(back.password, k.password);
  EXPECT_EQ(back.date, k.date);
  EXPECT_EQ(back.notes, k.notes);
}

TEST_F(KeyBodyTest, ShortBodiesFillOnlyTheLeadingFields) {
  KeyBody k;
  key_body_parse("site\nname\n", &k);
  EXPECT_EQ(k.url, "site");
  EXPECT_EQ(k.user, "name");
  EXPECT_EQ(k.password, "");
  EXPECT_EQ(k.date, 0);
  EXPECT_EQ(k.notes, "");
  key_body_parse("site\nname\npw", &k);
  EXPECT_EQ(k.password, "");  // no LF ends it
  key_body_parse("", &k);
  EXPECT_EQ(k.url, "");
}

TEST_F(KeyBodyTest, DateBaseIsDetected) {
  KeyBody k;
  key_body_parse("u\nn\np\n0x10\n", &k);
  EXPECT_EQ(k.date, 16);
  key_body_parse("u\nn\np\n010\n", &k);
  EXPECT_EQ(k.date, 8);
}

TEST_F(KeyBodyTest, LongNotesStayWholeUpToTheItemCap) {
  KeyBody k;
  k.url = "u";
  for (size_t n : {size_t(4096), size_t(6000), size_t(500000)}) {
    k.notes = std::string(n, 'x');
    KeyBody back;
    key_body_parse(key_body_format(k).c_str(), &back);
    EXPECT_EQ(back.notes, k.notes) << n;
  }
  // Over the cap: cut there, never inside a character.
  k.notes.clear();
  while (k.notes.size() <= ITEM_BODY_MAX) k.notes += "é";  // two bytes each
  std::string body = key_body_format(k);
  EXPECT_LE(body.size(), ITEM_BODY_MAX);
  EXPECT_GE(body.size(), ITEM_BODY_MAX - 1);
  EXPECT_NE(static_cast<unsigned char>(body.back()), 0xC3);  // no lead byte left alone
}

using Collections = ModelTest;

TEST_F(Collections, ItemsAreFoundBySlotAndUuid) {
  int64_t a, b;
  Item* ia = item_new(&a);
  Item* ib = item_new(&b);
  ASSERT_TRUE(ia && ib);
  EXPECT_NE(a, b);
  EXPECT_EQ(item_find(ia->uuid), a);
  EXPECT_EQ(item_find_hex(uuid_to_hex(ib->uuid).c_str()), b);
  std::string upper = uuid_to_hex(ib->uuid);
  for (char& c : upper) c = static_cast<char>(toupper(c));
  EXPECT_EQ(item_find_hex(upper.c_str()), b);
  EXPECT_EQ(item_find_hex("abc"), -1);
  EXPECT_EQ(item_find_hex((uuid_to_hex(ib->uuid) + "0").c_str()), -1);
  EXPECT_EQ(item_get(-1), nullptr);

  items_remove_slot(a);
  EXPECT_EQ(item_get(a), nullptr);
  EXPECT_TRUE(ia->flags & ITEM_DELETED);
  EXPECT_EQ(item_find(ia->uuid), -1);
  EXPECT_EQ(item_find(ib->uuid), b);
}

TEST_F(Collections, TypeCounters) {
  items_count_reset();
  items_inc_count(ITEM_KEY);
  items_inc_count(ITEM_KEY);
  items_inc_count(5);  // ignored
  EXPECT_EQ(model().type_counts[ITEM_KEY], 2);
  items_count_reset();
  EXPECT_EQ(model().type_counts[ITEM_KEY], 0);
}

TEST_F(Collections, TagsLoadWithRootEntryAndLinks) {
  EXPECT_EQ(tag_find(std::vector<uint8_t>(16, 0).data()), 0);
  uint8_t root[16] = {1}, child[16] = {2};
  int64_t r = tags_add_from_str(0, root, "00000000000000000000000000000000:100:/");
  int64_t c = tags_add_from_str(0, child, (uuid_to_hex(root) + ":200:a:b").c_str());
  ASSERT_GT(r, 0);
  ASSERT_GT(c, 0);
  EXPECT_EQ(tag_get(c)->name, "a:b");
  EXPECT_EQ(0, memcmp(tag_get(c)->parent, root, 16));
  EXPECT_EQ(tag_string_format(*tag_get(c)), uuid_to_hex(root) + ":200:a:b");
  EXPECT_EQ(tag_find_hex(uuid_to_hex(child).c_str()), c);

  Item* item = items_add_from_str(0, kUuid, "2:0:0:0:0:0;0:0;0:100:100:n");
  ASSERT_NE(item, nullptr);
  int64_t islot = item_find(kUuid);
  tag_link_add(child, kUuid);
  uint8_t unknown[16] = {9};
  tag_link_add(unknown, kUuid);
  tag_link_add(child, unknown);
  EXPECT_EQ(slot_array_count(model().tag_links), 1);
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(c), static_cast<int32_t>(islot)));
  EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(r), static_cast<int32_t>(islot)));

  tags_reset();
  EXPECT_EQ(slot_array_count(model().tags), 1);
  EXPECT_EQ(slot_array_count(model().tag_links), 0);
}

TEST_F(Collections, MalformedTagStringsAddNothing) {
  uint8_t u[16] = {3};
  EXPECT_EQ(tags_add_from_str(0, u, "0000:100:short parent"), -1);
  EXPECT_EQ(tags_add_from_str(0, u, "0000000000000000000000000000000g:100:bad digit"), -1);
  EXPECT_EQ(tags_add_from_str(0, u, "00000000000000000000000000000000"), -1);
  EXPECT_EQ(tags_add_from_str(0, u, "00000000000000000000000000000000:100"), -1);
  EXPECT_EQ(tags_add_from_str(0, u, "00000000000000000000000000000000:x:bad time"), -1);
  EXPECT_EQ(slot_array_count(model().tags), 1);
  EXPECT_FALSE(model().duplicate_tag);
}

TEST_F(Collections, DuplicateTagUuidRaisesTheFlag) {
  uint8_t u[16] = {4};
  ASSERT_GT(tags_add_from_str(0, u, "00000000000000000000000000000000:1:/"), 0);
  EXPECT_FALSE(model().duplicate_tag);
  EXPECT_EQ(tags_add_from_str(1, u, "00000000000000000000000000000000:2:/"), -1);
  EXPECT_TRUE(model().duplicate_tag);
  EXPECT_EQ(slot_array_count(model().tags), 2);
}

TEST_F(Collections, SelectedTagIsTheViewsRealTag) {
  uint8_t u[16] = {9};
  int64_t slot = tags_add_from_str(3, u, "00000000000000000000000000000000:1:/");
  ASSERT_GT(slot, 0);
  const struct {
    int64_t view;
    const Tag* tag;
    int repo;
  } cases[] = {
      {slot, tag_get(slot), 3},      {VIEW_FIXED, nullptr, -1}, {VIEW_SEARCH, nullptr, -1},
      {VIEW_REMINDERS, nullptr, -1}, {0, nullptr, -1},          {slot + 5, nullptr, -1},  // gone since
  };
  for (const auto& c : cases) {
    model().view = static_cast<int32_t>(c.view);
    EXPECT_EQ(model_selected_tag(), c.tag) << c.view;
    EXPECT_EQ(model_selected_repo(), c.repo) << c.view;
  }
}

TEST_F(Collections, HistoryViewKeepsVersionsApartFromTheItems) {
  ASSERT_NE(items_add_from_str(0, kUuid, "2:0:0:0:0:0;0:0;0:100:300:now"), nullptr);
  int64_t current = item_find(kUuid);
  HistoryView view;
  const uint8_t hash[20] = {7};
  const std::string v1 = "2:0:0:0:0:0;0:0;0:100:100:v1";
  int64_t s1;
  ASSERT_NE(history_add(&view, 0, kUuid, v1, hash, &s1), nullptr);
  EXPECT_EQ(history_get(view, s1)->title, "v1");
  EXPECT_EQ(history_get(view, s1)->version_hash[0], 7);
  ASSERT_NE(history_header(view, s1), nullptr);
  EXPECT_EQ(*history_header(view, s1), v1);
  EXPECT_EQ(history_add(&view, 0, kUuid, "2:9:0:0:0:0;0:0;0:100:100:bad flags", hash), nullptr);
  EXPECT_EQ(slot_array_count(view.versions), 1);
  EXPECT_EQ(item_find(kUuid), current);
  EXPECT_EQ(item_get(current)->title, "now");
  EXPECT_EQ(slot_array_count(model().items), 1);
  history_remove_slot(&view, s1);
  EXPECT_EQ(history_get(view, s1), nullptr);
  EXPECT_EQ(history_header(view, s1), nullptr);
}

TEST(Uuid, HexConversions) {
  uint8_t u[16];
  EXPECT_EQ(0, hex_to_uuid("000102030405060708090A0b0c0d0e0f", u));
  EXPECT_EQ(u[10], 10);
  EXPECT_EQ(uuid_to_hex(u), "000102030405060708090a0b0c0d0e0f");
  EXPECT_EQ(-1, hex_to_uuid("000102030405060708090a0b0c0d0e0", u));
  EXPECT_EQ(-1, hex_to_uuid("000102030405060708090a0b0c0d0e0f0", u));
  EXPECT_EQ(-1, hex_to_uuid("000102030405060708090a0b0c0d0e0 ", u));
  EXPECT_EQ(-1, hex_to_uuid(nullptr, u));
}

}  // namespace

namespace {

// Random texts made of the characters that matter to the parsers never crash
// them, and whatever loads formats back to a string that loads the same.
TEST_F(Collections, ParsersSurviveRandomInput) {
  const char alphabet[] = "0123456789:;-x\n\r";
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  uint8_t uuid[16] = {0x55};
  int loaded = 0;
  for (int i = 0; i < 3000; i++) {
    std::string s;
    if (i % 2) {
      size_t len = next() % 60;
      for (size_t k = 0; k < len; k++) s += alphabet[(next() >> 8) % (sizeof alphabet - 1)];
    } else {
      s = "1:0:1:1700000000:1700003600:16777475;5:600;1699999400:1600000000:1600000001:t";
      for (int k = 0; k < 2; k++) s[(next() >> 8) % s.size()] = alphabet[(next() >> 8) % (sizeof alphabet - 1)];
    }
    uuid[1] = static_cast<uint8_t>(i);
    uuid[2] = static_cast<uint8_t>(i >> 8);
    if (Item* item = items_add_from_str(0, uuid, s.c_str())) {
      loaded++;
      std::string again = item_header_format(*item);
      Item* back = items_add_from_str(0, uuid, again.c_str());
      ASSERT_NE(back, nullptr) << s;
      EXPECT_EQ(item_header_format(*back), again);
    }
    Item rec;
    item_parse_header(s.c_str(), &rec);
    tags_add_from_str(0, uuid, (std::string(32, '0') + ":" + s).c_str());
    KeyBody k;
    key_body_parse(s.c_str(), &k);
  }
  EXPECT_GT(loaded, 100);
}

}  // namespace
