// SPDX-License-Identifier: GPL-3.0-or-later
#include "sync/error_text.h"

#include "storage/repo.h"
#include "support/strings.h"
#include "sync/conn.h"
#include "sync/requests.h"

// The codes come from three layers; the table below relies on their values.
static_assert(CONN_ERR_NO_HOST == 1 && CONN_ERR_NO_USERHASH == 2 && CONN_ERR_USER_TOO_LONG == 3 &&
              CONN_ERR_RESOLVE == 4 && CONN_ERR_SOCKET == 5 && CONN_ERR_LOGIN_FRAME == 9);
static_assert(CLONE_BAD_REPLY == 3 && CLONE_ALREADY_THERE == 5 && CLONE_WRONG_PASSWORD == 14);
static_assert(REPO_DIR_TOO_LONG == 11 && REPO_DIR_NO_ROOT == 12 && REPO_DIR_EXISTS == 13);

std::string error_code_text(int code) {
  // Two causes have words of their own; any other code is shown as its number.
  const char* text = nullptr;
  if (code == CONN_ERR_NO_HOST) text = ui_string(STR_ERR_NO_SERVER_NAME);
  if (code == CONN_ERR_RESOLVE) text = ui_string(STR_ERR_DNS);
  return text ? std::string(text) : std::to_string(code);
}

StrId error_message_id(int code) {
  switch (code) {
    case 1: return STR_MSG_NO_SYNC_ACCOUNT;
    case 2: return STR_MSG_ACCOUNT_INCOMPLETE;
    case 3: return STR_MSG_REQUEST_NOT_COMPLETED;
    case 4: return STR_MSG_SERVER_OR_FILE_INVALID;
    case 5: return STR_MSG_NO_CONNECTION_OR_PRESENT;
    case 11: return STR_MSG_REPO_PATH_TOO_LONG;
    case 12: return STR_MSG_REPO_ROOT_MISSING;
    case 13: return STR_MSG_NO_FREE_REPO_NAME;
    case 14: return STR_MSG_WRONG_PASSWORD;
    default: return STR_MSG_REQUEST_FAILED;
  }
}
