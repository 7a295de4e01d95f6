// SPDX-License-Identifier: GPL-3.0-or-later
// A domain's calendar and contacts servers from the DNS: the SRV records
// _caldavs._tcp and _carddavs._tcp (and _caldav/_carddav for an address
// the user gave as plain http), in the order their priorities and weights
// ask for, each with the context path of its TXT record ("path=/dav/").
//
// The queries go through a DavDns, so that tests can answer them; the
// real one uses the system's resolver (libresolv), or one name server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct DavSrvRecord {
  int priority = 0, weight = 0, port = 0;
  std::string target;  // host name, lower case, no final dot; "." when the service is not offered
};

struct DavDns {
  // The SRV records of `name` into *out: 0 (none is an empty list), or -1
  // when the resolver failed.
  std::function<int(const std::string& name, std::vector<DavSrvRecord>* out)> srv;
  // The character-strings of the TXT records of `name`. 0 or -1.
  std::function<int(const std::string& name, std::vector<std::string>* out)> txt;
  // A number in [0, limit], for the weighted choice among records of one
  // priority.
  std::function<uint32_t(uint32_t limit)> random;
};

// The system's resolver (resolv.conf); dav_dns_at asks only the name server
// at the IPv4 address and port.
DavDns dav_dns_system();
DavDns dav_dns_at(const std::string& address, int port);

// A DNS answer message's SRV records or TXT strings, appended to *out. 0, or
// -1 for a message that does not parse.
int dav_dns_parse_srv(const unsigned char* msg, size_t len, std::vector<DavSrvRecord>* out);
int dav_dns_parse_txt(const unsigned char* msg, size_t len, std::vector<std::string>* out);

// The records in the order to try them: by priority, and within one
// priority by weighted random choice (weight 0 has the least chance).
std::vector<DavSrvRecord> dav_srv_order(std::vector<DavSrvRecord> records,
                                        const std::function<uint32_t(uint32_t)>& random);

// The context path of a service's TXT strings: the value of "path=" (the
// key in any case), when it is an absolute path; "" otherwise.
std::string dav_txt_path(const std::vector<std::string>& strings);

struct DavServices {
  // "https://target[:port]/path" of each usable record: the calendar
  // service's first, secure ones before plain ones, each address once.
  std::vector<std::string> urls;
  // Every service asked for answered "." alone: the domain decidedly
  // offers none, and its own host is not worth a try either.
  bool refused = false;
};

// The services of `domain`; `plain` adds the http ones after the https
// ones. Resolver failures count as no records.
void dav_srv_lookup(const DavDns& dns, const std::string& domain, bool plain, DavServices* out);
