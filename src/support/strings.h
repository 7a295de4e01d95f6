// SPDX-License-Identifier: GPL-3.0-or-later
// Localized user-visible texts: the string ids in five languages, plural
// forms chosen by count, the language and country codes, and the address
// layouts of the contact dialogs.
#pragma once

#include <cassert>
#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

// Generated from resources/strings/names.txt: enum StrId (STR_OK, ...),
// STRING_COUNT and the named ranges.
#include "support/string_ids.h"

enum {
  LANGUAGE_COUNT = 5,  // 0 en, 1 fr, 2 es, 3 de, 4 ru
  COUNTRY_COUNT = 11,  // 0..9 real countries, 10 "ZZ" (none)
  SORTED_COUNTRY_COUNT = 10,
  STRING_ENTRY_COUNT = STRING_COUNT * LANGUAGE_COUNT,
  ADDRESS_ROWS = 7,
};

// Loads the compiled-in table on first use (a rejected table is never tried
// again) and makes `lang` current; an index outside 0..4 selects English.
// Returns 1 on success, 0 when the table was rejected.
int strings_set_language(int lang);
// The current language index (0 until a language is set).
int strings_language();

// The id at `index` within a named range (STR_COUNTRY_RANGE, ...); debug
// builds check that the index lies inside it.
constexpr StrId str_at(StrRange range, int index) {
  assert(index >= 0 && index <= range.last - range.first);
  return static_cast<StrId>(range.first + index);
}

// Walks the ids of a range in order: for (StrId id : STR_ALL_RANGE).
struct StrIdIterator {
  int n;
  StrId operator*() const { return static_cast<StrId>(n); }
  StrIdIterator& operator++() {
    ++n;
    return *this;
  }
  bool operator!=(const StrIdIterator& other) const { return n != other.n; }
};
constexpr StrIdIterator begin(StrRange range) { return {range.first}; }
constexpr StrIdIterator end(StrRange range) { return {range.last + 1}; }

// Text of the id in the current language, owned by the table; nullptr when
// the id is outside 0..STRING_COUNT - 1 (STR_NONE) or no table is loaded.
const char* ui_string(StrId id);
// The same, "" where ui_string gives nullptr.
const char* ui_text(StrId id);
// Text of the id in any language regardless of the current one (nullptr as
// above, or for a language outside 0..4).
const char* ui_string_in(int lang, StrId id);
// Copy with every line break (LF, CR LF or CR) turned into one space.
std::string ui_string_line(StrId id);
namespace strings_internal {
// va_start needs a last named parameter that default promotion leaves as it
// is, which an enum is not: ui_format passes the id on as an int.
std::string format(int id, ...);
}  // namespace strings_internal

// The text used as a printf format. When formatting fails the unformatted
// text is returned; an invalid id gives "".
template <typename... Args>
std::string ui_format(StrId id, Args... args) {
  return strings_internal::format(id, args...);
}
std::string ui_vformat(StrId id, va_list args);

// The colon after a label as the current language writes it: ":", in French
// with a no-break space before it. Labels joined to values in code use it.
const char* ui_colon();

// Plural texts hold one form per line, as many as the language has: en, fr,
// es, de "one|other", ru "one|few|many". The index of the form for the count
// n in a language (the sign of n is ignored): fr takes 0 and 1 as singular,
// ru goes by n % 10 and n % 100.
int plural_form(int lang, long long n);
int plural_form_count(int lang);
// The form of a plural id that fits n in the current language (the last line
// when the text has fewer forms); "" for an invalid id.
std::string ui_plural(StrId id, long long n);
std::string ui_plural_in(int lang, StrId id, long long n);
// That form used as a printf format with n as its one "%d" (any size of n).
std::string ui_plural_format(StrId id, long long n);

// Index of the language named by the first two characters ("fr_FR.UTF-8"
// gives 1); 0 for anything else.
int language_from_locale(const char* text);
// Index of the country whose code is the first two characters, or -1.
int country_from_code(const char* text);
// Two-letter codes; nullptr outside 0..4 and 0..10.
const char* language_code(int index);
const char* country_code(int index);

// The country indexes 0..9 ordered by their names as the language current at
// the first call with a loaded table sorts them (accented letters with their
// base letter); the order is kept after later language changes.
const int* countries_sorted();

// Compares two names as a reader sorts them: accented Latin letters with
// their base letter, capitals with small letters, Ё with Е; byte order only
// breaks ties. Negative, 0 or positive.
int ui_collate(const char* a, const char* b);

// One row of an address dialog: the label string id and the address
// component (0..6) it edits; STR_NONE and -1 for an unused row.
struct AddressRow {
  StrId label_id;
  int component;
};
// The seven rows for a country index; any index without a layout of its own
// (10, -1, out of range) gives the default layout.
const AddressRow* address_layout(int country);

// Parses the table's text form: entries separated by line breaks, "|" a line
// break inside an entry, backslash-n CR LF, backslash + other char that char,
// carriage returns ignored, empty lines skipped, nothing read after entry
// STRING_ENTRY_COUNT. Returns 0 with exactly that many entries in *out, or
// -1 (out cleared) when the text holds fewer.
int strings_parse(const char* text, size_t len, std::vector<std::string>* out);
