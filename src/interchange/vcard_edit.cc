// SPDX-License-Identifier: GPL-3.0-or-later
// An edit of a stored card applied in place: what the user did not change
// stays byte for byte.
#include "interchange/vcard_edit.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "interchange/content_line.h"
#include "interchange/ical.h"
#include "interchange/vcard_parts.h"

using namespace vcard_parts;

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
  // Labels of other programs (IPHONE, X-EVOLUTION-ASSISTANT, x-work...) are
  // kept after the ones the flags say.
  std::vector<std::string> others;
  for (size_t i = 1; i < params.size(); i++) {
    const std::string& p = params[i];
    size_t eq = p.find('=');
    std::string pname = eq == std::string::npos ? p : p.substr(0, eq);
    if (eq == std::string::npos && type_flag(table, p)) continue;  // bare type (2.1)
    if (ieq(pname, "TYPE")) {
      std::string values = strip_quotes(p.substr(eq + 1));
      size_t pos = 0;
      while (pos <= values.size()) {
        size_t comma = values.find(',', pos);
        if (comma == std::string::npos) comma = values.size();
        std::string v = values.substr(pos, comma - pos);
        if (!v.empty() && !type_flag(table, v) && std::find(others.begin(), others.end(), v) == others.end())
          others.push_back(v);
        pos = comma + 1;
      }
      continue;
    }
    if (ieq(pname, "PREF")) continue;
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
  for (const std::string& v : others) out += ";TYPE=" + v;
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
  r.org = one_line(r.org);
  for (auto* list : {&r.phones, &r.emails})
    for (VCardTyped& t : *list) t.value = one_line(t.value);
  for (VCardAddress& a : r.addresses)
    for (std::string& p : a.part) p = one_line(p);
  return r;
}

enum Kind { K_OTHER, K_END, K_N, K_FN, K_BDAY, K_URL, K_NOTE, K_ORG, K_TEL, K_EMAIL, K_ADR };

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
    size_t colon = content_value_colon(line);
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
    } else if (ieq(name, "ORG")) {
      k = K_ORG;
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
    // Of several N, BDAY, URL, NOTE or ORG lines the parser keeps the last;
    // the earlier ones are left as they are.
    if (k == K_N || k == K_BDAY || k == K_URL || k == K_NOTE || k == K_ORG) {
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
  // ORG's units are compared as written: an escaped ";" is no separator.
  auto same_org = [norm](const std::string& a, const std::string& b) { return !norm && a == b; };
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
      case K_ORG:
        if (same_org(ed.org, shown.org)) out += raw;
        else if (!ed.org.empty()) out += h + ":" + ed.org + "\n";
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
        if (last_of[K_ORG] < 0 && !ed.org.empty()) out += "ORG:" + ed.org + "\n";
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
             if (last_of[K_ORG] >= 0) rest.edited.org.clear();
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

std::string vcard_with_name(const std::string& card) {
  auto props = split_properties(card);
  size_t end = props.size();
  int depth = 0;
  for (size_t i = 0; i < props.size(); i++) {
    const std::string& line = props[i].line;
    size_t colon = content_value_colon(line);
    if (colon == std::string::npos) continue;
    std::string name = prop_name(line.substr(0, colon));
    std::string value = line.substr(colon + 1);
    if (ieq(name, "BEGIN") && ieq(value, "VCARD")) {
      depth++;
    } else if (ieq(name, "END") && ieq(value, "VCARD")) {
      if (--depth == 0) {
        end = i;
        break;
      }
    } else if (depth == 1 && ieq(name, "N")) {
      return card;
    }
  }
  if (end == props.size()) return card;
  std::string out;
  for (size_t i = 0; i < props.size(); i++) {
    if (i == end) out += "N:;;;;\r\n";
    out += props[i].raw;
  }
  return out;
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
  std::string text = vcard_with_name(vcard_apply_edit(body, edit));
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line;
    for (size_t i = start; i < nl; i++)
      if (text[i] != '\r') line += text[i];
    content_append_folded(&out, line.data(), line.size(), 0);
    start = nl + 1;
  }
  return out;
}
