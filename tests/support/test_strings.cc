// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* const kLangNames[LANGUAGE_COUNT] = {"en", "fr", "es", "de", "ru"};

// The printf conversions each caller passes: one letter per argument.
const std::map<StrId, std::string> kConversions = {
    {STR_MSG_ACCOUNT_PASSWORD_NOT_CHANGED, "s"},
    {STR_MSG_NO_SEARCH_HIT, "s"},
    {STR_UNTIL_DATE, "s"},
    {STR_ON_DAY_N, "d"},
    {STR_ASK_DELETE_NAMED, "s"},
    {STR_ASK_DELETE_SERVER_REPO, "s"},
    {STR_ASK_DELETE_TAG, "s"},
    {STR_SYNC_FAILED, "s"},
    {STR_MSG_LATEST_VERSION, "s"},
    {STR_UPDATE_VERSIONS, "ss"},
    {STR_MSG_LOG_NOT_SENT, "s"},
    // Plural texts: the conversions of each form.
    {STR_REMIND_N_MINUTES_BEFORE, "d"},
    {STR_REMIND_N_HOURS_BEFORE, "d"},
    {STR_REMIND_N_DAYS_BEFORE, "d"},
    {STR_REMIND_N_WEEKS_BEFORE, "d"},
    {STR_EVERY_N_DAYS, "d"},
    {STR_EVERY_N_WEEKS, "d"},
    {STR_EVERY_N_MONTHS, "d"},
    {STR_EVERY_N_YEARS, "d"},
    {STR_ENDS_AFTER_N, "d"},
    {STR_ASK_DELETE_N_ITEMS, "d"},
    {STR_SIGN_IN_UNREACHABLE, "s"},
    // Import and export reports: file names and counts.
    {STR_IMPORT_UNREADABLE, "s"},
    {STR_IMPORT_NOTHING, "s"},
    {STR_IMPORT_MALFORMED, "s"},
    {STR_IMPORT_DONE, "d"},
    {STR_IMPORT_DONE_SKIPPED, "dd"},
    {STR_EXPORT_FAILED, "s"},
    {STR_EXPORT_REFUSED, "s"},
    {STR_EXPORT_DONE, "d"},
    {STR_SAVE_DONE, "s"},
    // Calendar and contacts servers: host names, addresses, fingerprints, statuses.
    {STR_DAV_RESOLVE, "s"},
    {STR_DAV_CONNECT, "s"},
    {STR_DAV_TLS, "s"},
    {STR_DAV_TLS_UNTRUSTED, "ss"},
    {STR_DAV_OTHER_HOST, "s"},
    {STR_DAV_SERVER, "d"},
    {STR_DAV_HTTP, "d"},
    {STR_DAV_NO_SERVICE, "s"},
    // The password strength and an unnamed failure.
    {STR_STRENGTH_BITS, "d"},
    {STR_STRENGTH_TEXT, "s"},
    {STR_ERR_OTHER, "d"},
    {STR_SET_TAGS_FOR_ONE, "s"},
    {STR_SET_TAGS_FOR_MANY, "d"},
    {STR_DAV_REFUSES_NOTES_KEYS, "s"},
    {STR_DAV_REPOSITORY_NAME, "ss"},
    {STR_DAV_SYNC_NOT_READY, "s"},
    // Full recurrence rules: lists of days, ordinals and weekdays, dates.
    {STR_RULE_EVERY_WEEKDAYS, "s"},
    {STR_RULE_ON, "s"},
    {STR_RULE_NTH_WEEKDAY, "ss"},
    {STR_RULE_OF_MONTH, "s"},
    {STR_RULE_OF_YEAR, "s"},
    {STR_RULE_ON_MONTH_DAYS, "s"},
    {STR_RULE_SETPOS, "s"},
    {STR_RULE_IN_MONTHS, "s"},
    {STR_RULE_DATE, "ss"},
    {STR_RULE_DATE_YEAR, "ss"},
    {STR_RULE_EXCEPT, "s"},
    {STR_RULE_ALSO, "s"},
    {STR_RULE_N_CHANGED, "d"},
    {STR_DATE_TIME_SHORT, "ss"},
    {STR_DATE_TIME_LONG, "ss"},
    // The account dialogs: repository names, counts, reasons.
    {STR_DAV_CHOOSE_HEADLINE, "s"},
    {STR_DAV_ASK_REMOVE, "s"},
    {STR_DAV_SYNC_SUMMARY, "ddddd"},
    {STR_DAV_SYNC_CONFLICTS, "s"},
    {STR_DAV_SYNC_FAILED, "ss"},
};

// Plural texts: one form per line, as many as the language has.
bool is_plural(StrId id) {
  return (id >= STR_REMIND_N_MINUTES_BEFORE && id <= STR_ASK_DELETE_N_ITEMS) || id == STR_IMPORT_DONE ||
         id == STR_EXPORT_DONE || (id >= STR_REMINDER_UNIT_MINUTE && id <= STR_REMINDER_UNIT_WEEK) ||
         id == STR_STRENGTH_BITS || id == STR_IDLE_QUIT_AFTER || id == STR_GEN_CHARACTERS || id == STR_SET_TAGS_FOR_MANY ||
         id == STR_RULE_N_CHANGED;
}

// List texts: one entry per line, and how many entries their users expect.
// STR_INTERVAL_LIST covers every interval a rule can hold (interval_minus_one
// 0..127).
const std::map<StrId, int> kLists = {
    {STR_PHONE_KINDS, 9},        {STR_EMAIL_KINDS, 3},        {STR_ADDRESS_KINDS, 3},      {STR_FREQUENCY_LIST, 4},
    {STR_INTERVAL_LIST, 128},    {STR_MONTHLY_MODE_LIST, 2},  {STR_REMINDER_UNIT_LIST, 4}, {STR_LANGUAGE_LIST, 5},
    {STR_UPCOMING_DAYS_LIST, 8}, {STR_IDLE_TIMEOUT_LIST, 10},  {STR_IDLE_CHOICES, 10},     {STR_STRENGTH_LEVELS, 4},
    {STR_NTH_SUNDAY, 5},         {STR_NTH_MONDAY, 5},         {STR_NTH_TUESDAY, 5},        {STR_NTH_WEDNESDAY, 5},
    {STR_NTH_THURSDAY, 5},       {STR_NTH_FRIDAY, 5},         {STR_NTH_SATURDAY, 5},
    {STR_RULE_WEEKDAYS_EVERY, 7}, {STR_RULE_WEEKDAYS_NTH, 7},  {STR_RULE_ORDINALS, 7},       {STR_RULE_ORDINALS_F, 7},
    {STR_RULE_ORDINALS_N, 7},     {STR_RULE_MONTHS_IN, 12},    {STR_RULE_MONTHS_OF, 12},
    {STR_DAV_SYNC_EVERY_LIST, 6}, {STR_MONTHS_SHORT, 12},     {STR_AM_PM, 2},
};

// Message, question and free-standing texts, where line breaks may stand.
const std::set<StrId> kMultiLine = {
    STR_ABOUT_WITH_ACCOUNT,
    STR_ABOUT_WITHOUT_ACCOUNT,
    STR_MSG_ACCOUNT_PASSWORD_CHANGED,
    STR_MSG_ACCOUNT_PASSWORD_NOT_CHANGED,
    STR_ENTER_MASTER_PASSWORD,
    STR_REPO_MANAGER_HINT,
    STR_CHEAT_SHEET,
    STR_MSG_NO_SEARCH_HIT,
    STR_NEW_REMINDERS_DUE,
    STR_ASK_DELETE_NAMED,
    STR_ASK_DELETE_SERVER_REPO,
    STR_ASK_DELETE_SERVER_REPO_DETAIL,
    STR_ASK_DELETE_TAG,
    STR_ASK_DELETE_TAG_DETAIL,
    STR_ASK_DELETE_ITEMS_DETAIL,
    STR_ASK_DELETE_VERSION_DETAIL,
    STR_ASK_DELETE_REPO_DETAIL,
    STR_REPEAT_MASTER_PASSWORD,
    STR_CHOOSE_MASTER_PASSWORD,
    STR_PASSWORD_RULES_10,
    STR_PASSWORD_RULES_20,
    STR_MSG_WRONG_PASSWORD,
    STR_MSG_PASSWORDS_DIFFER,
    STR_MSG_MASTER_PASSWORD_NOT_SET,
    STR_SYNC_CANCELLING,
    STR_SYNC_FAILED,
    STR_SYNC_DONE,
    STR_NOT_PRESENT,
    STR_ENTER_REPO_PASSWORD,
    STR_MSG_EXPORT_REPO_FAILED,
    STR_MSG_REQUEST_FAILED,
    STR_MSG_REPO_PATH_TOO_LONG,
    STR_MSG_REPO_ROOT_MISSING,
    STR_MSG_NO_FREE_REPO_NAME,
    STR_MSG_NO_SYNC_ACCOUNT,
    STR_MSG_ACCOUNT_INCOMPLETE,
    STR_MSG_REQUEST_NOT_COMPLETED,
    STR_MSG_SERVER_OR_FILE_INVALID,
    STR_MSG_NO_CONNECTION_OR_PRESENT,
    STR_MSG_REPO_ADDED,
    STR_MSG_REPO_ON_SERVER,
    STR_CONTACTING_SERVER,
    STR_MSG_REPO_ROOT_NOT_CREATED,
    STR_MSG_DATA_NOT_LOADED,
    STR_MSG_LATEST_VERSION,
    STR_UPDATE_AVAILABLE,
    STR_UPDATE_VERSIONS,
    STR_MSG_UPDATE_NOT_DOWNLOADED,
    STR_DOWNLOADING_UPDATE,
    STR_MSG_LOG_SENT,
    STR_MSG_LOG_NOT_SENT,
    STR_MSG_NO_EARLIER_VERSIONS,
    STR_ASK_DISCARD,
    STR_ASK_DISCARD_DETAIL,
    STR_ASK_DELETE_ITEM_DETAIL,
    STR_DAV_TLS_UNTRUSTED,
    STR_DAV_SYNC_SUMMARY,
    STR_DAV_SYNC_CONFLICTS,
    STR_DAV_SYNC_FAILED,
};

// Labels pasted into the detail view's markup, where markup characters would
// take effect; the kind names of the phone, e-mail and address lists are too
// (checked per entry).
const std::set<StrId> kInMarkup = {
    STR_DETAIL_MODIFIED,
    STR_NONE_WORD,
    STR_YES,
    STR_TYPE_TAG,
    STR_TYPE,
    STR_LABEL_TITLE,
    STR_LABEL_DUE,
    STR_LABEL_START,
    STR_LABEL_END,
    STR_LABEL_RECURRENCE,
    STR_LABEL_REMINDER,
    STR_MARKUP,
    STR_TYPE_NOTE,
    STR_TYPE_CONTACT,
    STR_TYPE_TASK,
    STR_TYPE_EVENT,
    STR_FREQ_DAILY,
    STR_FREQ_WEEKLY,
    STR_FREQ_MONTHLY,
    STR_FREQ_YEARLY,
    STR_MONDAY,
    STR_TUESDAY,
    STR_WEDNESDAY,
    STR_THURSDAY,
    STR_FRIDAY,
    STR_SATURDAY,
    STR_SUNDAY,
    STR_UNTIL_DATE,
    STR_ON_WEEKDAYS,
    STR_ON_DAY_N,
    STR_ON_THE_FIRST,
    STR_ON_THE_SECOND,
    STR_ON_THE_THIRD,
    STR_ON_THE_FOURTH,
    STR_ON_THE_FIFTH,
    STR_DETAIL_NAME,
    STR_WEB_ADDRESS,
    STR_BIRTHDAY,
    STR_USER_NAME,
    STR_PASSWORD,
    STR_EXPIRES,
    STR_TYPE_KEY,
    STR_REMIND_N_MINUTES_BEFORE,
    STR_REMIND_N_HOURS_BEFORE,
    STR_REMIND_N_DAYS_BEFORE,
    STR_REMIND_N_WEEKS_BEFORE,
    STR_EVERY_N_DAYS,
    STR_EVERY_N_WEEKS,
    STR_EVERY_N_MONTHS,
    STR_EVERY_N_YEARS,
    STR_ENDS_AFTER_N,
};

// Texts that are rightly the same in a translation as in English.
const std::set<std::pair<StrId, int>> kSameAsEnglish = {
    {STR_RULE_WEEKDAY_GENDERS, 1},
    {STR_RULE_WEEKDAY_GENDERS, 2},
    {STR_RULE_WEEKDAY_GENDERS, 3},  // all weekdays masculine
    {STR_RULE_OF_MONTH, 1},
    {STR_RULE_OF_MONTH, 2},
    {STR_RULE_OF_MONTH, 3},  // nothing added after the days
    {STR_RULE_DATE, 1},
    {STR_RULE_DATE, 4},
    {STR_RULE_DATE_YEAR, 1},
    {STR_RULE_DATE_YEAR, 3},  // day, month and year in the same order
    {STR_DATE_TIME_SHORT, 1},
    {STR_DATE_TIME_SHORT, 2},
    {STR_DATE_TIME_SHORT, 3},
    {STR_DATE_TIME_SHORT, 4},  // date, then time
    {STR_AM_PM, 1},
    {STR_AM_PM, 3},
    {STR_AM_PM, 4},  // not shown: these languages count hours to 24
    {STR_COUNTRY_BELARUS, 3},  // Belarus
    {STR_COUNTRY_CANADA, 1},   // Canada
    {STR_COUNTRY_FRANCE, 1},   // France
    {STR_COUNTRY_UKRAINE, 1},
    {STR_COUNTRY_UKRAINE, 3},  // Ukraine
    {STR_OK, 1},
    {STR_OK, 3},
    {STR_DAV_KIND_CONTACTS, 1},  // Contacts
    {STR_ACCEPT, 1},
    {STR_ACCEPT, 3},  // OK
    {STR_APP_NAME, 1},
    {STR_APP_NAME, 2},
    {STR_APP_NAME, 3},
    {STR_APP_NAME, 4},  // program name
    {STR_LANGUAGE_LIST, 1},
    {STR_LANGUAGE_LIST, 2},
    {STR_LANGUAGE_LIST, 3},
    {STR_LANGUAGE_LIST, 4},  // language names, each in its own language
    {STR_INTERVAL_LIST, 1},
    {STR_INTERVAL_LIST, 2},
    {STR_INTERVAL_LIST, 3},
    {STR_INTERVAL_LIST, 4},  // numbers
    {STR_IDLE_TIMEOUT_LIST, 1},
    {STR_IDLE_TIMEOUT_LIST, 2},
    {STR_IDLE_TIMEOUT_LIST, 3},
    {STR_IDLE_TIMEOUT_LIST, 4},  // numbers
    {STR_LIST_NOTES, 1},
    {STR_NOTES, 1},                 // Notes
    {STR_LIST_CONTACTS, 1},         // Contacts
    {STR_TYPE_NOTE, 1},             // Note
    {STR_TYPE_CONTACT, 1},          // Contact
    {STR_TYPE, 1},                  // Type
    {STR_DATE, 1},                  // Date
    {STR_PAGE_GENERAL, 2},          // General
    {STR_DEFAULT_TAG_PERSONAL, 2},  // Personal
    {STR_NAME, 3},
    {STR_DETAIL_NAME, 3},  // Name
    {STR_ADDR_REGION, 3},  // Region
    {STR_SERVER, 3},       // Server
    {STR_UNIT_MINUTE, 1},
    {STR_UNIT_OCCURRENCE, 1},
    {STR_REMINDER_UNIT_MINUTE, 1},  // minute, occurrence
    {STR_PICKER_MINUTES, 1},        // Minutes
    {STR_REPOSITORIES, 1},          // Collections
    {STR_DAV_COLUMN_REPOSITORY, 1},  // Collection
    {STR_NO, 2},                    // No
    {STR_STRENGTH_BITS, 1},
    {STR_STRENGTH_BITS, 2},  // bit, bits
};

class StringsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(strings_set_language(0), 1); }
  void TearDown() override { strings_set_language(0); }
};

// The conversions of a text ("s", "d" in order), or "!" for anything else:
// a lone "%", an unknown conversion, flags or widths.
std::string conversions_of(const char* text) {
  std::string seen;
  for (const char* p = text; *p; p++) {
    if (*p != '%') continue;
    p++;
    if (*p == '%') continue;
    if (*p == 's' || *p == 'd') {
      seen += *p;
      continue;
    }
    return "!";
  }
  return seen;
}

std::vector<std::string> split_lines(const char* text) {
  std::vector<std::string> lines;
  std::string cur;
  for (const char* p = text; *p; p++) {
    if (*p == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += *p;
    }
  }
  lines.push_back(cur);
  return lines;
}

bool has_markup(const std::string& s) {
  static const char* const marks[] = {"|", "**", "//", "[[", "{{{", "<<", ">>", "\\\\"};
  for (const char* m : marks)
    if (s.find(m) != std::string::npos) return true;
  // Leading blanks and "=" would be dropped or start a heading.
  return s.empty() || s[0] == ' ' || s[0] == '\t' || s[0] == '=';
}

size_t utf8_chars(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) n++;
  return n;
}

std::string numbered_table(int count) {
  std::string text;
  for (int i = 0; i < count; i++) text += "e" + std::to_string(i) + "\n";
  return text;
}

TEST_F(StringsTest, EveryTextHoldsExactlyTheConversionsItsCallersPass) {
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    for (StrId id : STR_ALL_RANGE) {
      const char* text = ui_string_in(lang, id);
      ASSERT_NE(text, nullptr);
      auto it = kConversions.find(id);
      if (it != kConversions.end() && is_plural(id)) {
        for (const std::string& form : split_lines(text))
          EXPECT_EQ(conversions_of(form.c_str()), it->second) << kLangNames[lang] << " id " << id << ": " << form;
      } else if (it != kConversions.end()) {
        EXPECT_EQ(conversions_of(text), it->second) << kLangNames[lang] << " id " << id << ": " << text;
      } else {
        // No "%" at all: these texts are shown both raw and formatted.
        EXPECT_EQ(strchr(text, '%'), nullptr) << kLangNames[lang] << " id " << id << ": " << text;
      }
    }
  }
}

TEST_F(StringsTest, ConversionCheckCatchesStrayAndMissingConversions) {
  EXPECT_EQ(conversions_of("Delete “%s”?"), "s");
  EXPECT_EQ(conversions_of("Version %s, not %s: 100%%"), "ss");
  EXPECT_EQ(conversions_of("%d %s"), "ds");
  EXPECT_EQ(conversions_of("50% done"), "!");
  EXPECT_EQ(conversions_of("ends in %"), "!");
  EXPECT_EQ(conversions_of("%5d"), "!");
  EXPECT_EQ(conversions_of("no conversion"), "");
}

TEST_F(StringsTest, LineAndListShapes) {
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    for (StrId id : STR_ALL_RANGE) {
      const char* text = ui_string_in(lang, id);
      ASSERT_NE(text, nullptr);
      std::string where = std::string(kLangNames[lang]) + " id " + std::to_string(id);
      EXPECT_NE(text[0], '\0') << where;
      auto list = kLists.find(id);
      if (is_plural(id)) {
        std::vector<std::string> forms = split_lines(text);
        EXPECT_EQ(static_cast<int>(forms.size()), plural_form_count(lang)) << where << ": " << text;
        for (const std::string& f : forms) {
          EXPECT_FALSE(f.empty()) << where;
          EXPECT_EQ(f.find('\r'), std::string::npos) << where;
          if (kInMarkup.count(id)) {
            EXPECT_FALSE(has_markup(f)) << where << ": " << f;
          }
        }
      } else if (list != kLists.end()) {
        std::vector<std::string> entries = split_lines(text);
        EXPECT_EQ(static_cast<int>(entries.size()), list->second) << where;
        for (const std::string& e : entries) {
          EXPECT_FALSE(e.empty()) << where;
          EXPECT_EQ(e.find('\r'), std::string::npos) << where;
          if (id >= STR_PHONE_KINDS && id <= STR_ADDRESS_KINDS) {
            EXPECT_FALSE(has_markup(e)) << where << ": " << e;
          }
        }
      } else if (!kMultiLine.count(id) && id != STR_CHEAT_SHEET) {
        EXPECT_EQ(strpbrk(text, "\r\n"), nullptr) << where << ": " << text;
      }
      if (kInMarkup.count(id) && !is_plural(id)) {
        EXPECT_FALSE(has_markup(text)) << where << ": " << text;
      }
      // Texts never start or end with blanks or line breaks by accident.
      size_t n = strlen(text);
      EXPECT_FALSE(strchr(" \t\n\r", text[0])) << where;
      EXPECT_FALSE(strchr(" \t\n\r", text[n - 1])) << where;
    }
  }
}

TEST_F(StringsTest, TranslationsDifferFromEnglish) {
  for (int lang = 1; lang < LANGUAGE_COUNT; lang++) {
    for (StrId id : STR_ALL_RANGE) {
      bool same = strcmp(ui_string_in(0, id), ui_string_in(lang, id)) == 0;
      bool allowed = kSameAsEnglish.count({id, lang}) > 0;
      EXPECT_EQ(same, allowed) << kLangNames[lang] << " id " << id << ": " << ui_string_in(lang, id);
    }
  }
}

TEST_F(StringsTest, CheatSheetShowsEveryMarkupConstruct) {
  static const char* const constructs[] = {
      "**", "//", "\n= ", "\n== ", "\n=== ", "\n* ", "\n** ", "\n# ", "\n## ",
      "\n|= ", " | ", "[[", "|", "]]", "{{{", "}}}", "<<", ">>", "\\\\",
  };
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::string sheet = ui_string_in(lang, STR_CHEAT_SHEET);
    for (const char* c : constructs)
      EXPECT_NE(sheet.find(c), std::string::npos) << kLangNames[lang] << " lacks " << c;
    // Shown wrapped to its panel: no line is broken by hand inside a
    // sentence. Past the title, a line is empty, an example of markup, or
    // ends its sentence.
    std::vector<std::string> lines = split_lines(sheet.c_str());
    for (size_t i = 1; i < lines.size(); i++) {
      const std::string& line = lines[i];
      if (line.empty() || std::string("*#=|[{<").find(line[0]) != std::string::npos) continue;
      EXPECT_NE(std::string(".:)").find(line.back()), std::string::npos) << kLangNames[lang] << ": " << line;
    }
  }
}

TEST_F(StringsTest, CompositeLabelsStayWithinTheirBuffers) {
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::string where = kLangNames[lang];
    // "%s: %s" of the lists row and a list-type name, within 64 bytes.
    for (StrId id : STR_LIST_NAME_RANGE)
      EXPECT_LE(strlen(ui_string_in(lang, STR_ROW_LISTS)) + 2 + strlen(ui_string_in(lang, id)), 63u) << where << id;
    // "%s (%d)" of the reminders row.
    EXPECT_LE(strlen(ui_string_in(lang, STR_ROW_REMINDERS)) + strlen(" (99999)"), 63u) << where;
    // reminder_text: at most 30 characters.
    for (StrId id : STR_REMIND_BEFORE_RANGE)
      for (const std::string& form : split_lines(ui_string_in(lang, id)))
        EXPECT_LE(utf8_chars(form) - 2 + 4, 30u) << where << id;
  }
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    strings_set_language(lang);
    EXPECT_LE(utf8_chars(ui_format(STR_UPDATE_VERSIONS, "10.20.300", "1.3.3")), 255u);
  }
}

TEST_F(StringsTest, LookupsAndFormatting) {
  EXPECT_EQ(ui_string(STR_NONE), nullptr);
  const auto past_the_table = static_cast<StrId>(STRING_COUNT);
  EXPECT_EQ(ui_string(past_the_table), nullptr);
  EXPECT_EQ(ui_string_in(0, past_the_table), nullptr);
  EXPECT_EQ(ui_string_in(5, STR_COUNTRY_BELARUS), nullptr);
  EXPECT_EQ(ui_string_in(-1, STR_COUNTRY_BELARUS), nullptr);
  EXPECT_EQ(ui_format(STR_NONE), "");
  EXPECT_EQ(ui_format(past_the_table, 1, 2), "");
  EXPECT_EQ(ui_string_line(static_cast<StrId>(1000)), "");
  EXPECT_STREQ(ui_string(STR_APP_NAME), "Ordika");
  EXPECT_STREQ(ui_string(STR_OK), "OK");

  // A percent sign inside an argument is shown as it is.
  std::string hit = ui_format(STR_MSG_NO_SEARCH_HIT, "50% off");
  EXPECT_NE(hit.find("50% off"), std::string::npos) << hit;
  EXPECT_EQ(hit.find("%s"), std::string::npos);
  // Arguments keep their order.
  std::string offer = ui_format(STR_UPDATE_VERSIONS, "2.0.0", "1.3.3");
  size_t a = offer.find("2.0.0"), b = offer.find("1.3.3");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_NE(ui_format(STR_RULE_N_CHANGED, 3).find('3'), std::string::npos);

  // Line breaks become single spaces.
  std::string one = ui_string_line(STR_MSG_ACCOUNT_PASSWORD_NOT_CHANGED);
  EXPECT_EQ(one.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(one.size(), strlen(ui_string(STR_MSG_ACCOUNT_PASSWORD_NOT_CHANGED)));

  // The current language switches every lookup; out-of-range selects English.
  ASSERT_EQ(strings_set_language(3), 1);
  EXPECT_EQ(strings_language(), 3);
  EXPECT_STREQ(ui_string(STR_ROW_TRASH), ui_string_in(3, STR_ROW_TRASH));
  ASSERT_EQ(strings_set_language(9), 1);
  EXPECT_EQ(strings_language(), 0);
  EXPECT_STREQ(ui_string(STR_ROW_TRASH), ui_string_in(0, STR_ROW_TRASH));
}

// The compiled-in table must match the per-language sources: the build
// generates it from them in the text form's order.
TEST_F(StringsTest, CompiledTableMatchesTheLanguageSources) {
  std::vector<std::vector<std::string>> sources(LANGUAGE_COUNT);
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::ifstream in(std::string(ORDIKA_SOURCE_DIR) + "/resources/strings/" + kLangNames[lang] + ".txt");
    ASSERT_TRUE(in) << kLangNames[lang];
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      size_t sep = line.find_first_of(" \t");
      ASSERT_NE(sep, std::string::npos) << line;
      ASSERT_EQ(std::stoi(line.substr(0, sep)), static_cast<int>(sources[lang].size())) << line;
      sources[lang].push_back(line.substr(sep + 1));
    }
    ASSERT_EQ(sources[lang].size(), static_cast<size_t>(STRING_COUNT)) << kLangNames[lang];
  }
  // Regroup the id-ordered sources into the text form's pairs of ids.
  std::string grouped;
  for (int first = 0; first < STRING_COUNT; first += 2)
    for (int id = first; id < first + 2 && id < STRING_COUNT; id++)
      for (int lang = 0; lang < LANGUAGE_COUNT; lang++) grouped += sources[lang][id] + "\n";
  std::vector<std::string> parsed;
  ASSERT_EQ(strings_parse(grouped.data(), grouped.size(), &parsed), 0);
  for (StrId id : STR_ALL_RANGE)
    for (int lang = 0; lang < LANGUAGE_COUNT; lang++)
      EXPECT_EQ(parsed[static_cast<size_t>(id / 2 * 10 + id % 2 * 5 + lang)], ui_string_in(lang, id))
          << "the compiled table differs at " << kLangNames[lang] << " id " << id;
}

TEST(StringsParse, LineBreaksEscapesAndCarriageReturns) {
  std::string text =
      "a|b\n"        // bar is a line break
      "c\\nd\n"      // backslash-n is CR LF
      "\\|\\\\\\x\n" // escaped bar, backslash, other char
      "e\r\nf\rg\n"  // carriage returns are dropped
      "\n\r\n\n"     // empty lines are skipped
      "h\n";
  text += numbered_table(STRING_ENTRY_COUNT - 6);
  std::vector<std::string> out;
  ASSERT_EQ(strings_parse(text.data(), text.size(), &out), 0);
  ASSERT_EQ(out.size(), static_cast<size_t>(STRING_ENTRY_COUNT));
  EXPECT_EQ(out[0], "a\nb");
  EXPECT_EQ(out[1], "c\r\nd");
  EXPECT_EQ(out[2], "|\\x");
  EXPECT_EQ(out[3], "e");
  EXPECT_EQ(out[4], "fg");
  EXPECT_EQ(out[5], "h");
  EXPECT_EQ(out[6], "e0");
  EXPECT_EQ(out.back(), "e" + std::to_string(STRING_ENTRY_COUNT - 7));
}

TEST(StringsParse, ShortTablesAreRejectedAndTheRestIgnored) {
  std::vector<std::string> out = {"stale"};
  std::string short_table = numbered_table(STRING_ENTRY_COUNT - 1);
  EXPECT_EQ(strings_parse(short_table.data(), short_table.size(), &out), -1);
  EXPECT_TRUE(out.empty());
  // Empty lines do not count as entries.
  std::string padded = numbered_table(STRING_ENTRY_COUNT - 1) + "\n\n\n";
  EXPECT_EQ(strings_parse(padded.data(), padded.size(), &out), -1);
  EXPECT_EQ(strings_parse("", 0, &out), -1);

  // The last entry needs no line break after it.
  std::string exact = numbered_table(STRING_ENTRY_COUNT);
  exact.pop_back();
  ASSERT_EQ(strings_parse(exact.data(), exact.size(), &out), 0);
  EXPECT_EQ(out.back(), "e" + std::to_string(STRING_ENTRY_COUNT - 1));

  // Anything after the last entry is ignored, even an unfinished escape.
  std::string longer = numbered_table(STRING_ENTRY_COUNT) + "extra\nmore|\\";
  ASSERT_EQ(strings_parse(longer.data(), longer.size(), &out), 0);
  EXPECT_EQ(out.size(), static_cast<size_t>(STRING_ENTRY_COUNT));
  EXPECT_EQ(out.back(), "e" + std::to_string(STRING_ENTRY_COUNT - 1));

  // Length is honoured: bytes past len are not read.
  std::string cut = numbered_table(STRING_ENTRY_COUNT) + "tail";
  ASSERT_EQ(strings_parse(cut.data(), cut.size() - 4, &out), 0);
  EXPECT_EQ(out.back(), "e" + std::to_string(STRING_ENTRY_COUNT - 1));
}

TEST(StringsCodes, LanguageAndCountryCodes) {
  EXPECT_EQ(language_from_locale("fr_FR.UTF-8"), 1);
  EXPECT_EQ(language_from_locale("pt_BR"), 0);
  EXPECT_EQ(language_from_locale("es"), 2);
  EXPECT_EQ(language_from_locale("de_AT.UTF-8"), 3);
  EXPECT_EQ(language_from_locale("ru_RU"), 4);
  EXPECT_EQ(language_from_locale("C"), 0);
  EXPECT_EQ(language_from_locale("r"), 0);
  EXPECT_EQ(language_from_locale(""), 0);
  EXPECT_EQ(language_from_locale(nullptr), 0);

  EXPECT_EQ(country_from_code("BY"), 0);
  EXPECT_EQ(country_from_code("DE"), 2);
  EXPECT_EQ(country_from_code("USA"), 9);
  EXPECT_EQ(country_from_code("ZZ"), 10);
  EXPECT_EQ(country_from_code("XX"), -1);
  EXPECT_EQ(country_from_code("D"), -1);
  EXPECT_EQ(country_from_code(""), -1);
  EXPECT_EQ(country_from_code(nullptr), -1);

  EXPECT_STREQ(language_code(0), "en");
  EXPECT_STREQ(language_code(4), "ru");
  EXPECT_EQ(language_code(5), nullptr);
  EXPECT_EQ(language_code(-1), nullptr);
  for (int i = 0; i < COUNTRY_COUNT; i++) EXPECT_EQ(country_from_code(country_code(i)), i);
  EXPECT_STREQ(country_code(5), "GB");
  EXPECT_EQ(country_code(11), nullptr);
  EXPECT_EQ(country_code(-1), nullptr);
}

TEST(StringsAddress, LayoutsPerCountry) {
  auto rows = [](const char* code) {
    std::vector<std::pair<StrId, int>> v;
    const AddressRow* r = address_layout(country_from_code(code));
    for (int i = 0; i < ADDRESS_ROWS; i++) v.push_back({r[i].label_id, r[i].component});
    return v;
  };
  using R = std::vector<std::pair<StrId, int>>;
  const std::pair<StrId, int> none = {STR_NONE, -1};
  const std::pair<StrId, int> street = {STR_ADDR_STREET, 2}, city = {STR_ADDR_CITY, 3},
                              postal = {STR_ADDR_POSTAL_CODE, 5}, country = {STR_ADDR_COUNTRY, 6};
  EXPECT_EQ(rows("ES"), (R{street, postal, city, {STR_ADDR_PROVINCE, 4}, country, none, none}));
  EXPECT_EQ(rows("BY"), rows("IT"));
  EXPECT_EQ(rows("UA"), (R{street, city, {STR_ADDR_PROVINCE, 4}, postal, country, none, none}));
  EXPECT_EQ(rows("CA"), rows("UA"));
  EXPECT_EQ(rows("FR"), (R{street, postal, city, country, none, none, none}));
  EXPECT_EQ(rows("DE"), rows("FR"));
  EXPECT_EQ(rows("GB"), (R{street, city, {STR_ADDR_COUNTY, 4}, {STR_ADDR_POSTCODE, 5}, country, none, none}));
  EXPECT_EQ(rows("RU"), (R{street, {STR_ADDR_LOCALITY, 3}, {STR_ADDR_PROVINCE, 4}, country, postal, none, none}));
  EXPECT_EQ(rows("US"), (R{street, city, {STR_ADDR_STATE, 4}, {STR_ADDR_ZIP_CODE, 5}, country, none, none}));
  const R full = {{STR_ADDR_PO_BOX, 0}, {STR_ADDR_EXTENDED, 1}, street, city, {STR_ADDR_REGION, 4}, postal, country};
  EXPECT_EQ(rows("ZZ"), full);
  EXPECT_EQ(rows("XX"), full);  // unknown code: -1
  EXPECT_EQ(address_layout(99)[0].label_id, STR_ADDR_PO_BOX);
}

TEST_F(StringsTest, CountryOrderIsKeptAfterALanguageChange) {
  const int* order = countries_sorted();
  std::vector<int> first(order, order + SORTED_COUNTRY_COUNT);
  // A permutation of 0..9, ordered by the names of the language in force at
  // the first call (English here).
  std::vector<int> sorted_copy = first;
  std::sort(sorted_copy.begin(), sorted_copy.end());
  for (int i = 0; i < SORTED_COUNTRY_COUNT; i++) EXPECT_EQ(sorted_copy[i], i);
  for (int i = 1; i < SORTED_COUNTRY_COUNT; i++)
    EXPECT_LT(strcmp(ui_string_in(0, str_at(STR_COUNTRY_RANGE, first[i - 1])),
                     ui_string_in(0, str_at(STR_COUNTRY_RANGE, first[i]))),
              0);
  EXPECT_EQ(first, (std::vector<int>{0, 1, 4, 2, 6, 7, 3, 8, 5, 9}));

  ASSERT_EQ(strings_set_language(3), 1);
  order = countries_sorted();
  EXPECT_EQ(std::vector<int>(order, order + SORTED_COUNTRY_COUNT), first);
}

}  // namespace
