// SPDX-License-Identifier: GPL-3.0-or-later
// The form rule of a key (account) item: its body is the written KeyBody, it
// is always markup, and an expiry date makes it due then with a reminder
// three days before.
#pragma once

#include "model/item.h"
#include "model/ops.h"

// Sets body, markup, due and reminder of the form from the key's fields
// (title and recurrence are left alone; recurrence fields are cleared).
void key_form_apply(const KeyBody& key, ItemForm* form);
// The key fields of a stored body (fields missing at its end are empty).
KeyBody key_form_read(const std::string& body);
