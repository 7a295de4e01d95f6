// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces of a card's property lines that the vCard reader and the edit
// logic share: the type names of TEL, EMAIL and ADR (bit i of a flags word
// for entry i), and the head of a property (group, name, parameters).
#pragma once

#include <string>
#include <vector>

namespace vcard_parts {

extern const char* const kTelTypes[];
extern const char* const kEmailTypes[];
extern const char* const kAdrTypes[];

// Case-insensitive equality with an ASCII name.
bool ieq(const std::string& a, const char* b);
// Splits a property head on ";" outside double quotes.
std::vector<std::string> split_params(const std::string& s);
std::string strip_quotes(std::string s);
// The flag of a type name in a table, 0 when it is not there.
int type_flag(const char* const* table, const std::string& name);
// Property name without its group prefix ("item1.TEL" is TEL).
std::string prop_name(const std::string& head);

}  // namespace vcard_parts
