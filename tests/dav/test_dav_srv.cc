// SPDX-License-Identifier: GPL-3.0-or-later
// Discovery from a domain alone through real DNS: Debian's dnsmasq on
// loopback answers the SRV and TXT records of test domains, naming Radicale
// over https (a self-signed certificate) behind a server that is down.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dav/dav_suite.h"
#include "support/strings.h"
#include "sync/dav_srv.h"

namespace {

using namespace dav_test;

constexpr const char* kDnsmasq = "/usr/sbin/dnsmasq";

// Radicale, and the name server of the test domains:
//   example.test: calendars at a dead port (priority 0), then at Radicale
//     (priority 10) with the context path /alice/; address books at
//     Radicale;
//   none.test: both services decidedly not offered (target ".");
//   down.test: calendars at the dead port only.
struct SrvWorld {
  Radicale radicale;
  Process dns;
  int dns_port = 0, dead_port = 0;
  test_support::TempDir dir{"ordika-dnsmasq"};

  bool start() {
    if (access(kDnsmasq, X_OK) != 0 || access("/usr/bin/openssl", X_OK) != 0 || !radicale.start(true)) return false;
    auto alice = open_client(radicale.url(), Radicale::kUser, Radicale::kPassword, radicale.certificate().fingerprint);
    if (!alice || make_collection(alice.get(), radicale.url() + "alice/found/", true, "Found by SRV") != 0)
      return false;
    dead_port = free_port();
    std::string port = std::to_string(radicale.port());
    for (int attempt = 0; attempt < 3; attempt++) {
      dns_port = free_port();
      std::vector<std::string> args = {kDnsmasq, "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv",
                                       "--no-hosts", "--pid-file=", "--log-facility=-", "--bind-interfaces",
                                       "--listen-address=127.0.0.1", "--port=" + std::to_string(dns_port),
                                       // Names of .test without records: no such name, from here.
                                       "--local=/test/",
                                       "--srv-host=_caldavs._tcp.example.test,localhost," + std::to_string(dead_port) +
                                           ",0,0",
                                       "--srv-host=_caldavs._tcp.example.test,localhost," + port + ",10,0",
                                       "--txt-record=_caldavs._tcp.example.test,path=/alice/",
                                       "--srv-host=_carddavs._tcp.example.test,localhost," + port + ",0,0",
                                       "--srv-host=_caldavs._tcp.none.test", "--srv-host=_carddavs._tcp.none.test",
                                       "--srv-host=_caldavs._tcp.down.test,localhost," + std::to_string(dead_port)};
      // As root it would change to its own user; the test's is as good.
      if (geteuid() == 0) args.push_back("--user=root");
      if (dns.start(args, dir.file("dnsmasq.log"), dns_port)) return true;
    }
    return false;
  }
};

class DavSrv : public ServerSuite<SrvWorld, DavSrv> {
 protected:
  static void SetUpTestSuite() {
    start_server({"radicale"}, [](SrvWorld* w) { return w->start(); });
  }
  void SetUp() override {
    ServerSuite::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(strings_set_language(0), 1);
    dns_ = dav_dns_at("127.0.0.1", server_->dns_port);
  }
  // A client for the address that asks the test's name server.
  std::unique_ptr<DavClient> client(const std::string& address, const std::string& fingerprint) {
    auto c = open_client(address, Radicale::kUser, Radicale::kPassword, fingerprint);
    if (c) c->dns = &dns_;
    return c;
  }
  DavDns dns_;
};

TEST_F(DavSrv, ADomainAloneFindsTheCollectionsOnTheServerItsRecordsName) {
  // The user's mail address as the server works as the domain does.
  for (const char* address : {"example.test", "alice@example.test"}) {
    auto c = client(address, server_->radicale.certificate().fingerprint);
    ASSERT_TRUE(c);
    DavDiscovery d;
    ASSERT_EQ(dav_discover(c.get(), &d), 0) << dav_error_message(*c, DAV_ERR_NO_SERVICE);
    // The server of the record that answered, from its context path, is
    // the account's address now: the dead one of higher priority was tried
    // first and passed over.
    std::string base = "https://localhost:" + std::to_string(server_->radicale.port()) + "/";
    EXPECT_EQ(c->host, "localhost");
    EXPECT_EQ(c->url, base + "alice/");
    ASSERT_EQ(d.collections.size(), 1u) << address;
    EXPECT_EQ(d.collections[0].display_name, "Found by SRV");
    EXPECT_EQ(d.collections[0].href, base + "alice/found/");
  }
}

TEST_F(DavSrv, TheCertificateMustMatchTheServerTheRecordsName) {
  auto c = client("example.test", "");
  ASSERT_TRUE(c);
  DavDiscovery d;
  EXPECT_EQ(dav_discover(c.get(), &d), DAV_ERR_TLS_UNTRUSTED);
  EXPECT_EQ(c->fingerprint, server_->radicale.certificate().fingerprint);
  std::string message = dav_error_message(*c, DAV_ERR_TLS_UNTRUSTED);
  EXPECT_NE(message.find("localhost"), std::string::npos) << message;
}

TEST_F(DavSrv, ADomainWhoseRecordsOfferNoServiceIsNotAskedAtAll) {
  auto c = client("none.test", server_->radicale.certificate().fingerprint);
  ASSERT_TRUE(c);
  DavDiscovery d;
  EXPECT_EQ(dav_discover(c.get(), &d), DAV_ERR_NO_SERVICE);
  EXPECT_EQ(c->requests, 0);
  EXPECT_EQ(c->host, "none.test");
}

TEST_F(DavSrv, WhenTheServerOfTheRecordsIsDownItsErrorIsTheOneShown) {
  // The domain's own host was asked too, and is no host at all.
  auto c = client("down.test", server_->radicale.certificate().fingerprint);
  ASSERT_TRUE(c);
  DavDiscovery d;
  EXPECT_EQ(dav_discover(c.get(), &d), DAV_ERR_CONNECT);
  EXPECT_EQ(c->host, "localhost");
}

}  // namespace
