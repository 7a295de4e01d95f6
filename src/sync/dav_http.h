// SPDX-License-Identifier: GPL-3.0-or-later
// Requests to calendar and contacts (WebDAV) servers over HTTP and HTTPS.
//
// One client per account, used by one thread at a time (the sync worker):
// it keeps its connection alive between requests and its TLS session. The
// password only ever goes to the account's own host: a redirect, or an href
// in an answer, that leads to another host (or from https down to http) is
// refused with DAV_ERR_OTHER_HOST before anything is sent there.
//
// Certificates verify against the system's authorities; a self-signed server
// is trusted by the SHA-256 fingerprint of its certificate, which every TLS
// handshake records in DavClient::fingerprint so that the failure message of
// the first attempt can show it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "support/strings.h"

struct DavDns;

enum DavError {
  DAV_OK = 0,
  DAV_ERR_BAD_URL = -1,          // not an http(s) address or host name
  DAV_ERR_BAD_FINGERPRINT = -2,  // the trusted fingerprint is not 64 hex digits
  DAV_ERR_RESOLVE = -3,          // host name not found
  DAV_ERR_CONNECT = -4,          // no connection
  DAV_ERR_NETWORK = -5,          // the connection broke off
  DAV_ERR_TIMEOUT = -6,          // no connection in time, or the transfer stalled
  DAV_ERR_CANCELLED = -7,
  DAV_ERR_TLS = -8,              // no TLS handshake (protocol, cipher)
  DAV_ERR_TLS_UNTRUSTED = -9,    // the certificate did not verify (fingerprint recorded)
  DAV_ERR_OTHER_HOST = -10,      // redirect or href to another host (DavClient::refused_url)
  DAV_ERR_AUTH = -11,            // 401
  DAV_ERR_FORBIDDEN = -12,       // 403
  DAV_ERR_NOT_FOUND = -13,       // 404, 410
  DAV_ERR_PRECONDITION = -14,    // 412: changed on the server meanwhile
  DAV_ERR_QUOTA = -15,           // 507
  DAV_ERR_SERVER = -16,          // 5xx
  DAV_ERR_HTTP = -17,            // any other status that is not a success
  DAV_ERR_PROTOCOL = -18,        // an answer that is not what WebDAV promises
  DAV_ERR_TOO_LARGE = -19,       // an answer above DavClient::max_response
  DAV_ERR_NO_SERVICE = -20,      // discovery found no calendar or contacts service
  DAV_ERR_INTERNAL = -21,        // the HTTP library could not be set up
};

// What the user enters for an account.
struct DavAccount {
  std::string url;  // "dav.example.org", "host:8443/dav/", "https://host/path"
  std::string user;
  std::string password;
  // SHA-256 of the server's certificate ("AB:CD:…" or plain hex, any case);
  // empty: only certificates that verify normally are accepted.
  std::string trusted_fingerprint;
};

struct DavClient {
  DavClient();
  ~DavClient();  // wipes the password and the credentials built from it
  DavClient(const DavClient&) = delete;
  DavClient& operator=(const DavClient&) = delete;

  // Set by dav_open.
  std::string url;     // the account's address, normalized ("https://host/path/")
  std::string host;    // its host, lower case: the only one requests go to
  std::string user, password;
  bool pinned = false;
  uint8_t pin[32] = {};
  // Set by dav_open when the address was a domain alone ("example.org",
  // "http://example.org", "alice@example.org"): discovery asks the
  // domain's SRV records for its servers first; plain http services only
  // when the address itself said http://.
  std::string domain;
  bool domain_plain = false;
  // Where discovery's DNS queries go; null: the system's resolver.
  const DavDns* dns = nullptr;

  // Limits, set before the first request.
  long connect_timeout = 20;  // seconds to connect
  long stall_timeout = 60;    // seconds without a byte in either direction
  size_t max_response = size_t{256} << 20;
  // Set from any thread; the running request stops within about a second.
  std::atomic<bool> cancel{false};

  // What the last request met, for messages and tests.
  long status = 0;          // HTTP status of the last answer (0: none)
  std::string fingerprint;  // SHA-256 of the last certificate seen, "AB:CD:…"
  std::string refused_url;  // the address DAV_ERR_OTHER_HOST refused
  // The precondition a refused write named ("no-uid-conflict"), else "".
  std::string condition;
  long requests = 0;        // HTTP requests sent, retries and redirects included

  struct Impl;
  std::unique_ptr<Impl> impl;
};

// Checks and normalizes the account's address (a bare host becomes https),
// keeps the credentials, and sets up the connection handle. 0,
// DAV_ERR_BAD_URL, DAV_ERR_BAD_FINGERPRINT or DAV_ERR_INTERNAL.
int dav_open(DavClient* c, const DavAccount& account);

// Points the client at another address. Discovery moves it to the server
// that an SRV record of the user's own domain names, which is the
// account's host from then on: its certificate must match it, and
// redirects elsewhere are refused as before. 0, DAV_ERR_BAD_URL or
// DAV_ERR_INTERNAL.
int dav_retarget(DavClient* c, const std::string& url);

// "https://host[:port]/path" from what a user typed: scheme http or https
// (https when none is given), no user name, password, query or fragment,
// path at least "/". 0 or DAV_ERR_BAD_URL.
int dav_normalize_url(const std::string& text, std::string* out);

// 32 bytes from 64 hexadecimal digits, with ":" or blanks between them
// allowed. False for anything else.
bool dav_parse_fingerprint(const std::string& text, uint8_t out[32]);
// "AB:CD:…": 32 bytes as upper-case hex pairs joined by colons.
std::string dav_format_fingerprint(const uint8_t fp[32]);

struct DavRequest {
  const char* method = "GET";
  std::string url;  // absolute, or a path on the account's host
  std::string body;
  const char* content_type = nullptr;
  int depth = -1;           // Depth header: 0, 1, or -1 for none
  std::string if_match;     // an ETag: change only that version
  bool if_none_match = false;  // If-None-Match: * (create, never replace)
};

struct DavReply {
  long status = 0;
  std::string url;  // the address that answered, after redirects
  std::string body;
  std::string etag;  // the ETag header, as sent
  std::string content_type;
};

// Sends the request, following redirects on the same host (at most five) and
// answering one authentication challenge. 0 once any final answer arrived,
// whatever its status (reply->status; see dav_status_error), or a transport
// error (timeouts, TLS, cancel, other host, size).
int dav_send(DavClient* c, const DavRequest& req, DavReply* reply);

// 0 for a 2xx status, else the error code it stands for.
int dav_status_error(long status);

// `ref` (an href from an answer or a Location) resolved against the address
// `base`: the absolute URL, or DAV_ERR_OTHER_HOST (c->refused_url set) when
// it leads off the account's host, DAV_ERR_PROTOCOL when it is no URL.
int dav_resolve(DavClient* c, const std::string& base, const std::string& ref, std::string* out);

// The path (with its query, if any) of an absolute URL; "/" when it has none.
std::string dav_url_path(const std::string& url);

// The string id of an error code's message: code -n is the n-th id of
// STR_DAV_ERROR_RANGE; STR_NONE for 0 and unknown codes.
StrId dav_message_id(int rc);

// The message for an error code in the current language, with what the
// client recorded about it (status, fingerprint, host, refused address).
// Empty for 0.
std::string dav_error_message(const DavClient& c, int rc);
