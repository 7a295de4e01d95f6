// SPDX-License-Identifier: GPL-3.0-or-later
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
const StrId kHeaderIds[] = {
    STR_SYNC_ACCOUNT_TITLE,
    STR_OK,
    STR_CANCEL,
    STR_CLOSE,
    STR_OPEN,
    STR_SELECT,
    STR_NEW_REPOSITORY_BUTTON,
    STR_IMPORT_REPOSITORY,
    STR_UPLOAD_TO_SERVER,
    STR_MENU_FILE,
    STR_MENU_EDIT,
    STR_MENU_HELP,
    STR_UNDO,
    STR_REDO,
    STR_NEW_NOTE,
    STR_NEW_TASK,
    STR_NEW_EVENT,
    STR_NEW_CONTACT,
    STR_NEW_KEY,
    STR_NEW_TAG,
    STR_IN_2_DAYS,
    STR_IN_3_DAYS,
    STR_IN_4_DAYS,
    STR_IN_5_DAYS,
    STR_DISMISS_REMINDER,
    STR_COPY,
    STR_PASTE,
    STR_ATTACH,
    STR_DELETE,
    STR_MOVE_TO_TRASH,
    STR_RESTORE_FROM_TRASH,
    STR_IMPORT,
    STR_EXPORT,
    STR_IMPORT_NOTES,
    STR_EXPORT_NOTES,
    STR_IMPORT_CALENDAR,
    STR_EXPORT_CALENDAR,
    STR_IMPORT_KEYS,
    STR_EXPORT_KEYS,
    STR_IMPORT_CONTACTS,
    STR_EXPORT_CONTACTS,
    STR_EXPORT_REPOSITORY,
    STR_TAG_MENU_NEW_NOTE,
    STR_TAG_MENU_NEW_TASK,
    STR_TAG_MENU_NEW_EVENT,
    STR_TAG_MENU_NEW_KEY,
    STR_TAG_MENU_NEW_CONTACT,
    STR_TAG_MENU_NEW_TAG,
    STR_DELETE_TAG,
    STR_LIST_ALL,
    STR_COLUMN_TITLE,
    STR_DATE,
    STR_RECURRENCE_TITLE,
    STR_ADD_PHONE,
    STR_ADD_EMAIL,
    STR_ADD_NOTES,
    STR_SEARCH,
    STR_HISTORY,
    STR_OPTIONS_MENU,
    STR_ABOUT,
    STR_QUIT,
    STR_OPTIONS,
    STR_BACK,
    STR_FORWARD,
    STR_CHANGE_PASSWORD,
    STR_SYNC_ACCOUNT,
    STR_CHANGE_MASTER_PASSWORD,
    STR_SYNCHRONISE,
    STR_SYNCHRONISE_ALL,
    STR_SERVER,
    STR_THIS_COMPUTER,
    STR_SYNC_CONFLICT,
    STR_COPY_USER_NAME,
    STR_COPY_PASSWORD,
    STR_SHOW_PASSWORD,
    STR_GENERATE,
    STR_REPOSITORIES,
    STR_NEW_REPOSITORY,
    STR_REPOSITORY_FILE,
    STR_COLUMN_ENABLED,
    STR_LOCATION,
    STR_EDIT,
    STR_BROWSE,
    STR_SHOW,
    STR_HIDE,
    STR_SHOW_COMPLETED,
    STR_HIDE_COMPLETED,
    STR_SHOW_HIDDEN_REPOS,
    STR_STOP_SHOWING_HIDDEN_REPOS,
    STR_ACCEPT,
    STR_SAVE_AND_NEW,
    STR_SAVE_AS,
    STR_UPDATE,
    STR_SELECT_REPOSITORY_FOLDER,
    STR_CHECK_FOR_UPDATES,
    STR_UP_TO_DATE,
    STR_NOT_NOW,
    STR_USER_GUIDE,
    STR_SEND_LOG,
    STR_DISCARD,
    STR_KEEP_EDITING,
    STR_SIGN_OUT,
    STR_SEARCH_MENU,
    STR_SET_TAGS,
    STR_COLUMN_HIDDEN,
    STR_ABOUT_TITLE,
};

// Commands that open a dialog asking for more before they act.
const StrId kEllipsisIds[] = {STR_NEW_REPOSITORY_BUTTON, STR_OPTIONS_MENU, STR_GENERATE, STR_BROWSE,
                              STR_SEARCH_MENU,           STR_SET_TAGS};

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
  for (StrId id : kHeaderIds) {
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
    for (StrId id : kEllipsisIds) {
      std::string text = ui_string_in(lang, id);
      ASSERT_GE(text.size(), 3u);
      EXPECT_EQ(text.substr(text.size() - 3), "…") << lang << " " << id << ": " << text;
      EXPECT_EQ(text.find("..."), std::string::npos) << lang << " " << id;
    }
  }
  // Titles never carry one: the dialogs those commands open are named without.
  for (StrId id : {STR_TAGS, STR_RECURRENCE_TITLE, STR_SEARCH, STR_HISTORY, STR_OPTIONS, STR_CHANGE_PASSWORD,
                   STR_NEW_REPOSITORY, STR_REPOSITORY_FILE, STR_SAVE_AS, STR_SELECT_REPOSITORY_FOLDER}) {
    std::string text = ui_string_in(0, id);
    EXPECT_NE(text.substr(text.size() - 3), "…") << id << ": " << text;
  }
}

TEST_F(TextStyle, ToggleLabelsNameWhatTheyDo) {
  // The hidden-repositories toggle never tells the user to hide what is hidden.
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::string on = ui_string_in(lang, STR_STOP_SHOWING_HIDDEN_REPOS);
    EXPECT_NE(on, ui_string_in(lang, STR_SHOW_HIDDEN_REPOS)) << lang;
  }
  EXPECT_EQ(std::string(ui_string_in(0, STR_STOP_SHOWING_HIDDEN_REPOS)).find("Hide Hidden"), std::string::npos);
  EXPECT_STRNE(ui_string_in(0, STR_HIDE), ui_string_in(0, STR_COLUMN_HIDDEN));  // button "Hide", column "Hidden"
}

// French typography: a narrow no-break space before ; ! ? and inside « »,
// a no-break space before a colon; never a plain space there.
TEST_F(TextStyle, FrenchSpacesBeforeHighPunctuation) {
  const std::string nnbsp = "\u202f", nbsp = "\u00a0";
  for (StrId id : STR_ALL_RANGE) {
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
  EXPECT_NE(std::string(ui_string(STR_MSG_ACCOUNT_PASSWORD_NOT_CHANGED)).find(nbsp + ": %s"), std::string::npos);
  ASSERT_EQ(strings_set_language(3), 1);
  EXPECT_STREQ(ui_colon(), ":");
  ASSERT_EQ(strings_set_language(0), 1);
  EXPECT_STREQ(ui_colon(), ":");
}

TEST_F(TextStyle, ReviewedWordingsHold) {
  // The idle timeout's note never stands between the preposition and the number.
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::string t = ui_string_in(lang, STR_IDLE_TIMEOUT);
    EXPECT_TRUE(lang == 0 || lang == 3 || t.back() != ')') << lang << ": " << t;
  }
  EXPECT_STREQ(ui_string_in(1, STR_BACK), "Précédent");
  EXPECT_STREQ(ui_string_in(1, STR_FORWARD), "Suivant");
  EXPECT_STREQ(ui_string_in(4, STR_SYNCHRONISE_ALL), "Синхронизировать всё");
  EXPECT_STRNE(ui_string_in(4, STR_SYNC_CANCELLING), ui_string_in(4, STR_CANCEL));  // not the Cancel button's word
  // The messages that send the user to a command name it as the menu does.
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::string path = std::string(ui_string_in(lang, STR_MENU_FILE)) + " › " + ui_string_in(lang, STR_SYNC_ACCOUNT);
    for (StrId id : {STR_MSG_NO_SYNC_ACCOUNT, STR_MSG_ACCOUNT_INCOMPLETE})
      EXPECT_NE(std::string(ui_string_in(lang, id)).find(path), std::string::npos) << lang << " " << id;
  }
  // The cheat sheet states what the renderer does with unclosed markup.
  std::string sheet = ui_string_in(0, STR_CHEAT_SHEET);
  EXPECT_EQ(sheet.find("Incomplete markup is shown as typed"), std::string::npos);
  for (const char* fact : {"Several empty lines show as one.", "a lone << is dropped.", "Links may also point to files."})
    EXPECT_NE(sheet.find(fact), std::string::npos) << fact;
  // Russian recurrence weeks read as words, not abbreviations.
  for (StrId id : STR_WEEK_OF_MONTH_RANGE)
    EXPECT_EQ(std::string(ui_string_in(4, id)).find("-я"), std::string::npos) << id;
}

TEST_F(TextStyle, CountryNamesSortAsReadersExpect) {
  auto sorted = [](int lang) {
    std::vector<std::string> names;
    for (int i = 0; i < SORTED_COUNTRY_COUNT; i++) names.push_back(ui_string_in(lang, str_at(STR_COUNTRY_RANGE, i)));
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
