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
  if (password_prompt_simple(307, 22, -1, &p.current) != 0) return 1;
  if (master_password_check(p.current.c_str()) != 0) {
    show_message(307, 250);
    return 1;
  }
  if (password_prompt(307, 246, 248, 10, 7, &p.next) != 0) return 1;
  if (password_prompt_simple(307, 243, -1, &p.confirm) != 0) return 1;
  if (p.next != p.confirm) {
    show_message(307, 251);
    return 1;
  }
  if (change_master_password(p.next.c_str()) != 0) {
    log_message(LOG_ERROR, "master_password_change: the configuration database was not re-created");
    show_message(307, 252);
    return -1;
  }
  return 0;
}
