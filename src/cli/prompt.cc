#include "cli/prompt.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
