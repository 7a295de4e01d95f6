// SPDX-License-Identifier: GPL-3.0-or-later
// A domain's servers from its SRV and TXT records, without a name server:
// which addresses count as a domain, how answers parse, the order of the
// records, the context path, and the addresses a lookup yields.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sync/dav_discover.h"
#include "sync/dav_http.h"
#include "sync/dav_srv.h"

namespace {

TEST(DavUnitSrv, OnlyADomainAloneIsLookedUp) {
  struct Case {
    const char* typed;
    const char* domain;
    bool plain;
  } cases[] = {
      {"example.org", "example.org", false},
      {"https://Example.ORG/", "example.org", false},
      {"http://example.org", "example.org", true},
      {"alice@example.org", "example.org", false},
      {"example.org:8443", "", false},
      {"http://example.org/dav/", "", true},
      {"127.0.0.1", "", false},
      {"[::1]", "", false},
      {"localhost", "", false},
  };
  for (const Case& k : cases) {
    DavClient c;
    DavAccount a;
    a.url = k.typed;
    ASSERT_EQ(dav_open(&c, a), 0) << k.typed;
    EXPECT_EQ(c.domain, k.domain) << k.typed;
    EXPECT_EQ(c.domain_plain, k.plain) << k.typed;
  }
}

TEST(DavUnitSrv, TheAddressComesFromTheServerElseFromAMailStyleUserName) {
  struct Case {
    const char* server;
    const char* user;
    const char* address;
  } cases[] = {
      {"dav.example.org", "alice", "dav.example.org"},
      {"  dav.example.org ", "alice@example.org", "dav.example.org"},
      {"", "alice@example.org", "example.org"},
      {" ", "alice@mail.example.org ", "mail.example.org"},
      {"", "alice", ""},
      {"", "alice@localhost", ""},
      {"", "alice@", ""},
      {"", "alice@exa mple.org", ""},
  };
  for (const Case& k : cases)
    EXPECT_EQ(dav_account_address(k.server, k.user), k.address) << "'" << k.server << "' '" << k.user << "'";
}

// A DNS answer message: header, the question, and the answer records
// (their owner a pointer to the question's name).
struct Message {
  std::vector<unsigned char> bytes;
  int answers = 0;

  explicit Message(const std::string& name, int type) {
    bytes = {0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0};
    put_name(name);
    put16(type);
    put16(1);
  }
  void put16(int v) {
    bytes.push_back(static_cast<unsigned char>(v >> 8));
    bytes.push_back(static_cast<unsigned char>(v & 0xff));
  }
  void put_name(const std::string& name) {
    size_t start = 0;
    while (start < name.size()) {
      size_t dot = name.find('.', start);
      if (dot == std::string::npos) dot = name.size();
      bytes.push_back(static_cast<unsigned char>(dot - start));
      bytes.insert(bytes.end(), name.begin() + static_cast<long>(start), name.begin() + static_cast<long>(dot));
      start = dot + 1;
    }
    bytes.push_back(0);
  }
  void answer(int type, const std::vector<unsigned char>& rdata) {
    put16(0xc00c);
    put16(type);
    put16(1);
    bytes.insert(bytes.end(), {0, 0, 0, 60});
    put16(static_cast<int>(rdata.size()));
    bytes.insert(bytes.end(), rdata.begin(), rdata.end());
    bytes[7] = static_cast<unsigned char>(++answers);
  }
};

std::vector<unsigned char> srv_rdata(int priority, int weight, int port, const std::string& target) {
  Message m("", 0);  // only for its name encoding
  m.bytes.clear();
  m.put16(priority);
  m.put16(weight);
  m.put16(port);
  if (target == ".") m.bytes.push_back(0);
  else m.put_name(target);
  return m.bytes;
}

TEST(DavUnitSrv, AnswersParseOrAreRefused) {
  const std::string q = "_caldavs._tcp.example.org";
  Message two(q, 33);
  two.answer(33, srv_rdata(10, 60, 8443, "Dav.Example.org"));
  two.answer(16, {4, 'a', '=', 'b', 'c'});  // another type is skipped
  two.answer(33, srv_rdata(20, 0, 443, "."));
  Message short_rdata(q, 33);
  short_rdata.answer(33, {0, 1, 0, 2, 0x01});
  Message cut = two;
  cut.bytes.resize(cut.bytes.size() - 3);

  struct Case {
    const char* what;
    const Message* m;
    int rc;
    std::vector<std::string> got;  // "priority weight port target"
  } cases[] = {
      {"two records", &two, 0, {"10 60 8443 dav.example.org", "20 0 443 ."}},
      {"rdata too short", &short_rdata, -1, {}},
      {"message cut off", &cut, -1, {}},
  };
  for (const Case& k : cases) {
    std::vector<DavSrvRecord> out;
    EXPECT_EQ(dav_dns_parse_srv(k.m->bytes.data(), k.m->bytes.size(), &out), k.rc) << k.what;
    if (k.rc) continue;
    std::vector<std::string> got;
    for (const DavSrvRecord& r : out)
      got.push_back(std::to_string(r.priority) + " " + std::to_string(r.weight) + " " + std::to_string(r.port) + " " +
                    r.target);
    EXPECT_EQ(got, k.got) << k.what;
  }

  Message txt(q, 16);
  txt.answer(16, {10, 'p', 'a', 't', 'h', '=', '/', 'd', 'a', 'v', '/', 3, 'x', '=', 'y'});
  std::vector<std::string> strings;
  ASSERT_EQ(dav_dns_parse_txt(txt.bytes.data(), txt.bytes.size(), &strings), 0);
  EXPECT_EQ(strings, (std::vector<std::string>{"path=/dav/", "x=y"}));
  Message overlong(q, 16);
  overlong.answer(16, {9, 'p', 'a', 't', 'h'});
  EXPECT_EQ(dav_dns_parse_txt(overlong.bytes.data(), overlong.bytes.size(), &strings), -1);
}

// Draws from a list, then 0.
struct Draws {
  std::deque<uint32_t> values;
  uint32_t operator()(uint32_t) {
    uint32_t v = values.empty() ? 0 : values.front();
    if (!values.empty()) values.pop_front();
    return v;
  }
};

TEST(DavUnitSrv, RecordsGoByPriorityThenByWeightedDraw) {
  struct Case {
    const char* what;
    std::vector<DavSrvRecord> records;  // target names the record
    std::deque<uint32_t> draws;
    std::vector<std::string> order;
  } cases[] = {
      {"priority first", {{20, 0, 1, "b"}, {10, 0, 1, "a"}, {30, 0, 1, "c"}}, {}, {"a", "b", "c"}},
      {"a draw past the first weight", {{0, 60, 1, "a"}, {0, 40, 1, "b"}}, {61}, {"b", "a"}},
      {"a draw within the first weight", {{0, 60, 1, "a"}, {0, 40, 1, "b"}}, {60}, {"a", "b"}},
      {"weight 0 only on a draw of 0", {{0, 10, 1, "a"}, {0, 0, 1, "zero"}}, {0}, {"zero", "a"}},
      {"weight 0 passed over", {{0, 10, 1, "a"}, {0, 0, 1, "zero"}}, {1}, {"a", "zero"}},
      {"the draw's whole range", {{0, 1, 1, "a"}, {0, 1, 1, "b"}, {0, 1, 1, "c"}}, {3, 2}, {"c", "b", "a"}},
  };
  for (Case& k : cases) {
    Draws d{k.draws};
    std::vector<std::string> got;
    for (const DavSrvRecord& r : dav_srv_order(k.records, std::ref(d))) got.push_back(r.target);
    EXPECT_EQ(got, k.order) << k.what;
  }
}

TEST(DavUnitSrv, TheContextPathIsAnAbsolutePathOrNothing) {
  struct Case {
    std::vector<std::string> strings;
    const char* path;
  } cases[] = {
      {{"path=/dav/"}, "/dav/"},
      {{"txtvers=1", "PATH=/caldav"}, "/caldav"},
      {{"path=dav/"}, ""},
      {{"path="}, ""},
      {{"path=/a b/"}, ""},
      {{"path=/dav/?x"}, ""},
      {{"path=//other.example/"}, "//other.example/"},  // a path; it cannot name a host on its own
      {{}, ""},
  };
  for (const Case& k : cases) EXPECT_EQ(dav_txt_path(k.strings), k.path) << (k.strings.empty() ? "" : k.strings[0]);
}

TEST(DavUnitSrv, ALookupYieldsTheServersAddressesInOrder) {
  const std::string cal = "_caldavs._tcp.example.org", card = "_carddavs._tcp.example.org";
  struct Case {
    const char* what;
    bool plain;
    std::map<std::string, std::vector<DavSrvRecord>> srv;
    std::vector<std::string> urls;
  } cases[] = {
      {"no records", false, {}, {}},
      {"both services on one server, the default port",
       false,
       {{cal, {{0, 0, 443, "dav.example.org"}}}, {card, {{0, 0, 443, "dav.example.org"}}}},
       {"https://dav.example.org/"}},
      {"calendars before address books, priorities within",
       false,
       {{card, {{0, 0, 443, "card.example.org"}}}, {cal, {{5, 0, 443, "b.example.org"}, {1, 0, 443, "a.example.org"}}}},
       {"https://a.example.org/", "https://b.example.org/", "https://card.example.org/"}},
      {"plain services only for an http address", false, {{"_caldav._tcp.example.org", {{0, 0, 80, "d.example.org"}}}},
       {}},
      {"plain services after the secure ones",
       true,
       {{"_caldav._tcp.example.org", {{0, 0, 8080, "dav.example.org"}}}, {cal, {{0, 0, 443, "dav.example.org"}}}},
       {"https://dav.example.org/", "http://dav.example.org:8080/"}},
      {"one refused, the other there",
       false,
       {{cal, {{0, 0, 0, "."}}}, {card, {{0, 0, 443, "card.example.org"}}}},
       {"https://card.example.org/"}},
      // Not refused: the domain's own host is still worth a try.
      {"one refused, the other silent", false, {{cal, {{0, 0, 0, "."}}}}, {}},
      {"unusable records skipped",
       false,
       {{cal, {{0, 0, 443, "evil.example/x@"}, {1, 0, 0, "noport.example.org"}, {2, 0, 443, "ok.example.org"}}}},
       {"https://ok.example.org/"}},
  };
  for (const Case& k : cases) {
    DavDns dns;
    std::vector<std::string> asked;
    dns.srv = [&](const std::string& name, std::vector<DavSrvRecord>* out) {
      asked.push_back(name);
      auto it = k.srv.find(name);
      if (it != k.srv.end()) *out = it->second;
      return 0;
    };
    DavServices found;
    dav_srv_lookup(dns, "example.org", k.plain, &found);
    EXPECT_EQ(found.urls, k.urls) << k.what;
    EXPECT_FALSE(found.refused) << k.what;
    EXPECT_EQ(asked.size(), k.plain ? 4u : 2u) << k.what;
  }
}

}  // namespace
