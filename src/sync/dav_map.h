// SPDX-License-Identifier: GPL-3.0-or-later
// Server members to items and back: the one place the account sync turns
// iCalendar and vCard text into items and items into text, through the
// kept components (interchange/components.h).
#pragma once

#include <cstdint>
#include <string>

#include "storage/source_store.h"

class ItemBatch;

// Stores the member's text as the item at `slot` (-1: a new item in tag
// `tag`) inside the batch; keep_history keeps the item's current version
// as history first. The trashed flag of an existing item stays as it is.
// *kept receives the item's source record (uuid, component, rule; no sync
// fields). The item's slot, or -1 when the text holds no task, event or
// contact it can store (nothing stored then).
int64_t dav_member_store(const std::string& text, int64_t slot, int64_t tag, int keep_history, ItemBatch* batch,
                         SourceRecord* kept);

// The text to put on the server for the item: the member last exchanged
// (kept may be null for a new member) with the user's changes applied.
// Empty when the item gives none.
std::string dav_member_text(int64_t slot, const SourceRecord* kept);

// The UID of a member's text; empty when it has none.
std::string dav_member_uid(const std::string& text);

// The title the member's text would give an item (for the summary's
// conflict names); empty when none.
std::string dav_member_title(const std::string& text);
