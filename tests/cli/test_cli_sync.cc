// SPDX-License-Identifier: GPL-3.0-or-later
// The account, server and sync commands against a real ordika-server on
// the loopback interface.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli_runner.h"
#include "server/fault_proxy.h"

namespace {

int free_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  int port = ntohs(a.sin_port);
  close(s);
  return port;
}

// True when process `pid` itself holds the socket listening on the port: a
// port found free can be taken by another process before the server binds
// it, and then a connection would reach that other process.
bool listens_on(pid_t pid, int port) {
  std::ifstream tcp("/proc/net/tcp");
  std::string line, inode;
  char want[16];
  std::snprintf(want, sizeof want, ":%04X", port);
  while (std::getline(tcp, line)) {
    std::istringstream f(line);
    std::string slot, local, remote, state, queues, timer, retr, uid, timeout;
    f >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >> inode;
    if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, want) == 0) break;
    inode.clear();
  }
  if (inode.empty()) return false;
  std::string target = "socket:[" + inode + "]";
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code ec2;
    if (std::filesystem::read_symlink(e.path(), ec2).string() == target) return true;
  }
  return false;
}

bool port_open(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

std::string run_capture(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// A server with one account, and two profiles (two devices of one person).
class CliSync : public ::testing::Test {
 protected:
  void SetUp() override {
    data = a.home() + "/server";
    mkdir(data.c_str(), 0700);
    account = run_capture("ORDIKA_ACCOUNT_PASSWORD=Alice123pw '" + std::string(ORDIKA_SERVER_BIN) + "' useradd alice --data '" +
                          data + "' 2>/dev/null");
    ASSERT_FALSE(account.empty());
    // A port lost to another process between the probe and the server's
    // bind is noticed and another one tried.
    for (int attempt = 0; attempt < 5 && server < 0; attempt++) {
      port = free_port();
      pid_t child = fork();
      if (child == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::string listen = "127.0.0.1:" + std::to_string(port);
        execl(ORDIKA_SERVER_BIN, ORDIKA_SERVER_BIN, "serve", "--listen", listen.c_str(), "--data", data.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
      }
      int st = 0;
      for (int i = 0; i < 100 && waitpid(child, &st, WNOHANG) == 0; i++) {
        if (listens_on(child, port)) {
          server = child;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (server < 0 && waitpid(child, &st, WNOHANG) == 0) {
        kill(child, SIGTERM);
        waitpid(child, &st, 0);
      }
    }
    ASSERT_GT(server, 0) << "the server did not start";
    ASSERT_TRUE(port_open(port));
    host = "127.0.0.1:" + std::to_string(port);
    for (CliHome* h : {&a, &b}) {
      h->set_env("ORDIKA_ACCOUNT_PASSWORD", "Alice123pw");
      ASSERT_EQ(h->run({"init"}).status, 0);
      CliResult r = h->run({"account", "set", account, "alice", host});
      ASSERT_EQ(r.status, 0) << r.err;
    }
  }
  void TearDown() override {
    if (server > 0) {
      kill(server, SIGTERM);
      int st;
      waitpid(server, &st, 0);
    }
  }

  static std::string root_tag(const CliHome& h, const std::string& repo) {
    for (auto& l : h.run({"tags"}).lines()) {
      auto f = split_tabs(l);
      if (f[2] == repo && f[3] == "0") return f[0];
    }
    return std::string();
  }
  static std::map<std::string, std::string> titles(const CliHome& h) {
    std::map<std::string, std::string> m;
    for (auto& l : h.run({"items"}).lines()) m[split_tabs(l)[0]] = split_tabs(l)[4];
    return m;
  }

  // Puts a's default repository on the server and clones it into b through
  // a repository file; returns b's index of the clone.
  std::string share() {
    CliResult c = a.run({"server", "create", "0"});
    EXPECT_EQ(c.status, 0) << c.err;
    server_id = c.line(0);
    a.set_env("ORDIKA_EXPORT_PASSWORD", "Export123pw");
    EXPECT_EQ(a.run({"repo-export", "0", a.path("share.repo")}).status, 0);
    std::string file = CliHome::slurp(a.path("share.repo"));
    b.write("share.repo", file);
    b.set_env("ORDIKA_EXPORT_PASSWORD", "Export123pw");
    CliResult r = b.run({"repo-import", b.path("share.repo")});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.line(0);
  }

  CliHome a, b;
  std::string data, account, host, server_id;
  int port = 0;
  pid_t server = -1;
};

TEST_F(CliSync, AccountIsStoredAndShown) {
  CliResult r = a.run({"account", "show"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.line(0), account + "\talice\t" + host);
  EXPECT_EQ(a.run({"account", "set", "0", "alice", host}).status, 1);
  EXPECT_EQ(a.run({"account", "set", account, "alice", "host:99999"}).status, 1);
  EXPECT_EQ(a.run({"account", "show"}).line(0), account + "\talice\t" + host);
}

TEST_F(CliSync, CreateListCloneAndSyncBothWays) {
  std::string note = a.run({"add", "note", root_tag(a, "0"), "--title", "Shared"}).line(0);
  std::string idx = share();
  ASSERT_EQ(idx, "1");
  CliResult ls = a.run({"server", "ls"});
  ASSERT_EQ(ls.status, 0);
  EXPECT_EQ(ls.line(0), server_id);
  EXPECT_EQ(titles(b)[note], "Shared");
  EXPECT_EQ(split_tabs(b.run({"repos"}).line(1))[3], server_id);

  // Changes on both sides meet.
  std::string task = b.run({"add", "task", root_tag(b, idx), "--title", "From B", "--due", "2031-01-01 10:00"}).line(0);
  ASSERT_EQ(b.run({"sync"}).status, 0);
  ASSERT_EQ(a.run({"edit", note, "--title", "Edited on A"}).status, 0);
  ASSERT_EQ(a.run({"sync", "0"}).status, 0);
  ASSERT_EQ(b.run({"sync", idx}).status, 0);
  EXPECT_EQ(titles(a)[task], "From B");
  EXPECT_EQ(titles(b)[note], "Edited on A");

  // A deletion travels too.
  ASSERT_EQ(b.run({"rm", task}).status, 0);
  ASSERT_EQ(b.run({"sync"}).status, 0);
  ASSERT_EQ(a.run({"sync"}).status, 0);
  EXPECT_EQ(titles(a).count(task), 0u);

  // Cloning it again is refused: the repository is here already.
  b.set_env("ORDIKA_REPO_PASSWORD", "whatever");
  CliResult again = b.run({"repo-import", b.path("share.repo")});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("here already"), std::string::npos);
}

TEST_F(CliSync, ConflictsStopWithoutPreferenceAndFollowIt) {
  std::string note = a.run({"add", "note", root_tag(a, "0"), "--title", "Base"}).line(0);
  std::string idx = share();
  ASSERT_EQ(a.run({"edit", note, "--title", "A side"}).status, 0);
  ASSERT_EQ(b.run({"edit", note, "--title", "B side"}).status, 0);
  ASSERT_EQ(a.run({"sync"}).status, 0);
  CliResult stop = b.run({"sync"});
  EXPECT_EQ(stop.status, 1);
  EXPECT_NE(stop.err.find("conflict"), std::string::npos);
  auto f = split_tabs(stop.line(0));
  ASSERT_EQ(f.size(), 4u) << stop.out;
  EXPECT_EQ(f[0], note);
  EXPECT_EQ(f[2], "B side");
  EXPECT_EQ(f[3], "A side");
  EXPECT_EQ(titles(b)[note], "B side");  // nothing changed
  ASSERT_EQ(b.run({"sync", "--prefer", "local"}).status, 0);
  EXPECT_EQ(titles(b)[note], "B side");
  ASSERT_EQ(a.run({"sync"}).status, 0);
  EXPECT_EQ(titles(a)[note], "B side");
  ASSERT_EQ(a.run({"edit", note, "--title", "A again"}).status, 0);
  ASSERT_EQ(b.run({"edit", note, "--title", "B again"}).status, 0);
  ASSERT_EQ(a.run({"sync"}).status, 0);
  ASSERT_EQ(b.run({"sync", "--prefer", "server"}).status, 0);
  EXPECT_EQ(titles(b)[note], "A again");
  EXPECT_EQ(b.run({"sync", "--prefer", "sideways"}).status, 2);
}

TEST_F(CliSync, WrongPasswordsAndServerErrors) {
  ASSERT_EQ(a.run({"add", "note", root_tag(a, "0"), "--title", "Kept"}).status, 0);
  std::string idx = share();
  b.set_env("ORDIKA_EXPORT_PASSWORD", "Wrong123pwx");
  EXPECT_EQ(b.run({"repo-import", b.path("share.repo")}).status, 1);
  EXPECT_EQ(b.run({"repos"}).lines().size(), 2u);  // nothing half-made was kept

  CliHome c;
  ASSERT_EQ(c.run({"init"}).status, 0);
  c.set_env("ORDIKA_ACCOUNT_PASSWORD", "Alice123pw");
  ASSERT_EQ(c.run({"account", "set", account, "alice", host}).status, 0);
  c.set_env("ORDIKA_REPO_PASSWORD", "NotThePassword1");
  CliResult wrong = c.run({"server", "clone", server_id});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("wrong repository password"), std::string::npos);
  EXPECT_EQ(c.run({"repos"}).lines().size(), 1u);

  c.set_env("ORDIKA_ACCOUNT_PASSWORD", "Wrong123pw");
  ASSERT_EQ(c.run({"account", "set", account, "alice", host}).status, 0);
  CliResult denied = c.run({"server", "ls"});
  EXPECT_EQ(denied.status, 1);
  EXPECT_EQ(c.run({"sync"}).status, 0);  // nothing linked: nothing to do
  EXPECT_EQ(c.run({"sync", "0"}).status, 1);

  ASSERT_EQ(a.run({"server", "rm", server_id}).status, 0);
  EXPECT_EQ(a.run({"server", "ls"}).out, "");
  EXPECT_EQ(b.run({"sync", idx}).status, 1);  // its server copy is gone
  EXPECT_EQ(titles(b).size(), 1u);            // the local copy stays
}

TEST_F(CliSync, NoAccountGivesAClearError) {
  CliHome c;
  ASSERT_EQ(c.run({"init"}).status, 0);
  for (auto args : std::vector<std::vector<std::string>>{{"server", "ls"}, {"sync"}, {"account", "show"}}) {
    CliResult r = c.run(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_NE(r.err.find("account"), std::string::npos) << r.err;
  }
}

// Long key notes come back whole from import, storage, export and the
// server, on this profile and on the other one.
TEST_F(CliSync, LongKeyNotesSurviveImportExportAndSync) {
  std::map<std::string, std::string> notes;  // title -> notes as JSON escapes them
  std::string json = "[";
  for (size_t n : {size_t(6000), size_t(500000)}) {
    std::string escaped;
    for (size_t i = 0; escaped.size() < n; i++) escaped += "line " + std::to_string(i) + " \xc3\xa9\\n";
    std::string title = "Key " + std::to_string(n);
    notes[title] = escaped;
    if (json.size() > 1) json += ",";
    json += R"({"title":")" + title + R"(","username":"u","password":"p","url":"https://x","notes":")" + escaped +
            "\"}";
  }
  json += "]";
  a.write("in.json", json);
  std::string root = root_tag(a, "0");
  CliResult r = a.run({"import", "json", a.path("in.json"), root});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.line(0), "2");
  std::string idx = share();
  ASSERT_EQ(idx, "1");

  auto expect_notes = [&](const CliHome& h, const std::string& tag) {
    ASSERT_EQ(h.run({"export", "json", tag, h.path("out.json")}).status, 0);
    std::string out = CliHome::slurp(h.path("out.json"));
    for (auto& [title, escaped] : notes) {
      EXPECT_NE(out.find("\"notes\": \"" + escaped + "\""), std::string::npos) << title;
    }
  };
  expect_notes(a, root);
  expect_notes(b, root_tag(b, idx));

  // Syncing both ways again keeps them whole.
  ASSERT_EQ(b.run({"sync", idx}).status, 0);
  ASSERT_EQ(a.run({"sync", "0"}).status, 0);
  expect_notes(a, root);
}

// Another device syncs between this one's "get list" and its "put sync":
// the server refuses the stale upload, and the tool fetches the newer
// state, merges it and sends its change again, as the window does.
TEST_F(CliSync, SyncOvertakenByAnotherDeviceFetchesAgainAndSends) {
  std::string note = a.run({"add", "note", root_tag(a, "0"), "--title", "Base"}).line(0);
  std::string idx = share();
  FaultProxy proxy(port);
  ASSERT_EQ(a.run({"account", "set", account, "alice", proxy.host()}).status, 0);
  ASSERT_EQ(a.run({"edit", note, "--title", "From A"}).status, 0);
  std::string task = b.run({"add", "task", root_tag(b, idx), "--title", "From B"}).line(0);

  proxy.arm(Cut{});
  CliResult between;
  proxy.before(1, [&] { between = b.run({"sync", idx}); });  // A's "put sync"
  CliResult r = a.run({"sync", "0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(between.status, 0) << between.err;
  EXPECT_EQ(proxy.profile().size(), 5u) << "get list, put sync refused, get list, get sync, put sync";
  EXPECT_EQ(titles(a)[task], "From B");
  ASSERT_EQ(b.run({"sync", idx}).status, 0);
  EXPECT_EQ(titles(b)[note], "From A");
}

// A clone starts with the earlier versions the server holds and without
// anything to undo, as one made in the window.
TEST_F(CliSync, CloneKeepsEarlierVersionsAndStartsWithNothingToUndo) {
  std::string note = a.run({"add", "note", root_tag(a, "0"), "--title", "First"}).line(0);
  ASSERT_EQ(a.run({"edit", note, "--title", "Second", "--keep-history"}).status, 0);
  std::string idx = share();
  std::string earlier = a.run({"history", note}).out;
  ASSERT_EQ(std::count(earlier.begin(), earlier.end(), '\n'), 1) << earlier;
  EXPECT_EQ(b.run({"history", note}).out, earlier);
  CliResult undo = b.run({"undo", idx});
  EXPECT_EQ(undo.status, 1);
  EXPECT_NE(undo.err.find("nothing to undo"), std::string::npos) << undo.err;
}

}  // namespace
