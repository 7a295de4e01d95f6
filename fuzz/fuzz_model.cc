// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary header and tag strings to the model's readers, and key
// bodies and history versions to the detail text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "markup/detail_text.h"
#include "model/item.h"
#include "model/model.h"
#include "model/tag.h"
#include "support/log.h"
#include "support/strings.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  log_set_level(LOG_ERROR);
  strings_set_language(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const char* s = text.c_str();
  uint8_t uuid[16] = {1, 2, 3};
  Item* item = items_add_from_str(0, uuid, s);
  if (item) {
    item_set_last_occurrence(item);
    // A header that was accepted formats back into one that is accepted.
    std::string header = item_header_format(*item);
    uuid[0] = 9;
    if (!items_add_from_str(0, uuid, header.c_str())) __builtin_trap();
  }
  Item rec;
  item_parse_header(s, &rec);
  tags_add_from_str(0, uuid, s);
  KeyBody key;
  key_body_parse(s, &key);
  key_body_format(key);
  key_markup(text);
  history_detail_text(s, text);
  char pw[64];
  password_link_decode(s, pw, sizeof pw);
  items_reset();
  tags_reset();
  return 0;
}
