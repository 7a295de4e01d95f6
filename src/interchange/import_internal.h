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
// Returns the slot, or -1 when refused; *updated when an existing item was.
int64_t calendar_entry_store(const ImportEntry& e, ItemBatch* batch, int64_t tag, bool* updated);

void contacts_plan_parse(const char* data, size_t len, ImportPlan* plan);
// False when the text is not valid UTF-8 or holds NUL bytes (nothing added).
bool accounts_plan_parse(const char* data, size_t len, ImportPlan* plan);
void note_plan_parse(const char* data, size_t len, const char* title, ImportPlan* plan);

// Each item's text of an export.
bool calendar_append_item(int64_t slot, int64_t now, std::string* out);
bool contact_append(int64_t slot, std::string* out);
bool account_append(int64_t slot, bool first, std::string* out);
