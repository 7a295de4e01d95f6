// SPDX-License-Identifier: GPL-3.0-or-later
// Kept components: what a calendar file or server said about an item, and
// the way back. An import (a file, or an account sync) stores the item as
// always and keeps its whole source component beside it (storage/
// source_store.h); an export or a push writes that kept component with only
// the properties the user changed replaced, every other line byte for byte.
//
// A component here is one resource as a calendar server holds it: a
// VCALENDAR with the VEVENT or VTODO of one UID (the master and its
// overridden instances) and the VTIMEZONEs they use, or one VCARD.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/source_store.h"

class ItemBatch;

enum ComponentKind {
  COMPONENT_NONE = 0,
  COMPONENT_EVENT,  // a VCALENDAR whose first VEVENT/VTODO is a VEVENT
  COMPONENT_TODO,
  COMPONENT_CARD,
};
// What the text holds, by its first component.
ComponentKind component_kind(const std::string& text);

// The UID of the text's VEVENT/VTODO or VCARD (unescaped, unfolded); empty
// when it has none.
std::string component_uid(const std::string& text);

// Splits a calendar file into one component per UID (each a VCALENDAR with
// the file's calendar properties, its VEVENT/VTODO of that UID, overrides
// included, and the VTIMEZONEs they name), in file order, or a vCard file
// into its cards. Components without a UID stay one each.
std::vector<std::string> component_split(const std::string& text);

// Stores the item that one component describes, inside the caller's batch:
// slot >= 0 updates that item (a task, event or contact of the batch's
// repository), slot -1 makes a new one in tag `tag`. *kept receives the
// source record to keep (uuid, component, rule); the caller stores it with
// source_put, together with its sync fields, so that several items are one
// source transaction. Returns the item's slot, or -1 when the component
// breaks a rule (nothing stored).
int64_t component_to_item(const std::string& text, ItemBatch* batch, int64_t tag, int64_t slot,
                          SourceRecord* kept);

// The component the item is now: the kept component (kept may be null) with
// the properties whose fields the item changed since replaced, or, without
// one, the component an export makes from the item alone. CRLF line ends.
// Empty when the item is gone or is not a task, event or contact.
std::string component_for_item(int64_t item_slot, const SourceRecord* kept);
