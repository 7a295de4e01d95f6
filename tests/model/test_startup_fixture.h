// SPDX-License-Identifier: GPL-3.0-or-later
// A temporary home directory and scripted password prompts for the start-up,
// mounting and settings tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "model/app_core.h"
#include "model/item.h"
#include "model/model.h"
#include "model/mount.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/tag.h"
#include "model_fixture.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "support/strings.h"

namespace startup_test {

inline bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Answers of one prompt: a text, or std::nullopt-like "" with cancel set.
struct Answer {
  std::string text;
  bool cancel = false;
};
inline Answer cancel() { return Answer{"", true}; }

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ordika-home-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    home = mkdtemp(buf.data());
    ASSERT_EQ(0, getcwd(cwd, sizeof cwd) == nullptr);
    model_clean();
  }
  void TearDown() override {
    app_shutdown();
    model_clean();
    ASSERT_EQ(0, chdir(cwd));
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
  }

  StartupIO io() {
    StartupIO s;
    s.ask_password = [this](int, std::string* pw) { return next(&passwords, pw, &asked_password); };
    s.ask_new_password = [this](int, std::string* pw) { return next(&new_passwords, pw, &asked_new); };
    s.ask_confirmation = [this](int, std::string* pw) { return next(&confirmations, pw, &asked_confirm); };
    s.show_message = [this](StrId id) { messages.push_back(id); };
    return s;
  }

  int start(const char* profile = "test") {
    messages.clear();
    return app_startup(profile, home.c_str(), 0, io());
  }

  // First run with a good password, then a clean shutdown.
  void first_run(const char* profile = "test") {
    new_passwords = {{kMaster}};
    confirmations = {{kMaster}};
    ASSERT_EQ(STARTUP_READY, start(profile));
  }

  void restart(const char* profile = "test") {
    app_shutdown();
    model_clean();
    passwords = {{kMaster}};
    ASSERT_EQ(STARTUP_READY, start(profile));
  }

  // Slot of the root tag of repository `repo`.
  static int64_t root_tag(int repo) {
    int64_t cursor = -1;
    while (const Tag* t = slot_next<Tag>(model().tags, &cursor))
      if (cursor > 0 && t->repo == repo && uuid_is_zero(t->parent)) return cursor;
    return -1;
  }
  static int64_t tag_named(const std::string& name) {
    int64_t cursor = -1;
    while (const Tag* t = slot_next<Tag>(model().tags, &cursor))
      if (cursor > 0 && t->name == name) return cursor;
    return -1;
  }
  static int count_tags(int repo) {
    int n = 0;
    int64_t cursor = -1;
    while (const Tag* t = slot_next<Tag>(model().tags, &cursor))
      if (cursor > 0 && t->repo == repo) n++;
    return n;
  }
  static int count_items() { return static_cast<int>(slot_array_count(model().items)); }

  // A new repository registered under the repository root; its index.
  int add_repository(const char* name) {
    std::string path;
    EXPECT_EQ(0, repo_create_dir(app_core().repo_root.c_str(), &path));
    RepoRecord rec;
    rec.name = name;
    rec.path = path;
    rec.password = "Repo-Password-123456!";
    int index = -1;
    EXPECT_EQ(0, repo_register(rec, &index));
    return index;
  }

  // A note under tag `tag_slot`; its slot.
  static int64_t add_note(int64_t tag_slot, const std::string& title, const std::string& body = "body") {
    model().view = static_cast<int32_t>(tag_slot);
    ItemForm form;
    form.title = title;
    form.body = body;
    return item_store(-1, ITEM_NOTE, form, 0, model().view);
  }

  static constexpr const char* kMaster = "Master-Pass-123";
  std::string home;
  char cwd[4096];
  std::deque<Answer> passwords, new_passwords, confirmations;
  int asked_password = 0, asked_new = 0, asked_confirm = 0;
  std::vector<StrId> messages;

 private:
  static int next(std::deque<Answer>* q, std::string* out, int* counter) {
    ++*counter;
    if (q->empty()) return 1;
    Answer a = q->front();
    q->pop_front();
    if (a.cancel) return 1;
    *out = a.text;
    return 0;
  }
};

}  // namespace startup_test
