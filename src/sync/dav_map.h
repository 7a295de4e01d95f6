// Server members to items and back: the one place the account sync turns
// iCalendar and vCard text into items and items into text.
#pragma once

#include <cstdint>
#include <string>

class ItemBatch;

// Stores the member's text as the item at `slot` (-1: a new item in tag
// `tag`) inside the batch; keep_history keeps the item's previous version
// as history. The trashed flag of an existing item stays as it is. The
// item's slot, or -1 when the text holds no task, event or contact it can
// store (nothing stored then).
int64_t dav_member_store(const std::string& text, bool contact, int64_t slot, int64_t tag, int keep_history,
                         ItemBatch* batch);

// The text to put on the server for the item, built on the member text
// last exchanged with the server (`kept`, empty for a new member) so that
// the member keeps its UID. Empty when the item gives none.
std::string dav_member_text(int64_t slot, const std::string& kept);

// The UID of a member's text; empty when it has none.
std::string dav_member_uid(const std::string& text);

// The title the member's text would give an item (for the summary's
// conflict names); empty when none.
std::string dav_member_title(const std::string& text, bool contact);
