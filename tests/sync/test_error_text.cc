// SPDX-License-Identifier: GPL-3.0-or-later
// What the window and the tool say about a failed server request: the code
// text, the message of each code, and the stage 1 sentences.
#include <gtest/gtest.h>

#include <string>

#include "storage/repo.h"
#include "support/strings.h"
#include "sync/conn.h"
#include "sync/error_text.h"
#include "sync/requests.h"
#include "sync/sync.h"

namespace {

// The sentences the window and the tool both show: sync, sign-in and update
// reasons, and the reports of imports and exports.
const StrRange kSharedSentences[] = {{STR_SYNC_NOT_ON_SERVER, STR_UPDATE_NO_SIGNATURE},
                                     {STR_IMPORT_UNREADABLE, STR_GUIDE_MISSING}};

class ErrorTextTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(strings_set_language(0), 1); }
  void TearDown() override {
    strings_set_language(0);
    set_last_error(0);
  }
};

TEST_F(ErrorTextTest, CodeTextNamesHostAndResolverElseTheNumber) {
  EXPECT_EQ(error_code_text(CONN_ERR_NO_HOST), "no server name");
  EXPECT_EQ(error_code_text(CONN_ERR_RESOLVE), "server name not found (DNS)");
  EXPECT_EQ(error_code_text(CONN_ERR_CONNECT), "6");
  EXPECT_EQ(error_code_text(0), "0");
  EXPECT_EQ(error_code_text(-1), "-1");
  EXPECT_EQ(error_code_text(255), "255");
}

TEST_F(ErrorTextTest, EveryCodeHasItsMessage) {
  const int expected[][2] = {
      {CONN_ERR_NO_HOST, 295},  {CONN_ERR_NO_USERHASH, 296}, {CONN_ERR_USER_TOO_LONG, 297}, {CLONE_BAD_REPLY, 297},
      {CONN_ERR_RESOLVE, 298},  {CONN_ERR_SOCKET, 299},      {CLONE_ALREADY_THERE, 299},    {CONN_ERR_CONNECT, 291},
      {CONN_ERR_FIRST_FRAME, 291}, {CONN_ERR_SALT, 291},     {CONN_ERR_LOGIN_FRAME, 291},   {10, 291},
      {REPO_DIR_TOO_LONG, 292}, {REPO_DIR_NO_ROOT, 293},     {REPO_DIR_EXISTS, 294},        {CLONE_WRONG_PASSWORD, 250},
      {0, 291},                 {-1, 291},                   {15, 291},                     {255, 291},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(error_message_id(e[0]), e[1]) << "code " << e[0];
    // Each is a message of the table, shown without arguments.
    ASSERT_NE(ui_string(error_message_id(e[0])), nullptr);
    EXPECT_EQ(std::string(ui_string(error_message_id(e[0]))).find("%s"), std::string::npos);
  }
}

TEST_F(ErrorTextTest, StageOneSentencesComeFromTheTableInTheCurrentLanguage) {
  EXPECT_EQ(sync_list_status_text(0), "");
  EXPECT_EQ(sync_list_status_text(SYNC_STATUS_FAILED), ui_string_line(STR_MSG_REQUEST_FAILED));
  EXPECT_EQ(sync_list_status_text(7), ui_string_line(STR_MSG_REQUEST_FAILED));

  set_last_error(CONN_ERR_RESOLVE);
  EXPECT_EQ(sync_list_status_text(-1), ui_format(STR_SYNC_FAILED, "server name not found (DNS)"));
  set_last_error(CONN_ERR_CONNECT);
  EXPECT_EQ(sync_list_status_text(-1), ui_format(STR_SYNC_FAILED, "6"));

  ASSERT_EQ(strings_set_language(1), 1);
  EXPECT_EQ(sync_list_status_text(SYNC_STATUS_FAILED), ui_string_line(STR_MSG_REQUEST_FAILED));
  EXPECT_NE(sync_list_status_text(SYNC_STATUS_FAILED), std::string(ui_string_in(0, STR_MSG_REQUEST_FAILED)));
  EXPECT_EQ(sync_list_status_text(-1), ui_format(STR_SYNC_FAILED, "6"));
  EXPECT_NE(sync_list_status_text(-1).find("6"), std::string::npos);
}

TEST_F(ErrorTextTest, CodeWordsAndSentencesFollowTheLanguage) {
  ASSERT_EQ(strings_set_language(3), 1);
  EXPECT_EQ(error_code_text(CONN_ERR_RESOLVE), "Servername nicht gefunden (DNS)");
  EXPECT_EQ(error_code_text(CONN_ERR_NO_HOST), ui_string(STR_ERR_NO_SERVER_NAME));
  EXPECT_EQ(error_code_text(CONN_ERR_CONNECT), "6");
  EXPECT_STREQ(ui_text(STR_SYNC_NOT_ON_SERVER), "Die Sammlung ist nicht auf dem Server.");
  for (int lang = 1; lang < LANGUAGE_COUNT; lang++) {
    ASSERT_EQ(strings_set_language(lang), 1);
    for (StrRange shared : kSharedSentences)
      for (StrId id : shared) {
        EXPECT_STREQ(ui_text(id), ui_string_in(lang, id)) << lang << " " << id;
        EXPECT_STRNE(ui_text(id), ui_string_in(0, id)) << lang << " " << id;
      }
    EXPECT_NE(error_code_text(CONN_ERR_RESOLVE), ui_string_in(0, STR_ERR_DNS));
  }
  ASSERT_EQ(strings_set_language(0), 1);
  // A sign-in that cannot reach the server names the cause.
  std::string shown = ui_format(STR_SIGN_IN_UNREACHABLE, error_code_text(CONN_ERR_RESOLVE).c_str());
  EXPECT_EQ(shown, "The server could not be reached: server name not found (DNS). Nothing was stored.");
}

TEST_F(ErrorTextTest, ReasonsWithoutAStringIdAreKeptInOnePlace) {
  EXPECT_EQ(sync_list_status_text(SYNC_STATUS_NOT_FOUND), ui_text(STR_SYNC_NOT_ON_SERVER));
  EXPECT_EQ(sync_list_status_text(SYNC_STATUS_KEY_CHANGED), ui_text(STR_SYNC_KEY_CHANGED));
  EXPECT_STREQ(ui_text(static_cast<StrId>(STRING_COUNT)), "");
  EXPECT_STREQ(ui_text(STR_NONE), "");
}

}  // namespace
