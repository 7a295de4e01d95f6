// SPDX-License-Identifier: GPL-3.0-or-later
// The account sync against a real server: a fresh profile per test, the
// suite's server, collections of the test's own, and the independent client
// (peer.py) changing things on the server between syncs. The journeys are
// written once here and run against each server by its suite.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dav/dav_fixture.h"
#include "model/test_startup_fixture.h"
#include "model/item.h"
#include "model/tag_ops.h"
#include "storage/source_store.h"
#include "sync/dav_account.h"
#include "sync/dav_sync.h"
#include "sync/dav_xml.h"

namespace dav_test {

struct SyncServer {
  std::string home;  // where the test's collections go ("…/alice/"), ending in "/"
  std::string user, password;
};

class DavSyncFixture : public startup_test::StartupTest {
 protected:
  // Set by the suite before each test; empty home: skipped.
  virtual SyncServer server() = 0;

  void SetUp() override {
    srv = server();
    if (srv.home.empty()) GTEST_SKIP() << "the server for this suite is not available";
    StartupTest::SetUp();
    first_run();
    dav_account_init();
    client = open_client(srv.home, srv.user, srv.password);
    ASSERT_TRUE(client);
    client->stall_timeout = 60;
    static int serial = 0;
    prefix = "t" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + "-";
  }
  void TearDown() override {
    if (!srv.home.empty()) StartupTest::TearDown();
  }

  // A new collection of the test's own, as discovery lists it.
  DavCollection collection(const std::string& name, bool calendar = true, const std::string& comps = "VEVENT,VTODO") {
    std::string href = srv.home + prefix + name + "/";
    EXPECT_EQ(0, make_collection(client.get(), href, calendar, name, comps));
    std::vector<DavCollection> listed;
    EXPECT_EQ(0, dav_list_collections(client.get(), href, 0, &listed));
    return listed.empty() ? DavCollection() : listed[0];
  }

  // The account on these collections; its repository.
  int add_account(const std::vector<DavCollection>& cols, const std::string& password = "") {
    int repo = -1;
    std::vector<DavBoundCollection> bound;
    EXPECT_EQ(0, dav_account_create(client->url, srv.user, (password.empty() ? srv.password : password).c_str(), "",
                                    cols, &repo, &bound));
    tags.clear();
    for (const DavBoundCollection& b : bound) tags.push_back(tag_find(b.tag));
    return repo;
  }

  DavSyncSummary sync(int repo, int expect = 0) {
    DavSyncSummary s;
    EXPECT_EQ(expect, dav_sync_repository(repo, &s)) << s.message;
    return s;
  }

  // The peer's view of a collection: "ok <n>".
  std::vector<std::string> peer_ops(const std::vector<std::vector<std::string>>& ops) {
    return peer(srv.home, srv.user, srv.password, ops);
  }
  std::string peer_summary(const DavCollection& col, const std::string& uid) {
    auto out = peer_ops({{"summary", col.href, uid}});
    return out.empty() ? "(failed)" : out[0];
  }
  int peer_count(const DavCollection& col) {
    auto out = peer_ops({{"count", col.href}});
    return out.empty() ? -1 : std::atoi(out[0].c_str() + 3);
  }

  // Items of the repository (trashed ones too).
  static int items_in(int repo) {
    int n = 0;
    int64_t cursor = -1;
    while (const Item* item = slot_next<Item>(model().items, &cursor))
      if (item->repo == repo) n++;
    return n;
  }
  static int64_t item_titled(int repo, const std::string& title) {
    int64_t cursor = -1;
    while (const Item* item = slot_next<Item>(model().items, &cursor))
      if (item->repo == repo && item->title == title) return cursor;
    return -1;
  }
  // An edit as the editor stores it.
  static int64_t retitle(int64_t slot, const std::string& title) {
    ItemForm form;
    item_form_fill(slot, item_get(slot)->type, &form);
    form.title = title;
    return item_store(slot, item_get(slot)->type, form, 0, -1);
  }
  // A new event in the tag, as the window makes one.
  static int64_t new_event(int64_t tag, const std::string& title) {
    ItemForm form;
    item_form_fill(-1, ITEM_EVENT, &form);
    form.title = title;
    return item_store(-1, ITEM_EVENT, form, 0, tag);
  }
  // The title of the one history version of the item titled `title`;
  // "(none)" unless it has exactly one.
  static std::string history_title(int repo, const std::string& title) {
    int64_t slot = item_titled(repo, title);
    HistoryView h;
    if (slot < 0 || history_load(&h, item_get(slot)) != 1) return "(none)";
    int64_t cursor = -1;
    const Item* old = slot_next<Item>(h.versions, &cursor);
    return old ? old->title : "(none)";
  }
  // The uid the server knows the item by.
  static std::string uid_of(int64_t slot) {
    SourceRecord r;
    const Item* item = item_get(slot);
    if (!item || source_get(item->repo, item->uuid, &r) != 0) return "";
    std::string text = r.component;
    size_t at = text.find("\nUID:");
    if (at == std::string::npos) return "";
    size_t end = text.find_first_of("\r\n", at + 5);
    return text.substr(at + 5, end - at - 5);
  }

  SyncServer srv;
  std::unique_ptr<DavClient> client;
  std::string prefix;
  std::vector<int64_t> tags;  // the account's collection tags, in order
};

}  // namespace dav_test
