// English follows the desktop's conventions: header capitalisation for menu
// items, buttons, window titles and column headers, and an ellipsis on the
// commands that ask for more before they act.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support/strings.h"

namespace {

// Menu items, buttons, window titles and column headers.
const int kHeaderIds[] = {
    17,  26,  27,  28,  30,  31,  33,  34,  35,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,
    65,  66,  67,  68,  69,  72,  73,  74,  75,  76,  77,  78,  79,  80,  81,  82,  83,  84,  85,  86,
    87,  88,  89,  90,  91,  92,  93,  94,  95,  97,  110, 111, 114, 130, 131, 133, 177, 179, 181, 182,
    183, 184, 207, 208, 244, 245, 246, 254, 255, 259, 260, 262, 264, 265, 266, 267, 275, 276, 278, 279,
    281, 282, 283, 284, 285, 286, 287, 288, 289, 308, 309, 310, 311, 314, 315, 316, 320, 326, 327, 363,
    364, 378, 383, 384, 385, 401,
};

// Commands that open a dialog asking for more before they act.
const int kEllipsisIds[] = {33, 181, 267, 283, 383, 384};

class TextStyle : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(strings_set_language(0), 1); }
};

std::vector<std::string> words(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == ' ' || c == '(') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

TEST_F(TextStyle, EnglishHeadersUseHeaderCapitalisation) {
  // Short words stay small inside a header, as do format names.
  const std::set<std::string> small = {"a", "an", "and", "as", "at", "for", "from", "in",
                                       "of", "on", "or", "the", "to", "with"};
  const std::set<std::string> names = {"vCard", "iCalendar"};
  for (int id : kHeaderIds) {
    std::string text = ui_string_in(0, id);
    std::vector<std::string> w = words(text);
    ASSERT_FALSE(w.empty()) << id;
    for (size_t i = 0; i < w.size(); i++) {
      unsigned char first = static_cast<unsigned char>(w[i][0]);
      bool lower = first >= 'a' && first <= 'z';
      bool allowed = i > 0 && i + 1 < w.size() && small.count(w[i]);
      allowed = allowed || names.count(w[i]) > 0;
      EXPECT_TRUE(!lower || allowed) << id << ": " << text;
    }
  }
}

TEST_F(TextStyle, CommandsThatAskFirstEndInAnEllipsis) {
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    for (int id : kEllipsisIds) {
      std::string text = ui_string_in(lang, id);
      ASSERT_GE(text.size(), 3u);
      EXPECT_EQ(text.substr(text.size() - 3), "…") << lang << " " << id << ": " << text;
      EXPECT_EQ(text.find("..."), std::string::npos) << lang << " " << id;
    }
  }
  // Titles never carry one: the dialogs those commands open are named without.
  for (int id : {71, 114, 177, 179, 184, 244, 276, 278, 310, 314}) {
    std::string text = ui_string_in(0, id);
    EXPECT_NE(text.substr(text.size() - 3), "…") << id << ": " << text;
  }
}

TEST_F(TextStyle, ToggleLabelsNameWhatTheyDo) {
  // The hidden-repositories toggle never tells the user to hide what is hidden.
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::string on = ui_string_in(lang, 289);
    EXPECT_NE(on, ui_string_in(lang, 288)) << lang;
  }
  EXPECT_EQ(std::string(ui_string_in(0, 289)).find("Hide Hidden"), std::string::npos);
  EXPECT_STRNE(ui_string_in(0, 285), ui_string_in(0, 385));  // button "Hide", column "Hidden"
}

// French typography: a narrow no-break space before ; ! ? and inside « »,
// a no-break space before a colon; never a plain space there.
TEST_F(TextStyle, FrenchSpacesBeforeHighPunctuation) {
  const std::string nnbsp = "\u202f", nbsp = "\u00a0";
  for (int id = 0; id < STRING_COUNT; id++) {
    std::string t = ui_string_in(1, id);
    for (const char* bad : {" ;", " !", " ?", " :", "« ", " »"})
      EXPECT_EQ(t.find(bad), std::string::npos) << id << ": " << t;
    for (size_t i = 0; i < t.size(); i++) {
      char c = t[i];
      if (c != ';' && c != '!' && c != '?') continue;
      // Inside a link or after a letter without a space (a web address, a
      // markup example) nothing is added; after a word it is the narrow space.
      if (i >= 3 && t.compare(i - 3, 3, nnbsp) == 0) continue;
      if (i > 0 && (t[i - 1] == '\\' || t[i - 1] == '/' || t[i - 1] == '!')) continue;
      ADD_FAILURE() << id << " at " << i << ": " << t;
    }
    size_t q = t.find("«");
    if (q != std::string::npos) {
      EXPECT_EQ(t.compare(q + 2, 3, nnbsp), 0) << id << ": " << t;
    }
  }
  ASSERT_EQ(strings_set_language(1), 1);
  EXPECT_EQ(ui_colon(), nbsp + ":");
  EXPECT_NE(std::string(ui_string(21)).find(nbsp + ": %s"), std::string::npos);
  ASSERT_EQ(strings_set_language(3), 1);
  EXPECT_STREQ(ui_colon(), ":");
  ASSERT_EQ(strings_set_language(0), 1);
  EXPECT_STREQ(ui_colon(), ":");
}

TEST_F(TextStyle, ReviewedWordingsHold) {
  // The idle timeout's note never stands between the preposition and the number.
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::string t = ui_string_in(lang, 233);
    EXPECT_TRUE(lang == 0 || lang == 3 || t.back() != ')') << lang << ": " << t;
  }
  EXPECT_STREQ(ui_string_in(1, 207), "Précédent");
  EXPECT_STREQ(ui_string_in(1, 208), "Suivant");
  EXPECT_STREQ(ui_string_in(4, 255), "Синхронизировать всё");
  EXPECT_STRNE(ui_string_in(4, 256), ui_string_in(4, 27));  // not the Cancel button's word
  // The messages that send the user to a command name it as the menu does.
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::string path = std::string(ui_string_in(lang, 51)) + " › " + ui_string_in(lang, 245);
    for (int id : {295, 296})
      EXPECT_NE(std::string(ui_string_in(lang, id)).find(path), std::string::npos) << lang << " " << id;
  }
  // The cheat sheet states what the renderer does with unclosed markup.
  std::string sheet = ui_string_in(0, 108);
  EXPECT_EQ(sheet.find("Incomplete markup is shown as typed"), std::string::npos);
  for (const char* fact : {"Several empty lines show as one.", "a lone << is dropped.", "Links may also point to files."})
    EXPECT_NE(sheet.find(fact), std::string::npos) << fact;
  // Russian recurrence weeks read as words, not abbreviations.
  for (int id = 202; id <= 206; id++) EXPECT_EQ(std::string(ui_string_in(4, id)).find("-я"), std::string::npos) << id;
}

TEST_F(TextStyle, CountryNamesSortAsReadersExpect) {
  auto sorted = [](int lang) {
    std::vector<std::string> names;
    for (int i = 0; i < SORTED_COUNTRY_COUNT; i++) names.push_back(ui_string_in(lang, i));
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return ui_collate(a.c_str(), b.c_str()) < 0; });
    return names;
  };
  std::vector<std::string> fr = sorted(1);
  // "États-Unis" among the E, not after every unaccented name.
  auto at = [&](const char* name) { return std::find(fr.begin(), fr.end(), name) - fr.begin(); };
  EXPECT_LT(at("Espagne"), at("États-Unis"));
  EXPECT_LT(at("États-Unis"), at("France"));
  EXPECT_LT(at("Allemagne"), at("Biélorussie"));
  EXPECT_LT(ui_collate("Ёлка", "Жук"), 0);
  EXPECT_GT(ui_collate("Zebra", "éclair"), 0);
  EXPECT_LT(ui_collate("eclair", "éclair"), 0);  // ties broken by bytes
  EXPECT_EQ(ui_collate("Canada", "Canada"), 0);
  EXPECT_LT(ui_collate("Strasse", "Straße"), 0);
  EXPECT_LT(ui_collate("Straße", "Strasz"), 0);
}

}  // namespace
