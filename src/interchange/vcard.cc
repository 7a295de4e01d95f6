#include "interchange/vcard.h"

#include <glib.h>
#include <strings.h>

#include <cctype>
#include <cstring>
#include <initializer_list>

#include "interchange/ical.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

const char* const kTelTypes[] = {"HOME", "WORK", "PREF", "VOICE", "FAX", "MSG", "CELL",
                                 "PAGER", "BBS", "MODEM", "CAR", "ISDN", "VIDEO", nullptr};
const char* const kEmailTypes[] = {"INTERNET", "X400", "HOME", "WORK", "PREF", nullptr};
const char* const kAdrTypes[] = {"DOM", "INTL", "POSTAL", "PARCEL", "HOME", "WORK", "PREF", nullptr};

bool ieq(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Splits logical lines: LF or CR LF ends a line; a line starting with a space
// or tab continues the previous one (one blank removed).
std::vector<std::string> unfold_lines(const char* text, size_t len) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < len) {
    const char* nl = static_cast<const char*>(std::memchr(text + pos, '\n', len - pos));
    size_t end = nl ? static_cast<size_t>(nl - text) : len;
    size_t e = end;
    while (e > pos && text[e - 1] == '\r') e--;
    if (e > pos && (text[pos] == ' ' || text[pos] == '\t') && !lines.empty())
      lines.back().append(text + pos + 1, e - pos - 1);
    else
      lines.emplace_back(text + pos, e - pos);
    pos = end + 1;
  }
  return lines;
}

// Position of the ":" that ends name and parameters (quoted parameter values
// may hold ":"), or npos.
size_t value_colon(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); i++) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == ':' && !quoted) return i;
  }
  return std::string::npos;
}

// Splits on a separator outside quotes.
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

std::string strip_quotes(std::string s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

int type_flag(const char* const* table, const std::string& name) {
  for (int i = 0; table[i]; i++)
    if (ieq(name, table[i])) return 1 << i;
  return 0;
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

// Property name without its group prefix ("item1.TEL" is TEL).
std::string prop_name(const std::string& head) {
  size_t semi = head.find(';');
  std::string name = head.substr(0, semi);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);
  return name;
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
  auto lines = unfold_lines(text, len);
  bool begun = false;
  for (auto& line : lines) {
    if (line.empty()) continue;
    size_t colon = value_colon(line);
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

std::string vcard_unescape(const std::string& v) {
  std::string out;
  out.reserve(v.size());
  for (size_t i = 0; i < v.size(); i++) {
    if (v[i] != '\\' || i + 1 >= v.size()) {
      out += v[i];
      continue;
    }
    char c = v[++i];
    // "\t" is a TAB, as the address text and the calendar reader have it:
    // other programs write it so, and reading it as "t" changed the text.
    if (c == 'n' || c == 'N') out += '\n';
    else if (c == 't') out += '\t';
    else if (c != 'r') out += c;
  }
  return out;
}

std::string vcard_given_name(const VCardRecord& rec) { return vcard_unescape(rec.n[1]); }
std::string vcard_family_name(const VCardRecord& rec) { return vcard_unescape(rec.n[0]); }
std::string vcard_formatted_name(const VCardRecord& rec) { return vcard_unescape(rec.fn); }
std::string vcard_url(const VCardRecord& rec) { return vcard_unescape(rec.url); }

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
                                       "URL", "TEL", "EMAIL", "ADR", "NOTE", nullptr};

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
  size_t colon = value_colon(line);
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
    std::string name = prop_name(prop.substr(0, value_colon(prop) == std::string::npos ? prop.size() : value_colon(prop)));
    if (!in_card) {
      if (ieq(name, "BEGIN") && prop.size() > 6 && ieq(prop.substr(prop.find(':') + 1), "VCARD")) {
        in_card = true;
        oversized = false;
        size = 0;
        card = "BEGIN:VCARD\n";
      }
      return;
    }
    if (ieq(name, "END") && value_colon(prop) != std::string::npos && ieq(prop.substr(value_colon(prop) + 1), "VCARD")) {
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

std::string vcard_export_text(const std::string& body) {
  VCardRecord rec;
  if (vcard_parse(body.data(), body.size(), &rec) != 0) return std::string();
  auto renorm = [](std::string& v) { v = ical_escape_text(vcard_unescape(v).c_str()); };
  for (auto& a : rec.addresses)
    for (auto& p : a.part) renorm(p);
  renorm(rec.url);
  renorm(rec.note);
  // Only the normalised values are rewritten; the rest of the card goes out
  // as stored.
  VCardRecord shown;
  vcard_parse(body.data(), body.size(), &shown);
  VCardEdit edit = vcard_edit_of(shown);
  edit.edited = rec;
  edit.normalise = true;
  std::string text = vcard_apply_edit(body, edit);
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line;
    for (size_t i = start; i < nl; i++)
      if (text[i] != '\r') line += text[i];
    ical_append_folded(&out, line.data(), line.size(), 0);
    start = nl + 1;
  }
  return out;
}

// --- Applying an edit to a stored card ---------------------------------------

namespace {

// One property of a card: its text as stored (continuation lines included,
// ending with LF) and the logical line the parser reads.
struct RawProperty {
  std::string raw;
  std::string line;
};

std::vector<RawProperty> split_properties(const std::string& card) {
  std::vector<RawProperty> out;
  size_t pos = 0;
  while (pos < card.size()) {
    size_t nl = card.find('\n', pos);
    size_t end = nl == std::string::npos ? card.size() : nl;
    size_t e = end;
    while (e > pos && card[e - 1] == '\r') e--;
    std::string raw = card.substr(pos, end - pos) + "\n";
    if (e > pos && (card[pos] == ' ' || card[pos] == '\t') && !out.empty()) {
      out.back().raw += raw;
      out.back().line.append(card, pos + 1, e - pos - 1);
    } else {
      out.push_back({raw, card.substr(pos, e - pos)});
    }
    pos = end + 1;
  }
  return out;
}

bool same_text(const std::string& a, const std::string& b) { return vcard_unescape(a) == vcard_unescape(b); }

bool same_typed(const VCardTyped& a, const VCardTyped& b) { return a.flags == b.flags && same_text(a.value, b.value); }

bool same_address(const VCardAddress& a, const VCardAddress& b) {
  if (a.flags != b.flags) return false;
  for (int i = 0; i < 8; i++)
    if (!same_text(a.part[i], b.part[i])) return false;
  return true;
}

// A property head (group, name, parameters) with its type parameters replaced
// by the flags: first in the order the writer uses, then any others.
std::string head_with_types(const std::string& head, const char* const* table,
                            std::initializer_list<int> order, int flags, int always) {
  auto params = split_params(head);
  std::string out = params[0];
  for (size_t i = 1; i < params.size(); i++) {
    const std::string& p = params[i];
    size_t eq = p.find('=');
    std::string pname = eq == std::string::npos ? p : p.substr(0, eq);
    if (eq == std::string::npos && type_flag(table, p)) continue;  // bare type (2.1)
    if (ieq(pname, "TYPE") || ieq(pname, "PREF")) continue;
    out += ";" + p;
  }
  flags |= always;
  for (int flag : order)
    if (flags & flag) {
      for (int i = 0; table[i]; i++)
        if ((1 << i) == flag) out += std::string(";TYPE=") + table[i];
      flags &= ~flag;
    }
  for (int i = 0; table[i]; i++)
    if (flags & (1 << i)) out += std::string(";TYPE=") + table[i];
  return out;
}

std::string tel_line(const std::string& head, const VCardTyped& p) {
  std::string h = head_with_types(head, kTelTypes, {TEL_PREF, TEL_HOME, TEL_WORK, TEL_CELL, TEL_VOICE, TEL_FAX},
                                  p.flags, 0);
  bool uri = strcasestr(h.c_str(), "VALUE=uri") != nullptr;
  return h + ":" + (uri ? "tel:" : "") + p.value + "\n";
}

std::string email_line(const std::string& head, const VCardTyped& e) {
  return head_with_types(head, kEmailTypes, {EMAIL_INTERNET, EMAIL_PREF, EMAIL_HOME, EMAIL_WORK}, e.flags,
                         EMAIL_INTERNET) + ":" + e.value + "\n";
}

std::string adr_line(const std::string& head, const VCardAddress& a) {
  std::string s = head_with_types(head, kAdrTypes, {ADR_WORK, ADR_HOME, ADR_PARCEL, ADR_POSTAL}, a.flags, 0) + ":";
  for (int i = 0; i < 7; i++) s += a.part[i] + ";";
  return s + a.part[7] + "\n";
}

std::string n_value(const VCardRecord& shown, const VCardRecord& edited) {
  std::string v = edited.n[0] + ";" + edited.n[1];
  int last = 1;
  for (int i = 2; i < 5; i++)
    if (!shown.n[i].empty()) last = i;
  for (int i = 2; i <= last; i++) v += ";" + shown.n[i];
  return v;
}

// A raw line break in a value would end its property and start another
// (a note line "TEL:123" becoming a phone): one a caller left unescaped is
// written as the escape.
std::string one_line(const std::string& v) {
  if (v.find_first_of("\r\n") == std::string::npos) return v;
  std::string out;
  for (size_t i = 0; i < v.size(); i++) {
    if (v[i] == '\r' && i + 1 < v.size() && v[i + 1] == '\n') continue;
    out += v[i] == '\r' || v[i] == '\n' ? std::string("\\n") : std::string(1, v[i]);
  }
  return out;
}

VCardRecord one_line_values(VCardRecord r) {
  r.fn = one_line(r.fn);
  for (std::string& n : r.n) n = one_line(n);
  r.url = one_line(r.url);
  r.note = one_line(r.note);
  for (auto* list : {&r.phones, &r.emails})
    for (VCardTyped& t : *list) t.value = one_line(t.value);
  for (VCardAddress& a : r.addresses)
    for (std::string& p : a.part) p = one_line(p);
  return r;
}

enum Kind { K_OTHER, K_END, K_N, K_FN, K_BDAY, K_URL, K_NOTE, K_TEL, K_EMAIL, K_ADR };

}  // namespace

VCardEdit vcard_edit_of(const VCardRecord& shown) {
  VCardEdit e;
  e.shown = shown;
  e.edited = shown;
  for (size_t i = 0; i < shown.phones.size(); i++) e.phone_origin.push_back(static_cast<int>(i));
  for (size_t i = 0; i < shown.emails.size(); i++) e.email_origin.push_back(static_cast<int>(i));
  for (size_t i = 0; i < shown.addresses.size(); i++) e.address_origin.push_back(static_cast<int>(i));
  return e;
}

std::string vcard_apply_edit(const std::string& card, const VCardEdit& edit) {
  const VCardRecord& shown = edit.shown;
  const VCardRecord ed = one_line_values(edit.edited);
  VCardRecord check;
  if (card.empty() || vcard_parse(card.data(), card.size(), &check) != 0) return vcard_compose_full(ed);
  auto props = split_properties(card);

  // Classify as the parser reads: the first FN, the last N, BDAY, URL and
  // NOTE, the first phones, e-mails and addresses up to their limits.
  std::vector<Kind> kind(props.size(), K_OTHER);
  std::vector<int> ordinal(props.size(), -1);
  std::vector<std::string> head(props.size());
  int last_of[K_ADR + 1];
  for (int& x : last_of) x = -1;
  int tels = 0, emails = 0, adrs = 0;
  bool begun = false;
  for (size_t i = 0; i < props.size(); i++) {
    const std::string& line = props[i].line;
    size_t colon = value_colon(line);
    if (line.empty() || colon == std::string::npos) continue;
    head[i] = line.substr(0, colon);
    std::string name = prop_name(head[i]);
    std::string value = line.substr(colon + 1);
    if (!begun) {
      begun = ieq(name, "BEGIN") && ieq(value, "VCARD");
      continue;
    }
    if (ieq(name, "END") && ieq(value, "VCARD")) {
      kind[i] = K_END;
      last_of[K_END] = static_cast<int>(i);
      break;
    }
    Kind k = K_OTHER;
    if (ieq(name, "FN")) {
      if (last_of[K_FN] < 0) k = K_FN;
    } else if (ieq(name, "N")) {
      k = K_N;
    } else if (ieq(name, "BDAY")) {
      k = K_BDAY;
    } else if (ieq(name, "URL")) {
      k = K_URL;
    } else if (ieq(name, "NOTE")) {
      k = K_NOTE;
    } else if (ieq(name, "TEL") && tels < kVcardMaxPhones) {
      k = K_TEL;
      ordinal[i] = tels++;
    } else if (ieq(name, "EMAIL") && emails < kVcardMaxEmails) {
      k = K_EMAIL;
      ordinal[i] = emails++;
    } else if (ieq(name, "ADR") && adrs < kVcardMaxAddresses) {
      k = K_ADR;
      ordinal[i] = adrs++;
    }
    if (k == K_OTHER) continue;
    // Of several N, BDAY, URL or NOTE lines the parser keeps the last; the
    // earlier ones are left as they are.
    if (k == K_N || k == K_BDAY || k == K_URL || k == K_NOTE) {
      if (last_of[k] >= 0) kind[last_of[k]] = K_OTHER;
    }
    kind[i] = k;
    last_of[k] = static_cast<int>(i);
  }

  auto find_origin = [](const std::vector<int>& origins, int k) {
    for (size_t j = 0; j < origins.size(); j++)
      if (origins[j] == k) return static_cast<int>(j);
    return -1;
  };
  auto added_tels = [&]() {
    std::string s;
    for (size_t j = 0; j < ed.phones.size(); j++)
      if ((j >= edit.phone_origin.size() || edit.phone_origin[j] < 0) && !ed.phones[j].value.empty())
        s += tel_line("TEL", ed.phones[j]);
    return s;
  };
  auto added_emails = [&]() {
    std::string s;
    for (size_t j = 0; j < ed.emails.size(); j++)
      if ((j >= edit.email_origin.size() || edit.email_origin[j] < 0) && !ed.emails[j].value.empty())
        s += email_line("EMAIL", ed.emails[j]);
    return s;
  };
  auto added_adrs = [&]() {
    std::string s;
    for (size_t j = 0; j < ed.addresses.size(); j++)
      if ((j >= edit.address_origin.size() || edit.address_origin[j] < 0) && !ed.addresses[j].empty())
        s += adr_line("ADR", ed.addresses[j]);
    return s;
  };

  // Normalising, an unchanged property is written anew like a changed one.
  const bool norm = edit.normalise;
  auto same_text = [norm](const std::string& a, const std::string& b) { return !norm && ::same_text(a, b); };
  auto same_typed = [norm](const VCardTyped& a, const VCardTyped& b) { return !norm && ::same_typed(a, b); };
  auto same_address = [norm](const VCardAddress& a, const VCardAddress& b) {
    return !norm && ::same_address(a, b);
  };
  std::string out;
  for (size_t i = 0; i < props.size(); i++) {
    const std::string& raw = props[i].raw;
    const std::string& h = head[i];
    switch (kind[i]) {
      case K_OTHER:
        if (norm && !h.empty() && ieq(prop_name(h), "VERSION") && (last_of[K_END] < 0 || i < size_t(last_of[K_END])))
          out += "VERSION:3.0\n";
        else
          out += raw;
        break;
      case K_N:
        out += same_text(ed.n[0], shown.n[0]) && same_text(ed.n[1], shown.n[1]) ? raw
                                                                                : h + ":" + n_value(shown, ed) + "\n";
        break;
      case K_FN:
        out += same_text(ed.fn, shown.fn) ? raw : h + ":" + ed.fn + "\n";
        break;
      case K_BDAY:
        if (ed.birthday == shown.birthday && !norm) out += raw;
        else if (ed.birthday) out += h + ":" + std::to_string(ed.birthday) + "\n";
        break;
      case K_URL:
        if (same_text(ed.url, shown.url)) out += raw;
        else if (!ed.url.empty()) out += h + ":" + ed.url + "\n";
        break;
      case K_NOTE:
        if (same_text(ed.note, shown.note)) out += raw;
        else if (!ed.note.empty()) out += h + ":" + ed.note + "\n";
        break;
      case K_TEL: {
        int j = find_origin(edit.phone_origin, ordinal[i]);
        if (j >= 0 && static_cast<size_t>(j) < ed.phones.size() && !ed.phones[j].value.empty()) {
          const VCardTyped& was = shown.phones[ordinal[i]];
          out += same_typed(ed.phones[j], was) ? raw : tel_line(h, ed.phones[j]);
        }
        if (static_cast<int>(i) == last_of[K_TEL]) out += added_tels();
        break;
      }
      case K_EMAIL: {
        int j = find_origin(edit.email_origin, ordinal[i]);
        if (j >= 0 && static_cast<size_t>(j) < ed.emails.size() && !ed.emails[j].value.empty()) {
          const VCardTyped& was = shown.emails[ordinal[i]];
          out += same_typed(ed.emails[j], was) ? raw : email_line(h, ed.emails[j]);
        }
        if (static_cast<int>(i) == last_of[K_EMAIL]) out += added_emails();
        break;
      }
      case K_ADR: {
        int j = find_origin(edit.address_origin, ordinal[i]);
        if (j >= 0 && static_cast<size_t>(j) < ed.addresses.size() && !ed.addresses[j].empty()) {
          const VCardAddress& was = shown.addresses[ordinal[i]];
          out += same_address(ed.addresses[j], was) ? raw : adr_line(h, ed.addresses[j]);
        }
        if (static_cast<int>(i) == last_of[K_ADR]) out += added_adrs();
        break;
      }
      case K_END: {
        // What the card did not have yet goes before its end.
        if (last_of[K_N] < 0 && (!ed.n[0].empty() || !ed.n[1].empty())) out += "N:" + n_value(shown, ed) + "\n";
        if (last_of[K_FN] < 0 && !ed.fn.empty()) out += "FN:" + ed.fn + "\n";
        if (last_of[K_BDAY] < 0 && ed.birthday) out += "BDAY:" + std::to_string(ed.birthday) + "\n";
        if (last_of[K_URL] < 0 && !ed.url.empty()) out += "URL:" + ed.url + "\n";
        if (last_of[K_TEL] < 0) out += added_tels();
        if (last_of[K_EMAIL] < 0) out += added_emails();
        if (last_of[K_ADR] < 0) out += added_adrs();
        if (last_of[K_NOTE] < 0 && !ed.note.empty()) out += "NOTE:" + ed.note + "\n";
        out += raw;
        break;
      }
    }
  }
  if (last_of[K_END] < 0) {
    // A card without its end: the additions go last, and the end is written.
    std::string end = "END:VCARD\n";
    props.clear();
    out += vcard_apply_edit(std::string("BEGIN:VCARD\n") + end, [&] {
             VCardEdit rest;
             rest.edited = ed;
             if (last_of[K_N] >= 0) rest.edited.n[0] = rest.edited.n[1] = "";
             if (last_of[K_FN] >= 0) rest.edited.fn.clear();
             if (last_of[K_BDAY] >= 0) rest.edited.birthday = 0;
             if (last_of[K_URL] >= 0) rest.edited.url.clear();
             if (last_of[K_NOTE] >= 0) rest.edited.note.clear();
             if (last_of[K_TEL] >= 0) rest.edited.phones.clear();
             if (last_of[K_EMAIL] >= 0) rest.edited.emails.clear();
             if (last_of[K_ADR] >= 0) rest.edited.addresses.clear();
             rest.phone_origin.assign(rest.edited.phones.size(), -1);
             rest.email_origin.assign(rest.edited.emails.size(), -1);
             rest.address_origin.assign(rest.edited.addresses.size(), -1);
             return rest;
           }()).substr(12);
  }
  return out;
}
