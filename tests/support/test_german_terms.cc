// SPDX-License-Identifier: GPL-3.0-or-later
// German names a repository "Sammlung": "Ablage" is the desktop's File menu
// elsewhere and half of "Zwischenablage" (clipboard), which keeps its name.
#include <gtest/gtest.h>

#include <string>

#include "support/strings.h"

namespace {

TEST(GermanTerms, RepositoriesAreSammlungenAndTheClipboardKeepsItsName) {
  ASSERT_EQ(strings_set_language(3), 1);
  int sammlung = 0;
  for (StrId id : STR_ALL_RANGE) {
    std::string t = ui_string_in(3, id);
    for (size_t at = t.find("blage"); at != std::string::npos; at = t.find("blage", at + 1)) {
      bool clipboard = at >= 9 && t.compare(at - 9, 14, "Zwischenablage") == 0;
      EXPECT_TRUE(clipboard) << id << ": " << t;
    }
    if (t.find("Sammlung") != std::string::npos) sammlung++;
  }
  EXPECT_GE(sammlung, 30);
  // The repository manager's title, its new-repository button and the
  // message the server sends back name it the same way.
  EXPECT_STREQ(ui_string_in(3, STR_REPOSITORIES), "Sammlungen");
  EXPECT_STREQ(ui_string_in(3, STR_NEW_REPOSITORY), "Neue Sammlung");
  strings_set_language(0);
}

}  // namespace
