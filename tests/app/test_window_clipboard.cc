// SPDX-License-Identifier: GPL-3.0-or-later
// Copy user name and copy password through the command table: what reaches
// the clipboard for a key, and that it is emptied first for anything else.
#include <gtest/gtest.h>

#include <string>

#include "dialogs/secret_clipboard.h"
#include "window_fixture.h"

namespace {

using ClipboardCommands = WindowTest;

std::string clipboard_text() {
  gchar* t = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  std::string s = t ? t : "";
  g_free(t);
  return s;
}

TEST_F(ClipboardCommands, KeyGivesItsUserAndPasswordOthersLeaveItEmpty) {
  int64_t key = add(work, ITEM_KEY, "Bank", "https://bank.example\nalice\nS3cret-pw!\n0\nnotes");
  int64_t note = add(work, ITEM_NOTE, "Plain", "nothing secret");
  select(static_cast<int>(work));
  select_item(key);
  ASSERT_EQ(0, command_run(&w, CMD_COPY_USER));
  EXPECT_EQ("alice", clipboard_text());
  ASSERT_EQ(0, command_run(&w, CMD_COPY_PASSWORD));
  EXPECT_EQ("S3cret-pw!", clipboard_text());

  // A note has no password link: the old password does not stay behind.
  select_item(note);
  ASSERT_EQ(0, command_run(&w, CMD_COPY_PASSWORD));
  EXPECT_EQ("", clipboard_text());
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "old", -1);
  ASSERT_EQ(0, command_run(&w, CMD_COPY_USER));
  EXPECT_EQ("", clipboard_text());
}

TEST_F(ClipboardCommands, CopiedPasswordIsClearedAfterTheDelay) {
  int64_t key = add(work, ITEM_KEY, "Mail", "https://mail.example\nbob\nPw-9876543\n0\n");
  select(static_cast<int>(work));
  select_item(key);
  clipboard_secret_set_delay(50);
  ASSERT_EQ(0, command_run(&w, CMD_COPY_PASSWORD));
  EXPECT_EQ("Pw-9876543", clipboard_text());
  for (int i = 0; i < 40 && !clipboard_text().empty(); i++) {
    g_usleep(10000);
    pump();
  }
  EXPECT_EQ("", clipboard_text());
  clipboard_secret_set_delay(30000);
}

}  // namespace
