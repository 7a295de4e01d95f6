// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the JSON scanner and the account reader, and
// checks that any text written as a JSON string scans back as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "interchange/accounts_json.h"
#include "support/log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  log_set_level(LOG_ERROR);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  json_scan(text, size, [](JsonToken, const std::string&) { return 0; });
  int delivered = 0;
  int rc = accounts_json_read(text, size, [&delivered](const AccountRecord& rec) {
    if (!rec.has_title) abort();
    // Each account written out reads back as one account with its fields.
    std::string file = accounts_json_file(accounts_json_entry(rec));
    int n = accounts_json_read(file.data(), file.size(), [](const AccountRecord&) {});
    if (n != 1) abort();
    delivered++;
  });
  if (rc >= 0 && rc != delivered) abort();
  if (rc < 0 && -1 - rc != delivered) abort();

  std::string raw(text, size), expect;
  for (char c : raw)
    if (c != '\r') expect += c;
  std::string quoted = json_string(raw);
  int strings = 0;
  int scan = json_scan(quoted.data(), quoted.size(), [&](JsonToken kind, const std::string& value) {
    if (kind != JSON_STRING || value != expect) abort();
    strings++;
    return 0;
  });
  if (scan != 0 || strings != 1) abort();
  return 0;
}
