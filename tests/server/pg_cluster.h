// SPDX-License-Identifier: GPL-3.0-or-later
// A PostgreSQL cluster of a test program or benchmark of its own: initdb
// into a temporary directory, served only on a Unix socket inside it, run
// by "nobody" when the program runs as root (PostgreSQL refuses root). The
// server is a child of the program and ends with it, even when the program
// dies (a parent-death signal), so nothing depends on or leaves behind a
// system-wide cluster.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

// Runs argv as a child writing to `log`: as user `as` when given, and sent
// `death` when the calling thread ends (also when the program dies). The
// child's pid, or -1.
inline pid_t spawn_child(const std::vector<std::string>& argv, const std::string& log, int death,
                         const passwd* as = nullptr) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  uid_t uid = as ? as->pw_uid : 0;
  gid_t gid = as ? as->pw_gid : 0;
  int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) return -1;
  if (as && ::fchown(out, uid, gid) != 0) {
    ::close(out);
    return -1;
  }
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (as && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) _exit(126);
    ::prctl(PR_SET_PDEATHSIG, death);
    if (::getppid() != parent) _exit(125);
    int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv(args[0], args.data());
    _exit(127);
  }
  ::close(out);
  return pid;
}

// The first column of the first row of a query on a connection string, as
// text; "" when it fails.
inline std::string pg_query_value(const std::string& conninfo, const std::string& sql) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  std::string out;
  if (PQstatus(c) == CONNECTION_OK) {
    PGresult* r = PQexec(c, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0) out = PQgetvalue(r, 0, 0);
    PQclear(r);
  }
  PQfinish(c);
  return out;
}

// Runs SQL on a connection string; 0, or -1 with *error.
inline int pg_exec(const std::string& conninfo, const std::string& sql, std::string* error = nullptr) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  int rc = -1;
  if (PQstatus(c) == CONNECTION_OK) {
    PGresult* r = PQexec(c, sql.c_str());
    ExecStatusType st = PQresultStatus(r);
    rc = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK ? 0 : -1;
    PQclear(r);
  }
  if (rc != 0 && error) *error = PQerrorMessage(c);
  PQfinish(c);
  return rc;
}

class PgCluster {
 public:
  // Where initdb and postgres are: ORDIKA_PG_BIN, else Debian's.
  static std::string bin_dir() {
    const char* env = std::getenv("ORDIKA_PG_BIN");
    return env && *env ? env : "/usr/lib/postgresql/15/bin";
  }
  static bool available() { return ::access((bin_dir() + "/postgres").c_str(), X_OK) == 0; }

  // durable: fsync and synchronous commit as in production (benchmarks);
  // otherwise both off, which tests do not need.
  explicit PgCluster(bool durable = false) : durable_(durable) {}
  ~PgCluster() {
    stop();
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  // Creates the cluster (the first time) and starts its server. 0, or -1
  // with *error. Call it from a thread that lives as long as the server
  // (the parent-death signal follows the thread).
  int start(std::string* error) {
    if (pid_ > 0) return 0;
    if (dir_.empty() && init(error) != 0) return -1;
    std::vector<std::string> argv = {bin_dir() + "/postgres", "-D", dir_ + "/data", "-k", dir_,
                                     "-c", "listen_addresses=", "-c", "max_connections=300",
                                     "-c", "shared_buffers=32MB"};
    if (!durable_)
      for (const char* opt : {"fsync=off", "synchronous_commit=off", "full_page_writes=off"}) {
        argv.push_back("-c");
        argv.push_back(opt);
      }
    pid_ = spawn(argv, dir_ + "/postgres.log");
    if (pid_ < 0) {
      *error = "cannot start postgres";
      return -1;
    }
    for (int i = 0; i < 600; ++i) {
      if (PQping(conninfo("postgres").c_str()) == PQPING_OK) return 0;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        *error = "postgres ended at start; see " + dir_ + "/postgres.log";
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *error = "postgres did not answer within 30 s";
    return -1;
  }

  // Stops the server: a fast shutdown (sessions are ended, the data
  // written), or an immediate one, as a crash.
  void stop(bool immediate = false) {
    if (pid_ <= 0) return;
    ::kill(pid_, immediate ? SIGQUIT : SIGINT);
    for (int i = 0; i < 600; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  bool running() const { return pid_ > 0; }
  const std::string& dir() const { return dir_; }
  std::string conninfo(const std::string& db) const { return "host=" + dir_ + " dbname=" + db + " user=ordika"; }

  // A new, empty database; its connection string, or "" with *error.
  std::string create_database(std::string* error) {
    std::string name = "t" + std::to_string(++databases_);
    if (pg_exec(conninfo("postgres"), "CREATE DATABASE " + name, error) != 0) return "";
    return conninfo(name);
  }

 private:
  int init(std::string* error) {
    char tmpl[] = "/tmp/ordika-pg-XXXXXX";
    if (!::mkdtemp(tmpl)) {
      *error = "mkdtemp";
      return -1;
    }
    dir_ = tmpl;
    if (::geteuid() == 0) {
      const passwd* pw = ::getpwnam("nobody");
      if (!pw || ::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
        *error = "cannot hand " + dir_ + " to the user nobody";
        return -1;
      }
    }
    pid_t pid = spawn({bin_dir() + "/initdb", "-D", dir_ + "/data", "-U", "ordika", "--auth=trust", "-E", "UTF8",
                       "--no-locale", "--no-sync"},
                      dir_ + "/initdb.log");
    int status = -1;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      *error = "initdb failed; see " + dir_ + "/initdb.log";
      return -1;
    }
    return 0;
  }

  static pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
    const passwd* pw = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    return spawn_child(argv, log, SIGQUIT, pw);
  }

  bool durable_;
  std::string dir_;
  pid_t pid_ = -1;
  int databases_ = 0;
};
