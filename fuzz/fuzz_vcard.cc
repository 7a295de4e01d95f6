// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the vCard parser and the import rewriter, then
// runs every card through the writer, the export normalisation, the address
// text and the detail text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "interchange/vcard.h"
#include "interchange/vcard_edit.h"
#include "markup/detail_text.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  log_set_level(LOG_ERROR);
  strings_set_language(0);
  return 0;
}

namespace {

void exercise(const std::string& card) {
  VCardRecord rec;
  if (vcard_parse(card.data(), card.size(), &rec) != 0) return;
  for (auto& a : rec.addresses) vcard_address_text(a);
  vcard_formatted_name(rec);
  std::string composed = vcard_compose_full(rec);
  // What we write parses again with the same number of entries.
  VCardRecord again;
  if (vcard_parse(composed.data(), composed.size(), &again) != 0) abort();
  std::string exported = vcard_export_text(composed);
  if (exported.empty()) abort();
  VCardRecord third;
  if (vcard_parse(exported.data(), exported.size(), &third) != 0) abort();
  std::string markup = vcard_markup(card);
  if (markup.size() > 4095) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  exercise(std::string(text, size));
  for (const std::string& card : vcard_import_cards(text, size)) {
    if (!utf8_valid_n(card.data(), card.size())) continue;
    exercise(card);
  }
  return 0;
}
