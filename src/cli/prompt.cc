#include "cli/prompt.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

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
      tcsetattr(tty, TCSAFLUSH, &quiet);
      int rc = read_line_fd(tty, out);
      tcsetattr(tty, TCSAFLUSH, &old);
      ::close(tty);
      return rc;
    }
    ::close(tty);
  }
  return read_line_fd(STDIN_FILENO, out);
}
