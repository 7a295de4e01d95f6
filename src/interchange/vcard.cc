// SPDX-License-Identifier: GPL-3.0-or-later
#include "interchange/vcard.h"

#include <glib.h>

#include <cctype>
#include <cstring>

#include "interchange/content_line.h"
#include "interchange/ical.h"
#include "interchange/vcard_parts.h"
#include "support/log.h"
#include "support/strings.h"

using namespace vcard_parts;

namespace {

// Splits a structured value on unescaped ";" into at most n parts.
void split_value(const std::string& v, std::string* parts, int n) {
  int k = 0;
  for (size_t i = 0; i < v.size(); i++) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      parts[k] += v[i];
      parts[k] += v[++i];
    } else if (v[i] == ';') {
      if (++k >= n) return;
    } else {
      parts[k] += v[i];
    }
  }
}

// Flags named by the parameters; unknown values are passed over.
int parse_types(const char* const* table, const std::vector<std::string>& params, int pref_flag) {
  int flags = 0;
  for (size_t i = 1; i < params.size(); i++) {
    const std::string& p = params[i];
    size_t eq = p.find('=');
    if (eq == std::string::npos) {
      flags |= type_flag(table, p);
      continue;
    }
    std::string pname = p.substr(0, eq);
    std::string pval = strip_quotes(p.substr(eq + 1));
    if (ieq(pname, "TYPE")) {
      size_t start = 0;
      while (start <= pval.size()) {
        size_t comma = pval.find(',', start);
        if (comma == std::string::npos) comma = pval.size();
        flags |= type_flag(table, strip_quotes(pval.substr(start, comma - start)));
        start = comma + 1;
      }
    } else if (ieq(pname, "PREF")) {
      flags |= pref_flag;  // vCard 4.0 preference
    }
  }
  return flags;
}

int32_t parse_bday(const std::string& v) {
  std::string d;
  for (size_t i = 0; i < v.size() && d.size() < 8; i++) {
    if (isdigit(static_cast<unsigned char>(v[i]))) d += v[i];
    else if (v[i] == '-' && i > 0 && d.size() >= 4) continue;
    else break;
  }
  if (d.size() != 8) return 0;
  int32_t value = std::atoi(d.c_str());
  int month = value / 100 % 100, day = value % 100;
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
  return value;
}

}  // namespace

bool VCardAddress::empty() const {
  for (auto& p : part)
    if (!p.empty()) return false;
  return true;
}

int vcard_parse(const char* text, size_t len, VCardRecord* rec) {
  *rec = VCardRecord();
  if (!text) return -1;
  auto lines = content_unfold(text, len);
  bool begun = false;
  for (auto& line : lines) {
    if (line.empty()) continue;
    size_t colon = content_value_colon(line);
    if (colon == std::string::npos) {
      if (!begun) return -1;
      continue;  // stray text inside a card: passed over
    }
    std::string head = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    std::string name = prop_name(head);
    if (!begun) {
      if (!ieq(name, "BEGIN") || !ieq(value, "VCARD")) return -1;
      begun = true;
      continue;
    }
    if (ieq(name, "END")) {
      if (ieq(value, "VCARD")) break;
      continue;
    }
    auto params = split_params(head);
    if (ieq(name, "VERSION")) {
      if (!value.empty() && isdigit(static_cast<unsigned char>(value[0]))) rec->version = value[0] - '0';
    } else if (ieq(name, "FN")) {
      if (rec->fn.empty()) rec->fn = value;
    } else if (ieq(name, "N")) {
      for (auto& p : rec->n) p.clear();
      split_value(value, rec->n, 5);
    } else if (ieq(name, "BDAY")) {
      rec->birthday = parse_bday(value);
    } else if (ieq(name, "URL")) {
      rec->url = value;
    } else if (ieq(name, "NOTE")) {
      rec->note = value;
    } else if (ieq(name, "ORG")) {
      rec->org = value;
    } else if (ieq(name, "TEL")) {
      if (static_cast<int>(rec->phones.size()) >= kVcardMaxPhones) continue;
      if (value.compare(0, 4, "tel:") == 0) value = value.substr(4);
      rec->phones.push_back({parse_types(kTelTypes, params, TEL_PREF), value});
    } else if (ieq(name, "EMAIL")) {
      if (static_cast<int>(rec->emails.size()) >= kVcardMaxEmails) continue;
      rec->emails.push_back({parse_types(kEmailTypes, params, EMAIL_PREF), value});
    } else if (ieq(name, "ADR")) {
      if (static_cast<int>(rec->addresses.size()) >= kVcardMaxAddresses) continue;
      VCardAddress a;
      a.flags = parse_types(kAdrTypes, params, ADR_PREF);
      split_value(value, a.part, 8);
      rec->addresses.push_back(std::move(a));
    }
  }
  return begun ? 0 : -1;
}

void vcard_compose(TextBuilder* tb, const VCardRecord& rec) {
  auto line = [tb](const std::string& s) {
    tb_append_n(tb, s.data(), s.size());
    tb_putc(tb, '\n');
  };
  line("BEGIN:VCARD");
  line("VERSION:3.0");
  line("N:" + rec.n[0] + ";" + rec.n[1]);
  line("FN:" + rec.fn);
  if (!rec.org.empty()) line("ORG:" + rec.org);
  if (rec.birthday) line("BDAY:" + std::to_string(rec.birthday));
  if (!rec.url.empty()) line("URL:" + rec.url);
  for (auto& p : rec.phones) {
    if (p.value.empty()) continue;
    std::string s = "TEL";
    static const std::pair<int, const char*> order[] = {{TEL_PREF, "PREF"}, {TEL_HOME, "HOME"}, {TEL_WORK, "WORK"},
                                                        {TEL_CELL, "CELL"}, {TEL_VOICE, "VOICE"}, {TEL_FAX, "FAX"}};
    for (auto& [flag, nm] : order)
      if (p.flags & flag) s += std::string(";TYPE=") + nm;
    line(s + ":" + p.value);
  }
  bool first = true;
  for (auto& e : rec.emails) {
    if (e.value.empty()) continue;
    std::string s = "EMAIL;TYPE=INTERNET";
    if (first || (e.flags & EMAIL_PREF)) s += ";TYPE=PREF";
    if (e.flags & EMAIL_HOME) s += ";TYPE=HOME";
    if (e.flags & EMAIL_WORK) s += ";TYPE=WORK";
    line(s + ":" + e.value);
    first = false;
  }
  for (auto& a : rec.addresses) {
    if (a.empty()) continue;
    std::string s = "ADR";
    static const std::pair<int, const char*> order[] = {
        {ADR_WORK, "WORK"}, {ADR_HOME, "HOME"}, {ADR_PARCEL, "PARCEL"}, {ADR_POSTAL, "POSTAL"}};
    for (auto& [flag, nm] : order)
      if (a.flags & flag) s += std::string(";TYPE=") + nm;
    s += ":";
    for (int i = 0; i < 7; i++) s += a.part[i] + ";";
    s += a.part[7];
    line(s);
  }
  if (!rec.note.empty()) line("NOTE:" + rec.note);
}

std::string vcard_compose_full(const VCardRecord& rec) {
  TextBuilder count;
  tb_init(&count, nullptr, 0);
  vcard_compose(&count, rec);
  std::string out(count.len + 1, '\0');
  TextBuilder tb;
  tb_init(&tb, out.data(), count.len + 1);
  vcard_compose(&tb, rec);
  out.resize(count.len);
  out += "END:VCARD\n";
  return out;
}

std::string vcard_unescape(const std::string& v) { return content_unescape(v.data(), v.size()); }

std::string vcard_given_name(const VCardRecord& rec) { return vcard_unescape(rec.n[1]); }
std::string vcard_family_name(const VCardRecord& rec) { return vcard_unescape(rec.n[0]); }
std::string vcard_formatted_name(const VCardRecord& rec) { return vcard_unescape(rec.fn); }
std::string vcard_url(const VCardRecord& rec) { return vcard_unescape(rec.url); }

namespace {
// Where the first component of a structured value ends (an unescaped ";").
size_t first_component_end(const std::string& v) {
  for (size_t i = 0; i < v.size(); i++) {
    if (v[i] == '\\') i++;
    else if (v[i] == ';') return i;
  }
  return v.size();
}
}  // namespace

std::string vcard_org_name(const VCardRecord& rec) {
  return vcard_unescape(rec.org.substr(0, first_component_end(rec.org)));
}

std::string vcard_org_with_name(const std::string& org, const std::string& name) {
  std::string units = org.substr(first_component_end(org));
  // Units without a name are still the user's; only "" and lone ";"s are
  // nothing.
  if (name.empty() && units.find_first_not_of(';') == std::string::npos) return std::string();
  return name + units;
}

std::string vcard_address_text(const VCardAddress& adr) {
  const AddressRow* rows = address_layout(country_from_code(adr.part[7].c_str()));
  std::string out;
  for (int r = 0; r < 7; r++) {
    int comp = rows[r].component;
    if (comp < 0 || comp > 6) continue;
    // Unescape up to a raw line break.
    std::string text;
    const std::string& v = adr.part[comp];
    for (size_t i = 0; i < v.size(); i++) {
      char c = v[i];
      if (c == '\r' || c == '\n') break;
      if (c == '\\' && i + 1 < v.size()) {
        char e = v[++i];
        if (e == 'n' || e == 'N') text += '\n';
        else if (e == 't') text += '\t';
        else if (e != 'r') text += e;
      } else {
        text += c;
      }
    }
    if (text.empty()) continue;
    if (!out.empty()) out += ", ";
    out += text;
  }
  return out;
}

namespace {

const char* const kKeptProperties[] = {"BEGIN", "END", "VERSION", "N", "FN", "BDAY",
                                       "URL", "TEL", "EMAIL", "ADR", "NOTE", "ORG", nullptr};

bool kept_property(const std::string& name) {
  for (int i = 0; kKeptProperties[i]; i++)
    if (ieq(name, kKeptProperties[i])) return true;
  return false;
}

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decoded quoted-printable value; bytes in another charset become UTF-8.
std::string decode_qp(const std::string& v, const std::string& charset) {
  std::string raw;
  for (size_t i = 0; i < v.size(); i++) {
    if (v[i] == '=' && i + 2 < v.size() + 0 && hexval(v[i + 1]) >= 0 && hexval(v[i + 2]) >= 0) {
      char byte = static_cast<char>(hexval(v[i + 1]) << 4 | hexval(v[i + 2]));
      i += 2;
      if (byte == '\n') raw += "\\n";
      else if (byte != '\r') raw += byte;
    } else if (v[i] == '\r') {
      break;
    } else {
      raw += v[i];
    }
  }
  if (utf8_valid_n(raw.data(), raw.size())) return raw;
  const char* from = charset.empty() ? "WINDOWS-1252" : charset.c_str();
  gsize written = 0;
  gchar* conv = g_convert(raw.data(), static_cast<gssize>(raw.size()), "UTF-8", from, nullptr, &written, nullptr);
  if (!conv) conv = g_convert(raw.data(), static_cast<gssize>(raw.size()), "UTF-8", "WINDOWS-1252", nullptr,
                              &written, nullptr);
  std::string out;
  if (conv) {
    out.assign(conv, written);
    g_free(conv);
  }
  return out;
}

// One property of a card, rewritten (name upper-cased with its parameters
// for quoted-printable ones). Empty when the property is not kept.
std::string rewrite_property(const std::string& line) {
  size_t colon = content_value_colon(line);
  if (colon == std::string::npos) return std::string();
  std::string head = line.substr(0, colon);
  std::string value = line.substr(colon + 1);
  std::string name = prop_name(head);
  // Every property is kept (organisation, photo, nickname...): a card is the
  // user's data; only the ones the record reads must be plain text.
  bool record_property = kept_property(name);
  auto params = split_params(head);
  bool qp = false;
  std::string charset;
  // The name as written, with its group ("item1." ties a property to its
  // label); upper-cased only with a quoted-printable value.
  std::string out = params[0];
  std::string rest;
  for (size_t i = 1; i < params.size(); i++) {
    const std::string& p = params[i];
    size_t eq = p.find('=');
    std::string pname = eq == std::string::npos ? p : p.substr(0, eq);
    std::string pval = eq == std::string::npos ? std::string() : p.substr(eq + 1);
    if (ieq(pname, "ENCODING") || (eq == std::string::npos && (ieq(p, "QUOTED-PRINTABLE") || ieq(p, "BASE64")))) {
      std::string enc = eq == std::string::npos ? p : pval;
      if (ieq(enc, "BASE64") && record_property) return std::string();
      if (ieq(enc, "QUOTED-PRINTABLE")) {
        qp = true;
        continue;
      }
    }
    if (ieq(pname, "CHARSET")) {
      charset = strip_quotes(pval);
      continue;
    }
    rest += ";" + p;
  }
  if (qp) {
    for (auto& c : out) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (auto& c : rest) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    value = decode_qp(value, charset);
  }
  return out + rest + ":" + value + "\n";
}

}  // namespace

std::vector<std::string> vcard_import_cards(const char* data, size_t len) {
  std::vector<std::string> cards;
  if (!data) return cards;
  size_t pos = 0;
  if (len >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) pos = 3;
  // Physical lines, then logical properties: a line starting with a blank
  // continues the previous one, and so does the line after a quoted-printable
  // soft break ("=" at the end of the line).
  std::vector<std::string> props;
  bool in_card = false, oversized = false;
  size_t size = 0;
  std::string card;
  auto flush_card = [&]() {
    if (oversized) {
      log_message(LOG_WARNING, "vcard_import_cards: card over %zu bytes skipped", kInterchangeItemMax);
    } else {
      cards.push_back(card);
    }
  };
  std::string pending;
  bool have_pending = false;
  auto finish_property = [&](const std::string& prop) {
    std::string name = prop_name(prop.substr(0, content_value_colon(prop) == std::string::npos ? prop.size() : content_value_colon(prop)));
    if (!in_card) {
      if (ieq(name, "BEGIN") && prop.size() > 6 && ieq(prop.substr(prop.find(':') + 1), "VCARD")) {
        in_card = true;
        oversized = false;
        size = 0;
        card = "BEGIN:VCARD\n";
      }
      return;
    }
    if (ieq(name, "END") && content_value_colon(prop) != std::string::npos && ieq(prop.substr(content_value_colon(prop) + 1), "VCARD")) {
      card += "END:VCARD\n";
      in_card = false;
      flush_card();
      return;
    }
    if (ieq(name, "BEGIN")) return;  // nested card (AGENT): passed over
    size += prop.size() + 2;
    if (size > kInterchangeItemMax) {
      oversized = true;
      return;
    }
    card += rewrite_property(prop);
  };
  while (pos < len) {
    const char* nl = static_cast<const char*>(std::memchr(data + pos, '\n', len - pos));
    size_t end = nl ? static_cast<size_t>(nl - data) : len;
    size_t e = end;
    while (e > pos && data[e - 1] == '\r') e--;
    std::string line(data + pos, e - pos);
    pos = end + 1;
    bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    bool qp_soft = have_pending && !pending.empty() && pending.back() == '=' &&
                   strcasestr(pending.c_str(), "QUOTED-PRINTABLE") != nullptr;
    if (have_pending && (continuation || qp_soft)) {
      if (qp_soft) {
        pending.pop_back();  // the soft break
        size_t skip = continuation ? 1 : 0;
        pending.append(line, skip, std::string::npos);
      } else {
        pending.append(line, 1, std::string::npos);
      }
      if (pending.size() > kInterchangeItemMax + 1024) pending.resize(kInterchangeItemMax + 1024);
      continue;
    }
    if (have_pending) finish_property(pending);
    pending = line;
    have_pending = true;
  }
  if (have_pending) finish_property(pending);
  (void)props;
  return cards;
}
