// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/master_password.h"

#include <string>

#include "crypto/wipe.h"
#include "dialogs/message.h"
#include "dialogs/password_prompt.h"
#include "storage/repo.h"
#include "support/log.h"

namespace {

// Every password of the flow is wiped on every path.
struct Passwords {
  std::string current, next, confirm;
  ~Passwords() {
    wipe(&current);
    wipe(&next);
    wipe(&confirm);
  }
};

}  // namespace

int master_password_change() {
  log_message(LOG_INFO, "on_master_password");
  Passwords p;
  if (password_prompt_simple(STR_APP_NAME, STR_ENTER_MASTER_PASSWORD, STR_NONE, &p.current) != 0) return 1;
  if (master_password_check(p.current.c_str()) != 0) {
    show_message(STR_APP_NAME, STR_MSG_WRONG_PASSWORD);
    return 1;
  }
  if (password_prompt(STR_APP_NAME, STR_CHANGE_MASTER_PASSWORD, STR_PASSWORD_RULES_10, 10, 7, &p.next) != 0) return 1;
  if (password_prompt_simple(STR_APP_NAME, STR_REPEAT_MASTER_PASSWORD, STR_NONE, &p.confirm) != 0) return 1;
  if (p.next != p.confirm) {
    show_message(STR_APP_NAME, STR_MSG_PASSWORDS_DIFFER);
    return 1;
  }
  if (change_master_password(p.next.c_str()) != 0) {
    log_message(LOG_ERROR, "master_password_change: the configuration database was not re-created");
    show_message(STR_APP_NAME, STR_MSG_MASTER_PASSWORD_NOT_SET);
    return -1;
  }
  return 0;
}
