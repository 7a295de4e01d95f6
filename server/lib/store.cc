// SPDX-License-Identifier: GPL-3.0-or-later
// Account server: the store of a process and its pool of connections.
#include "store.h"

#include <algorithm>

#include "support/log.h"

namespace srv {

namespace {

// Connections kept open between requests beyond those in use.
constexpr size_t kIdleMax = 16;

bool over(const WorkLimit* w) {
  return w && ((w->stopping && w->stopping->load()) || std::chrono::steady_clock::now() > w->until);
}

}  // namespace

std::string account_lock(uint32_t account) { return "account " + std::to_string(account); }

int StoreConn::repo_names(uint32_t account, std::vector<std::string>* out) {
  return each_repo(account, [&](const std::string& name, const RepoRow&) {
    out->push_back(name);
    return 0;
  });
}

std::unique_ptr<Store> store_open(const ServerConfig& cfg, std::string* error) {
  auto s = std::make_unique<Store>();
  s->cfg = cfg;
  s->postgres = !cfg.database.empty();
  int rc = s->postgres ? pg_prepare_store(cfg, error) : sqlite_prepare_store(cfg, error);
  if (rc != 0) return nullptr;
  return s;
}

StoreConn* store_take(Store* s, WorkLimit* w) {
  std::unique_ptr<StoreConn> c;
  {
    std::unique_lock<std::mutex> g(s->mu);
    for (;;) {
      while (!c && !s->idle.empty()) {
        c = std::move(s->idle.back());
        s->idle.pop_back();
        if (!c->usable()) {  // lost while idle (a database restart): drop it
          c.reset();
          --s->open;
        }
      }
      if (c) break;
      if (!s->postgres || s->open < std::max(1, s->cfg.db_connections)) {
        ++s->open;
        break;
      }
      // Every connection is in use: wait for one within the work limit.
      if (over(w)) {
        log_message(LOG_WARNING, "store_take: no free connection");
        return nullptr;
      }
      s->cv.wait_for(g, std::chrono::milliseconds(100));
    }
  }
  if (!c) {
    std::string error;
    c = s->postgres ? pg_connect(s, &error) : sqlite_connect(s, &error);
    if (!c) {
      log_message(LOG_ERROR, "store_take: %s", error.c_str());
      std::lock_guard<std::mutex> g(s->mu);
      --s->open;
      s->cv.notify_one();
      return nullptr;
    }
  }
  c->set_limit(w);
  std::lock_guard<std::mutex> g(s->mu);
  s->busy.push_back(c.get());
  return c.release();
}

void store_give(Store* s, StoreConn* raw) {
  std::unique_ptr<StoreConn> c(raw);
  c->set_limit(nullptr);
  std::lock_guard<std::mutex> g(s->mu);
  s->busy.erase(std::remove(s->busy.begin(), s->busy.end(), raw), s->busy.end());
  if (c->usable() && s->idle.size() < kIdleMax) {
    s->idle.push_back(std::move(c));
  } else {
    --s->open;
  }
  s->cv.notify_one();
}

void store_cancel_all(Store* s) {
  std::lock_guard<std::mutex> g(s->mu);
  for (StoreConn* c : s->busy) c->cancel();
}

}  // namespace srv
