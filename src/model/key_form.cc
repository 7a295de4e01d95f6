// SPDX-License-Identifier: GPL-3.0-or-later
// The form rule of a key item.
#include "model/key_form.h"

void key_form_apply(const KeyBody& key, ItemForm* form) {
  form->body = key_body_format(key);
  form->markup = 1;
  form->freq = form->interval_minus_one = form->by_day = form->end_kind = form->recur_count = 0;
  form->until = 0;
  form->end = 0;
  if (key.date != 0) {
    form->due = key.date;
    form->remind_unit = 3;  // days
    form->remind_count = 3;
  } else {
    form->due = 0;
    form->remind_unit = 0;
    form->remind_count = 0;
  }
}

KeyBody key_form_read(const std::string& body) {
  KeyBody key;
  key_body_parse(body.c_str(), &key);
  return key;
}
