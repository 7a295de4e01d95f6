// SPDX-License-Identifier: GPL-3.0-or-later
#include "sync/dav_discover.h"

#include <algorithm>
#include <set>

#include "support/log.h"
#include "support/strings.h"
#include "sync/dav_http.h"
#include "sync/dav_srv.h"
#include "sync/dav_xml.h"

namespace {

int hex_value(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

std::string percent_decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    int hi = s[i] == '%' && i + 2 < s.size() ? hex_value(s[i + 1]) : -1;
    int lo = hi >= 0 ? hex_value(s[i + 2]) : -1;
    if (lo >= 0) {
      out += static_cast<char>(hi << 4 | lo);
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The last path segment, decoded: a name for a collection that has none.
std::string last_segment(const std::string& url) {
  std::string path = dav_url_path(url);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return percent_decode(path.substr(path.rfind('/') + 1));
}

// Errors after which another candidate address is worth a try: the address
// is simply not the service.
bool try_next(int rc) {
  return rc == DAV_ERR_NOT_FOUND || rc == DAV_ERR_FORBIDDEN || rc == DAV_ERR_HTTP || rc == DAV_ERR_SERVER ||
         rc == DAV_ERR_PROTOCOL;
}

void add_unique(std::vector<std::string>* list, const std::string& url) {
  for (const std::string& u : *list)
    if (dav_same_resource(u, url)) return;
  list->push_back(url);
}

// Resolves the home set hrefs of a principal's answer into `out`.
int add_homes(DavClient* c, const std::string& base, const std::vector<std::string>& hrefs,
              std::vector<std::string>* out) {
  for (const std::string& h : hrefs) {
    std::string url;
    int rc = dav_resolve(c, base, h, &url);
    if (rc) return rc;
    if (url.back() != '/') url += '/';
    add_unique(out, url);
  }
  return 0;
}

}  // namespace

std::string dav_resource_key(const std::string& url) {
  std::string k = percent_decode(url);
  if (!k.empty() && k.back() == '/') k.pop_back();
  return k;
}

bool dav_same_resource(const std::string& a, const std::string& b) { return dav_resource_key(a) == dav_resource_key(b); }

std::string dav_normalize_color(const std::string& v) {
  if ((v.size() != 7 && v.size() != 9) || v[0] != '#') return "";
  std::string out = "#";
  for (size_t i = 1; i < v.size(); i++) {
    if (hex_value(v[i]) < 0) return "";
    if (i < 7) out += static_cast<char>(v[i] >= 'a' && v[i] <= 'f' ? v[i] - 'a' + 'A' : v[i]);
  }
  return out;
}

const char* dav_collection_kind_name(const DavCollection& col) {
  if (col.kind == DAV_KIND_ADDRESSBOOK) return "contacts";
  bool events = col.components & DAV_COMP_EVENT, tasks = col.components & DAV_COMP_TODO;
  return events && tasks ? "events+tasks" : tasks ? "tasks" : "events";
}

namespace {

// The collection an answer describes: false for anything that is neither a
// calendar nor an address book, and for calendars of journals or free-busy
// times only.
bool collection_from(const DavEntry& e, DavCollection* col) {
  const DavProps& p = e.props;
  if (e.status < 200 || e.status >= 300) return false;
  if (p.resource & DAV_RES_CALENDAR) {
    col->kind = DAV_KIND_CALENDAR;
    // No component set means any component.
    col->components =
        p.components < 0 ? DAV_COMP_EVENT | DAV_COMP_TODO : p.components & (DAV_COMP_EVENT | DAV_COMP_TODO);
    if (!col->components) return false;
  } else if (p.resource & DAV_RES_ADDRESSBOOK) {
    col->kind = DAV_KIND_ADDRESSBOOK;
    col->components = 0;
  } else {
    return false;
  }
  col->href = e.href.back() == '/' ? e.href : e.href + "/";
  col->display_name = p.display_name.empty() ? last_segment(col->href) : p.display_name;
  col->color = col->kind == DAV_KIND_CALENDAR ? dav_normalize_color(p.color) : "";
  col->read_only = p.writable == 0;
  col->sync_token = p.sync_token;
  col->ctag = p.ctag;
  return true;
}

}  // namespace

int dav_list_collections(DavClient* c, const std::string& url, int depth, std::vector<DavCollection>* out) {
  DavMultistatus ms;
  int rc = dav_propfind(c, url, depth, DAV_PROPS_COLLECTION, &ms);
  if (rc) return rc;
  for (const DavEntry& e : ms.entries) {
    DavCollection col;
    if (collection_from(e, &col)) out->push_back(std::move(col));
  }
  return 0;
}

namespace {

// Discovery on the client's host, from its address.
int discover_at(DavClient* c, DavDiscovery* out) {
  *out = DavDiscovery();
  std::vector<std::string> candidates;
  if (dav_url_path(c->url) != "/") candidates.push_back(c->url);
  candidates.push_back("/.well-known/caldav");
  candidates.push_back("/.well-known/carddav");
  candidates.push_back("/");

  std::vector<std::string> principals;
  std::vector<DavCollection> direct;
  int server_failure = 0;
  for (const std::string& cand : candidates) {
    if (!out->calendar_homes.empty() && !out->addressbook_homes.empty()) break;
    DavMultistatus ms;
    int rc = dav_propfind(c, cand, 0, DAV_PROPS_DISCOVER, &ms);
    if (rc == DAV_ERR_SERVER) server_failure = rc;
    if (rc && try_next(rc)) continue;
    if (rc) return rc;
    if (ms.entries.empty()) continue;
    const DavEntry& e = ms.entries[0];
    // The address may name a collection itself; it is listed whether or not
    // its principal leads to more.
    DavCollection col;
    if (collection_from(e, &col)) direct.push_back(std::move(col));
    std::string principal;
    bool homes_here = !e.props.calendar_homes.empty() || !e.props.addressbook_homes.empty();
    if (!e.props.principal.empty()) {
      rc = dav_resolve(c, e.href, e.props.principal, &principal);
      if (rc) return rc;
    } else if (homes_here) {
      principal = e.href;
    } else {
      continue;
    }
    bool seen = false;
    for (const std::string& p : principals) seen = seen || dav_same_resource(p, principal);
    if (seen) continue;
    principals.push_back(principal);
    if (out->principal.empty()) out->principal = principal;

    DavProps homes = e.props;
    if (!dav_same_resource(principal, e.href) || !homes_here) {
      DavMultistatus pm;
      rc = dav_propfind(c, principal, 0, DAV_PROPS_DISCOVER, &pm);
      if (rc && try_next(rc)) continue;
      if (rc) return rc;
      if (pm.entries.empty()) continue;
      homes = pm.entries[0].props;
    }
    if ((rc = add_homes(c, principal, homes.calendar_homes, &out->calendar_homes)) != 0) return rc;
    if ((rc = add_homes(c, principal, homes.addressbook_homes, &out->addressbook_homes)) != 0) return rc;
  }
  if (principals.empty() && direct.empty()) {
    log_message(LOG_WARNING, "dav_discover: no service");
    return server_failure ? server_failure : DAV_ERR_NO_SERVICE;
  }

  // One listing per home, even where the calendars and the address books
  // share it.
  std::vector<std::string> homes = out->calendar_homes;
  for (const std::string& h : out->addressbook_homes) add_unique(&homes, h);
  std::vector<DavCollection> found = std::move(direct);
  for (const std::string& h : homes) {
    int rc = dav_list_collections(c, h, 1, &found);
    if (rc) return rc;
  }
  for (DavCollection& col : found) {
    bool dup = false;
    for (const DavCollection& have : out->collections) dup = dup || dav_same_resource(have.href, col.href);
    if (!dup) out->collections.push_back(std::move(col));
  }
  std::stable_sort(out->collections.begin(), out->collections.end(),
                   [](const DavCollection& a, const DavCollection& b) {
                     if (a.kind != b.kind) return a.kind < b.kind;
                     return ui_collate(a.display_name.c_str(), b.display_name.c_str()) < 0;
                   });
  log_message(LOG_INFO, "dav_discover: %zu collections", out->collections.size());
  return 0;
}

// Errors after which the next server of the records is worth a try: this
// one is down, unreachable or no such service.
bool try_other_server(int rc) {
  return try_next(rc) || rc == DAV_ERR_NO_SERVICE || rc == DAV_ERR_RESOLVE || rc == DAV_ERR_CONNECT ||
         rc == DAV_ERR_TIMEOUT || rc == DAV_ERR_NETWORK || rc == DAV_ERR_TLS;
}

}  // namespace

int dav_discover(DavClient* c, DavDiscovery* out) {
  if (c->domain.empty()) return discover_at(c, out);
  DavServices found;
  dav_srv_lookup(c->dns ? *c->dns : dav_dns_system(), c->domain, c->domain_plain, &found);
  if (found.refused) {
    *out = DavDiscovery();
    log_message(LOG_WARNING, "dav_discover: the domain offers no service");
    return DAV_ERR_NO_SERVICE;
  }
  // Each server the records name, in their order; then the domain's own
  // host as for any address. When all are down or no service, the first
  // server's error is the one to show: the records said that is where the
  // service lives.
  std::string typed = c->url;
  std::string first_url;
  int first_rc = 0;
  long first_status = 0;
  for (const std::string& url : found.urls) {
    if (dav_retarget(c, url) != 0) continue;
    int rc = discover_at(c, out);
    if (rc == 0) return 0;
    if (!try_other_server(rc)) return rc;
    if (!first_rc) {
      first_rc = rc;
      first_url = url;
      first_status = c->status;
    }
  }
  dav_retarget(c, typed);
  int rc = discover_at(c, out);
  if (rc == 0 || !first_rc || !try_other_server(rc)) return rc;
  dav_retarget(c, first_url);
  c->status = first_status;
  return first_rc;
}

std::string dav_account_address(const std::string& server, const std::string& user) {
  size_t a = server.find_first_not_of(" \t");
  if (a != std::string::npos) return server.substr(a, server.find_last_not_of(" \t") + 1 - a);
  size_t at = user.rfind('@');
  if (at == std::string::npos) return "";
  std::string domain = user.substr(at + 1);
  while (!domain.empty() && (domain.back() == ' ' || domain.back() == '\t')) domain.pop_back();
  return domain.find('.') != std::string::npos && domain.find_first_of(" \t/:@") == std::string::npos ? domain : "";
}
