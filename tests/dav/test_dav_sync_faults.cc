// SPDX-License-Identifier: GPL-3.0-or-later
// The account sync through a proxy in front of Radicale that answers one
// kind of request with a failure, or never: every failure ends the sync
// with its message and loses nothing, and the next sync after it finishes
// the job.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

#include <sqlite3.h>

#include "dav/dav_sync_journeys.h"
#include "storage/repo.h"

namespace {

using namespace dav_test;

// Forwards every request to Radicale as Alice, unless the fault matches.
struct FaultProxy {
  std::mutex mu;
  std::string method;  // the method that fails; "" none
  std::string body;    // and only when its body holds this
  int status = 0;      // its answer; 0: it stalls
  std::string reply;   // the answer's body
  std::unique_ptr<DavClient> upstream;
  std::unique_ptr<StubServer> stub;

  FaultProxy(const std::string& radicale_url) {
    upstream = open_client(radicale_url, Radicale::kUser, Radicale::kPassword);
    upstream->stall_timeout = 60;
    stub = std::make_unique<StubServer>([this](const StubRequest& r) { return forward(r); });
  }
  void fail(const std::string& m, int st, const std::string& in_body = "", const std::string& answer = "") {
    std::lock_guard<std::mutex> g(mu);
    method = m;
    status = st;
    body = in_body;
    reply = answer;
  }
  std::string forward(const StubRequest& r) {
    {
      std::lock_guard<std::mutex> g(mu);
      if (r.method == method && r.body.find(body) != std::string::npos) return status ? StubServer::answer(status, reply) : std::string();
    }
    DavRequest req;
    req.method = r.method.c_str();
    req.url = r.path;
    req.body = r.body;
    std::string type = r.header("Content-Type");
    if (!type.empty()) req.content_type = type.c_str();
    std::string depth = r.header("Depth");
    if (!depth.empty()) req.depth = depth == "0" ? 0 : 1;
    req.if_match = r.header("If-Match");
    req.if_none_match = r.header("If-None-Match") == "*";
    DavReply reply;
    if (dav_send(upstream.get(), req, &reply) != 0) return StubServer::answer(502);
    std::string headers;
    if (!reply.etag.empty()) headers += "ETag: " + reply.etag + "\r\n";
    if (!reply.content_type.empty()) headers += "Content-Type: " + reply.content_type + "\r\n";
    return StubServer::answer(static_cast<int>(reply.status), reply.body, headers);
  }
};

// Fails the n-th commit (from 1) of a connection while it lives.
struct CommitFault {
  sqlite3* db;
  int n, seen = 0;
  CommitFault(sqlite3* d, int nth) : db(d), n(nth) { sqlite3_commit_hook(db, &hook, this); }
  ~CommitFault() { sqlite3_commit_hook(db, nullptr, nullptr); }
  static int hook(void* p) {
    auto* f = static_cast<CommitFault*>(p);
    return ++f->seen == f->n ? 1 : 0;
  }
};

class DavSyncFaults : public RadicaleJourneys<DavSyncFaults> {
 protected:
  // An account on one collection with an event "X", reached through the
  // proxy, synced once.
  int proxied_account(FaultProxy* proxy, DavCollection* col) {
    static int serial = 0;
    *col = collection("faults" + std::to_string(++serial));
    put_events(*col, {{"x", "X"}});
    DavCollection through = *col;
    through.href = proxy->stub->url() + col->href.substr(server_->url().size());
    int repo = -1;
    std::vector<DavBoundCollection> bound;
    EXPECT_EQ(0, dav_account_create(proxy->stub->url(), "alice", "unused", "", {through}, &repo, &bound));
    tags.clear();
    for (const DavBoundCollection& b : bound) tags.push_back(tag_find(b.tag));
    EXPECT_EQ(1, sync(repo).pulled);
    return repo;
  }
};

TEST_F(DavSyncFaults, AServerWithoutSyncCollectionIsListedByETags) {
  for (int status : {403, 501, 400}) {
    SCOPED_TRACE(status);
    FaultProxy proxy(server_->url());
    proxy.fail("REPORT", status, "sync-collection");
    DavCollection col;
    proxied_account(&proxy, &col);
  }
}

TEST_F(DavSyncFaults, AFailedPushEndsWithItsMessageAndIsPushedNextTime) {
  struct Case {
    int status;
    int error;
  } cases[] = {
      {412, DAV_ERR_PRECONDITION},
      {507, DAV_ERR_QUOTA},
      {500, DAV_ERR_SERVER},
      {0, DAV_ERR_TIMEOUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    FaultProxy proxy(server_->url());
    DavCollection col;
    int repo = proxied_account(&proxy, &col);
    ASSERT_GE(retitle(item_titled(repo, "X"), "X here"), 0);
    proxy.fail("PUT", c.status);
    DavSyncSummary s;
    EXPECT_EQ(c.error, dav_sync_repository(repo, &s, 2));
    EXPECT_EQ(c.error, s.error);
    EXPECT_FALSE(s.message.empty());
    EXPECT_GE(item_titled(repo, "X here"), 0);
    EXPECT_EQ("ok X", peer_summary(col, prefix + "x"));
    // A stalled connection holds the proxy until it stops.
    if (c.status == 0) continue;
    proxy.fail("", 0);
    EXPECT_EQ(1, sync(repo).pushed);
    EXPECT_EQ("ok X here", peer_summary(col, prefix + "x"));
  }
}

// A server that refuses a new member for a UID it holds elsewhere with the
// error body of RFC 4791 (403 naming the member): the item here becomes
// that member's, as a conflict, and the next sync is quiet.
TEST_F(DavSyncFaults, AUidRefusedAsForbiddenBindsTheItemToTheMemberHeld) {
  FaultProxy proxy(server_->url());
  DavCollection col;
  int repo = proxied_account(&proxy, &col);
  // A copy of X beside its own item, as an older sync left one.
  SourceRecord kept;
  std::memcpy(kept.uuid, item_get(new_event(tags[0], "Mine"))->uuid, 16);
  kept.component = event_text(prefix + "x", "Mine");
  ASSERT_EQ(0, source_put(repo, kept));
  proxy.fail("PUT", 403, "",
             "<?xml version=\"1.0\"?><d:error xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
             "<c:no-uid-conflict><d:href>/elsewhere.ics</d:href></c:no-uid-conflict></d:error>");
  DavSyncSummary s = sync(repo);
  EXPECT_EQ(1, s.conflicts);
  EXPECT_EQ(std::vector<std::string>{"Mine"}, s.names);
  EXPECT_EQ(1, items_in(repo));
  EXPECT_GE(item_titled(repo, "X"), 0);
  s = sync(repo);
  EXPECT_EQ(0, s.pulled + s.pushed + s.conflicts + s.deleted_here + s.deleted_there);
  EXPECT_EQ("ok X", peer_summary(col, prefix + "x"));
}

// A sync's changes here are the items' commit and their records' (written
// ahead, then kept): whichever of them fails, the next sync ends where one
// whole sync would have, with no conflict, no item twice and every member's
// component kept.
TEST_F(DavSyncFaults, AFailureBetweenTheItemsAndTheirRecordsLeavesNoConflict) {
  struct Case {
    const char* name;
    bool sources;  // the source store's commit, else the repository's
    int commit;    // which one of the sync
  } cases[] = {
      {"records-ahead", true, 1},
      {"items", false, 1},
      {"records-after-items", true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DavCollection col = collection(c.name);
    put_events(col, {{"x", "X"}, {"z", "Z"}});
    int repo = add_account({col});
    ASSERT_EQ(2, sync(repo).pulled);
    put_events(col, {{"x", "X2"}, {"y", "Y"}});
    ASSERT_EQ(1u, peer_ops({{"delete-event", col.href, prefix + "z"}}).size());
    {
      RepoEntry& e = repo_table()[repo];
      CommitFault fault(c.sources ? e.sources : e.db, c.commit);
      sync(repo, DAV_SYNC_LOCAL_ERROR);
    }
    DavSyncSummary s = sync(repo);
    EXPECT_EQ(0, s.conflicts + s.pushed + s.deleted_there);
    EXPECT_EQ(2, items_in(repo));
    EXPECT_GE(item_titled(repo, "X2"), 0);
    int64_t y = item_titled(repo, "Y");
    ASSERT_GE(y, 0);
    SourceRecord kept;
    ASSERT_EQ(0, source_get(repo, item_get(y)->uuid, &kept));
    EXPECT_NE(std::string::npos, kept.component.find("SUMMARY:Y"));
    EXPECT_FALSE(kept.href.empty());
    s = sync(repo);
    EXPECT_EQ(0, s.pulled + s.pushed + s.conflicts + s.deleted_here + s.deleted_there);
    EXPECT_EQ(2, peer_count(col));
  }
}

TEST_F(DavSyncFaults, AFailedFetchChangesNothingHere) {
  struct Case {
    const char* method;
    int status;
    int error;
  } cases[] = {
      {"REPORT", 500, DAV_ERR_SERVER},
      {"REPORT", 404, DAV_ERR_NOT_FOUND},
      {"REPORT", 0, DAV_ERR_TIMEOUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    FaultProxy proxy(server_->url());
    DavCollection col;
    int repo = proxied_account(&proxy, &col);
    put_events(col, {{"x", "X there"}});
    proxy.fail(c.method, c.status);
    DavSyncSummary s;
    EXPECT_EQ(c.error, dav_sync_repository(repo, &s, 2));
    EXPECT_GE(item_titled(repo, "X"), 0);
    EXPECT_EQ(1, items_in(repo));
    if (c.status == 0) continue;
    proxy.fail("", 0);
    EXPECT_EQ(1, sync(repo).pulled);
    EXPECT_GE(item_titled(repo, "X there"), 0);
  }
}

}  // namespace
