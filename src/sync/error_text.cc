// SPDX-License-Identifier: GPL-3.0-or-later
#include "sync/error_text.h"

#include "storage/repo.h"
#include "support/strings.h"
#include "sync/conn.h"
#include "sync/requests.h"

// The codes come from three layers; the table below relies on their values.
static_assert(CONN_ERR_NO_HOST == 1 && CONN_ERR_NO_USERHASH == 2 && CONN_ERR_USER_TOO_LONG == 3 &&
              CONN_ERR_RESOLVE == 4 && CONN_ERR_SOCKET == 5 && CONN_ERR_CONNECT == 6 && CONN_ERR_FIRST_FRAME == 7 &&
              CONN_ERR_SALT == 8 && CONN_ERR_LOGIN_FRAME == 9);
static_assert(CLONE_BAD_REPLY == 3 && CLONE_ALREADY_THERE == 5 && CLONE_WRONG_PASSWORD == 14);
static_assert(REPO_DIR_TOO_LONG == 11 && REPO_DIR_NO_ROOT == 12 && REPO_DIR_EXISTS == 13);

std::string error_code_text(int code) {
  switch (code) {
    case CONN_ERR_NO_HOST: return ui_text(STR_ERR_NO_SERVER_NAME);
    case CONN_ERR_NO_USERHASH: return ui_text(STR_ERR_NO_CREDENTIALS);
    case CONN_ERR_USER_TOO_LONG: return ui_text(STR_ERR_USER_TOO_LONG);
    case CONN_ERR_RESOLVE: return ui_text(STR_ERR_DNS);
    case CONN_ERR_SOCKET: return ui_text(STR_ERR_SOCKET);
    case CONN_ERR_CONNECT: return ui_text(STR_ERR_CONNECT);
    case CONN_ERR_FIRST_FRAME: return ui_text(STR_ERR_NO_GREETING);
    case CONN_ERR_SALT:
    case CONN_ERR_LOGIN_FRAME: return ui_text(STR_ERR_LOGIN_REFUSED);
    default: return ui_format(STR_ERR_OTHER, code);
  }
}

StrId error_message_id(int code, ErrorContext context) {
  // The clone of a repository gives two codes meanings of its own.
  if (context == ERRORS_OF_CLONE && code == CLONE_BAD_REPLY) return STR_MSG_REPLY_NOT_UNDERSTOOD;
  if (context == ERRORS_OF_CLONE && code == CLONE_ALREADY_THERE) return STR_MSG_REPO_ALREADY_HERE;
  switch (code) {
    case 1: return STR_MSG_NO_SYNC_ACCOUNT;
    case 2: return STR_MSG_ACCOUNT_INCOMPLETE;
    case 3: return STR_MSG_REQUEST_NOT_COMPLETED;
    case 4: return STR_MSG_SERVER_NOT_FOUND;
    case 5: return STR_MSG_NO_CONNECTION;
    case 11: return STR_MSG_REPO_PATH_TOO_LONG;
    case 12: return STR_MSG_REPO_ROOT_MISSING;
    case 13: return STR_MSG_NO_FREE_REPO_NAME;
    case 14: return STR_MSG_WRONG_PASSWORD;
    default: return STR_MSG_REQUEST_FAILED;
  }
}
