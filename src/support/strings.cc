// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/strings.h"

#include <cstdio>
#include <cstring>

#include "support/log.h"

// Generated at build time from the language sources (resources/strings/).
extern const unsigned char ordika_strings_data[];
extern const size_t ordika_strings_size;

namespace {

const char kLanguageCodes[] = "enfresderu";
const char kCountryCodes[] = "BYCADEESFRGBITRUUAUSZZ";

static_assert(STR_COUNTRY_LAST - STR_COUNTRY_FIRST + 1 == COUNTRY_COUNT, "a name for every country");

// Layout index per country 0..10; -1 is the default layout.
const int kCountryLayout[COUNTRY_COUNT] = {0, 1, 2, 0, 2, 3, 0, 4, 1, 5, -1};

const AddressRow kDefaultLayout[ADDRESS_ROWS] = {
    {STR_ADDR_PO_BOX, 0}, {STR_ADDR_EXTENDED, 1},    {STR_ADDR_STREET, 2}, {STR_ADDR_CITY, 3},
    {STR_ADDR_REGION, 4}, {STR_ADDR_POSTAL_CODE, 5}, {STR_ADDR_COUNTRY, 6}};
const AddressRow kLayouts[6][ADDRESS_ROWS] = {
    {{STR_ADDR_STREET, 2},
     {STR_ADDR_POSTAL_CODE, 5},
     {STR_ADDR_CITY, 3},
     {STR_ADDR_PROVINCE, 4},
     {STR_ADDR_COUNTRY, 6},
     {STR_NONE, -1},
     {STR_NONE, -1}},
    {{STR_ADDR_STREET, 2},
     {STR_ADDR_CITY, 3},
     {STR_ADDR_PROVINCE, 4},
     {STR_ADDR_POSTAL_CODE, 5},
     {STR_ADDR_COUNTRY, 6},
     {STR_NONE, -1},
     {STR_NONE, -1}},
    {{STR_ADDR_STREET, 2},
     {STR_ADDR_POSTAL_CODE, 5},
     {STR_ADDR_CITY, 3},
     {STR_ADDR_COUNTRY, 6},
     {STR_NONE, -1},
     {STR_NONE, -1},
     {STR_NONE, -1}},
    {{STR_ADDR_STREET, 2},
     {STR_ADDR_CITY, 3},
     {STR_ADDR_COUNTY, 4},
     {STR_ADDR_POSTCODE, 5},
     {STR_ADDR_COUNTRY, 6},
     {STR_NONE, -1},
     {STR_NONE, -1}},
    {{STR_ADDR_STREET, 2},
     {STR_ADDR_LOCALITY, 3},
     {STR_ADDR_PROVINCE, 4},
     {STR_ADDR_COUNTRY, 6},
     {STR_ADDR_POSTAL_CODE, 5},
     {STR_NONE, -1},
     {STR_NONE, -1}},
    {{STR_ADDR_STREET, 2},
     {STR_ADDR_CITY, 3},
     {STR_ADDR_STATE, 4},
     {STR_ADDR_ZIP_CODE, 5},
     {STR_ADDR_COUNTRY, 6},
     {STR_NONE, -1},
     {STR_NONE, -1}},
};

enum LoadState { NOT_LOADED, LOADED, REJECTED };

struct StringTable {
  LoadState state = NOT_LOADED;
  std::vector<std::string> entries;  // STRING_ENTRY_COUNT once loaded
  const char* current[STRING_COUNT] = {};
  int language = 0;
  bool sorted_ready = false;
  int sorted[SORTED_COUNTRY_COUNT] = {};
};

StringTable& table() {
  static StringTable t;
  return t;
}

size_t entry_index(int lang, int id) {
  // Group g holds id 2g in every language, then id 2g + 1.
  return static_cast<size_t>(id / 2) * 10 + static_cast<size_t>(id % 2) * 5 +
         static_cast<size_t>(lang);
}

// Primary sort key of a name: accents dropped from Latin letters, Ё read as
// Е, ß as ss, Latin capitals small, so that "États-Unis" sorts among the E.
std::string collation_key(const char* text) {
  static const char kLatin1[] =  // U+00C0..U+00FF, '\0' for no letter
      "aaaaaaaceeeeiiiidnooooo\0ouuuuytsaaaaaaaceeeeiiiidnooooo\0ouuuuyty";
  std::string key;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    unsigned c = *p;
    if (c < 0x80) {
      key += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      p++;
    } else if ((c == 0xC3) && p[1] >= 0x80 && p[1] <= 0xBF) {
      unsigned cp = 0xC0 + (p[1] - 0x80);
      char base = kLatin1[cp - 0xC0];
      if (cp == 0xDF) key += "ss";
      else if (base) key += base;
      else key.append(reinterpret_cast<const char*>(p), 2);
      p += 2;
    } else if (c == 0xD0 && (p[1] == 0x81)) {  // Ё
      key += "\xD0\x95";
      p += 2;
    } else if (c == 0xD1 && (p[1] == 0x91)) {  // ё
      key += "\xD0\xB5";
      p += 2;
    } else {
      key += static_cast<char>(c);
      p++;
    }
  }
  return key;
}

}  // namespace

int ui_collate(const char* a, const char* b) {
  int k = collation_key(a).compare(collation_key(b));
  if (k == 0) k = strcmp(a, b);
  return k < 0 ? -1 : k > 0 ? 1 : 0;
}

int strings_parse(const char* text, size_t len, std::vector<std::string>* out) {
  out->clear();
  out->reserve(STRING_ENTRY_COUNT);
  std::string entry;
  bool escaped = false;
  size_t i = 0;
  for (; i < len && out->size() < STRING_ENTRY_COUNT; i++) {
    char c = text[i];
    if (c == '\r') continue;
    if (escaped) {
      escaped = false;
      if (c == 'n')
        entry += "\r\n";
      else
        entry += c;
      continue;
    }
    if (c == '\\') {
      escaped = true;
    } else if (c == '\n') {
      // Every escape yields a character, so an entry is empty only when its
      // line was: such lines are skipped.
      if (!entry.empty()) out->push_back(std::move(entry));
      entry.clear();
    } else if (c == '|') {
      entry += '\n';
    } else {
      entry += c;
    }
  }
  if (!entry.empty() && out->size() < STRING_ENTRY_COUNT) out->push_back(std::move(entry));
  if (out->size() < STRING_ENTRY_COUNT) {
    out->clear();
    return -1;
  }
  return 0;
}

int strings_set_language(int lang) {
  StringTable& t = table();
  if (t.state == NOT_LOADED) {
    if (strings_parse(reinterpret_cast<const char*>(ordika_strings_data), ordika_strings_size, &t.entries) == 0) {
      t.state = LOADED;
    } else {
      t.state = REJECTED;
      log_message(LOG_ERROR, "strings_set_language: string table rejected");
    }
  }
  if (t.state != LOADED) return 0;
  if (lang < 0 || lang >= LANGUAGE_COUNT) lang = 0;
  t.language = lang;
  for (StrId id : STR_ALL_RANGE) t.current[id] = t.entries[entry_index(lang, id)].c_str();
  return 1;
}

int strings_language() { return table().language; }

const char* ui_string(StrId id) {
  if (id < 0 || id >= STRING_COUNT) return nullptr;
  return table().current[id];
}

const char* ui_text(StrId id) {
  const char* text = ui_string(id);
  return text ? text : "";
}

const char* ui_string_in(int lang, StrId id) {
  const StringTable& t = table();
  if (t.state != LOADED || id < 0 || id >= STRING_COUNT || lang < 0 || lang >= LANGUAGE_COUNT)
    return nullptr;
  return t.entries[entry_index(lang, id)].c_str();
}

std::string ui_string_line(StrId id) {
  const char* text = ui_string(id);
  std::string line;
  if (!text) return line;
  for (const char* p = text; *p; p++) {
    if (*p == '\r' && p[1] == '\n') continue;  // CR LF is one break
    line += (*p == '\n' || *p == '\r') ? ' ' : *p;
  }
  return line;
}

std::string ui_vformat(StrId id, va_list args) {
  const char* text = ui_string(id);
  if (!text) return std::string();
  va_list sizing;
  va_copy(sizing, args);
  int n = vsnprintf(nullptr, 0, text, sizing);
  va_end(sizing);
  if (n < 0) return std::string(text);
  std::string out(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(out.data(), out.size(), text, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string strings_internal::format(int id, ...) {
  va_list args;
  va_start(args, id);
  std::string out = ui_vformat(static_cast<StrId>(id), args);
  va_end(args);
  return out;
}

const char* ui_colon() { return table().language == 1 ? "\u00a0:" : ":"; }

int plural_form(int lang, long long n) {
  unsigned long long a = n < 0 ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
  switch (lang) {
    case 1:
      return a <= 1 ? 0 : 1;
    case 4: {
      unsigned long long d = a % 10, h = a % 100;
      if (d == 1 && h != 11) return 0;
      if (d >= 2 && d <= 4 && (h < 12 || h > 14)) return 1;
      return 2;
    }
    default:
      return a == 1 ? 0 : 1;
  }
}

int plural_form_count(int lang) { return lang == 4 ? 3 : 2; }

namespace {

std::string plural_line(const char* text, int form) {
  if (!text) return std::string();
  const char* start = text;
  for (int i = 0; i < form; i++) {
    const char* nl = strchr(start, '\n');
    if (!nl) break;  // fewer forms than the language has: keep the last
    start = nl + 1;
  }
  const char* end = strchr(start, '\n');
  return end ? std::string(start, static_cast<size_t>(end - start)) : std::string(start);
}

}  // namespace

std::string ui_plural(StrId id, long long n) {
  return plural_line(ui_string(id), plural_form(table().language, n));
}

std::string ui_plural_in(int lang, StrId id, long long n) { return plural_line(ui_string_in(lang, id), plural_form(lang, n)); }

std::string ui_plural_format(StrId id, long long n) {
  std::string form = ui_plural(id, n);
  if (form.empty()) return form;
  // Only a form with exactly one "%d" (and "%%") is used as a format; the
  // count may not fit an int, so it is printed as a long long.
  size_t at = std::string::npos;
  for (size_t i = 0; i < form.size(); i++) {
    if (form[i] != '%') continue;
    char c = i + 1 < form.size() ? form[i + 1] : '\0';
    if (c == 'd' && at == std::string::npos) {
      at = i;
    } else if (c != '%') {
      return form;
    }
    i++;
  }
  if (at == std::string::npos) return form;
  form.replace(at, 2, "%lld");
  int len = snprintf(nullptr, 0, form.c_str(), n);
  if (len < 0) return form;
  std::string out(static_cast<size_t>(len) + 1, '\0');
  snprintf(out.data(), out.size(), form.c_str(), n);
  out.resize(static_cast<size_t>(len));
  return out;
}

int language_from_locale(const char* text) {
  if (!text || !text[0] || !text[1]) return 0;
  for (int i = 0; i < LANGUAGE_COUNT; i++)
    if (text[0] == kLanguageCodes[2 * i] && text[1] == kLanguageCodes[2 * i + 1]) return i;
  return 0;
}

int country_from_code(const char* text) {
  if (!text || !text[0] || !text[1]) return -1;
  for (int i = 0; i < COUNTRY_COUNT; i++)
    if (text[0] == kCountryCodes[2 * i] && text[1] == kCountryCodes[2 * i + 1]) return i;
  return -1;
}

const char* language_code(int index) {
  static const char codes[LANGUAGE_COUNT][3] = {"en", "fr", "es", "de", "ru"};
  if (index < 0 || index >= LANGUAGE_COUNT) return nullptr;
  return codes[index];
}

const char* country_code(int index) {
  static const char codes[COUNTRY_COUNT][3] = {"BY", "CA", "DE", "ES", "FR", "GB",
                                               "IT", "RU", "UA", "US", "ZZ"};
  if (index < 0 || index >= COUNTRY_COUNT) return nullptr;
  return codes[index];
}

const int* countries_sorted() {
  StringTable& t = table();
  if (t.sorted_ready) return t.sorted;
  for (int i = 0; i < SORTED_COUNTRY_COUNT; i++) t.sorted[i] = i;
  // Without a table there are no names to order by: give the index order but
  // keep trying, so the first real ordering uses real names.
  if (t.state != LOADED) return t.sorted;
  for (int i = 1; i < SORTED_COUNTRY_COUNT; i++) {
    int v = t.sorted[i];
    int j = i;
    while (j > 0 && ui_collate(t.current[t.sorted[j - 1]], t.current[v]) > 0) {
      t.sorted[j] = t.sorted[j - 1];
      j--;
    }
    t.sorted[j] = v;
  }
  t.sorted_ready = true;
  return t.sorted;
}

const AddressRow* address_layout(int country) {
  if (country < 0 || country >= COUNTRY_COUNT || kCountryLayout[country] < 0) return kDefaultLayout;
  return kLayouts[kCountryLayout[country]];
}
