// SPDX-License-Identifier: GPL-3.0-or-later
// Plural forms chosen by count, and every text of every language rendered
// with sample arguments of the types its callers pass.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/strings.h"

namespace {

const char* const kLang[LANGUAGE_COUNT] = {"en", "fr", "es", "de", "ru"};
const long long kGrid[] = {0, 1, 2, 3, 4, 5, 11, 12, 14, 21, 22, 25, 101, 111};

// Ids whose text holds one plural form per line.
const StrId kPluralIds[] = {STR_REMIND_N_MINUTES_BEFORE,
                            STR_REMIND_N_HOURS_BEFORE,
                            STR_REMIND_N_DAYS_BEFORE,
                            STR_REMIND_N_WEEKS_BEFORE,
                            STR_UNIT_MINUTE,
                            STR_UNIT_DAY,
                            STR_UNIT_WEEK,
                            STR_UNIT_MONTH,
                            STR_UNIT_YEAR,
                            STR_EVERY_N_DAYS,
                            STR_EVERY_N_WEEKS,
                            STR_EVERY_N_MONTHS,
                            STR_EVERY_N_YEARS,
                            STR_ENDS_AFTER_N,
                            STR_UNIT_OCCURRENCE,
                            STR_ASK_DELETE_N_ITEMS,
                            STR_IMPORT_DONE,
                            STR_EXPORT_DONE,
                            STR_REMINDER_UNIT_MINUTE,
                            STR_REMINDER_UNIT_HOUR,
                            STR_REMINDER_UNIT_DAY,
                            STR_REMINDER_UNIT_WEEK,
                            STR_STRENGTH_BITS,
                            STR_IDLE_QUIT_AFTER,
                            STR_GEN_CHARACTERS,
                            STR_SET_TAGS_FOR_MANY,
                            STR_RULE_N_CHANGED};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t nl = text.find('\n', start);
    out.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) return out;
    start = nl + 1;
  }
}

// Conversion letters in order; "!" for anything but %s, %d and %%.
std::string conversions(const std::string& text) {
  std::string seen;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '%') continue;
    char c = i + 1 < text.size() ? text[++i] : '\0';
    if (c == '%') continue;
    if (c != 's' && c != 'd') return "!";
    seen += c;
  }
  return seen;
}

class Plurals : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(strings_set_language(0), 1); }
  void TearDown() override { strings_set_language(0); }
};

TEST_F(Plurals, FormIndexOverTheGridInEveryLanguage) {
  // Expected form per grid count: en, es, de one/other; fr 0 and 1 singular;
  // ru one (…1 but not …11), few (…2-4 but not …12-14), many.
  const int en[] = {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const int fr[] = {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const int ru[] = {2, 0, 1, 1, 1, 2, 2, 2, 2, 0, 1, 2, 0, 2};
  const int* expected[LANGUAGE_COUNT] = {en, fr, en, en, ru};
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    for (size_t i = 0; i < sizeof kGrid / sizeof kGrid[0]; i++) {
      EXPECT_EQ(plural_form(lang, kGrid[i]), expected[lang][i]) << kLang[lang] << " " << kGrid[i];
      // A negative count reads like its size.
      EXPECT_EQ(plural_form(lang, -kGrid[i]), expected[lang][i]) << kLang[lang] << " -" << kGrid[i];
    }
  }
  EXPECT_EQ(plural_form(4, 1000001), 0);
  EXPECT_EQ(plural_form(4, 1000012), 2);
  EXPECT_EQ(plural_form(4, INT64_MIN), 2);  // ...808: no overflow on the sign
  EXPECT_EQ(plural_form(4, INT64_MIN + 6), 1);  // ...802
  EXPECT_EQ(plural_form_count(4), 3);
  EXPECT_EQ(plural_form_count(1), 2);
}

TEST_F(Plurals, EveryPluralTextGivesItsOwnFormForEachCount) {
  for (StrId id : kPluralIds) {
    for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
      std::vector<std::string> forms = lines(ui_string_in(lang, id));
      ASSERT_EQ(static_cast<int>(forms.size()), plural_form_count(lang)) << kLang[lang] << " id " << id;
      std::string english = lines(ui_string_in(0, id))[0];
      for (long long n : kGrid) {
        std::string form = ui_plural_in(lang, id, n);
        EXPECT_EQ(form, forms[static_cast<size_t>(plural_form(lang, n))]) << kLang[lang] << " id " << id << " n " << n;
        EXPECT_EQ(conversions(form), conversions(english)) << kLang[lang] << " id " << id << ": " << form;
      }
      // Through the current language, with the count filled in.
      ASSERT_EQ(strings_set_language(lang), 1);
      for (long long n : kGrid) {
        std::string shown = ui_plural_format(id, n);
        if (conversions(english) == "d") {
          EXPECT_NE(shown.find(std::to_string(n)), std::string::npos) << kLang[lang] << " id " << id << ": " << shown;
        }
        EXPECT_EQ(shown.find('%'), std::string::npos) << kLang[lang] << " id " << id << ": " << shown;
      }
    }
  }
}

TEST_F(Plurals, RussianAndFrenchReadRightAcrossTheGrid) {
  ASSERT_EQ(strings_set_language(4), 1);
  EXPECT_EQ(ui_plural_format(STR_EVERY_N_WEEKS, 1), "каждую 1 неделю");
  EXPECT_EQ(ui_plural_format(STR_EVERY_N_WEEKS, 3), "каждые 3 недели");
  EXPECT_EQ(ui_plural_format(STR_EVERY_N_WEEKS, 12), "каждые 12 недель");
  EXPECT_EQ(ui_plural_format(STR_EVERY_N_WEEKS, 22), "каждые 22 недели");
  EXPECT_EQ(ui_plural_format(STR_EVERY_N_WEEKS, 101), "каждую 101 неделю");
  EXPECT_EQ(ui_plural_format(STR_EVERY_N_YEARS, 5), "каждые 5 лет");
  EXPECT_EQ(ui_plural_format(STR_ASK_DELETE_N_ITEMS, 21), "Удалить 21 запись?");
  EXPECT_EQ(ui_plural_format(STR_ASK_DELETE_N_ITEMS, 14), "Удалить 14 записей?");
  EXPECT_EQ(ui_plural(STR_UNIT_OCCURRENCE, 2), "раза");
  ASSERT_EQ(strings_set_language(1), 1);
  EXPECT_EQ(ui_plural_format(STR_ENDS_AFTER_N, 0), "se termine après 0 occurrence");
  EXPECT_EQ(ui_plural_format(STR_ENDS_AFTER_N, 2), "se termine après 2 occurrences");
  ASSERT_EQ(strings_set_language(0), 1);
  EXPECT_EQ(ui_plural_format(STR_ENDS_AFTER_N, 1), "ends after 1 occurrence");
  EXPECT_EQ(ui_plural_format(STR_ASK_DELETE_N_ITEMS, 2), "Delete 2 items?");
  EXPECT_EQ(ui_plural(STR_UNIT_DAY, 1), "day");
  EXPECT_EQ(ui_plural(STR_UNIT_DAY, 0), "days");
}

TEST_F(Plurals, TextsWithoutFormsAndInvalidIds) {
  // A text of one line serves every count.
  EXPECT_EQ(ui_plural_in(4, STR_OK, 5), ui_string_in(4, STR_OK));
  EXPECT_EQ(ui_plural(STR_NONE, 1), "");
  const auto past_the_table = static_cast<StrId>(STRING_COUNT);
  EXPECT_EQ(ui_plural(past_the_table, 1), "");
  EXPECT_EQ(ui_plural_in(LANGUAGE_COUNT, STR_REMIND_N_MINUTES_BEFORE, 1), "");
  EXPECT_EQ(ui_plural_format(past_the_table, 3), "");
  // A text that is not a format of one count is shown as it is.
  ASSERT_EQ(strings_set_language(0), 1);
  EXPECT_EQ(ui_plural_format(STR_MSG_NO_SEARCH_HIT, 2), ui_string(STR_MSG_NO_SEARCH_HIT));  // "%s"
  EXPECT_EQ(ui_plural_format(STR_OK, 2), "OK");
  // The count is filled in whole, beyond the range of an int.
  EXPECT_EQ(ui_plural_format(STR_REMIND_N_MINUTES_BEFORE, 5000000000LL), "5000000000 minutes before");
}

// Every text of every language through the formatting lookup with sample
// arguments of English's conversions: never empty, the same conversions,
// every argument shown and no conversion left over.
TEST_F(Plurals, EveryTextRendersWithEnglishsArguments) {
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    ASSERT_EQ(strings_set_language(lang), 1);
    for (StrId id : STR_ALL_RANGE) {
      std::string where = std::string(kLang[lang]) + " id " + std::to_string(id);
      std::string text = ui_string(id);
      EXPECT_FALSE(text.empty()) << where;
      bool plural = false;
      for (StrId p : kPluralIds) plural = plural || p == id;
      std::string want = conversions(plural ? lines(ui_string_in(0, id))[0] : ui_string_in(0, id));
      if (plural) {
        for (const std::string& f : lines(text)) EXPECT_EQ(conversions(f), want) << where << ": " << f;
        continue;
      }
      EXPECT_EQ(conversions(text), want) << where << ": " << text;
      std::string shown;
      std::vector<std::string> args;
      if (want.empty()) {
        shown = ui_format(id);
      } else if (want == "s") {
        shown = ui_format(id, "ARG1");
        args = {"ARG1"};
      } else if (want == "ss") {
        shown = ui_format(id, "ARG1", "ARG2");
        args = {"ARG1", "ARG2"};
      } else if (want == "d") {
        shown = ui_format(id, 4242);
        args = {"4242"};
      } else if (want == "dd") {
        shown = ui_format(id, 4242, 4343);
        args = {"4242", "4343"};
      } else if (want == "ddddd") {
        shown = ui_format(id, 4242, 4343, 4444, 4545, 4646);
        args = {"4242", "4343", "4444", "4545", "4646"};
      } else {
        ADD_FAILURE() << where << ": English conversions " << want;
        continue;
      }
      EXPECT_FALSE(shown.empty()) << where;
      for (const std::string& a : args) EXPECT_NE(shown.find(a), std::string::npos) << where << ": " << shown;
      if (!want.empty()) {
        EXPECT_EQ(conversions(shown), "") << where << ": " << shown;
      }
    }
  }
}

}  // namespace
