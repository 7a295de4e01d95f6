// The parse and store halves of each import and the item halves of each
// export, shared by the one-call forms and the plans.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interchange/import_plan.h"

void calendar_plan_parse(const char* data, size_t len, ImportPlan* plan);
// Returns the slot, or -1 when refused; *updated when an existing item was.
int64_t calendar_entry_store(const ImportEntry& e, ItemBatch* batch, int64_t tag, bool* updated);

void contacts_plan_parse(const char* data, size_t len, ImportPlan* plan);
// False when the text is not valid UTF-8 or holds NUL bytes (nothing added).
bool accounts_plan_parse(const char* data, size_t len, ImportPlan* plan);
void note_plan_parse(const char* data, size_t len, const char* title, ImportPlan* plan);

#include <string>
#include <vector>

std::vector<int64_t> calendar_slots(int repo, int64_t item_slot);
bool calendar_append_item(int64_t slot, int64_t now, std::string* out);
std::vector<int64_t> contact_slots(int64_t item_slot, int repo);
bool contact_append(int64_t slot, std::string* out);
std::vector<int64_t> account_slots(int64_t item_slot, int repo);
bool account_append(int64_t slot, bool first, std::string* out);
std::vector<int64_t> note_slots(int64_t item_slot, int repo);
