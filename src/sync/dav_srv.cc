// SPDX-License-Identifier: GPL-3.0-or-later
#include "sync/dav_srv.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>
#include <random>

#include "support/log.h"

namespace {

enum { ANSWER_MAX = 65535 };

// One query of `type` for `name`: 0 with the answer, 1 when the name or the
// record does not exist, -1 when the resolver failed.
int dns_query(const std::string& address, int port, const std::string& name, int type,
              std::vector<unsigned char>* out) {
  struct __res_state st {};
  // A failed res_ninit leaves nothing to close (and a zeroed state names
  // fd 0 as its socket).
  if (res_ninit(&st) != 0) {
    log_message(LOG_WARNING, "dns_query: no resolver");
    return -1;
  }
  if (!address.empty()) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
      res_nclose(&st);
      return -1;
    }
    st.nsaddr_list[0] = a;
    st.nscount = 1;
  }
  // Discovery waits on this before any request: an unreachable name server
  // costs seconds, not the resolver's default half-minute.
  st.retrans = 2;
  st.retry = 2;
  out->assign(ANSWER_MAX, 0);
  int n = res_nquery(&st, name.c_str(), ns_c_in, type, out->data(), ANSWER_MAX);
  int herr = st.res_h_errno;
  res_nclose(&st);
  if (n < 0) {
    out->clear();
    if (herr == HOST_NOT_FOUND || herr == NO_DATA) return 1;
    log_message(LOG_WARNING, "dns_query: %s failed (%d)", type == ns_t_srv ? "SRV" : "TXT", herr);
    return -1;
  }
  out->resize(static_cast<size_t>(std::min(n, static_cast<int>(ANSWER_MAX))));
  return 0;
}

DavDns make_dns(const std::string& address, int port) {
  DavDns d;
  d.srv = [address, port](const std::string& name, std::vector<DavSrvRecord>* out) {
    std::vector<unsigned char> msg;
    int rc = dns_query(address, port, name, ns_t_srv, &msg);
    if (rc) return rc > 0 ? 0 : -1;
    return dav_dns_parse_srv(msg.data(), msg.size(), out);
  };
  d.txt = [address, port](const std::string& name, std::vector<std::string>* out) {
    std::vector<unsigned char> msg;
    int rc = dns_query(address, port, name, ns_t_txt, &msg);
    if (rc) return rc > 0 ? 0 : -1;
    return dav_dns_parse_txt(msg.data(), msg.size(), out);
  };
  d.random = [](uint32_t limit) {
    static thread_local std::mt19937 gen{std::random_device{}()};
    return std::uniform_int_distribution<uint32_t>(0, limit)(gen);
  };
  return d;
}

// Calls `each` with the rdata of every answer record of `type`; -1 when the
// message does not parse.
template <typename Fn>
int each_answer(const unsigned char* msg, size_t len, int type, Fn each) {
  ns_msg m;
  if (ns_initparse(msg, static_cast<int>(len), &m) < 0) return -1;
  for (int i = 0; i < ns_msg_count(m, ns_s_an); i++) {
    ns_rr rr;
    if (ns_parserr(&m, ns_s_an, i, &rr) < 0) return -1;
    if (ns_rr_type(rr) != type || ns_rr_class(rr) != ns_c_in) continue;
    if (each(m, ns_rr_rdata(rr), static_cast<size_t>(ns_rr_rdlen(rr))) < 0) return -1;
  }
  return 0;
}

// A host name as a URL may carry it: letters, digits, "-", "_" and dots
// between labels. Anything else (the resolver's escapes among it) is no
// server of ours.
bool host_name(const std::string& s) {
  if (s.empty() || s.front() == '.' || s.back() == '.' || s.find("..") != std::string::npos) return false;
  for (char ch : s)
    if (!((ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' || ch == '_' || ch == '.')) return false;
  return true;
}

}  // namespace

DavDns dav_dns_system() { return make_dns("", 0); }

DavDns dav_dns_at(const std::string& address, int port) { return make_dns(address, port); }

int dav_dns_parse_srv(const unsigned char* msg, size_t len, std::vector<DavSrvRecord>* out) {
  return each_answer(msg, len, ns_t_srv, [out](const ns_msg& m, const unsigned char* rd, size_t n) {
    if (n < 7) return -1;
    DavSrvRecord r;
    r.priority = ns_get16(rd);
    r.weight = ns_get16(rd + 2);
    r.port = ns_get16(rd + 4);
    char name[NS_MAXDNAME];
    if (dn_expand(ns_msg_base(m), ns_msg_end(m), rd + 6, name, sizeof name) < 0) return -1;
    r.target = name;
    for (char& ch : r.target)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    if (r.target.empty()) r.target = ".";
    if (r.target.size() > 1 && r.target.back() == '.') r.target.pop_back();
    out->push_back(std::move(r));
    return 0;
  });
}

int dav_dns_parse_txt(const unsigned char* msg, size_t len, std::vector<std::string>* out) {
  return each_answer(msg, len, ns_t_txt, [out](const ns_msg&, const unsigned char* rd, size_t n) {
    for (size_t i = 0; i < n;) {
      size_t l = rd[i];
      if (i + 1 + l > n) return -1;
      out->emplace_back(reinterpret_cast<const char*>(rd + i + 1), l);
      i += 1 + l;
    }
    return 0;
  });
}

std::vector<DavSrvRecord> dav_srv_order(std::vector<DavSrvRecord> records,
                                        const std::function<uint32_t(uint32_t)>& random) {
  std::stable_sort(records.begin(), records.end(),
                   [](const DavSrvRecord& a, const DavSrvRecord& b) { return a.priority < b.priority; });
  std::vector<DavSrvRecord> out;
  for (size_t start = 0; start < records.size();) {
    size_t end = start;
    while (end < records.size() && records[end].priority == records[start].priority) end++;
    // Weight 0 first, so that it is picked only by a draw of 0 or when
    // alone (RFC 2782).
    std::vector<DavSrvRecord> group(records.begin() + static_cast<long>(start),
                                    records.begin() + static_cast<long>(end));
    std::stable_sort(group.begin(), group.end(),
                     [](const DavSrvRecord& a, const DavSrvRecord& b) { return a.weight == 0 && b.weight != 0; });
    while (!group.empty()) {
      uint32_t sum = 0;
      for (const DavSrvRecord& r : group) sum += static_cast<uint32_t>(r.weight);
      uint32_t draw = random ? random(sum) : 0;
      size_t pick = 0;
      for (uint32_t running = 0; pick < group.size(); pick++) {
        running += static_cast<uint32_t>(group[pick].weight);
        if (running >= draw) break;
      }
      if (pick == group.size()) pick = group.size() - 1;
      out.push_back(std::move(group[pick]));
      group.erase(group.begin() + static_cast<long>(pick));
    }
    start = end;
  }
  return out;
}

std::string dav_txt_path(const std::vector<std::string>& strings) {
  for (const std::string& s : strings) {
    if (s.size() < 5) continue;
    std::string key = s.substr(0, 5);
    for (char& ch : key)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    if (key != "path=") continue;
    std::string path = s.substr(5);
    if (path.empty() || path[0] != '/') return "";
    for (unsigned char ch : path)
      if (ch <= ' ' || ch >= 0x7f || ch == '\\' || ch == '?' || ch == '#') return "";
    return path;
  }
  return "";
}

void dav_srv_lookup(const DavDns& dns, const std::string& domain, bool plain, DavServices* out) {
  *out = DavServices();
  struct Service {
    const char* label;
    const char* scheme;
    int default_port;
  };
  static const Service kSecure[] = {{"_caldavs._tcp.", "https", 443}, {"_carddavs._tcp.", "https", 443}};
  static const Service kPlain[] = {{"_caldav._tcp.", "http", 80}, {"_carddav._tcp.", "http", 80}};
  std::vector<Service> services(std::begin(kSecure), std::end(kSecure));
  if (plain) services.insert(services.end(), std::begin(kPlain), std::end(kPlain));
  bool any = false;
  for (const Service& s : services) {
    std::string name = s.label + domain;
    std::vector<DavSrvRecord> records;
    if (!dns.srv || dns.srv(name, &records) != 0 || records.empty()) {
      any = true;
      continue;
    }
    // A lone "." says the service is decidedly not offered here.
    if (records.size() == 1 && records[0].target == ".") continue;
    any = true;
    std::vector<std::string> strings;
    std::string path = dns.txt && dns.txt(name, &strings) == 0 ? dav_txt_path(strings) : "";
    if (path.empty()) path = "/";
    for (const DavSrvRecord& r : dav_srv_order(records, dns.random)) {
      if (r.port <= 0 || !host_name(r.target)) {
        log_message(LOG_WARNING, "dav_srv_lookup: unusable record skipped");
        continue;
      }
      std::string url = std::string(s.scheme) + "://" + r.target +
                        (r.port == s.default_port ? "" : ":" + std::to_string(r.port)) + path;
      if (std::find(out->urls.begin(), out->urls.end(), url) == out->urls.end()) out->urls.push_back(url);
    }
  }
  out->refused = !any;
  log_message(LOG_INFO, "dav_srv_lookup: %zu addresses%s", out->urls.size(), out->refused ? ", refused" : "");
}
