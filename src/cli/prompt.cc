// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/prompt.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "crypto/crypto.h"

namespace {

// The terminal while echo is off, for a signal that ends the tool at the
// prompt to give back.
int g_quiet_tty = -1;
struct termios g_saved;

void restore_and_die(int sig) {
  if (g_quiet_tty >= 0) tcsetattr(g_quiet_tty, TCSANOW, &g_saved);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// Reads one line from fd up to LF, without the line end.
int read_line_fd(int fd, std::string* out) {
  out->clear();
  char c;
  bool any = false;
  for (;;) {
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0) return -1;
    if (n == 0) return any ? 0 : -1;
    any = true;
    if (c == '\n') break;
    if (c != '\r') out->push_back(c);
  }
  OPENSSL_cleanse(&c, 1);
  return 0;
}

}  // namespace

int read_secret(const char* env_name, const char* prompt, std::string* out) {
  if (env_name) {
    const char* v = std::getenv(env_name);
    if (v) {
      *out = v;
      return 0;
    }
  }
  int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty >= 0) {
    struct termios old;
    if (tcgetattr(tty, &old) == 0) {
      struct termios quiet = old;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      quiet.c_lflag |= ECHONL;
      if (::write(tty, prompt, std::strlen(prompt)) < 0) {
        // The prompt is a courtesy; reading still works.
      }
      g_saved = old;
      g_quiet_tty = tty;
      struct sigaction sa {}, prev[3];
      sa.sa_handler = restore_and_die;
      const int sigs[3] = {SIGINT, SIGTERM, SIGHUP};
      for (int i = 0; i < 3; ++i) sigaction(sigs[i], &sa, &prev[i]);
      tcsetattr(tty, TCSAFLUSH, &quiet);
      int rc = read_line_fd(tty, out);
      tcsetattr(tty, TCSAFLUSH, &old);
      for (int i = 0; i < 3; ++i) sigaction(sigs[i], &prev[i], nullptr);
      g_quiet_tty = -1;
      ::close(tty);
      return rc;
    }
    ::close(tty);
  }
  return read_line_fd(STDIN_FILENO, out);
}

int read_password(const char* env_name, const char* prompt, int flags, std::string* out) {
  bool from_env = env_name && std::getenv(env_name) != nullptr;
  if (read_secret(env_name, prompt, out) != 0 || out->empty()) {
    wipe(out);
    return cli_fail("no password given");
  }
  if ((flags & PASSWORD_TWICE) && !from_env) {
    std::string again;
    bool same = read_secret(nullptr, "Repeat it: ", &again) == 0 && again == *out;
    wipe(&again);
    if (!same) {
      wipe(out);
      return cli_fail("the passwords differ");
    }
  }
  if ((flags & PASSWORD_STRONG) && password_check(out->c_str(), CLI_PASSWORD_MIN, CLI_PASSWORD_CLASSES) != 0) {
    wipe(out);
    return cli_fail("the password needs at least %d characters with upper case, lower case and digits",
                    CLI_PASSWORD_MIN);
  }
  return 0;
}
