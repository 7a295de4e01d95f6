// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the calendar and contacts client that need no server: what
// it makes of addresses, fingerprints, colours and statuses, how it reads
// multistatus answers whatever their prefixes, what it refuses to parse,
// and the messages of its errors.
#include <gtest/gtest.h>

#include <string>

#include "support/strings.h"
#include "sync/dav_discover.h"
#include "sync/dav_http.h"
#include "sync/dav_items.h"
#include "sync/dav_xml.h"

namespace {

TEST(DavUnit, AddressesAreNormalizedOrRefused) {
  struct Case {
    const char* typed;
    const char* url;  // nullptr: refused
  } cases[] = {
      {"dav.example.org", "https://dav.example.org/"},
      {"  DAV.Example.ORG  ", "https://dav.example.org/"},
      {"dav.example.org:8443/dav/", "https://dav.example.org:8443/dav/"},
      {"http://127.0.0.1:5232", "http://127.0.0.1:5232/"},
      {"HTTPS://host/Cal%20Path/", "https://host/Cal%20Path/"},
      {"https://alice:pw@host/dav/", "https://host/dav/"},
      {"https://host/dav/?x=1#frag", "https://host/dav/"},
      {"https://[::1]:8443/", "https://[::1]:8443/"},
      {"ftp://host/", nullptr},
      {"", nullptr},
      {"two words", nullptr},
      {"https://", nullptr},
      {"http://host:99999/", nullptr},
  };
  for (const Case& k : cases) {
    std::string out;
    int rc = dav_normalize_url(k.typed, &out);
    if (k.url) {
      EXPECT_EQ(rc, 0) << k.typed;
      EXPECT_EQ(out, k.url) << k.typed;
    } else {
      EXPECT_EQ(rc, DAV_ERR_BAD_URL) << k.typed << " gave " << out;
    }
  }
}

TEST(DavUnit, FingerprintsParseWithOrWithoutColonsAndPrintAsOpenSslDoes) {
  const std::string colons =
      "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
  struct Case {
    std::string text;
    bool ok;
  } cases[] = {
      {colons, true},
      {"abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789", true},
      {"ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89", true},
      {colons.substr(3), false},                // 31 bytes
      {colons + ":00", false},                  // 33 bytes
      {"A:BCD" + colons.substr(5), false},      // a separator inside a pair
      {"XY" + colons.substr(2), false},         // not hex
      {"", false},
  };
  for (const Case& k : cases) {
    uint8_t fp[32];
    ASSERT_EQ(dav_parse_fingerprint(k.text, fp), k.ok) << k.text;
    if (k.ok) {
      EXPECT_EQ(dav_format_fingerprint(fp), colons) << k.text;
    }
  }
}

TEST(DavUnit, AccountOpensOnlyWithAnAddressAndAWellFormedFingerprint) {
  struct Case {
    const char* url;
    const char* fingerprint;
    int rc;
  } cases[] = {
      {"dav.example.org", "", 0},
      {"dav.example.org", "00:11", DAV_ERR_BAD_FINGERPRINT},
      {"file:///etc/passwd", "", DAV_ERR_BAD_URL},
  };
  for (const Case& k : cases) {
    DavClient c;
    DavAccount a{k.url, "alice", "pw", k.fingerprint};
    EXPECT_EQ(dav_open(&c, a), k.rc) << k.url;
  }
}

TEST(DavUnit, ReferencesResolveOnlyOnTheAccountsHost) {
  DavClient c;
  ASSERT_EQ(dav_open(&c, DavAccount{"https://dav.example.org/dav/", "", "", ""}), 0);
  struct Case {
    const char* base;
    const char* ref;
    const char* url;  // nullptr: refused as another host
  } cases[] = {
      {"https://dav.example.org/dav/", "/alice/", "https://dav.example.org/alice/"},
      {"https://dav.example.org/dav/", "cal/", "https://dav.example.org/dav/cal/"},
      {"https://dav.example.org/dav/", "https://DAV.example.org:8443/x/", "https://DAV.example.org:8443/x/"},
      {"https://dav.example.org/dav/", "https://evil.example.org/x/", nullptr},
      {"https://dav.example.org/dav/", "//evil.example.org/x/", nullptr},
      {"https://dav.example.org/dav/", "http://dav.example.org/x/", nullptr},  // no way down to plain http
      {"https://dav.example.org/dav/", "https://alice@dav.example.org/x/", nullptr},
  };
  for (const Case& k : cases) {
    std::string out;
    int rc = dav_resolve(&c, k.base, k.ref, &out);
    if (k.url) {
      EXPECT_EQ(rc, 0) << k.ref;
      EXPECT_EQ(out, k.url) << k.ref;
    } else {
      EXPECT_EQ(rc, DAV_ERR_OTHER_HOST) << k.ref;
      EXPECT_FALSE(c.refused_url.empty()) << k.ref;
    }
  }
}

TEST(DavUnit, ColoursKindsAndNewAddresses) {
  EXPECT_EQ(dav_normalize_color("#ff8000"), "#FF8000");
  EXPECT_EQ(dav_normalize_color("#FF8000CC"), "#FF8000");
  for (const char* bad : {"", "red", "#ff80", "#ff8000c", "ff8000", "#gg8000"})
    EXPECT_EQ(dav_normalize_color(bad), "") << bad;

  DavCollection col;
  col.href = "https://h/alice/cal/";
  struct Case {
    int kind, components;
    const char* name;
  } kinds[] = {
      {DAV_KIND_CALENDAR, DAV_COMP_EVENT, "events"},
      {DAV_KIND_CALENDAR, DAV_COMP_TODO, "tasks"},
      {DAV_KIND_CALENDAR, DAV_COMP_EVENT | DAV_COMP_TODO, "events+tasks"},
      {DAV_KIND_ADDRESSBOOK, 0, "contacts"},
  };
  for (const Case& k : kinds) {
    col.kind = k.kind;
    col.components = k.components;
    EXPECT_STREQ(dav_collection_kind_name(col), k.name);
  }

  col.kind = DAV_KIND_CALENDAR;
  EXPECT_EQ(dav_new_href(col, "a1-B2_c.3~"), "https://h/alice/cal/a1-B2_c.3~.ics");
  EXPECT_EQ(dav_new_href(col, "x/y@z é"), "https://h/alice/cal/x%2Fy%40z%20%C3%A9.ics");
  col.kind = DAV_KIND_ADDRESSBOOK;
  col.href = "https://h/alice/book";
  EXPECT_EQ(dav_new_href(col, "u"), "https://h/alice/book/u.vcf");

  EXPECT_TRUE(dav_same_resource("https://h/a%40b/cal/", "https://h/a@b/cal"));
  EXPECT_FALSE(dav_same_resource("https://h/a/cal/", "https://h/a/cal2/"));
}

// The same answer under three prefix styles reads the same.
TEST(DavUnit, MultistatusIsReadByNamespaceWhateverThePrefixes) {
  const char* docs[] = {
      R"(<?xml version="1.0"?>
<multistatus xmlns="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav" xmlns:CS="http://calendarserver.org/ns/"
 xmlns:I="http://apple.com/ns/ical/" xmlns:R="urn:ietf:params:xml:ns:carddav">
<sync-token>tok-2</sync-token>
<response><href>/alice/cal/</href>
 <propstat><prop><resourcetype><collection/><C:calendar/></resourcetype><displayname> Work </displayname>
  <I:calendar-color>#336699FF</I:calendar-color>
  <C:supported-calendar-component-set><C:comp name="VEVENT"/><C:comp name="VTODO"/><C:comp name="VJOURNAL"/></C:supported-calendar-component-set>
  <current-user-privilege-set><privilege><read/></privilege></current-user-privilege-set>
  <sync-token>tok-1</sync-token><CS:getctag>"c1"</CS:getctag></prop><status>HTTP/1.1 200 OK</status></propstat>
 <propstat><prop><getetag/></prop><status>HTTP/1.1 404 Not Found</status></propstat></response>
<response><href>/alice/cal/a.ics</href><propstat><prop><getetag>"e1"</getetag>
 <C:calendar-data>BEGIN:VCALENDAR&#13;
END:VCALENDAR&#13;
</C:calendar-data></prop><status>HTTP/1.1 200 OK</status></propstat></response>
<response><href>/alice/cal/gone.ics</href><status>HTTP/1.1 404 Not Found</status></response>
<response><href>/alice/</href><propstat><prop><current-user-principal><href>/alice/</href></current-user-principal>
 <C:calendar-home-set><href>/alice/</href><href>/shared/</href></C:calendar-home-set>
 <R:addressbook-home-set><href>/alice/books/</href></R:addressbook-home-set>
 <resourcetype><principal/><collection/></resourcetype></prop><status>HTTP/1.1 200 OK</status></propstat></response>
</multistatus>)",
      R"(<ns0:multistatus xmlns:ns0="DAV:" xmlns:ns1="urn:ietf:params:xml:ns:caldav" xmlns:ns2="http://calendarserver.org/ns/" xmlns:ns3="http://apple.com/ns/ical/" xmlns:ns4="urn:ietf:params:xml:ns:carddav"><ns0:sync-token>tok-2</ns0:sync-token><ns0:response><ns0:href>/alice/cal/</ns0:href><ns0:propstat><ns0:status>HTTP/1.1 200 OK</ns0:status><ns0:prop><ns0:resourcetype><ns0:collection/><ns1:calendar/></ns0:resourcetype><ns0:displayname>Work</ns0:displayname><ns3:calendar-color>#336699FF</ns3:calendar-color><ns1:supported-calendar-component-set><ns1:comp name="VEVENT"/><ns1:comp name="VTODO"/><ns1:comp name="VJOURNAL"/></ns1:supported-calendar-component-set><ns0:current-user-privilege-set><ns0:privilege><ns0:read/></ns0:privilege></ns0:current-user-privilege-set><ns0:sync-token>tok-1</ns0:sync-token><ns2:getctag>"c1"</ns2:getctag></ns0:prop></ns0:propstat></ns0:response><ns0:response><ns0:href>/alice/cal/a.ics</ns0:href><ns0:propstat><ns0:status>HTTP/1.1 200 OK</ns0:status><ns0:prop><ns0:getetag>"e1"</ns0:getetag><ns1:calendar-data><![CDATA[BEGIN:VCALENDAR)" "\r\n" R"(END:VCALENDAR)" "\r\n" R"(]]></ns1:calendar-data></ns0:prop></ns0:propstat></ns0:response><ns0:response><ns0:href>/alice/cal/gone.ics</ns0:href><ns0:status>HTTP/1.1 404 Not Found</ns0:status></ns0:response><ns0:response><ns0:href>/alice/</ns0:href><ns0:propstat><ns0:status>HTTP/1.1 200 OK</ns0:status><ns0:prop><ns0:current-user-principal><ns0:href>/alice/</ns0:href></ns0:current-user-principal><ns1:calendar-home-set><ns0:href>/alice/</ns0:href><ns0:href>/shared/</ns0:href></ns1:calendar-home-set><ns4:addressbook-home-set><ns0:href>/alice/books/</ns0:href></ns4:addressbook-home-set><ns0:resourcetype><ns0:principal/><ns0:collection/></ns0:resourcetype></ns0:prop></ns0:propstat></ns0:response></ns0:multistatus>)",
      R"(<D:multistatus xmlns:D="DAV:"><D:sync-token>tok-2</D:sync-token><D:response><D:href>/alice/cal/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/><calendar xmlns="urn:ietf:params:xml:ns:caldav"/></D:resourcetype><D:displayname>Work</D:displayname><x:calendar-color xmlns:x="http://apple.com/ns/ical/">#336699FF</x:calendar-color><s xmlns="urn:ietf:params:xml:ns:caldav"/><y:supported-calendar-component-set xmlns:y="urn:ietf:params:xml:ns:caldav"><y:comp name="vevent"/><y:comp name="VTODO"/><y:comp name="VJOURNAL"/></y:supported-calendar-component-set><D:current-user-privilege-set><D:privilege><D:read/></D:privilege></D:current-user-privilege-set><D:sync-token>tok-1</D:sync-token><getctag xmlns="http://calendarserver.org/ns/">"c1"</getctag></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response><D:response><D:href>/alice/cal/a.ics</D:href><D:propstat><D:prop><D:getetag>"e1"</D:getetag><calendar-data xmlns="urn:ietf:params:xml:ns:caldav">BEGIN:VCALENDAR&#13;&#10;END:VCALENDAR&#13;&#10;</calendar-data></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response><D:response><D:href>/alice/cal/gone.ics</D:href><D:status>HTTP/1.1 404 Not Found</D:status></D:response><D:response><D:href>/alice/</D:href><D:propstat><D:prop><D:current-user-principal><D:href>/alice/</D:href></D:current-user-principal><h:calendar-home-set xmlns:h="urn:ietf:params:xml:ns:caldav"><D:href>/alice/</D:href><D:href>/shared/</D:href></h:calendar-home-set><b:addressbook-home-set xmlns:b="urn:ietf:params:xml:ns:carddav"><D:href>/alice/books/</D:href></b:addressbook-home-set><D:resourcetype><D:principal/><D:collection/></D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response></D:multistatus>)",
  };
  // XML reads a raw line break as a line feed; only "&#13;" keeps a CR.
  const char* data[] = {"BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n", "BEGIN:VCALENDAR\nEND:VCALENDAR\n",
                        "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n"};
  for (size_t i = 0; i < 3; i++) {
    const char* doc = docs[i];
    DavMultistatus ms;
    ASSERT_EQ(dav_parse_multistatus(doc, &ms), 0) << doc;
    EXPECT_EQ(ms.sync_token, "tok-2");
    ASSERT_EQ(ms.entries.size(), 4u);
    const DavProps& cal = ms.entries[0].props;
    EXPECT_EQ(ms.entries[0].href, "/alice/cal/");
    EXPECT_EQ(ms.entries[0].status, 200);
    EXPECT_EQ(cal.resource, DAV_RES_COLLECTION | DAV_RES_CALENDAR);
    EXPECT_EQ(cal.display_name, "Work");
    EXPECT_EQ(cal.color, "#336699FF");
    EXPECT_EQ(cal.components, DAV_COMP_EVENT | DAV_COMP_TODO | DAV_COMP_OTHER);
    EXPECT_EQ(cal.writable, 0);
    EXPECT_EQ(cal.sync_token, "tok-1");
    EXPECT_EQ(cal.ctag, "\"c1\"");
    EXPECT_EQ(cal.etag, "");  // only in a 404 propstat
    EXPECT_EQ(ms.entries[1].props.etag, "\"e1\"");
    EXPECT_EQ(ms.entries[1].props.data, data[i]);
    EXPECT_EQ(ms.entries[2].status, 404);
    const DavProps& principal = ms.entries[3].props;
    EXPECT_EQ(principal.principal, "/alice/");
    EXPECT_EQ(principal.calendar_homes, (std::vector<std::string>{"/alice/", "/shared/"}));
    EXPECT_EQ(principal.addressbook_homes, (std::vector<std::string>{"/alice/books/"}));
    EXPECT_EQ(principal.resource, DAV_RES_COLLECTION | DAV_RES_PRINCIPAL);
    EXPECT_EQ(principal.components, -1);
    EXPECT_EQ(principal.writable, -1);
  }
}

TEST(DavUnit, HostileOrBrokenAnswersAreRefusedUnread) {
  const char* docs[] = {
      // Entities that multiply, and one that reads a local file.
      R"(<?xml version="1.0"?><!DOCTYPE m [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">
<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;"><!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;">]>
<multistatus xmlns="DAV:"><response><href>&d;</href><status>HTTP/1.1 200 OK</status></response></multistatus>)",
      R"(<!-- a comment first --><!DOCTYPE m [<!ENTITY x SYSTEM "file:///etc/passwd">]>
<multistatus xmlns="DAV:"><response><href>&x;</href><status>HTTP/1.1 200 OK</status></response></multistatus>)",
      R"(<!DOCTYPE multistatus SYSTEM "http://127.0.0.1:9/dav.dtd"><multistatus xmlns="DAV:"/>)",
      // An undeclared entity, a foreign root, no namespace, cut short, empty, not XML.
      R"(<multistatus xmlns="DAV:"><response><href>&x;</href></response></multistatus>)",
      R"(<error xmlns="DAV:"><valid-sync-token/></error>)",
      R"(<multistatus><response><href>/a</href></response></multistatus>)",
      R"(<multistatus xmlns="DAV:"><response><href>/a</href>)",
      "",
      "HTTP/1.1 500 Internal Server Error",
  };
  for (const char* doc : docs) {
    DavMultistatus ms;
    EXPECT_EQ(dav_parse_multistatus(doc, &ms), DAV_ERR_PROTOCOL) << doc;
    EXPECT_TRUE(ms.entries.empty()) << doc;
  }
  // Nesting beyond libxml2's limit is refused rather than followed.
  std::string deep = "<multistatus xmlns=\"DAV:\">";
  for (int i = 0; i < 5000; i++) deep += "<x>";
  DavMultistatus ms;
  EXPECT_EQ(dav_parse_multistatus(deep, &ms), DAV_ERR_PROTOCOL);
}

TEST(DavUnit, ErrorBodiesNameTheirPrecondition) {
  EXPECT_EQ(dav_error_condition(R"(<?xml version="1.0"?><error xmlns="DAV:"><valid-sync-token /></error>)"),
            "valid-sync-token");
  EXPECT_EQ(dav_error_condition(R"(<d:error xmlns:d="DAV:"><c:no-uid-conflict xmlns:c="urn:ietf:params:xml:ns:caldav"/></d:error>)"),
            "no-uid-conflict");
  // Refused with a 207 whose response carries the error.
  EXPECT_EQ(dav_error_condition("<m:multistatus xmlns:m=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><m:response>"
                                "<m:href>/a.ics</m:href><m:status>HTTP/1.1 412 Precondition Failed</m:status>"
                                "<m:error><c:no-uid-conflict/></m:error></m:response></m:multistatus>"),
            "no-uid-conflict");
  EXPECT_EQ(dav_error_condition("<multistatus xmlns=\"DAV:\"/>"), "");
  EXPECT_EQ(dav_error_condition("Forbidden"), "");
}

TEST(DavUnit, RequestBodiesEscapeWhatTheyCarry) {
  std::string body = dav_multiget_body(true, {"/a/b&c.ics", "/a/<d>.ics"});
  EXPECT_NE(body.find("<d:href>/a/b&amp;c.ics</d:href>"), std::string::npos);
  EXPECT_NE(body.find("<d:href>/a/&lt;d&gt;.ics</d:href>"), std::string::npos);
  EXPECT_NE(dav_sync_collection_body("t&\"x").find("t&amp;&quot;x"), std::string::npos);
  EXPECT_NE(dav_sync_collection_body("").find("<d:sync-token/>"), std::string::npos);
  EXPECT_NE(dav_multiget_body(false, {"/b/1.vcf"}).find("a:addressbook-multiget"), std::string::npos);
}

class DavUnitMessages : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(strings_set_language(0), 1); }
  void TearDown() override { strings_set_language(0); }
};

TEST_F(DavUnitMessages, EveryErrorHasAMessageWithWhatTheClientSaw) {
  DavClient c;
  ASSERT_EQ(dav_open(&c, DavAccount{"dav.example.org", "alice", "pw", ""}), 0);
  c.status = 503;
  c.fingerprint = "AB:CD";
  c.refused_url = "https://evil.example.org/x/";
  EXPECT_EQ(dav_error_message(c, 0), "");
  for (int lang = 0; lang < LANGUAGE_COUNT; lang++) {
    ASSERT_EQ(strings_set_language(lang), 1);
    for (int rc = DAV_ERR_BAD_URL; rc >= DAV_ERR_INTERNAL; rc--) {
      EXPECT_EQ(dav_message_id(rc), str_at(STR_DAV_ERROR_RANGE, -rc - 1));
      std::string m = dav_error_message(c, rc);
      EXPECT_FALSE(m.empty()) << lang << " " << rc;
      EXPECT_EQ(m.find('%'), std::string::npos) << lang << " " << rc << ": " << m;
    }
    EXPECT_NE(dav_error_message(c, DAV_ERR_TLS_UNTRUSTED).find("AB:CD"), std::string::npos);
    EXPECT_NE(dav_error_message(c, DAV_ERR_TLS_UNTRUSTED).find("dav.example.org"), std::string::npos);
    EXPECT_NE(dav_error_message(c, DAV_ERR_OTHER_HOST).find("https://evil.example.org/x/"), std::string::npos);
    EXPECT_NE(dav_error_message(c, DAV_ERR_SERVER).find("503"), std::string::npos);
    EXPECT_NE(dav_error_message(c, DAV_ERR_CONNECT).find("dav.example.org"), std::string::npos);
  }
  // Without a certificate seen, an untrusted one reads as a failed handshake.
  c.fingerprint.clear();
  EXPECT_EQ(dav_error_message(c, DAV_ERR_TLS_UNTRUSTED), dav_error_message(c, DAV_ERR_TLS));
  EXPECT_EQ(dav_message_id(0), -1);
  EXPECT_EQ(dav_message_id(DAV_ERR_INTERNAL - 1), -1);
}

}  // namespace
