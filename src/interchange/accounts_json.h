// SPDX-License-Identifier: GPL-3.0-or-later
// Accounts as JSON, in the layout password managers exchange: the token
// scanner, the string writer, and the account records read and written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum JsonToken {
  JSON_OBJECT_START,
  JSON_OBJECT_END,
  JSON_ARRAY_START,
  JSON_ARRAY_END,
  JSON_STRING,
  JSON_LITERAL,
};

// Called per token, with the unescaped text for strings and literals. A
// negative return stops the scan.
using JsonCallback = std::function<int(JsonToken kind, const std::string& text)>;
// 0 at the end of the text; -1 on a syntax error or when the callback stops.
// Strings decode \uXXXX (surrogate pairs included) to UTF-8.
int json_scan(const char* text, size_t len, const JsonCallback& cb);

// The text as a JSON string: quotes, backslash escapes, control characters
// as \u00XX; CR dropped.
std::string json_string(const std::string& text);

struct AccountRecord {
  std::string title, url, username, password, notes;
  bool has_title = false;
  int64_t expires = 0;  // 0 = none
};

// Reads accounts from JSON text: objects with the keys "title", "username",
// "password", "url", "notes", "expires" and "group", alone or in arrays.
// Calls on_account for each finished object with a title. Returns the number
// of accounts delivered, or -1 - delivered on a parse error (an unknown key
// ends the import; accounts before it were delivered).
int accounts_json_read(const char* text, size_t len, const std::function<void(const AccountRecord&)>& on_account);

// One export entry (without the separating ","), and the file frame.
std::string accounts_json_entry(const AccountRecord& rec);
std::string accounts_json_file(const std::string& entries_joined);
