// SPDX-License-Identifier: GPL-3.0-or-later
// vCard (3.0, reading 2.1 and 4.0 too): the contact record, its parser and
// writer, address text, and the import rewrite of cards from other programs.
// Applying an editor's changes to a stored card, and the normalised text an
// export writes, are vcard_edit.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/text.h"

// Type flags, bit i for entry i of each property's list.
enum {
  TEL_HOME = 1, TEL_WORK = 2, TEL_PREF = 4, TEL_VOICE = 8, TEL_FAX = 16, TEL_MSG = 32, TEL_CELL = 64,
  TEL_PAGER = 128, TEL_BBS = 256, TEL_MODEM = 512, TEL_CAR = 1024, TEL_ISDN = 2048, TEL_VIDEO = 4096,
};
enum { EMAIL_INTERNET = 1, EMAIL_X400 = 2, EMAIL_HOME = 4, EMAIL_WORK = 8, EMAIL_PREF = 16 };
enum { ADR_DOM = 1, ADR_INTL = 2, ADR_POSTAL = 4, ADR_PARCEL = 8, ADR_HOME = 16, ADR_WORK = 32, ADR_PREF = 64 };

constexpr int kVcardMaxAddresses = 3;
constexpr int kVcardMaxPhones = 10;
constexpr int kVcardMaxEmails = 10;

// Values stay in their escaped vCard form.
struct VCardTyped {
  int flags = 0;
  std::string value;
};
struct VCardAddress {
  int flags = 0;
  // Post-office box, extended address, street, locality, region, postal
  // code, country, and the two-letter country code.
  std::string part[8];
  bool empty() const;
};
struct VCardRecord {
  int version = 3;
  std::string fn;
  std::string n[5];  // family, given, additional, prefix, suffix
  std::vector<VCardAddress> addresses;
  std::vector<VCardTyped> phones;
  std::vector<VCardTyped> emails;
  int32_t birthday = 0;  // year * 10000 + month * 100 + day
  std::string url;
  std::string note;
  // ORG as written: the organisation's name, then its units (";"-separated).
  std::string org;
};

// 0 and *rec filled, or -1 when the text is not a vCard. Unknown properties
// and unknown type values are passed over; type lists ("HOME,CELL") count
// value by value.
int vcard_parse(const char* text, size_t len, VCardRecord* rec);
// The record as vCard 3.0 text with LF line ends, without "END:VCARD".
void vcard_compose(TextBuilder* tb, const VCardRecord& rec);
// The same with "END:VCARD" and a final LF.
std::string vcard_compose_full(const VCardRecord& rec);

// A value of the record unescaped (content_unescape).
std::string vcard_unescape(const std::string& value);
// Owned, unescaped copies.
std::string vcard_given_name(const VCardRecord& rec);
std::string vcard_family_name(const VCardRecord& rec);
std::string vcard_formatted_name(const VCardRecord& rec);
std::string vcard_url(const VCardRecord& rec);
// The organisation's name: the first component of ORG, unescaped.
std::string vcard_org_name(const VCardRecord& rec);
// An ORG value with its first component replaced by `name` (escaped) and
// the units after it kept byte for byte; empty when nothing is left.
std::string vcard_org_with_name(const std::string& org, const std::string& name);
// One-line text of an address, laid out by its country.
std::string vcard_address_text(const VCardAddress& adr);

// Splits a file into the cards it holds, each rewritten to the properties we
// keep: folding removed, quoted-printable decoded (an encoded line feed
// becoming an escaped one), BASE64 properties dropped. Cards larger than
// kInterchangeItemMax are skipped.
std::vector<std::string> vcard_import_cards(const char* data, size_t len);
