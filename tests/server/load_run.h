// SPDX-License-Identifier: GPL-3.0-or-later
// Many clients syncing the same and different repositories at once: each
// round a client adds an item of its own and edits an item its repository
// shares, then syncs until the server takes it. Afterwards every client of
// a repository holds the same rows and every client's items.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sync_client.h"

class LoadRun {
 public:
  // groups[r]: how many clients share repository r.
  LoadRun(std::vector<int> groups, int rounds) : groups_(std::move(groups)), rounds_(rounds) {
    for (size_t r = 0; r < groups_.size(); ++r)
      for (int k = 0; k < groups_[r]; ++k) repo_of_.push_back(static_cast<int>(r));
    clients_.resize(repo_of_.size());
    derive_key("load-pw", key_);
    client_uuid(shared_, 200, 1);
  }

  // A failed sync (a cut connection, a server or database gone) is tried
  // again, not counted as a failure, while the run lasts.
  bool retry_failures = false;
  // Called once on the thread of Run when half the syncs are done.
  std::function<void()> midway;

  std::string repo_id(int r) const { return "load" + std::to_string(r); }
  size_t clients() const { return clients_.size(); }

  // Puts a seed of every repository on the server and clones it for each
  // of its clients, through `login`.
  void Prepare(const ScratchDir& dir, const ServerLogin& login) {
    for (size_t r = 0; r < groups_.size(); ++r) {
      std::string seed = dir.subdir("seed" + std::to_string(r));
      {
        DbHandle db(db_create_repo((seed + "/data").c_str(), key_));
        ASSERT_TRUE(db);
        ASSERT_EQ(0, put_object(db.get(), key_, false, 1, tag_string(zero_hex(), 10, "/"), nullptr));
        ASSERT_EQ(0, put_item(db.get(), key_, shared_, item_header("shared", 11), "start"));
      }
      ASSERT_EQ(0, server_create_repo(login, repo_id(static_cast<int>(r)).c_str(), seed.c_str(), key_));
    }
    for (size_t i = 0; i < clients_.size(); ++i) {
      SyncClient& c = clients_[i];
      c.dir = dir.subdir("c" + std::to_string(i));
      std::memcpy(c.key, key_, 32);
      ASSERT_EQ(0, server_clone_repo(login, repo_id(repo_of_[i]).c_str(), "load-pw", c.dir.c_str(), never_there))
          << "client " << i;
    }
  }

  // All clients at once, each on its own thread, within `budget`.
  void Run(const ServerLogin& login, std::chrono::seconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    std::atomic<int> done{0}, failures{0};
    std::mutex notes_mu;
    std::vector<std::string> notes;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < clients_.size(); ++i)
      threads.emplace_back([&, i] {
        SyncClient& c = clients_[i];
        if (!c.open()) {
          failures++;
          return;
        }
        for (int round = 0; round < rounds_ && std::chrono::steady_clock::now() < deadline; ++round) {
          uint8_t own[16];
          client_uuid(own, static_cast<int>(i), round);
          std::string tag = std::to_string(i) + "." + std::to_string(round);
          if (put_item(c.db.get(), c.key, own, item_header("own " + tag, 100 + round), "own " + tag) != 0 ||
              put_item(c.db.get(), c.key, shared_, item_header("shared", 200 + static_cast<int>(i) * 10 + round),
                       "shared " + tag) != 0) {
            failures++;
            return;
          }
          int rc, n = 0;
          do {
            rc = sync_until_done(c, login, repo_id(repo_of_[i]), answer_for(static_cast<int>(i)), 60, &n);
            if (rc != 0 && retry_failures) std::this_thread::sleep_for(std::chrono::milliseconds(50));
          } while (rc != 0 && retry_failures && std::chrono::steady_clock::now() < deadline);
          stale += n;
          done++;
          if (rc != 0) {
            failures++;
            std::lock_guard<std::mutex> g(notes_mu);
            notes.push_back("client " + std::to_string(i) + " round " + std::to_string(round) + ": " +
                            std::to_string(rc));
          }
        }
      });
    if (midway) {
      int half = static_cast<int>(clients_.size()) * rounds_ / 2;
      while (done < half && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      midway();
    }
    for (auto& t : threads) t.join();
    for (auto& n : notes) ADD_FAILURE() << n;
    EXPECT_EQ(0, failures.load());
    EXPECT_LT(std::chrono::steady_clock::now(), deadline) << "the load did not finish in time";
  }

  // One client after another, twice: the first pass brings the server
  // every pending change, the second brings every client the result. Then
  // the copies of each repository are equal and hold every client's items.
  void Converge(const ServerLogin& login) {
    for (int pass = 0; pass < 2; ++pass)
      for (size_t i = 0; i < clients_.size(); ++i)
        ASSERT_EQ(0, sync_until_done(clients_[i], login, repo_id(repo_of_[i]), SYNC_TAKE_SERVER, 5))
            << "client " << i;
    size_t first = 0;
    for (size_t r = 0; r < groups_.size(); first += static_cast<size_t>(groups_[r]), ++r) {
      std::set<std::string> want = clients_[first].rows();
      for (size_t i = first; i < first + static_cast<size_t>(groups_[r]); ++i) {
        const SyncClient& c = clients_[i];
        EXPECT_EQ(0, c.pending()) << "client " << i;
        EXPECT_TRUE(want == c.rows()) << "client " << i << " differs from client " << first;
        for (size_t j = first; j < first + static_cast<size_t>(groups_[r]); ++j)
          for (int round = 0; round < rounds_; ++round) {
            uint8_t own[16];
            client_uuid(own, static_cast<int>(j), round);
            EXPECT_EQ("own " + std::to_string(j) + "." + std::to_string(round), c.body(own)) << "client " << i;
          }
      }
    }
    // Repositories do not mix.
    if (groups_.size() > 1) {
      uint8_t foreign[16];
      client_uuid(foreign, groups_[0], 0);  // the first client of repository 1
      EXPECT_EQ("", clients_[0].body(foreign));
    }
  }

  std::atomic<int> stale{0};

 private:
  static bool never_there(const uint8_t*) { return false; }
  // Conflicts on the shared item: even clients take the server's version,
  // odd clients keep their own.
  static int answer_for(int client) { return client % 2 ? SYNC_KEEP_LOCAL : SYNC_TAKE_SERVER; }

  std::vector<int> groups_;
  int rounds_;
  std::vector<int> repo_of_;
  std::vector<SyncClient> clients_;
  uint8_t key_[32];
  uint8_t shared_[16];
};
