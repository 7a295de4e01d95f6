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
const std::map<int, std::string> kConversions = {
    {21, "s"},  {178, "s"}, {189, "d"}, {190, "d"}, {191, "d"}, {192, "d"},
    {193, "d"}, {194, "s"}, {201, "d"}, {210, "s"}, {211, "s"}, {212, "s"},
    {214, "s"}, {257, "s"}, {317, "s"}, {319, "ss"}, {329, "s"},
    // Plural texts: the conversions of each form.
    {346, "d"}, {347, "d"}, {348, "d"}, {349, "d"}, {355, "d"}, {356, "d"},
    {357, "d"}, {358, "d"}, {359, "d"}, {361, "d"}, {377, "s"},
    // Import and export reports: file names and counts.
    {386, "s"}, {387, "s"}, {388, "s"}, {390, "d"}, {391, "dd"}, {392, "s"},
    {393, "s"}, {394, "d"}, {395, "s"},
};

// Plural texts: one form per line, as many as the language has.
bool is_plural(int id) { return (id >= 346 && id <= 361) || id == 390 || id == 394 || (id >= 397 && id <= 400); }

// List texts: one entry per line, and how many entries their users expect.
// 186 covers every interval a rule can hold (interval_minus_one 0..127).
const std::map<int, int> kLists = {
    {154, 9}, {155, 3}, {156, 3}, {185, 4}, {186, 128},
    {187, 2}, {188, 4}, {225, 5}, {232, 8}, {234, 10},
};

// Message, question and free-standing texts, where line breaks may stand.
const std::set<int> kMultiLine = {
    15,  16,  20,  21,  22,  37,  108, 178, 209, 210, 211, 212, 213, 214, 215, 216, 217,
    218, 243, 247, 248, 249, 250, 251, 252, 256, 257, 258, 261, 277, 290, 291, 292, 293,
    294, 295, 296, 297, 298, 299, 302, 303, 304, 305, 306, 317, 318, 319, 321, 322, 328,
    329, 339, 340, 341, 362,
};

// Labels pasted into the detail view's markup, where markup characters would
// take effect; the kind names of 154..156 are too (checked per entry).
const std::set<int> kInMarkup = {
    44,  48,  49,  70,  109, 117, 118, 119, 120, 121, 125, 126, 136, 157, 158, 159,
    160, 161, 162, 163, 164, 165, 166, 167, 170, 171, 172, 173, 174, 175, 176, 189,
    190, 191, 192, 193, 194, 200, 201, 202, 203, 204, 205, 206, 222, 236, 237, 239,
    240, 253, 263, 346, 347, 348, 349, 355, 356, 357, 358, 359,
};

// Texts that are rightly the same in a translation as in English.
const std::set<std::pair<int, int>> kSameAsEnglish = {
    {0, 3},                                  // Belarus
    {1, 1},                                  // Canada
    {4, 1},                                  // France
    {8, 1},   {8, 3},                        // Ukraine
    {26, 1},  {26, 3},  {308, 1}, {308, 3},  // OK
    {307, 1}, {307, 2}, {307, 3}, {307, 4},  // program name
    {225, 1}, {225, 2}, {225, 3}, {225, 4},  // language names, each in its own language
    {186, 1}, {186, 2}, {186, 3}, {186, 4},  // numbers
    {234, 1}, {234, 2}, {234, 3}, {234, 4},  // numbers
    {102, 1}, {238, 1},                      // Notes
    {103, 1},                                // Contacts
    {136, 1},                                // Note
    {157, 1},                                // Contact
    {109, 1},                                // Type
    {111, 1},                                // Date
    {164, 1},                                // minutes
    {219, 2},                                // General
    {330, 2},                                // Personal
    {332, 2},                                // Ideas
    {134, 3}, {222, 3},                      // Name
    {147, 3},                                // Region
    {259, 3},                                // Server
    {350, 1}, {360, 1}, {397, 1},            // minute, occurrence
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
    for (int id = 0; id < STRING_COUNT; id++) {
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
    for (int id = 0; id < STRING_COUNT; id++) {
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
          if (id >= 154 && id <= 156) {
            EXPECT_FALSE(has_markup(e)) << where << ": " << e;
          }
        }
      } else if (!kMultiLine.count(id) && id != 108) {
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
    for (int id = 0; id < STRING_COUNT; id++) {
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
    std::string sheet = ui_string_in(lang, 108);
    for (const char* c : constructs)
      EXPECT_NE(sheet.find(c), std::string::npos) << kLangNames[lang] << " lacks " << c;
    // Shown as plain text in a narrow panel: short lines, no CR LF.
    for (const std::string& line : split_lines(sheet.c_str())) EXPECT_LE(utf8_chars(line), 44u) << line;
  }
}

TEST_F(StringsTest, CompositeLabelsStayWithinTheirBuffers) {
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    std::string where = kLangNames[lang];
    // "%s: %s" of the lists row and a list-type name, within 64 bytes.
    for (int id = 97; id <= 105; id++)
      EXPECT_LE(strlen(ui_string_in(lang, 38)) + 2 + strlen(ui_string_in(lang, id)), 63u) << where << id;
    // "%s (%d)" of the reminders row.
    EXPECT_LE(strlen(ui_string_in(lang, 40)) + strlen(" (99999)"), 63u) << where;
    // reminder_text: at most 30 characters.
    for (int id = 346; id <= 349; id++)
      for (const std::string& form : split_lines(ui_string_in(lang, id)))
        EXPECT_LE(utf8_chars(form) - 2 + 4, 30u) << where << id;
  }
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    strings_set_language(lang);
    EXPECT_LE(utf8_chars(ui_format(319, "10.20.300", "1.3.3")), 255u);
  }
}

TEST_F(StringsTest, LookupsAndFormatting) {
  EXPECT_EQ(ui_string(-1), nullptr);
  EXPECT_EQ(ui_string(STRING_COUNT), nullptr);
  EXPECT_EQ(ui_string_in(0, STRING_COUNT), nullptr);
  EXPECT_EQ(ui_string_in(5, 0), nullptr);
  EXPECT_EQ(ui_string_in(-1, 0), nullptr);
  EXPECT_EQ(ui_format(-1), "");
  EXPECT_EQ(ui_format(STRING_COUNT, 1, 2), "");
  EXPECT_EQ(ui_string_line(1000), "");
  EXPECT_STREQ(ui_string(307), "Ordika");
  EXPECT_STREQ(ui_string(26), "OK");

  // A percent sign inside an argument is shown as it is.
  std::string hit = ui_format(178, "50% off");
  EXPECT_NE(hit.find("50% off"), std::string::npos) << hit;
  EXPECT_EQ(hit.find("%s"), std::string::npos);
  // Arguments keep their order.
  std::string offer = ui_format(319, "2.0.0", "1.3.3");
  size_t a = offer.find("2.0.0"), b = offer.find("1.3.3");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_NE(ui_format(189, 3).find('3'), std::string::npos);

  // Line breaks become single spaces.
  std::string one = ui_string_line(21);
  EXPECT_EQ(one.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(one.size(), strlen(ui_string(21)));

  // The current language switches every lookup; out-of-range selects English.
  ASSERT_EQ(strings_set_language(3), 1);
  EXPECT_EQ(strings_language(), 3);
  EXPECT_STREQ(ui_string(39), ui_string_in(3, 39));
  ASSERT_EQ(strings_set_language(9), 1);
  EXPECT_EQ(strings_language(), 0);
  EXPECT_STREQ(ui_string(39), ui_string_in(0, 39));
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
  for (int id = 0; id < STRING_COUNT; id++)
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

  // Anything after entry 1730 is ignored, even an unfinished escape.
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
    std::vector<std::pair<int, int>> v;
    const AddressRow* r = address_layout(country_from_code(code));
    for (int i = 0; i < ADDRESS_ROWS; i++) v.push_back({r[i].label_id, r[i].component});
    return v;
  };
  using R = std::vector<std::pair<int, int>>;
  const std::pair<int, int> none = {-1, -1};
  EXPECT_EQ(rows("ES"), (R{{143, 2}, {150, 5}, {144, 3}, {148, 4}, {153, 6}, none, none}));
  EXPECT_EQ(rows("BY"), rows("IT"));
  EXPECT_EQ(rows("UA"), (R{{143, 2}, {144, 3}, {148, 4}, {150, 5}, {153, 6}, none, none}));
  EXPECT_EQ(rows("CA"), rows("UA"));
  EXPECT_EQ(rows("FR"), (R{{143, 2}, {150, 5}, {144, 3}, {153, 6}, none, none, none}));
  EXPECT_EQ(rows("DE"), rows("FR"));
  EXPECT_EQ(rows("GB"), (R{{143, 2}, {144, 3}, {146, 4}, {151, 5}, {153, 6}, none, none}));
  EXPECT_EQ(rows("RU"), (R{{143, 2}, {145, 3}, {148, 4}, {153, 6}, {150, 5}, none, none}));
  EXPECT_EQ(rows("US"), (R{{143, 2}, {144, 3}, {149, 4}, {152, 5}, {153, 6}, none, none}));
  const R full = {{141, 0}, {142, 1}, {143, 2}, {144, 3}, {147, 4}, {150, 5}, {153, 6}};
  EXPECT_EQ(rows("ZZ"), full);
  EXPECT_EQ(rows("XX"), full);  // unknown code: -1
  EXPECT_EQ(address_layout(99)[0].label_id, 141);
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
    EXPECT_LT(strcmp(ui_string_in(0, first[i - 1]), ui_string_in(0, first[i])), 0);
  EXPECT_EQ(first, (std::vector<int>{0, 1, 4, 2, 6, 7, 3, 8, 5, 9}));

  ASSERT_EQ(strings_set_language(3), 1);
  order = countries_sorted();
  EXPECT_EQ(std::vector<int>(order, order + SORTED_COUNTRY_COUNT), first);
}

}  // namespace
