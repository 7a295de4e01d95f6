// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_ops_fixture.h"

namespace {

using Hits = std::vector<std::pair<long, long>>;

Hits hits_of(const std::vector<SearchHit>& v) {
  EXPECT_FALSE(v.empty());
  if (v.empty()) return {};
  EXPECT_EQ(v.back().start, -1);  // always terminated
  Hits out;
  for (size_t i = 0; i + 1 < v.size(); i++) out.emplace_back(v[i].start, v[i].end);
  return out;
}

class SearchTest : public RepoModelTest {};

TEST_F(SearchTest, FindsTitlesAndBodyOnlyWordsInSlotOrder) {
  int64_t t = make_tag(g_repos[0].root, "t");
  int64_t title_hit = make_item(t, ITEM_NOTE, "Quarterly Report", "nothing here");
  int64_t body_hit = make_item(t, ITEM_TASK, "plain", "see the attached report\nthanks");
  int64_t miss = make_item(t, ITEM_NOTE, "other", "unrelated");
  int64_t far = make_item(g_repos[1].root, ITEM_KEY, "bank", "https://x\nme\nREPORTpw\n0\n");
  (void)miss;
  EXPECT_EQ(items_search("report", 0), 3);
  EXPECT_EQ(search_text(), "report");
  EXPECT_EQ(search_case_sensitive(), 0);
  EXPECT_EQ(linked_items(VIEW_SEARCH),
            (std::vector<int32_t>{static_cast<int32_t>(title_hit), static_cast<int32_t>(body_hit),
                                  static_cast<int32_t>(far)}));
  model().view = VIEW_SEARCH;
  EXPECT_EQ(list_all(), (std::vector<int64_t>{title_hit, body_hit, far}));

  // A new search replaces the results; case-sensitive compares exactly.
  EXPECT_EQ(items_search("report", 1), 1);
  EXPECT_EQ(list_all(), (std::vector<int64_t>{body_hit}));
  EXPECT_EQ(items_search("nowhere", 0), 0);
  EXPECT_TRUE(linked_items(VIEW_SEARCH).empty());
  EXPECT_EQ(items_search("", 0), 0);
  // Searching changes nothing stored.
  EXPECT_EQ(journal_state(db()), 1);
}

TEST_F(SearchTest, CaseFoldingMatchesUmlautsBothWays) {
  int64_t t = make_tag(g_repos[0].root, "t");
  int64_t upper = make_item(t, ITEM_NOTE, "n1", "ÄRGER im Büro");
  int64_t lower = make_item(t, ITEM_NOTE, "ärgerlich", "");
  int64_t sharp = make_item(t, ITEM_NOTE, "n3", "Die Straße");
  EXPECT_EQ(items_search("ärger", 0), 2);
  EXPECT_EQ(linked_items(VIEW_SEARCH), (std::vector<int32_t>{static_cast<int32_t>(upper), static_cast<int32_t>(lower)}));
  EXPECT_EQ(items_search("Ärger", 0), 2);
  EXPECT_EQ(items_search("Ärger", 1), 0);
  EXPECT_EQ(items_search("ÄRGER", 1), 1);
  EXPECT_EQ(items_search("STRASSE", 0), 1);
  EXPECT_EQ(linked_items(VIEW_SEARCH), (std::vector<int32_t>{static_cast<int32_t>(sharp)}));
}

TEST(SearchHits, CharacterOffsetsIntoTheOriginalText) {
  search_state_set("", 0);
  EXPECT_EQ(hits_of(search_hits("anything")), Hits{});
  search_state_set("ärger", 0);
  // "Grüße " is six characters but eight bytes.
  EXPECT_EQ(hits_of(search_hits("Grüße ÄRGER ärger")), (Hits{{6, 11}, {12, 17}}));
  search_state_set("ärger", 1);
  EXPECT_EQ(hits_of(search_hits("Grüße ÄRGER ärger")), (Hits{{12, 17}}));
  EXPECT_EQ(hits_of(search_hits(nullptr)), Hits{});
  // Folding that changes lengths: "ß" folds to "ss".
  EXPECT_EQ(hits_of(text_hits("Straße strasse", "SS", 0)), (Hits{{4, 5}, {11, 13}}));
  EXPECT_EQ(hits_of(text_hits("Straße", "sse", 0)), (Hits{{4, 6}}));
  // Non-overlapping, left to right.
  EXPECT_EQ(hits_of(text_hits("aaaaa", "aa", 1)), (Hits{{0, 2}, {2, 4}}));
  EXPECT_EQ(hits_of(text_hits("AaAa", "aa", 0)), (Hits{{0, 2}, {2, 4}}));
  // Bytes that are not UTF-8 count as one character each and do not stop the search.
  EXPECT_EQ(hits_of(text_hits("\xFF" "ab\xC3" "ab", "AB", 0)), (Hits{{1, 3}, {4, 6}}));
}

}  // namespace
