// SPDX-License-Identifier: GPL-3.0-or-later
#include "sync/dav_items.h"

#include <algorithm>
#include <set>

#include "support/log.h"
#include "sync/dav_http.h"
#include "sync/dav_xml.h"

namespace {

// Sync-collection rounds after a truncated answer (507 on the collection).
enum { MAX_SYNC_ROUNDS = 100 };

const char* content_type(const DavCollection& col) {
  return col.kind == DAV_KIND_ADDRESSBOOK ? "text/vcard; charset=utf-8" : "text/calendar; charset=utf-8";
}

// The listing of members (href → ETag, "" when none given) and removals,
// turned into changes against what the caller knew.
struct Listing {
  std::map<std::string, std::string> present;
  std::set<std::string> gone;
};

void diff(const Listing& l, const DavSyncState& known, bool complete, DavChanges* out) {
  out->complete = complete;
  for (const auto& [href, etag] : l.present) {
    auto k = known.etags.find(href);
    if (k != known.etags.end() && !etag.empty() && k->second == etag) continue;
    out->changed.push_back({href, etag});
  }
  if (complete) {
    for (const auto& [href, etag] : known.etags)
      if (!l.present.count(href)) out->removed.push_back(href);
  } else {
    for (const std::string& href : l.gone)
      if (!l.present.count(href)) out->removed.push_back(href);
  }
}

// A member of the collection, not the collection or one of its children.
bool is_member(const DavCollection& col, const DavEntry& e) {
  return !dav_same_resource(e.href, col.href) && e.href.back() != '/' && !(e.props.resource & DAV_RES_COLLECTION);
}

int changes_by_etag(DavClient* c, const DavCollection& col, const DavSyncState& known, DavChanges* out) {
  DavMultistatus ms;
  int rc = dav_propfind(c, col.href, 0, DAV_PROPS_STATE, &ms);
  if (rc) return rc;
  for (const DavEntry& e : ms.entries) {
    if (!dav_same_resource(e.href, col.href)) continue;
    out->ctag = e.props.ctag;
    out->sync_token = e.props.sync_token;
  }
  if (!out->ctag.empty() && out->ctag == known.ctag) return 0;
  rc = dav_propfind(c, col.href, 1, DAV_PROPS_ETAGS, &ms);
  if (rc) return rc;
  Listing l;
  for (const DavEntry& e : ms.entries)
    if (is_member(col, e) && e.status >= 200 && e.status < 300) l.present[e.href] = e.props.etag;
  diff(l, known, true, out);
  return 0;
}

// The server refused the token: forgotten, expired, or from another
// collection (403 or 409 with DAV:valid-sync-token; some say only 400).
bool token_refused(const DavClient& c, const DavReply& reply) {
  if (c.status == 403 || c.status == 409) return true;
  return c.status == 400 && dav_error_condition(reply.body) == "valid-sync-token";
}

// sync-collection: 1 when the server has no such report (use ETags).
int changes_by_token(DavClient* c, const DavCollection& col, const DavSyncState& known, DavChanges* out) {
  std::string token = known.sync_token;
  bool complete = token.empty();
  Listing l;
  for (int round = 0; round < MAX_SYNC_ROUNDS; round++) {
    DavMultistatus ms;
    DavReply reply;
    int rc = dav_report(c, col.href, 0, dav_sync_collection_body(token), &ms, &reply);
    if (rc && (c->status == 405 || c->status == 501)) return 1;
    if (rc && !token.empty() && round == 0 && token_refused(*c, reply)) {
      log_message(LOG_NOTICE, "dav_changes: token refused (%ld), listing everything", c->status);
      token.clear();
      complete = true;
      continue;
    }
    if (rc) return rc;
    bool truncated = false;
    for (const DavEntry& e : ms.entries) {
      if (dav_same_resource(e.href, col.href)) {
        truncated = truncated || e.status == 507;
        continue;
      }
      if (!is_member(col, e)) continue;
      if (e.status == 404 || e.status == 410) {
        l.present.erase(e.href);
        l.gone.insert(e.href);
      } else if (e.status >= 200 && e.status < 300) {
        l.present[e.href] = e.props.etag;
        l.gone.erase(e.href);
      }
    }
    if (ms.sync_token.empty()) {
      log_message(LOG_WARNING, "dav_changes: answer without a sync token");
      return DAV_ERR_PROTOCOL;
    }
    token = ms.sync_token;
    if (!truncated) {
      out->sync_token = token;
      diff(l, known, complete, out);
      return 0;
    }
  }
  log_message(LOG_WARNING, "dav_changes: still truncated after %d rounds", MAX_SYNC_ROUNDS);
  return DAV_ERR_PROTOCOL;
}

}  // namespace

int dav_changes(DavClient* c, const DavCollection& col, const DavSyncState& known, DavChanges* out) {
  *out = DavChanges();
  if (!col.sync_token.empty() || !known.sync_token.empty()) {
    int rc = changes_by_token(c, col, known, out);
    if (rc <= 0) return rc;
    *out = DavChanges();
  }
  return changes_by_etag(c, col, known, out);
}

int dav_get(DavClient* c, const std::string& href, DavResource* out) {
  DavRequest req;
  req.url = href;
  DavReply reply;
  int rc = dav_send(c, req, &reply);
  if (rc == 0) rc = dav_status_error(reply.status);
  if (rc) return rc;
  out->href = href;
  out->etag = reply.etag;
  out->data = std::move(reply.body);
  return 0;
}

int dav_multiget(DavClient* c, const DavCollection& col, const std::vector<std::string>& hrefs,
                 std::vector<DavResource>* got, std::vector<std::string>* missing,
                 const std::function<void(size_t, size_t)>& progress, size_t batch) {
  bool one_by_one = false;
  if (batch == 0) batch = DAV_MULTIGET_BATCH;
  for (size_t start = 0; start < hrefs.size(); start += batch) {
    size_t end = std::min(hrefs.size(), start + batch);
    std::vector<std::string> asked(hrefs.begin() + start, hrefs.begin() + end);
    std::vector<std::string> left;  // asked for, not answered with data
    if (!one_by_one) {
      std::vector<std::string> paths;
      for (const std::string& h : asked) paths.push_back(dav_url_path(h));
      DavMultistatus ms;
      int rc = dav_report(c, col.href, 1, dav_multiget_body(col.kind == DAV_KIND_CALENDAR, paths), &ms);
      if (rc && (c->status == 405 || c->status == 501)) {
        one_by_one = true;
      } else if (rc) {
        return rc;
      }
      std::map<std::string, size_t> index;
      for (size_t i = 0; i < asked.size(); i++) index.emplace(dav_resource_key(asked[i]), i);
      std::vector<bool> answered(asked.size(), false);
      for (DavEntry& e : ms.entries) {
        auto it = index.find(dav_resource_key(e.href));
        if (it == index.end() || answered[it->second]) continue;
        size_t i = it->second;
        if (e.status == 404 || e.status == 410) {
          answered[i] = true;
          missing->push_back(asked[i]);
        } else if (e.status >= 200 && e.status < 300 && !e.props.data.empty()) {
          answered[i] = true;
          got->push_back({asked[i], e.props.etag, std::move(e.props.data)});
        }
      }
      for (size_t i = 0; i < asked.size(); i++)
        if (!answered[i]) left.push_back(asked[i]);
    } else {
      left = asked;
    }
    for (const std::string& h : left) {
      DavResource r;
      int rc = dav_get(c, h, &r);
      if (rc == DAV_ERR_NOT_FOUND) missing->push_back(h);
      else if (rc) return rc;
      else got->push_back(std::move(r));
    }
    if (progress) progress(end, hrefs.size());
  }
  return 0;
}

int dav_put(DavClient* c, const DavCollection& col, DavResource* r) {
  DavRequest req;
  req.method = "PUT";
  req.url = r->href;
  req.body = r->data;
  req.content_type = content_type(col);
  if (r->etag.empty()) req.if_none_match = true;
  else req.if_match = r->etag;
  DavReply reply;
  c->condition.clear();
  int rc = dav_send(c, req, &reply);
  if (rc == 0) rc = dav_status_error(reply.status);
  // A refusal names its reason in the body; one server sends it as a 207.
  if (rc == 0 && reply.status == 207) rc = DAV_ERR_HTTP;
  if (rc && rc != DAV_ERR_PRECONDITION && !reply.body.empty()) c->condition = dav_error_condition(reply.body);
  if (rc) {
    log_message(LOG_WARNING, "dav_put: %d (%ld) %s", rc, reply.status, c->condition.c_str());
    return rc;
  }
  // A weak or missing ETag: the server stored something else than was sent
  // (or keeps it to itself); its own version tells.
  if (!reply.etag.empty() && reply.etag.compare(0, 2, "W/") != 0) {
    r->etag = reply.etag;
    return 0;
  }
  return dav_get(c, r->href, r);
}

int dav_delete(DavClient* c, const std::string& href, const std::string& etag) {
  DavRequest req;
  req.method = "DELETE";
  req.url = href;
  req.if_match = etag;
  DavReply reply;
  int rc = dav_send(c, req, &reply);
  if (rc == 0) rc = dav_status_error(reply.status);
  if (rc == DAV_ERR_NOT_FOUND) return 0;
  if (rc) log_message(LOG_WARNING, "dav_delete: %d (%ld)", rc, reply.status);
  return rc;
}

std::string dav_new_href(const DavCollection& col, const std::string& uid) {
  static const char digits[] = "0123456789ABCDEF";
  std::string name;
  for (unsigned char ch : uid) {
    bool plain = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' ||
                 ch == '_' || ch == '.' || ch == '~';
    if (plain) {
      name += static_cast<char>(ch);
    } else {
      name += '%';
      name += digits[ch >> 4];
      name += digits[ch & 15];
    }
  }
  std::string base = col.href.back() == '/' ? col.href : col.href + "/";
  return base + name + (col.kind == DAV_KIND_ADDRESSBOOK ? ".vcf" : ".ics");
}
