// SPDX-License-Identifier: GPL-3.0-or-later
// Finding an account's calendars and address books: from the address the
// user entered (a bare host is enough; for a domain alone, first the
// servers its SRV records name) through /.well-known/caldav and
// /.well-known/carddav, the current-user-principal, and its
// calendar-home-set and addressbook-home-set, to the collections in them.
#pragma once

#include <string>
#include <vector>

struct DavClient;

enum DavKind { DAV_KIND_CALENDAR = 1, DAV_KIND_ADDRESSBOOK = 2 };

struct DavCollection {
  std::string href;  // absolute URL, ending in "/"
  std::string display_name;
  std::string color;  // "#RRGGBB", or "" when the server gives none
  int kind = DAV_KIND_CALENDAR;
  int components = 0;  // calendars: DAV_COMP_EVENT and/or DAV_COMP_TODO
  bool read_only = false;
  // The collection's state when listed; a sync token means the server
  // offers sync-collection. Either may be empty.
  std::string sync_token, ctag;
};

struct DavDiscovery {
  std::string principal;  // absolute URL; empty when the address was a collection
  std::vector<std::string> calendar_homes, addressbook_homes;
  std::vector<DavCollection> collections;  // calendars first, each kind by name
};

// 0 with at least a principal or a collection found, else the first error
// that stops it (wrong password, TLS, other host, network), or
// DAV_ERR_NO_SERVICE when no candidate address answered as a service, or
// the domain's SRV records say it offers none.
//
// For an address that is a domain alone (DavClient::domain) the servers of
// its SRV records come first, each from its TXT context path, then its
// well-known addresses; the first that answers becomes the client's
// address (c->url, c->host), which the account keeps. Without records, or
// when none of their servers answers, the domain's own host is asked.
int dav_discover(DavClient* c, DavDiscovery* out);

// The address to discover from: what the user gave as the server, else the
// domain of a user name such as "alice@example.org"; "" when neither gives
// one.
std::string dav_account_address(const std::string& server, const std::string& user);

// The calendars and address books at `url` (Depth 1: a home set's members;
// Depth 0: the collection itself), skipping calendars that hold neither
// events nor tasks. 0 or an error.
int dav_list_collections(DavClient* c, const std::string& url, int depth, std::vector<DavCollection>* out);

// "events", "tasks", "events+tasks" or "contacts".
const char* dav_collection_kind_name(const DavCollection& col);

// "#RRGGBB" (upper case) from a calendar-color value ("#rrggbb" or
// "#rrggbbaa"); "" for anything else.
std::string dav_normalize_color(const std::string& value);

// True when two absolute URLs name the same resource: equal once percent
// escapes are decoded and a trailing "/" is dropped (their keys).
std::string dav_resource_key(const std::string& url);
bool dav_same_resource(const std::string& a, const std::string& b);
