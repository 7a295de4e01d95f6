// SPDX-License-Identifier: GPL-3.0-or-later
// The program commands run through the command table: which are offered
// without a sync account, and that each dialog they open can be left
// without changing what is stored or shown.
#include <gtest/gtest.h>

#include "gtk/editor_driver.h"
#include "window_fixture.h"

namespace {

using ProgramCommands = WindowTest;

TEST_F(ProgramCommands, AccountIsOfferedWithoutAnAccountButSyncIsNot) {
  select(static_cast<int>(g_repos[0].root));
  commands_refresh(&w);
  EXPECT_TRUE(sensitive(CMD_ACCOUNT));
  EXPECT_TRUE(sensitive(CMD_OPTIONS));
  EXPECT_TRUE(sensitive(CMD_REPO_MANAGER));
  EXPECT_TRUE(sensitive(CMD_MASTER_PASSWORD));
  EXPECT_TRUE(sensitive(CMD_ABOUT));
  EXPECT_FALSE(sensitive(CMD_SYNC_ALL));
  // A repository row not linked to a server: nothing to sync.
  EXPECT_EQ(-1, command_run(&w, CMD_SYNC_REPO));
  EXPECT_EQ(-1, command_run(&w, CMD_SYNC_ALL));
}

TEST_F(ProgramCommands, DialogsLeftAloneChangeNothing) {
  int64_t a = add(work, ITEM_NOTE, "Stays");
  select(static_cast<int>(work));
  select_item(a);
  int upcoming = app_core().settings.upcoming_days;
  int language = app_core().settings.language;
  std::string menu_label = label(widget_of(CMD_OPTIONS));
  for (int id : {CMD_ABOUT, CMD_OPTIONS, CMD_REPO_MANAGER, CMD_ACCOUNT}) {
    Script s;
    bool shown = false;
    s.then([&](GtkWindow* dlg) {
      shown = true;
      respond(dlg, GTK_RESPONSE_CANCEL);
    });
    ASSERT_EQ(0, command_run(&w, id)) << id;
    pump();
    EXPECT_TRUE(shown) << id;
    EXPECT_EQ(0, s.unexpected) << id;
    EXPECT_EQ(work, model().view) << id;
    EXPECT_EQ(a, model().selected_item) << id;
  }
  EXPECT_EQ(upcoming, app_core().settings.upcoming_days);
  EXPECT_EQ(language, app_core().settings.language);
  EXPECT_EQ(menu_label, label(widget_of(CMD_OPTIONS)));
  Stored st = read_back_slot(a);
  ASSERT_TRUE(st.found);
  EXPECT_EQ("Stays", st.item.title);
}

}  // namespace
