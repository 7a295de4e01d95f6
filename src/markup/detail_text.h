// SPDX-License-Identifier: GPL-3.0-or-later
// The markup text of the detail view for each kind of item, and for stored
// history versions of items and tags. Labels come from the localized string
// table in the current language.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/item.h"

// Detail text of an item: date, reminder and recurrence lines, the body
// (verbatim unless it is markup) and, after separators, the texts of the
// items linked at the start of the body (expanded one level deep, at most 64;
// links to missing items vanish). `nested` is set for linked items. Contacts
// and keys give their structured text.
std::string item_detail_text(const Item* item, bool nested = false);
// The detail text as the window shows it with the item selected in its home
// tag (item_home_tag), whatever view is selected now: a repeating item shows
// the occurrence its list row shows. The view state is left as it was.
std::string item_detail_text_in_tag(int64_t slot);

// "<count> <unit>" for a reminder lead time; the word for none for 0 or less.
std::string reminder_text(int64_t offset);

// The phrase after the frequency word: interval, weekdays or day of month,
// and the end of the series. Empty for a plain daily or yearly rule.
std::string recurrence_text(const Recurrence& r, int32_t count, int64_t until, int64_t start);

// "**<type name>: <title>**" and a blank line.
std::string linked_item_header(const Item* item);

// The structured text of an account body: address link, user name, a hidden
// password link, expiry date and notes. Cut (logged) beyond 4094 bytes.
std::string key_markup(const std::string& body);

// The bytes of a link target "password:<hex>" when there is an even number of
// hexadecimal digits and they fit `size` with a terminator: their count, or
// -1. out is zero-terminated on success.
int password_link_decode(const char* target, char* out, size_t size);

// The structured text of a contact body: name heading, birthday, web
// address, phones, e-mails, addresses and the first line of the note. Empty
// when the body is no vCard; cut (logged) beyond 4094 bytes.
std::string vcard_markup(const std::string& body);

// The text for a stored version: an item header string with its body, or a
// tag string.
std::string history_detail_text(const char* stored, const std::string& body);
// The text of the version in the view's slot: its stored header with its
// body. Empty when there is no such version.
std::string history_version_text(const HistoryView& view, int64_t slot);
