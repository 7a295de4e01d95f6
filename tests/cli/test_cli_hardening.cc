// SPDX-License-Identifier: GPL-3.0-or-later
// ordika-cli as a careless user or a hostile file would drive it: relative
// paths, exports over existing files or over the profile's own files, key
// passwords kept out of the process list, control characters in imported
// titles, a server that never answers, signals.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "cli_runner.h"

namespace {

using Clock = std::chrono::steady_clock;

int mode_of(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (struct dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') out.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Runs the tool from another working directory for the scope.
class InDir {
 public:
  explicit InDir(const std::string& dir) {
    char buf[4096];
    old_ = ::getcwd(buf, sizeof buf) ? buf : "/";
    ok_ = ::chdir(dir.c_str()) == 0;
  }
  ~InDir() {
    if (::chdir(old_.c_str()) != 0) {
    }
  }
  bool ok() const { return ok_; }

 private:
  std::string old_;
  bool ok_ = false;
};

class CliHardening : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, h.run({"init"}).status);
    CliResult tags = h.run({"tags"});
    ASSERT_EQ(0, tags.status) << tags.err;
    for (auto& line : tags.lines()) {
      auto f = split_tabs(line);
      if (f.size() == 5 && f[4] == "Work") work = f[0];
    }
    ASSERT_FALSE(work.empty());
    project = h.path("project");
    ::mkdir(project.c_str(), 0700);
  }
  std::string config() const { return h.home() + "/.config/Ordika/config"; }

  CliHome h;
  std::string work, project;
};

// A listening socket on 127.0.0.1 that accepts and never answers.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 8);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        held_.push_back(c);
      }
    });
  }
  ~SilentServer() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
    for (int c : held_) ::close(c);
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::vector<int> held_;
};

// Starts the tool in its own process group with the profile of `h`; the
// caller waits for it (bounded) with wait_bounded.
pid_t spawn(const CliHome& h, const std::vector<std::string>& args, const std::string& timeout) {
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    std::string home = "HOME=" + h.home(), to = "ORDIKA_NET_TIMEOUT=" + timeout;
    std::vector<char*> envp = {const_cast<char*>(home.c_str()), const_cast<char*>("ORDIKA_PASSWORD=Master123pw"),
                               const_cast<char*>("LANG=C"), const_cast<char*>(to.c_str()), nullptr};
    std::vector<char*> argv = {const_cast<char*>(ORDIKA_CLI)};
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execve(ORDIKA_CLI, argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

// The exit status (128 + signal when killed), or -1 when it still ran after
// `seconds` (it is then killed).
int wait_bounded(pid_t pid, double seconds) {
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  int st = 0;
  while (Clock::now() < end) {
    if (waitpid(pid, &st, WNOHANG) == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &st, 0);
  return -1;
}

}  // namespace

TEST_F(CliHardening, PathsAreTakenFromTheCurrentDirectory) {
  InDir in(project);
  ASSERT_TRUE(in.ok());
  h.write("project/cal.ics",
          "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:p1\r\nSUMMARY:Review\r\nDTSTART:20310401T080000Z\r\n"
          "END:VEVENT\r\nEND:VCALENDAR\r\n");
  CliResult r = h.run({"import", "ics", "cal.ics", work});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("1", r.line(0));
  h.write("project/body.txt", "body from the project folder\n");
  r = h.run({"add", "note", work, "--title", "N", "--body-file", "body.txt"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, h.run({"show", r.line(0)}).out.find("body from the project folder"));

  ASSERT_EQ(0, h.run({"export", "ics", work, "out.ics"}).status);
  EXPECT_NE(std::string::npos, CliHome::slurp(project + "/out.ics").find("SUMMARY:Review"));
  // a file named like the configuration database is just a file here
  std::string before = CliHome::slurp(config());
  r = h.run({"export", "json", work, "config"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(before, CliHome::slurp(config()));
  EXPECT_EQ('[', CliHome::slurp(project + "/config")[0]);
  EXPECT_EQ(0, h.run({"repos"}).status) << "the profile still opens";

  ::mkdir((project + "/notes").c_str(), 0700);
  ASSERT_EQ(0, h.run({"export", "notes", work, "notes"}).status);
  auto notes = names_in(project + "/notes");
  ASSERT_EQ(1u, notes.size());
  EXPECT_EQ(0600, mode_of(project + "/notes/" + notes[0]));
}

TEST_F(CliHardening, ExportsArePrivateAndNeverReplaceTheProfilesFiles) {
  ASSERT_EQ(0, h.run({"add", "key", work, "--title", "Mail", "--password", "pw-in-clear"}).status);
  // a new export, and one over an existing readable file: both 0600, whole
  std::string fresh = project + "/keys.json", old = project + "/old.json";
  h.write("project/old.json", "old content");
  ::chmod(old.c_str(), 0644);
  ASSERT_EQ(0, h.run({"export", "json", work, fresh}).status);
  ASSERT_EQ(0, h.run({"export", "json", work, old}).status);
  EXPECT_EQ(0600, mode_of(fresh));
  EXPECT_EQ(0600, mode_of(old));
  EXPECT_NE(std::string::npos, CliHome::slurp(old).find("pw-in-clear"));
  EXPECT_EQ((std::vector<std::string>{"keys.json", "old.json"}), names_in(project)) << "no temporary left";

  // the configuration database and a repository's database stay as they are
  std::string cfg = CliHome::slurp(config());
  CliResult r = h.run({"export", "json", work, config()});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(cfg, CliHome::slurp(config()));
  std::string repo_dir = split_tabs(h.run({"repos"}).line(0))[2];
  std::string data = CliHome::slurp(repo_dir + "/data");
  ASSERT_FALSE(data.empty());
  EXPECT_EQ(1, h.run({"export", "ics", work, repo_dir + "/data"}).status);
  EXPECT_EQ(data, CliHome::slurp(repo_dir + "/data"));
  EXPECT_EQ(1, h.run({"export", "notes", work, repo_dir}).status);
  EXPECT_EQ(0, h.run({"items"}).status);
}

TEST_F(CliHardening, KeyPasswordsFromAFileOrStandardInput) {
  h.write("project/pw.txt", "from-a-file\n");
  CliResult r = h.run({"add", "key", work, "--title", "A", "--password-file", project + "/pw.txt"});
  ASSERT_EQ(0, r.status) << r.err;
  r = h.run({"add", "key", work, "--title", "B", "--password", "-"}, "from-stdin\r\n");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(2, h.run({"add", "key", work, "--title", "C", "--password", "x", "--password-file", "pw.txt"}).status);
  EXPECT_EQ(1, h.run({"add", "key", work, "--title", "D", "--password-file", project + "/none"}).status);
  ASSERT_EQ(0, h.run({"export", "json", work, project + "/k.json"}).status);
  std::string json = CliHome::slurp(project + "/k.json");
  EXPECT_NE(std::string::npos, json.find("\"from-a-file\""));
  EXPECT_NE(std::string::npos, json.find("\"from-stdin\""));
  EXPECT_NE(std::string::npos, h.run({"help", "add"}).out.find("visible to other users"));
}

TEST_F(CliHardening, ControlCharactersOfImportedTitlesAreNotPrinted) {
  h.write("project/evil.ics",
          "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:e1\r\nSUMMARY:A\x1b]2;owned\x07\x1b[2JB\xc2\x9b" "1mC\r\n"
          "DTSTART:20310401T080000Z\r\nDESCRIPTION:line\x1b[31mred\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  CliResult r = h.run({"import", "ics", project + "/evil.ics", work});
  ASSERT_EQ(0, r.status) << r.err;
  CliResult list = h.run({"items", "events"});
  ASSERT_EQ(0, list.status);
  ASSERT_EQ(1u, list.lines().size());
  auto f = split_tabs(list.line(0));
  EXPECT_EQ("A ]2;owned  [2JB 1mC", f[4]);
  CliResult show = h.run({"show", f[0]});
  for (char c : show.out)
    EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t') << "control " << int(c);
  EXPECT_EQ(std::string::npos, show.out.find("\xc2\x9b"));
}

TEST_F(CliHardening, ASilentServerEndsTheCommandWithAMessage) {
  SilentServer silent;
  ASSERT_EQ(0, h.run({"account", "set", "7", "u", silent.host()}, "account-pw\n").status);
  h.set_env("ORDIKA_NET_TIMEOUT", "1");
  auto start = Clock::now();
  pid_t pid = spawn(h, {"server", "ls"}, "1");
  EXPECT_EQ(1, wait_bounded(pid, 15));
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 10.0);
  CliResult r = h.run({"server", "ls"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("did not answer")) << r.err;
}

TEST_F(CliHardening, SignalsEndTheToolAtOnce) {
  SilentServer silent;
  ASSERT_EQ(0, h.run({"account", "set", "7", "u", silent.host()}, "account-pw\n").status);
  for (int sig : {SIGHUP, SIGTERM, SIGINT}) {
    pid_t pid = spawn(h, {"server", "ls"}, "60");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, sig);
    EXPECT_EQ(128 + sig, wait_bounded(pid, 5)) << "signal " << sig;
  }
  EXPECT_EQ(0, h.run({"repos"}).status);
}
