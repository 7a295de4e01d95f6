// SPDX-License-Identifier: GPL-3.0-or-later
// ordika-server: the account server and its administration commands.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "server.h"
#include "support/log.h"
#include "sync/conn.h"

namespace {

Server* g_server = nullptr;

void on_term(int) {
  if (g_server) server_stop(g_server);
}

// "123", "64M", "2G": bytes; 0 when malformed.
uint64_t parse_size(const std::string& text) {
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (end == text.c_str()) return 0;
  std::string unit = end;
  int shift = unit.empty() ? 0 : unit == "K" ? 10 : unit == "M" ? 20 : unit == "G" ? 30 : -1;
  if (shift < 0 || v > (~0ull >> shift)) return 0;
  return static_cast<uint64_t>(v) << shift;
}

int usage() {
  std::fprintf(stderr,
               "usage: ordika-server serve --listen ADDR:PORT --data DIR [--database URL] [--updates DIR]\n"
               "                          [--max-clients N] [--timeout SECONDS] [--max-session SECONDS]\n"
               "                          [--quota BYTES[K|M|G]] [--db-connections N] [--proxy ADDR[,ADDR...]]\n"
               "       ordika-server useradd NAME (--data DIR | --database URL)\n"
               "       ordika-server userdel NAME (--data DIR | --database URL)\n"
               "       ordika-server users (--data DIR | --database URL)\n"
               "       ordika-server migrate --data DIR --database URL [--resume]\n"
               "       ordika-server publish DIR --database URL\n"
               "       ordika-server traces --database URL --out DIR\n"
               "The password of useradd comes from ORDIKA_ACCOUNT_PASSWORD or is asked for; the database's\n"
               "from ORDIKA_DATABASE_PASSWORD or libpq's own means (PGPASSFILE, ~/.pgpass).\n"
               "With --database the update offer is kept in the database: see publish.\n");
  return 2;
}

std::string ask_password(const char* prompt) {
  std::string pw;
  if (const char* env = std::getenv("ORDIKA_ACCOUNT_PASSWORD")) return env;
  std::fputs(prompt, stderr);
  struct termios old, quiet;
  bool tty = tcgetattr(STDIN_FILENO, &old) == 0;
  if (tty) {
    quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  int ch;
  while ((ch = std::fgetc(stdin)) != EOF && ch != '\n') pw.push_back(static_cast<char>(ch));
  if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &old);
  std::fputc('\n', stderr);
  return pw;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  ServerConfig cfg;
  std::string listen = "0.0.0.0:443";
  std::string name, out_dir;
  bool resume = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--data") {
      if (!value(&cfg.data_dir)) return usage();
    } else if (a == "--listen") {
      if (!value(&listen)) return usage();
    } else if (a == "--database") {
      if (!value(&cfg.database) || cfg.database.empty()) return usage();
    } else if (a == "--db-connections") {
      if (!value(&v)) return usage();
      cfg.db_connections = std::max(1, std::atoi(v.c_str()));
    } else if (a == "--proxy") {
      if (!value(&v)) return usage();
      for (size_t at = 0; at <= v.size();) {
        size_t comma = std::min(v.find(',', at), v.size());
        cfg.proxies.push_back(v.substr(at, comma - at));
        at = comma + 1;
      }
    } else if (a == "--resume") {
      resume = true;
    } else if (a == "--out") {
      if (!value(&out_dir)) return usage();
    } else if (a == "--updates") {
      if (!value(&cfg.update_dir)) return usage();
    } else if (a == "--max-clients") {
      if (!value(&v)) return usage();
      cfg.max_clients = std::max(1, std::atoi(v.c_str()));
    } else if (a == "--timeout") {
      if (!value(&v)) return usage();
      cfg.io_timeout = std::max(1, std::atoi(v.c_str()));
    } else if (a == "--max-session") {
      if (!value(&v)) return usage();
      cfg.max_session = std::max(1, std::atoi(v.c_str()));
    } else if (a == "--quota") {
      if (!value(&v) || (cfg.quota = parse_size(v)) == 0) return usage();
    } else if (name.empty() && a.rfind("--", 0) != 0) {
      name = a;
    } else {
      return usage();
    }
  }
  // The store: server.db under --data, or the database. serve and migrate
  // need the data directory either way (the log, received files, the
  // store to copy).
  bool need_data = cmd == "serve" || cmd == "migrate" || cfg.database.empty();
  if (need_data && cfg.data_dir.empty()) return usage();
  if ((cmd == "migrate" || cmd == "publish" || cmd == "traces") && cfg.database.empty()) return usage();
  if (cmd == "serve") {
    if (conn_split_host(listen.c_str(), 443, &cfg.listen_host, &cfg.port) != 0) return usage();
    if (!cfg.database.empty() && !cfg.update_dir.empty()) {
      std::fprintf(stderr, "ordika-server: with --database the update offer is published into it: "
                           "ordika-server publish DIR --database URL\n");
      return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    g_server = server_create(cfg);
    if (!g_server) return 1;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_term;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    int rc = server_run(g_server);
    server_destroy(g_server);
    g_server = nullptr;
    log_stop();
    return rc == 0 ? 0 : 1;
  }
  cfg.log_to_file = false;
  log_set_file(cfg.data_dir.empty() ? "/dev/stderr" : (cfg.data_dir + "/server.log").c_str());
  int rc = 0;
  if (cmd == "useradd") {
    if (name.empty()) return usage();
    std::string pw = ask_password("Password: ");
    if (pw.empty()) {
      std::fprintf(stderr, "ordika-server: empty password\n");
      return 1;
    }
    int32_t id = 0;
    rc = server_user_add(cfg, name, pw, &id);
    std::fill(pw.begin(), pw.end(), '\0');
    if (rc == 0)
      std::printf("%d\n", id);
    else
      std::fprintf(stderr, "ordika-server: %s\n", rc == 1 ? "user exists" : "cannot add user");
  } else if (cmd == "userdel") {
    if (name.empty()) return usage();
    rc = server_user_del(cfg, name);
    if (rc != 0) std::fprintf(stderr, "ordika-server: %s\n", rc == 1 ? "no such user" : "cannot delete user");
  } else if (cmd == "users") {
    std::vector<ServerUser> users;
    rc = server_users(cfg, &users);
    for (const ServerUser& u : users) std::printf("%d\t%s\t%d\n", u.id, u.name.c_str(), u.repos);
  } else if (cmd == "migrate") {
    ServerConfig from = cfg;
    from.database.clear();
    MigrateReport report;
    std::string error;
    rc = server_migrate(from, cfg, resume, &report, &error);
    if (rc == 0)
      std::printf("%d accounts, %d repositories (%d copied, %d already there), %lld versions, %lld links, "
                  "%d traces\n",
                  report.accounts, report.repos, report.copied, report.skipped,
                  static_cast<long long>(report.versions), static_cast<long long>(report.links), report.traces);
    else
      std::fprintf(stderr, "ordika-server: migrate: %s\n", error.c_str());
  } else if (cmd == "publish") {
    if (name.empty()) return usage();
    rc = server_publish_updates(cfg, name);
    if (rc != 0) std::fprintf(stderr, "ordika-server: cannot publish %s\n", name.c_str());
  } else if (cmd == "traces") {
    if (out_dir.empty()) return usage();
    rc = server_export_traces(cfg, out_dir);
    if (rc != 0) std::fprintf(stderr, "ordika-server: cannot write the traces to %s\n", out_dir.c_str());
  } else {
    return usage();
  }
  log_stop();
  return rc == 0 ? 0 : 1;
}
