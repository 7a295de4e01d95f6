// SPDX-License-Identifier: GPL-3.0-or-later
// Check for update from the window against an ordika-server on 127.0.0.1:
// the version request under the progress dialog, the offer of a newer
// version, the note when there is none, and the message when the server
// cannot be reached.
#if ORDIKA_WITH_SERVER
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include "common/test_support.h"
#include "server.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "support/strings.h"
#include "support/version.h"
#include "sync/error_text.h"
#include "window_fixture.h"

namespace {

class UpdateFromServer : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ServerConfig cfg;
    cfg.data_dir = scratch_.subdir("data");
    cfg.listen_host = "127.0.0.1";
    cfg.port = 0;
    cfg.io_timeout = 5;
    cfg.fail_delay_ms = 0;
    cfg.log_to_file = false;
    cfg.update_dir = scratch_.subdir("updates");
    update_dir_ = cfg.update_dir;
    publish("9.0.0", 999999);
    int32_t id = 0;
    ASSERT_EQ(0, server_user_add(cfg, "alice", "pw-alice", &id));
    server_ = server_create(cfg);
    ASSERT_NE(nullptr, server_);
    thread_ = std::thread([this] { server_run(server_); });
    host_ = "127.0.0.1:" + std::to_string(server_port(server_));

    std::string profile = scratch_.subdir("profile");
    sqlite3* config = config_create(profile.c_str(), "master");
    ASSERT_NE(nullptr, config);
    config_set(config, profile);
    ASSERT_EQ(0, account_store(id, "alice", "pw-alice", host_.c_str()));
    ASSERT_EQ(0, account_load());
    app_core().has_account = true;
    commands_refresh(&w);
  }
  void TearDown() override {
    stop_server();
    WindowTest::TearDown();
  }
  void stop_server() {
    if (!server_) return;
    server_stop(server_);
    thread_.join();
    server_destroy(server_);
    server_ = nullptr;
  }
  void publish(const char* version, int build) {
    std::ofstream(update_dir_ + "/version") << version << "\n" << build << "\n";
    std::ofstream(update_dir_ + "/notes") << "Faster **sync**";
  }

  // Runs the command; the first dialog after the progress dialog is read
  // (its labels or message text) and closed.
  std::string run_and_read() {
    struct Seen {
      std::string text;
      bool message = false;
    } seen;
    guint source = g_timeout_add(
        10,
        [](gpointer p) -> gboolean {
          auto* s = static_cast<Seen*>(p);
          GtkWindow* d = top_window();
          if (!d || !GTK_IS_DIALOG(d) || !gtk_widget_get_visible(GTK_WIDGET(d))) return G_SOURCE_CONTINUE;
          if (find_widget<GtkProgressBar>(GTK_WIDGET(d), GTK_TYPE_PROGRESS_BAR)) return G_SOURCE_CONTINUE;
          s->message = GTK_IS_MESSAGE_DIALOG(d);
          if (s->message) {
            gchar* t = nullptr;
            g_object_get(d, "text", &t, nullptr);
            s->text = t ? t : "";
            g_free(t);
          } else {
            each_widget(GTK_WIDGET(d), [&](GtkWidget* x) {
              if (GTK_IS_LABEL(x)) s->text += std::string(gtk_label_get_text(GTK_LABEL(x))) + "\n";
            });
          }
          gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
          return G_SOURCE_CONTINUE;
        },
        &seen);
    EXPECT_EQ(0, command_run(&w, CMD_CHECK_UPDATE));
    pump();
    g_source_remove(source);
    message_ = seen.message;
    return seen.text;
  }

  ScratchDir scratch_{"update"};
  std::string update_dir_, host_;
  Server* server_ = nullptr;
  std::thread thread_;
  bool message_ = false;
};

TEST_F(UpdateFromServer, NewerVersionIsOfferedCurrentOneIsSaidAndFailureNamed) {
  std::string offer = run_and_read();
  EXPECT_FALSE(message_);
  EXPECT_NE(std::string::npos, offer.find("9.0.0")) << offer;
  EXPECT_NE(std::string::npos, offer.find(program_version())) << offer;
  EXPECT_FALSE(w.quitting) << "nothing was installed";

  publish("0.0.1", 1);
  EXPECT_EQ(ui_format(STR_MSG_LATEST_VERSION, program_version()), run_and_read());
  EXPECT_TRUE(message_);

  stop_server();
  std::string failed = run_and_read();
  EXPECT_TRUE(message_);
  EXPECT_EQ(ui_format(STR_MSG_REQUEST_FAILED, error_code_text(last_error()).c_str()), failed);
  EXPECT_NE(0, last_error());
  EXPECT_FALSE(w.quitting);
}

}  // namespace
#endif
