// SPDX-License-Identifier: GPL-3.0-or-later
// WebDAV XML: the request bodies sent to calendar and contacts servers and
// the multistatus answers read back.
//
// Answers come from servers Ordika does not control, so the reader is
// namespace-aware (elements are matched by namespace and name, whatever the
// prefixes), refuses any document type declaration (no entities, nothing
// fetched), never touches the network, and keeps libxml2's depth and size
// limits. The caller bounds the body's size.
#pragma once

#include <string>
#include <vector>

// What a resource is (resourcetype).
enum { DAV_RES_COLLECTION = 1, DAV_RES_CALENDAR = 2, DAV_RES_ADDRESSBOOK = 4, DAV_RES_PRINCIPAL = 8 };
// What a calendar holds (supported-calendar-component-set).
enum { DAV_COMP_EVENT = 1, DAV_COMP_TODO = 2, DAV_COMP_OTHER = 4 };

// The properties of one response that came with status 200; others are
// left empty.
struct DavProps {
  int resource = 0;
  int components = -1;  // DAV_COMP_* bits; -1 when not given (any component)
  int writable = -1;    // from current-user-privilege-set; -1 when not given
  std::string etag, ctag, sync_token, display_name, color;
  std::string data;       // calendar-data or address-data, as sent
  std::string principal;  // current-user-principal
  std::vector<std::string> calendar_homes, addressbook_homes;
};

struct DavEntry {
  std::string href;  // as sent
  long status = 0;   // the response's status, else 200 when a propstat was 200
  DavProps props;
};

struct DavMultistatus {
  std::vector<DavEntry> entries;
  std::string sync_token;  // the report's new token (sync-collection)
};

// 0, or DAV_ERR_PROTOCOL for a body that is not a well-formed DAV
// multistatus (or declares a document type).
int dav_parse_multistatus(const std::string& xml, DavMultistatus* out);

// The name of the precondition in a DAV:error body ("valid-sync-token"), or
// in the error of a multistatus' response, or "" when the body has none.
std::string dav_error_condition(const std::string& xml);

// The property sets PROPFIND asks for.
enum DavPropSet {
  DAV_PROPS_DISCOVER,    // principal and home sets, and DAV_PROPS_COLLECTION
  DAV_PROPS_COLLECTION,  // kind, name, colour, components, rights, sync state
  DAV_PROPS_STATE,       // sync-token and getctag
  DAV_PROPS_ETAGS,       // getetag and resourcetype of the members
};
std::string dav_propfind_body(DavPropSet set);

// REPORT sync-collection at level 1 for changes since `token` (empty: the
// whole collection), asking for the members' ETags.
std::string dav_sync_collection_body(const std::string& token);

// REPORT calendar-multiget (calendar) or addressbook-multiget (address book)
// for the members at `paths`, asking for ETag and data.
std::string dav_multiget_body(bool calendar, const std::vector<std::string>& paths);

struct DavClient;
struct DavReply;

// PROPFIND and REPORT with an XML body, read as a multistatus with every
// href made absolute against the address that answered (members on another
// host are dropped). 0, a transport error, the error of a status that is no
// success (c->status), or DAV_ERR_PROTOCOL. The REPORT's reply (its body on
// failure) goes to *reply when given.
int dav_propfind(DavClient* c, const std::string& url, int depth, DavPropSet set, DavMultistatus* out);
int dav_report(DavClient* c, const std::string& url, int depth, const std::string& body, DavMultistatus* out,
               DavReply* reply = nullptr);

// Text with &, <, >, " escaped for element content and attribute values.
std::string dav_xml_escape(const std::string& text);
