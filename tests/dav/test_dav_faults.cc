// SPDX-License-Identifier: GPL-3.0-or-later
// What no real server does on demand, from a scripted one: refusals of
// every kind, stalls, cancels, redirects to another host, answers too large
// or broken, and what goes over the wire (and into the log) with the
// password.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/test_support.h"
#include "dav/dav_fixture.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

using namespace dav_test;

const char kMultistatus[] =
    "<?xml version=\"1.0\"?><multistatus xmlns=\"DAV:\"><sync-token>t1</sync-token>"
    "<response><href>/cal/</href><propstat><prop>"
    "<sync-token>t1</sync-token></prop><status>HTTP/1.1 200 OK</status></propstat></response></multistatus>";

class DavFaults : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(strings_set_language(0), 1); }

  static double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
  }

  static DavCollection collection(const StubServer& s) {
    DavCollection col;
    col.href = s.url() + "cal/";
    col.sync_token = "t0";
    return col;
  }
};

TEST_F(DavFaults, RefusalsEndWithTheirErrorAndMessage) {
  std::atomic<int> status{0};
  StubServer s([&](const StubRequest&) { return StubServer::answer(status.load(), "refused"); });
  struct Case {
    int status;
    int rc;
    const char* in_message;  // nullptr: no detail to show
  } cases[] = {
      {412, DAV_ERR_PRECONDITION, nullptr}, {507, DAV_ERR_QUOTA, nullptr}, {500, DAV_ERR_SERVER, "500"},
      {503, DAV_ERR_SERVER, "503"},         {404, DAV_ERR_NOT_FOUND, nullptr}, {410, DAV_ERR_NOT_FOUND, nullptr},
      {403, DAV_ERR_FORBIDDEN, nullptr},    {401, DAV_ERR_AUTH, nullptr},      {409, DAV_ERR_HTTP, "409"},
  };
  DavCollection col = collection(s);
  for (const Case& k : cases) {
    status = k.status;
    auto c = open_client(s.url(), "alice", "pw");
    DavResource r{col.href + "a.ics", "\"e1\"", event_text("a", "A")};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dav_put(c.get(), col, &r), k.rc) << k.status;
    EXPECT_LT(seconds_since(start), 2.0) << k.status;
    EXPECT_EQ(r.etag, "\"e1\"") << k.status;  // untouched
    std::string m = dav_error_message(*c, k.rc);
    EXPECT_EQ(m, ui_format(dav_message_id(k.rc), k.status)) << k.status;
    if (k.in_message) {
      EXPECT_NE(m.find(k.in_message), std::string::npos) << m;
    }
    // The other requests report the same.
    EXPECT_EQ(dav_delete(c.get(), r.href, r.etag), k.status == 404 || k.status == 410 ? 0 : k.rc) << k.status;
    DavChanges ch;
    EXPECT_EQ(dav_changes(c.get(), col, DavSyncState(), &ch), k.rc) << k.status;
  }
}

TEST_F(DavFaults, AWriteWithoutAStrongEtagReadsBackTheServersVersion) {
  std::mutex mu;
  std::string put_etag;
  StubServer s([&](const StubRequest& r) {
    std::lock_guard<std::mutex> g(mu);
    if (r.method == "PUT") return StubServer::answer(201, "", put_etag.empty() ? "" : "ETag: " + put_etag + "\r\n");
    return StubServer::answer(200, event_text("a", "As the server keeps it"), "ETag: \"stored\"\r\n");
  });
  struct Case {
    const char* put_etag;
    const char* etag;    // what the write reports
    bool read_back;      // with a GET, and the server's text
  } cases[] = {
      {"\"e2\"", "\"e2\"", false},
      {"", "\"stored\"", true},
      {"W/\"e2\"", "\"stored\"", true},
  };
  DavCollection col = collection(s);
  for (const Case& k : cases) {
    {
      std::lock_guard<std::mutex> g(mu);
      put_etag = k.put_etag;
    }
    auto c = open_client(s.url());
    size_t before = s.requests().size();
    DavResource r{col.href + "a.ics", "", event_text("a", "As sent")};
    ASSERT_EQ(dav_put(c.get(), col, &r), 0) << k.put_etag;
    EXPECT_EQ(r.etag, k.etag) << k.put_etag;
    std::vector<StubRequest> reqs = s.requests();
    ASSERT_EQ(reqs.size() - before, k.read_back ? 2u : 1u) << k.put_etag;
    EXPECT_EQ(reqs[before].header("If-None-Match"), "*");
    EXPECT_EQ(reqs[before].header("Content-Type"), "text/calendar; charset=utf-8");
    EXPECT_NE(r.data.find(k.read_back ? "As the server keeps it" : "As sent"), std::string::npos) << k.put_etag;
  }
}

// A multistatus answer of members (href, status, ETag), with the
// collection's own entry when `collection_status` is given.
std::string members(const std::vector<std::tuple<std::string, int, std::string>>& entries, const std::string& token,
                    int collection_status = 0) {
  std::string x = "<multistatus xmlns=\"DAV:\" xmlns:CS=\"http://calendarserver.org/ns/\">";
  if (!token.empty()) x += "<sync-token>" + token + "</sync-token>";
  if (collection_status)
    x += "<response><href>/cal/</href><status>HTTP/1.1 " + std::to_string(collection_status) + " X</status></response>";
  for (const auto& [href, status, etag] : entries) {
    x += "<response><href>" + href + "</href>";
    if (status == 200)
      x += "<propstat><prop><getetag>" + etag + "</getetag></prop><status>HTTP/1.1 200 OK</status></propstat>";
    else
      x += "<status>HTTP/1.1 " + std::to_string(status) + " X</status>";
    x += "</response>";
  }
  return x + "</multistatus>";
}

TEST_F(DavFaults, ATruncatedSyncAnswerIsContinuedFromItsToken) {
  StubServer s([](const StubRequest& r) {
    if (r.body.find("<d:sync-token>t0</d:sync-token>") != std::string::npos)
      return StubServer::answer(207, members({{"/cal/a.ics", 200, "\"a2\""}, {"/cal/b.ics", 404, ""}}, "t1", 507));
    if (r.body.find("<d:sync-token>t1</d:sync-token>") != std::string::npos)
      return StubServer::answer(207, members({{"/cal/c.ics", 200, "\"c1\""}, {"/cal/a.ics", 404, ""}}, "t2"));
    return StubServer::answer(400);
  });
  auto c = open_client(s.url());
  DavSyncState known;
  known.sync_token = "t0";
  DavChanges ch;
  ASSERT_EQ(dav_changes(c.get(), collection(s), known, &ch), 0);
  EXPECT_EQ(c->requests, 2);
  ASSERT_EQ(ch.changed.size(), 1u);
  EXPECT_EQ(ch.changed[0].href, s.url() + "cal/c.ics");
  EXPECT_EQ(ch.removed, (std::vector<std::string>{s.url() + "cal/a.ics", s.url() + "cal/b.ics"}));
  EXPECT_EQ(ch.sync_token, "t2");
  EXPECT_FALSE(ch.complete);
}

TEST_F(DavFaults, AServerWithoutSyncCollectionIsListedByEtags) {
  StubServer s([](const StubRequest& r) {
    if (r.method == "REPORT") return StubServer::answer(501);
    if (r.header("Depth") == "0")
      return StubServer::answer(
          207, "<multistatus xmlns=\"DAV:\" xmlns:CS=\"http://calendarserver.org/ns/\"><response><href>/cal/</href>"
               "<propstat><prop><CS:getctag>c9</CS:getctag></prop><status>HTTP/1.1 200 OK</status></propstat>"
               "</response></multistatus>");
    return StubServer::answer(207, members({{"/cal/a.ics", 200, "\"a1\""}, {"/cal/n.ics", 200, "\"n1\""}}, ""));
  });
  auto c = open_client(s.url());
  DavSyncState known;
  known.sync_token = "t0";
  known.etags[s.url() + "cal/a.ics"] = "\"a1\"";
  known.etags[s.url() + "cal/gone.ics"] = "\"g1\"";
  DavChanges ch;
  ASSERT_EQ(dav_changes(c.get(), collection(s), known, &ch), 0);
  EXPECT_EQ(c->requests, 3);
  EXPECT_TRUE(ch.complete);
  ASSERT_EQ(ch.changed.size(), 1u);
  EXPECT_EQ(ch.changed[0].href, s.url() + "cal/n.ics");
  EXPECT_EQ(ch.removed, std::vector<std::string>{s.url() + "cal/gone.ics"});
  EXPECT_EQ(ch.ctag, "c9");
}

TEST_F(DavFaults, AStallEndsAtTheStallTimeoutAndACancelSoonerWithNothingChanged) {
  StubServer s([](const StubRequest&) { return std::string(); });
  DavCollection col = collection(s);
  {
    auto c = open_client(s.url());
    c->stall_timeout = 1;
    DavResource r;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dav_get(c.get(), col.href + "a.ics", &r), DAV_ERR_TIMEOUT);
    EXPECT_LT(seconds_since(start), 4.0);
    EXPECT_FALSE(dav_error_message(*c, DAV_ERR_TIMEOUT).empty());
  }
  {
    auto c = open_client(s.url());
    c->stall_timeout = 60;
    DavSyncState known;
    known.sync_token = "t0";
    DavChanges ch;
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      c->cancel = true;
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dav_changes(c.get(), col, known, &ch), DAV_ERR_CANCELLED);
    canceller.join();
    EXPECT_LT(seconds_since(start), 3.0);
    EXPECT_TRUE(ch.changed.empty());
    EXPECT_TRUE(ch.sync_token.empty());
    // A cancelled client sends nothing more.
    long before = c->requests;
    DavResource r;
    EXPECT_EQ(dav_get(c.get(), col.href + "a.ics", &r), DAV_ERR_CANCELLED);
    EXPECT_EQ(c->requests, before);
  }
}

TEST_F(DavFaults, RedirectsToAnotherHostAreRefusedBeforeAnythingReachesIt) {
  // The other host: 127.0.0.2 is loopback too, but not the account's host.
  StubServer other([](const StubRequest&) { return StubServer::answer(207, kMultistatus); }, "127.0.0.2");
  const std::string elsewhere = other.url() + "dav/";
  StubServer s([&](const StubRequest& r) {
    if (r.path == "/loop") return StubServer::answer(302, "", "Location: /loop\r\n");
    if (r.path == "/down") return StubServer::answer(302, "", "Location: /cal/\r\n");
    return StubServer::answer(301, "", "Location: " + elsewhere + "\r\n");
  });
  auto c = open_client(s.url(), "alice", "pw");
  DavDiscovery d;
  EXPECT_EQ(dav_discover(c.get(), &d), DAV_ERR_OTHER_HOST);
  EXPECT_EQ(c->refused_url, elsewhere);
  std::string m = dav_error_message(*c, DAV_ERR_OTHER_HOST);
  EXPECT_NE(m.find(elsewhere), std::string::npos) << m;
  EXPECT_TRUE(other.requests().empty());

  // A redirect that never ends.
  DavResource r;
  EXPECT_EQ(dav_get(c.get(), "/loop", &r), DAV_ERR_PROTOCOL);
  EXPECT_LE(s.requests().size(), 12u);
}

TEST_F(DavFaults, AnswersTooLargeOrBrokenAreRefused) {
  std::atomic<int> mode{0};
  StubServer s([&](const StubRequest&) -> std::string {
    switch (mode.load()) {
      case 0: return StubServer::answer(207, std::string(4000, 'x'));
      case 1: return StubServer::answer(207, "<multistatus xmlns=\"DAV:\"><response>");
      case 2: return StubServer::answer(207, "<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><x>&e;</x>");
      case 3: return "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort";
      default: return "garbage\r\n\r\n";
    }
  });
  struct Case {
    int mode;
    int rc;
  } cases[] = {
      {0, DAV_ERR_TOO_LARGE}, {1, DAV_ERR_PROTOCOL}, {2, DAV_ERR_PROTOCOL}, {3, DAV_ERR_NETWORK}, {4, DAV_ERR_PROTOCOL},
  };
  DavCollection col = collection(s);
  for (const Case& k : cases) {
    mode = k.mode;
    auto c = open_client(s.url());
    c->max_response = 1000;
    DavChanges ch;
    EXPECT_EQ(dav_changes(c.get(), col, DavSyncState(), &ch), k.rc) << k.mode;
    EXPECT_TRUE(ch.changed.empty());
  }
}

TEST_F(DavFaults, NoServerAtTheAddress) {
  int port = free_port();
  auto c = open_client("http://127.0.0.1:" + std::to_string(port) + "/");
  DavDiscovery d;
  EXPECT_EQ(dav_discover(c.get(), &d), DAV_ERR_CONNECT);
  EXPECT_NE(dav_error_message(*c, DAV_ERR_CONNECT).find("127.0.0.1"), std::string::npos);

  // A web server that is no calendar service, and one that fails on all.
  std::atomic<int> status{404};
  StubServer s([&](const StubRequest&) { return StubServer::answer(status.load(), "<html/>"); });
  c = open_client(s.url());
  EXPECT_EQ(dav_discover(c.get(), &d), DAV_ERR_NO_SERVICE);
  status = 500;
  EXPECT_EQ(dav_discover(c.get(), &d), DAV_ERR_SERVER);
}

// The password travels only after the server asked over plain http, in the
// scheme the server asked for, and never reaches the log.
TEST_F(DavFaults, ThePasswordGoesOnlyWhereAskedAndNeverIntoTheLog) {
  std::mutex mu;
  std::string challenge;
  StubServer s([&](const StubRequest& r) {
    std::lock_guard<std::mutex> g(mu);
    if (r.header("Authorization").empty())
      return StubServer::answer(401, "", "WWW-Authenticate: " + challenge + "\r\n");
    return StubServer::answer(207, kMultistatus);
  });
  // Kept to the end of the program: the log goes on there after this test.
  static test_support::TempDir logs("ordika-dav-log");
  log_set_file(logs.file("dav.log").c_str());
  int level = log_get_level();
  log_set_level(LOG_DEBUG);

  const std::string password = "Pw-d0-not-leak";
  struct Case {
    const char* challenge;
    const char* scheme;  // of the second request's Authorization
  } cases[] = {
      {"Basic realm=\"dav\"", "Basic "},
      {"Digest realm=\"dav\", nonce=\"abc\", qop=\"auth\"", "Digest username=\"alice\""},
      {"Basic realm=\"dav\", Digest realm=\"dav\", nonce=\"abc\", qop=\"auth\"", "Digest username=\"alice\""},
  };
  size_t seen = 0;
  for (const Case& k : cases) {
    {
      std::lock_guard<std::mutex> g(mu);
      challenge = k.challenge;
    }
    auto c = open_client("http://alice:" + password + "@127.0.0.1:" + std::to_string(s.port()) + "/", "alice",
                         password);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->url.find(password), std::string::npos);
    DavChanges ch;
    EXPECT_EQ(dav_changes(c.get(), collection(s), DavSyncState(), &ch), 0) << k.challenge;
    // Digest takes one more round for its own challenge.
    std::vector<StubRequest> reqs = s.requests();
    ASSERT_GE(reqs.size(), seen + 2) << k.challenge;
    ASSERT_LE(reqs.size(), seen + 3) << k.challenge;
    EXPECT_EQ(reqs[seen].header("Authorization"), "") << k.challenge;
    EXPECT_EQ(reqs.back().header("Authorization").rfind(k.scheme, 0), 0u)
        << k.challenge << ": " << reqs.back().header("Authorization");
    for (size_t i = seen; i < reqs.size(); i++) EXPECT_EQ(reqs[i].headers.find(password), std::string::npos);
    // Later requests answer the known scheme at once.
    size_t before = reqs.size();
    EXPECT_EQ(dav_changes(c.get(), collection(s), DavSyncState(), &ch), 0) << k.challenge;
    reqs = s.requests();
    EXPECT_EQ(reqs.size() - before, 1u) << k.challenge;
    EXPECT_EQ(reqs.back().header("Authorization").rfind(k.scheme, 0), 0u) << k.challenge;
    seen = reqs.size();
  }
  // A refused password is not sent again and again.
  {
    std::lock_guard<std::mutex> g(mu);
    challenge = "Basic realm=\"dav\"";
  }
  StubServer refusing([](const StubRequest&) { return StubServer::answer(401, "", "WWW-Authenticate: Basic\r\n"); });
  auto c = open_client(refusing.url(), "alice", password);
  DavResource r;
  EXPECT_EQ(dav_get(c.get(), "/a.ics", &r), DAV_ERR_AUTH);
  EXPECT_EQ(refusing.requests().size(), 2u);

  ASSERT_EQ(log_flush(), 0);
  std::string log = test_support::read_file(logs.file("dav.log"));
  EXPECT_NE(log.find("dav_send"), std::string::npos);
  EXPECT_EQ(log.find(password), std::string::npos);
  EXPECT_EQ(log.find("YWxpY2U6UHctZDAtbm90LWxlYWs"), std::string::npos);  // base64 of "alice:Pw-d0-not-leak"
  log_set_level(level);
}

}  // namespace
