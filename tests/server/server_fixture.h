// A running ordika-server on 127.0.0.1 with a fresh data directory and one
// account, for end-to-end tests of the client requests and sync.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "common/test_support.h"
#include "crypto/crypto.h"
#include "server.h"
#include "sync/requests.h"


class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerConfig cfg;
    cfg.data_dir = dir_.subdir("data");
    cfg.listen_host = "127.0.0.1";
    cfg.port = 0;
    cfg.io_timeout = 5;
    cfg.update_dir = update_dir_;
    cfg.trace_cap = 4096;
    cfg.fail_delay_ms = 0;  // the delay has a test of its own; elsewhere it only slows the run
    Configure(&cfg);
    cfg_ = cfg;
    ASSERT_EQ(0, server_user_add(cfg.data_dir, "alice", "pw-alice", &alice_id_));
    server_ = server_create(cfg);
    ASSERT_NE(nullptr, server_);
    thread_ = std::thread([this] { server_run(server_); });
    host_ = "127.0.0.1:" + std::to_string(server_port(server_));
    alice_ = Login("alice", alice_id_, "pw-alice");
  }
  void TearDown() override {
    if (server_) {
      server_stop(server_);
      thread_.join();
      server_destroy(server_);
    }
  }
  virtual void Configure(ServerConfig*) {}

  ServerLogin Login(const std::string& user, int32_t id, const char* password) const {
    ServerLogin l;
    l.host = host_;
    l.account_id = static_cast<uint32_t>(id);
    l.user = user;
    sha256(l.user_hash, password, std::strlen(password));
    return l;
  }

  ScratchDir dir_{"server"};
  std::string update_dir_;
  ServerConfig cfg_;
  Server* server_ = nullptr;
  std::thread thread_;
  std::string host_;
  int32_t alice_id_ = 0;
  ServerLogin alice_;
};
