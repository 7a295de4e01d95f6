// SPDX-License-Identifier: GPL-3.0-or-later
// Edits of stored cards: the contact editor, the importers and the export
// change the properties the record holds and keep everything else of the
// card.
#pragma once

#include <string>
#include <vector>

#include "interchange/vcard.h"

// An edit of a stored card as the contact editor makes it: the record it
// showed (parsed from the card) and the record the user left, with values in
// escaped form. Each edited phone, e-mail and address names the entry of
// `shown` it came from, or -1 when the user added it.
struct VCardEdit {
  VCardRecord shown;
  VCardRecord edited;
  std::vector<int> phone_origin;
  std::vector<int> email_origin;
  std::vector<int> address_origin;
  // Also rewrite the unchanged properties the record reads in this writer's
  // form (3.0, one TYPE parameter per type), as imports and exports do.
  bool normalise = false;
};
// The card with the edit applied: a property the user did not change stays
// byte for byte, a changed one is rewritten in place (its group and other
// parameters kept), removed ones go, added ones follow their kind; every
// property the record does not hold (organisation, photo, nickname, the
// phones beyond the editor's rows...) and the parts of N the editor does not
// show are kept. A card that does not parse is replaced by the edited record.
std::string vcard_apply_edit(const std::string& card, const VCardEdit& edit);
// The edit that changes nothing: origins 0..n-1 for the parsed entries.
VCardEdit vcard_edit_of(const VCardRecord& shown);
// The card with an empty N before its end when it has none: vCard 3.0
// requires one, and a contact named only by FN (or by an e-mail) has none.
std::string vcard_with_name(const std::string& card);
// A contact body as written to an export file: components, URL and note
// normalised, CR LF line ends, folded at 75 octets. Empty when the body does
// not parse.
std::string vcard_export_text(const std::string& body);
