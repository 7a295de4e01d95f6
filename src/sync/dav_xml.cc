// SPDX-License-Identifier: GPL-3.0-or-later
#include "sync/dav_xml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <strings.h>

#include <cstring>
#include <mutex>

#include "support/log.h"
#include "sync/dav_http.h"

namespace {

const char kDav[] = "DAV:";
const char kCal[] = "urn:ietf:params:xml:ns:caldav";
const char kCard[] = "urn:ietf:params:xml:ns:carddav";
const char kCs[] = "http://calendarserver.org/ns/";
const char kIcal[] = "http://apple.com/ns/ical/";

std::once_flag g_xml_once;

// A parsed document, freed on every path.
struct Doc {
  xmlDocPtr doc = nullptr;
  Doc() = default;
  Doc(const Doc&) = delete;
  Doc& operator=(const Doc&) = delete;
  ~Doc() {
    if (doc) xmlFreeDoc(doc);
  }
};

// True when the prolog (before the root element) declares a document type.
bool has_doctype(const std::string& xml) {
  size_t i = 0;
  const size_t n = xml.size();
  if (xml.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
  while (i < n) {
    char ch = xml[i];
    if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') {
      i++;
      continue;
    }
    if (xml.compare(i, 4, "<!--") == 0) {
      size_t end = xml.find("-->", i + 4);
      if (end == std::string::npos) return false;
      i = end + 3;
      continue;
    }
    if (xml.compare(i, 2, "<?") == 0) {
      size_t end = xml.find("?>", i + 2);
      if (end == std::string::npos) return false;
      i = end + 2;
      continue;
    }
    return xml.compare(i, 9, "<!DOCTYPE") == 0;
  }
  return false;
}

bool parse(const std::string& xml, Doc* d) {
  std::call_once(g_xml_once, [] { xmlInitParser(); });
  if (xml.empty() || has_doctype(xml) || xml.size() > 0x7fffffff) return false;
  // No entity substitution, no DTD loading, nothing from the network, no
  // messages on stderr.
  int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (!ctxt) return false;
  d->doc = xmlCtxtReadMemory(ctxt, xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, options);
  xmlFreeParserCtxt(ctxt);
  return d->doc && !d->doc->intSubset && !d->doc->extSubset && xmlDocGetRootElement(d->doc);
}

bool is(const xmlNode* n, const char* ns, const char* name) {
  return n && n->type == XML_ELEMENT_NODE && n->ns && n->ns->href &&
         std::strcmp(reinterpret_cast<const char*>(n->ns->href), ns) == 0 &&
         std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

template <typename F>
void each_child(const xmlNode* n, F f) {
  for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) f(c);
}

const xmlNode* child(const xmlNode* n, const char* ns, const char* name) {
  for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
    if (is(c, ns, name)) return c;
  return nullptr;
}

std::string text(const xmlNode* n) {
  std::string out;
  for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next) {
    if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content)
      out += reinterpret_cast<const char*>(c->content);
  }
  return out;
}

std::string trimmed(const xmlNode* n) {
  std::string s = text(n);
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// "HTTP/1.1 404 Not Found" gives 404; 0 for anything else.
long status_code(const std::string& line) {
  size_t sp = line.find(' ');
  if (line.compare(0, 5, "HTTP/") != 0 || sp == std::string::npos) return 0;
  char* end = nullptr;
  long v = std::strtol(line.c_str() + sp + 1, &end, 10);
  return v >= 100 && v <= 999 ? v : 0;
}

std::vector<std::string> hrefs(const xmlNode* n) {
  std::vector<std::string> out;
  each_child(n, [&](const xmlNode* h) {
    if (is(h, kDav, "href")) {
      std::string s = trimmed(h);
      if (!s.empty()) out.push_back(s);
    }
  });
  return out;
}

void read_prop(const xmlNode* p, DavProps* props) {
  if (is(p, kDav, "resourcetype")) {
    each_child(p, [&](const xmlNode* t) {
      if (is(t, kDav, "collection")) props->resource |= DAV_RES_COLLECTION;
      if (is(t, kCal, "calendar")) props->resource |= DAV_RES_CALENDAR;
      if (is(t, kCard, "addressbook")) props->resource |= DAV_RES_ADDRESSBOOK;
      if (is(t, kDav, "principal")) props->resource |= DAV_RES_PRINCIPAL;
    });
  } else if (is(p, kDav, "getetag")) {
    props->etag = trimmed(p);
  } else if (is(p, kCs, "getctag")) {
    props->ctag = trimmed(p);
  } else if (is(p, kDav, "sync-token")) {
    props->sync_token = trimmed(p);
  } else if (is(p, kDav, "displayname")) {
    props->display_name = trimmed(p);
  } else if (is(p, kIcal, "calendar-color")) {
    props->color = trimmed(p);
  } else if (is(p, kCal, "calendar-data") || is(p, kCard, "address-data")) {
    props->data = text(p);
  } else if (is(p, kDav, "current-user-principal")) {
    std::vector<std::string> h = hrefs(p);
    if (!h.empty()) props->principal = h[0];
  } else if (is(p, kCal, "calendar-home-set")) {
    props->calendar_homes = hrefs(p);
  } else if (is(p, kCard, "addressbook-home-set")) {
    props->addressbook_homes = hrefs(p);
  } else if (is(p, kCal, "supported-calendar-component-set")) {
    props->components = 0;
    each_child(p, [&](const xmlNode* comp) {
      if (!is(comp, kCal, "comp")) return;
      xmlChar* name = xmlGetProp(comp, reinterpret_cast<const xmlChar*>("name"));
      const char* v = reinterpret_cast<const char*>(name);
      if (v && strcasecmp(v, "VEVENT") == 0) props->components |= DAV_COMP_EVENT;
      else if (v && strcasecmp(v, "VTODO") == 0) props->components |= DAV_COMP_TODO;
      else props->components |= DAV_COMP_OTHER;
      xmlFree(name);
    });
  } else if (is(p, kDav, "current-user-privilege-set")) {
    props->writable = 0;
    each_child(p, [&](const xmlNode* priv) {
      if (!is(priv, kDav, "privilege")) return;
      each_child(priv, [&](const xmlNode* r) {
        if (is(r, kDav, "all") || is(r, kDav, "write") || is(r, kDav, "write-content")) props->writable = 1;
      });
    });
  }
}

}  // namespace

int dav_parse_multistatus(const std::string& xml, DavMultistatus* out) {
  out->entries.clear();
  out->sync_token.clear();
  Doc d;
  if (!parse(xml, &d)) {
    log_message(LOG_WARNING, "dav_parse_multistatus: not well-formed (%zu bytes)", xml.size());
    return DAV_ERR_PROTOCOL;
  }
  const xmlNode* root = xmlDocGetRootElement(d.doc);
  if (!is(root, kDav, "multistatus")) {
    log_message(LOG_WARNING, "dav_parse_multistatus: no multistatus");
    return DAV_ERR_PROTOCOL;
  }
  each_child(root, [&](const xmlNode* r) {
    if (is(r, kDav, "sync-token")) {
      out->sync_token = trimmed(r);
      return;
    }
    if (!is(r, kDav, "response")) return;
    DavEntry e;
    std::vector<std::string> h = hrefs(r);
    if (h.empty()) return;
    e.href = h[0];
    if (const xmlNode* st = child(r, kDav, "status")) e.status = status_code(trimmed(st));
    each_child(r, [&](const xmlNode* ps) {
      if (!is(ps, kDav, "propstat")) return;
      long s = status_code(trimmed(child(ps, kDav, "status")));
      if (s < 200 || s >= 300) {
        if (e.status == 0) e.status = s;
        return;
      }
      if (e.status == 0 || e.status >= 300) e.status = s;
      each_child(child(ps, kDav, "prop"), [&](const xmlNode* p) { read_prop(p, &e.props); });
    });
    out->entries.push_back(std::move(e));
  });
  return 0;
}

std::string dav_error_condition(const std::string& xml) {
  Doc d;
  if (!parse(xml, &d)) return "";
  const xmlNode* root = xmlDocGetRootElement(d.doc);
  std::string name;
  auto first_child = [&name](const xmlNode* c) {
    if (name.empty()) name = reinterpret_cast<const char*>(c->name);
  };
  if (is(root, kDav, "error")) {
    each_child(root, first_child);
  } else if (is(root, kDav, "multistatus")) {
    // A refusal some servers send as 207, the error inside the response.
    each_child(root, [&](const xmlNode* r) {
      if (is(r, kDav, "response"))
        each_child(r, [&](const xmlNode* e) {
          if (is(e, kDav, "error")) each_child(e, first_child);
        });
    });
  }
  return name;
}

namespace {

// The request's multistatus with every href made absolute; members that
// lead off the account's host are dropped.
int read_multistatus(DavClient* c, const DavReply& reply, DavMultistatus* out) {
  int rc = dav_parse_multistatus(reply.body, out);
  if (rc) return rc;
  std::vector<DavEntry> kept;
  for (DavEntry& e : out->entries) {
    std::string url;
    if (dav_resolve(c, reply.url, e.href, &url) != 0) continue;
    e.href = url;
    kept.push_back(std::move(e));
  }
  out->entries = std::move(kept);
  c->refused_url.clear();
  return 0;
}

int multistatus_request(DavClient* c, const char* method, const std::string& url, int depth,
                        const std::string& body, DavMultistatus* out, DavReply* reply) {
  DavRequest req;
  req.method = method;
  req.url = url;
  req.depth = depth;
  req.body = body;
  req.content_type = "application/xml; charset=utf-8";
  int rc = dav_send(c, req, reply);
  if (rc == 0) rc = dav_status_error(reply->status);
  if (rc == 0) rc = read_multistatus(c, *reply, out);
  return rc;
}

}  // namespace

int dav_propfind(DavClient* c, const std::string& url, int depth, DavPropSet set, DavMultistatus* out) {
  DavReply reply;
  return multistatus_request(c, "PROPFIND", url, depth, dav_propfind_body(set), out, &reply);
}

int dav_report(DavClient* c, const std::string& url, int depth, const std::string& body, DavMultistatus* out,
               DavReply* reply) {
  DavReply local;
  return multistatus_request(c, "REPORT", url, depth, body, out, reply ? reply : &local);
}

std::string dav_xml_escape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += ch;
    }
  }
  return out;
}

namespace {

const char kHead[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
const char kNamespaces[] =
    " xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\""
    " xmlns:a=\"urn:ietf:params:xml:ns:carddav\" xmlns:cs=\"http://calendarserver.org/ns/\""
    " xmlns:i=\"http://apple.com/ns/ical/\"";

}  // namespace

std::string dav_propfind_body(DavPropSet set) {
  const char* props = "";
  switch (set) {
    case DAV_PROPS_DISCOVER:
      props =
          "<d:current-user-principal/><c:calendar-home-set/><a:addressbook-home-set/><d:resourcetype/>"
          "<d:displayname/><i:calendar-color/><c:supported-calendar-component-set/>"
          "<d:current-user-privilege-set/><d:sync-token/><cs:getctag/>";
      break;
    case DAV_PROPS_COLLECTION:
      props =
          "<d:resourcetype/><d:displayname/><i:calendar-color/><c:supported-calendar-component-set/>"
          "<d:current-user-privilege-set/><d:sync-token/><cs:getctag/>";
      break;
    case DAV_PROPS_STATE: props = "<d:sync-token/><cs:getctag/>"; break;
    case DAV_PROPS_ETAGS: props = "<d:resourcetype/><d:getetag/>"; break;
  }
  return std::string(kHead) + "<d:propfind" + kNamespaces + "><d:prop>" + props + "</d:prop></d:propfind>\n";
}

std::string dav_sync_collection_body(const std::string& token) {
  std::string t = token.empty() ? "<d:sync-token/>" : "<d:sync-token>" + dav_xml_escape(token) + "</d:sync-token>";
  return std::string(kHead) + "<d:sync-collection" + kNamespaces + ">" + t +
         "<d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop></d:sync-collection>\n";
}

std::string dav_multiget_body(bool calendar, const std::vector<std::string>& paths) {
  std::string root = calendar ? "c:calendar-multiget" : "a:addressbook-multiget";
  std::string body = std::string(kHead) + "<" + root + kNamespaces + "><d:prop><d:getetag/>" +
                     (calendar ? "<c:calendar-data/>" : "<a:address-data/>") + "</d:prop>";
  for (const std::string& p : paths) body += "<d:href>" + dav_xml_escape(p) + "</d:href>";
  return body + "</" + root + ">\n";
}
