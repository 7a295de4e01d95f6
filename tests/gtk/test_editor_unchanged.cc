// SPDX-License-Identifier: GPL-3.0-or-later
// A new item's editor closed untouched goes without a question and stores
// nothing, whatever its kind.
#include "editor_driver.h"

namespace {

using UnchangedEditorTest = EditorTest;

TEST_F(UnchangedEditorTest, CancelOnAnUntouchedNewEditorAsksNothing) {
  for (int type : {ITEM_NOTE, ITEM_TASK, ITEM_EVENT, ITEM_KEY, ITEM_VCARD}) {
    const int before = count_items(type);
    bool editor = false, asked = false;
    Script s;
    s.then([&](GtkWindow* w) {
      editor = !is_message(w);
      respond(w, GTK_RESPONSE_CANCEL);
    });
    s.then([&](GtkWindow* w) {  // a discard question, answered so the editor goes
      asked = is_message(w);
      respond(w, asked ? GTK_RESPONSE_YES : GTK_RESPONSE_CANCEL);
    });
    EXPECT_LT(item_edit(type, -1, tag), 0) << type;
    pump();
    EXPECT_TRUE(editor) << type;
    EXPECT_FALSE(asked) << "a question for an untouched editor of type " << type;
    EXPECT_EQ(0, s.unexpected) << type;
    EXPECT_EQ(before, count_items(type)) << type;
  }
}

}  // namespace
