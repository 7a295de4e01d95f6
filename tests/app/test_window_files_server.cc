// SPDX-License-Identifier: GPL-3.0-or-later
// Send trace from the window to an account server on 127.0.0.1: the end of
// the log arrives under the account, and the window says so.
#ifdef ORDIKA_WITH_SERVER

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "crypto/crypto.h"
#include "dialogs/modal.h"
#include "server.h"
#include "support/log.h"
#include "window_fixture.h"

namespace {

class TraceServer : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ServerConfig cfg;
    data_ = server_dir_.subdir("data");
    cfg.data_dir = data_;
    cfg.listen_host = "127.0.0.1";
    cfg.port = 0;
    cfg.io_timeout = 5;
    cfg.fail_delay_ms = 0;
    ASSERT_EQ(0, server_user_add(cfg, "alice", "pw-alice", &alice_id_));
    server_ = server_create(cfg);
    ASSERT_NE(nullptr, server_);
    thread_ = std::thread([this] { server_run(server_); });
    Account& a = signed_in_account();
    a.id = alice_id_;
    a.user = "alice";
    a.host = "127.0.0.1:" + std::to_string(server_port(server_));
    sha256(a.user_hash, "pw-alice", 8);
    app_core().has_account = true;
    app_core().config_dir = server_dir_.subdir("profile");
    commands_refresh(&w);
  }
  void TearDown() override {
    if (server_) {
      server_stop(server_);
      thread_.join();
      server_destroy(server_);
    }
    WindowTest::TearDown();
  }

  // Every file the server keeps under the account's traces, read whole.
  std::vector<std::string> traces() {
    std::vector<std::string> out;
    std::string dir = data_ + "/traces/" + std::to_string(alice_id_);
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (struct dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream in(dir + "/" + e->d_name, std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      out.push_back(s.str());
    }
    closedir(d);
    return out;
  }

  storage_test::TempDir server_dir_;
  std::string data_;
  Server* server_ = nullptr;
  std::thread thread_;
  int32_t alice_id_ = 0;
};

// Answers the message boxes that come on top, keeping their kind.
struct Boxes {
  std::vector<GtkMessageType> seen;
  guint source = g_timeout_add(5, tick, this);
  ~Boxes() { g_source_remove(source); }
  static gboolean tick(gpointer p) {
    GtkWindow* w = top_window();
    if (w && GTK_IS_MESSAGE_DIALOG(w) && gtk_widget_get_mapped(GTK_WIDGET(w))) {
      GtkMessageType type;
      g_object_get(w, "message-type", &type, nullptr);
      static_cast<Boxes*>(p)->seen.push_back(type);
      gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    }
    return G_SOURCE_CONTINUE;
  }
};

TEST_F(TraceServer, TheLogReachesTheServerAndLoggingGoesOn) {
  std::ofstream(app_core().config_dir + "/ordika.log") << "line one\nsync_repo: 3 7\n";
  ASSERT_TRUE(command_enabled(CMD_SEND_TRACE, command_state(w)));
  {
    Boxes boxes;
    ASSERT_EQ(0, command_run(&w, CMD_SEND_TRACE));
    pump();
    EXPECT_EQ((std::vector<GtkMessageType>{GTK_MESSAGE_INFO}), boxes.seen);
  }
  // The trace has no reply: the server may store it a moment after the
  // client is done.
  std::vector<std::string> got = traces();
  for (int i = 0; i < 250 && got.empty(); i++) {
    g_usleep(20000);
    got = traces();
  }
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ("line one\nsync_repo: 3 7\n", got[0]);
  log_message(LOG_INFO, "after the trace");
  EXPECT_EQ(0, log_flush());

  // A server that cannot be reached: the failure box, nothing more stored.
  signed_in_account().host = "127.0.0.1:1";
  Boxes boxes;
  ASSERT_EQ(0, command_run(&w, CMD_SEND_TRACE));
  pump();
  EXPECT_EQ((std::vector<GtkMessageType>{GTK_MESSAGE_ERROR}), boxes.seen);
  EXPECT_EQ(1u, traces().size());
}

}  // namespace

#endif
