// SPDX-License-Identifier: GPL-3.0-or-later
// The parse and store halves of each import and the item halves of each
// export, shared by the one-call forms and the plans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "interchange/import_plan.h"

void calendar_plan_parse(const char* data, size_t len, ImportPlan* plan);
// The entry of one component (a VCALENDAR of one UID, see components.h):
// the item's form from its master VEVENT/VTODO, the full rule from its
// RRULE, RDATE, EXDATE and overridden instances, and the text itself as
// the component to keep. 0, or -1 when it breaks a rule.
int calendar_entry_of(const std::string& component, ImportEntry* out);
// Stores the entry: into the item at `slot` when given (>= 0), else the
// item its UID names when that is a task or event of the batch's
// repository, else a new item in `tag`. Attaches the full rule. Returns the
// slot, or -1 when refused; *updated when an existing item was.
int64_t calendar_entry_store(const ImportEntry& e, ItemBatch* batch, int64_t tag, bool* updated, int64_t slot = -1);

void contacts_plan_parse(const char* data, size_t len, ImportPlan* plan);
// The entry of one raw card (the text kept as its component). 0 or -1.
int contact_entry_of(const std::string& card, ImportEntry* out);
// Stores it into the contact at `slot`, or a new one in `tag` (slot -1).
int64_t contact_entry_store(const ImportEntry& e, ItemBatch* batch, int64_t tag, int64_t slot);
// False when the text is not valid UTF-8 or holds NUL bytes (nothing added).
bool accounts_plan_parse(const char* data, size_t len, ImportPlan* plan);
void note_plan_parse(const char* data, size_t len, const char* title, ImportPlan* plan);

// Each item's text of an export: calendar items from their kept component
// when they have one.
bool calendar_append_item(int64_t slot, int64_t now, std::string* out);
// The item as this program writes it, without a kept component.
bool calendar_append_plain(int64_t slot, int64_t now, std::string* out);
// The components inside a calendar text (VTIMEZONE, VEVENT, VTODO...), each
// as its lines, without the calendar's own properties.
std::vector<std::string> calendar_inner_components(const std::string& text);
// The form of a parsed component (pre-1970 series moved to their first
// occurrence after). 0, or -1 when it cannot be stored.
struct IcalEntry;
int ical_entry_form(IcalEntry* e, ItemForm* f);
bool contact_append(int64_t slot, std::string* out);
bool account_append(int64_t slot, bool first, std::string* out);
