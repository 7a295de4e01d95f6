// SPDX-License-Identifier: GPL-3.0-or-later
// Radicale over https with a self-signed certificate made for another name:
// refused at first with the fingerprint it showed, trusted once the user
// confirms that fingerprint, and refused again when the server shows
// another certificate.
#include <gtest/gtest.h>

#include <string>

#include "dav/dav_suite.h"
#include "support/strings.h"

namespace {

using namespace dav_test;

class DavTls : public ServerSuite<Radicale, DavTls> {
 protected:
  static void SetUpTestSuite() {
    start_server({"radicale"}, [](Radicale* s) { return access("/usr/bin/openssl", X_OK) == 0 && s->start(true); });
  }
  void SetUp() override {
    ServerSuite::SetUp();
    ASSERT_EQ(strings_set_language(0), 1);
  }
};

TEST_F(DavTls, ASelfSignedServerIsRefusedThenTrustedByItsFingerprint) {
  const std::string fp = server_->certificate().fingerprint;
  ASSERT_EQ(fp.size(), 95u);
  // A bare host and port means https.
  auto first = open_client(server_->host(), Radicale::kUser, Radicale::kPassword);
  ASSERT_TRUE(first);
  DavDiscovery d;
  EXPECT_EQ(dav_discover(first.get(), &d), DAV_ERR_TLS_UNTRUSTED);
  EXPECT_EQ(first->fingerprint, fp);
  std::string message = dav_error_message(*first, DAV_ERR_TLS_UNTRUSTED);
  EXPECT_NE(message.find(fp), std::string::npos) << message;
  EXPECT_NE(message.find("127.0.0.1"), std::string::npos) << message;

  // The fingerprint as the user may paste it: lower case, without colons.
  std::string pasted;
  for (char ch : fp)
    if (ch != ':') pasted += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (const std::string& trusted : {fp, pasted}) {
    auto c = open_client(server_->host(), Radicale::kUser, Radicale::kPassword, trusted);
    ASSERT_TRUE(c);
    c->stall_timeout = 60;
    ASSERT_EQ(make_collection(c.get(), server_->url() + "alice/secure/", true, "Secure"), 0);
    ASSERT_EQ(dav_discover(c.get(), &d), 0) << dav_error_message(*c, DAV_ERR_TLS_UNTRUSTED);
    ASSERT_EQ(d.collections.size(), 1u);
    EXPECT_EQ(d.collections[0].href, server_->url() + "alice/secure/");
    // The password went over the encrypted connection with the first request.
    EXPECT_EQ(c->fingerprint, fp);
    // Tidy up for the next round.
    DavRequest del;
    del.method = "DELETE";
    del.url = d.collections[0].href;
    DavReply reply;
    ASSERT_EQ(dav_send(c.get(), del, &reply), 0);
  }
}

TEST_F(DavTls, AnotherCertificateThanTheTrustedOneIsRefused) {
  std::string other = std::string(95, '0');
  for (size_t i = 2; i < other.size(); i += 3) other[i] = ':';
  auto c = open_client(server_->url(), Radicale::kUser, Radicale::kPassword, other);
  ASSERT_TRUE(c);
  DavDiscovery d;
  EXPECT_EQ(dav_discover(c.get(), &d), DAV_ERR_TLS_UNTRUSTED);
  EXPECT_EQ(c->fingerprint, server_->certificate().fingerprint);
  // Nothing was sent: the handshake failed before the first request.
  EXPECT_EQ(c->status, 0);
}

TEST_F(DavTls, PlainHttpToTheHttpsPortIsNoSecureConnection) {
  // And https to a plain server: no handshake at all.
  StubServer plain([](const StubRequest&) { return StubServer::answer(200); });
  auto c = open_client("https://127.0.0.1:" + std::to_string(plain.port()) + "/");
  DavResource r;
  EXPECT_EQ(dav_get(c.get(), "/x.ics", &r), DAV_ERR_TLS);
  EXPECT_TRUE(c->fingerprint.empty());
}

}  // namespace
