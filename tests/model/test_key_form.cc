// SPDX-License-Identifier: GPL-3.0-or-later
// The key form rule: expiry makes the key due with a reminder three days
// before; bodies are kept whole.
#include <gtest/gtest.h>

#include "model/key_form.h"

namespace {

TEST(KeyForm, ExpiryDueTimeReminderAndWholeBodies) {
  ItemForm f;
  f.freq = 2;
  f.end = 99;
  KeyBody key;
  key.url = "https://x.example";
  key.user = "me";
  key.password = "pw";
  key.date = 1900000000;
  key.notes = std::string(6000, 'n') + "\nend";
  key_form_apply(key, &f);
  EXPECT_EQ(1, f.markup);
  EXPECT_EQ(1900000000, f.due);
  EXPECT_EQ(3, f.remind_unit);
  EXPECT_EQ(3, f.remind_count);
  EXPECT_EQ(0, f.freq);
  EXPECT_EQ(0, f.end);
  EXPECT_EQ("https://x.example\nme\npw\n1900000000\n" + key.notes, f.body);
  KeyBody back = key_form_read(f.body);
  EXPECT_EQ(key.notes, back.notes);
  EXPECT_EQ(key.date, back.date);

  key.date = 0;
  key_form_apply(key, &f);
  EXPECT_EQ(0, f.due);
  EXPECT_EQ(0, f.remind_unit);
  EXPECT_EQ(0, f.remind_count);
  // A body with only two lines reads as url and user name.
  KeyBody two = key_form_read("https://a.example\nuser\n");
  EXPECT_EQ("user", two.user);
  EXPECT_EQ("", two.password);
  EXPECT_EQ(0, two.date);
}

}  // namespace
