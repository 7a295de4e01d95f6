// SPDX-License-Identifier: GPL-3.0-or-later
// Type tables and property-head parsing shared by the vCard reader and the
// edit logic.
#include "interchange/vcard_parts.h"

#include <strings.h>

namespace vcard_parts {

const char* const kTelTypes[] = {"HOME", "WORK", "PREF", "VOICE", "FAX", "MSG", "CELL",
                                 "PAGER", "BBS", "MODEM", "CAR", "ISDN", "VIDEO", nullptr};
const char* const kEmailTypes[] = {"INTERNET", "X400", "HOME", "WORK", "PREF", nullptr};
const char* const kAdrTypes[] = {"DOM", "INTL", "POSTAL", "PARCEL", "HOME", "WORK", "PREF", nullptr};

bool ieq(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::vector<std::string> split_params(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false;
  for (char c : s) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

std::string strip_quotes(std::string s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

int type_flag(const char* const* table, const std::string& name) {
  for (int i = 0; table[i]; i++)
    if (ieq(name, table[i])) return 1 << i;
  return 0;
}

std::string prop_name(const std::string& head) {
  size_t semi = head.find(';');
  std::string name = head.substr(0, semi);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);
  return name;
}

}  // namespace vcard_parts
