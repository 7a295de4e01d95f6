// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built ordika-cli in a private HOME and captures what it prints.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> lines() const {
    std::vector<std::string> v;
    std::stringstream ss(out);
    for (std::string l; std::getline(ss, l);) v.push_back(l);
    return v;
  }
  std::string line(size_t i) const {
    auto v = lines();
    return i < v.size() ? v[i] : std::string();
  }
};

inline std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> f;
  size_t start = 0;
  for (;;) {
    size_t t = line.find('\t', start);
    f.push_back(line.substr(start, t == std::string::npos ? std::string::npos : t - start));
    if (t == std::string::npos) break;
    start = t + 1;
  }
  return f;
}

class CliHome {
 public:
  CliHome() {
    char tmpl[] = "/tmp/ordika-cli-XXXXXX";
    const char* d = mkdtemp(tmpl);
    home_ = d ? d : "/tmp";
    env_["HOME"] = home_;
    env_["ORDIKA_PASSWORD"] = "Master123pw";
    env_["TZ"] = "Europe/Berlin";
    env_["LANG"] = "C";
  }
  ~CliHome() {
    std::string cmd = "rm -rf '" + home_ + "'";
    if (std::system(cmd.c_str()) != 0) {
      // Leftovers in /tmp are harmless.
    }
  }
  const std::string& home() const { return home_; }
  void set_env(const std::string& k, const std::string& v) { env_[k] = v; }
  void unset_env(const std::string& k) { env_.erase(k); }

  CliResult run(const std::vector<std::string>& args, const std::string& input = std::string()) const {
    std::string out_path = home_ + "/.out", err_path = home_ + "/.err", in_path = home_ + "/.in";
    {
      std::ofstream in(in_path, std::ios::binary);
      in << input;
    }
    pid_t pid = fork();
    if (pid == 0) {
      // No controlling terminal: secrets come from the environment or stdin.
      setsid();
      int in = open(in_path.c_str(), O_RDONLY);
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<std::string> envs;
      for (auto& [k, v] : env_) envs.push_back(k + "=" + v);
      std::vector<char*> envp;
      for (auto& e : envs) envp.push_back(const_cast<char*>(e.c_str()));
      envp.push_back(nullptr);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(ORDIKA_CLI));
      for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execve(ORDIKA_CLI, argv.data(), envp.data());
      _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    CliResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    return r;
  }

  static std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream out(home_ + "/" + name, std::ios::binary);
    out << text;
  }
  std::string path(const std::string& name) const { return home_ + "/" + name; }

 private:
  std::string home_;
  std::map<std::string, std::string> env_;
};
