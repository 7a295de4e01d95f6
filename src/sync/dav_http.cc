// SPDX-License-Identifier: GPL-3.0-or-later
#include "sync/dav_http.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "crypto/wipe.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/version.h"

namespace {

enum { AUTH_NONE = 0, AUTH_BASIC = 1, AUTH_DIGEST = 2 };
enum { MAX_REDIRECTS = 5 };

std::once_flag g_curl_once;
bool g_curl_ok = false;
int g_ssl_index = -1;

// libcurl copies the credentials into its own buffers (options, request
// headers); every block it frees or moves is wiped first.
void wiping_free(void* p) {
  if (!p) return;
  wipe(p, malloc_usable_size(p));
  std::free(p);
}

void* wiping_realloc(void* p, size_t size) {
  if (!p) return std::malloc(size);
  if (size == 0) {
    wiping_free(p);
    return nullptr;
  }
  size_t old = malloc_usable_size(p);
  void* q = std::malloc(size);
  if (!q) return nullptr;
  std::memcpy(q, p, old < size ? old : size);
  wiping_free(p);
  return q;
}

char* wiping_strdup(const char* s) {
  size_t n = std::strlen(s) + 1;
  auto* p = static_cast<char*>(std::malloc(n));
  if (p) std::memcpy(p, s, n);
  return p;
}

void* plain_malloc(size_t size) { return std::malloc(size); }
void* plain_calloc(size_t n, size_t size) { return std::calloc(n, size); }

void global_init() {
  std::call_once(g_curl_once, [] {
    g_curl_ok = curl_global_init_mem(CURL_GLOBAL_DEFAULT, plain_malloc, wiping_free, wiping_realloc, wiping_strdup,
                                     plain_calloc) == CURLE_OK;
    g_ssl_index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  });
}

std::string lower(std::string s) {
  for (char& ch : s)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return s;
}

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// A parsed URL, freed on every path.
struct Url {
  CURLU* u = curl_url();
  Url() = default;
  Url(const Url&) = delete;
  Url& operator=(const Url&) = delete;
  ~Url() { curl_url_cleanup(u); }
  bool set(CURLUPart part, const char* value, unsigned flags = 0) {
    return u && curl_url_set(u, part, value, flags) == CURLUE_OK;
  }
  std::string get(CURLUPart part, unsigned flags = 0) const {
    char* out = nullptr;
    if (!u || curl_url_get(u, part, &out, flags) != CURLUE_OK || !out) return "";
    std::string s(out);
    curl_free(out);
    return s;
  }
};

bool is_redirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

struct DavClient::Impl {
  CURL* curl = nullptr;
  std::string basic;  // "Authorization: Basic …"
  int auth = AUTH_NONE;
  bool https = false;

  // The request in flight.
  DavClient* owner = nullptr;
  DavReply* reply = nullptr;
  std::string host;  // host of the request, for the pinned-certificate name check
  std::string location;
  std::string challenge;  // WWW-Authenticate values, lower case
  long answers = 0;       // final status lines seen
  bool too_large = false;
  bool tls_rejected = false;

  ~Impl() {
    wipe(&basic);
    if (curl) curl_easy_cleanup(curl);
  }
};

DavClient::DavClient() = default;

DavClient::~DavClient() {
  wipe(&password);
  wipe(pin, sizeof pin);
}

int dav_normalize_url(const std::string& text_in, std::string* out) {
  global_init();
  std::string text = trim(text_in);
  if (text.empty() || text.find_first_of(" \t\r\n") != std::string::npos) return DAV_ERR_BAD_URL;
  if (text.find("://") == std::string::npos) text = "https://" + text;
  Url u;
  if (!u.set(CURLUPART_URL, text.c_str())) return DAV_ERR_BAD_URL;
  std::string scheme = lower(u.get(CURLUPART_SCHEME));
  std::string host = lower(u.get(CURLUPART_HOST));
  if ((scheme != "http" && scheme != "https") || host.empty()) return DAV_ERR_BAD_URL;
  // Credentials never travel in the address; the account carries them.
  if (!u.set(CURLUPART_USER, nullptr) || !u.set(CURLUPART_PASSWORD, nullptr) ||
      !u.set(CURLUPART_OPTIONS, nullptr) || !u.set(CURLUPART_QUERY, nullptr) ||
      !u.set(CURLUPART_FRAGMENT, nullptr) || !u.set(CURLUPART_HOST, host.c_str()) ||
      !u.set(CURLUPART_SCHEME, scheme.c_str()))
    return DAV_ERR_BAD_URL;
  if (u.get(CURLUPART_PATH).empty() && !u.set(CURLUPART_PATH, "/")) return DAV_ERR_BAD_URL;
  *out = u.get(CURLUPART_URL);
  return out->empty() ? DAV_ERR_BAD_URL : 0;
}

bool dav_parse_fingerprint(const std::string& text, uint8_t out[32]) {
  int n = 0;
  int hi = -1;
  for (char ch : text) {
    if (ch == ':' || ch == ' ' || ch == '\t') {
      if (hi >= 0) return false;  // separators only between pairs
      continue;
    }
    int v = ch >= '0' && ch <= '9' ? ch - '0'
            : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
            : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                     : -1;
    if (v < 0 || n == 32) return false;
    if (hi < 0) {
      hi = v;
    } else {
      out[n++] = static_cast<uint8_t>(hi << 4 | v);
      hi = -1;
    }
  }
  return n == 32 && hi < 0;
}

std::string dav_format_fingerprint(const uint8_t fp[32]) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (int i = 0; i < 32; i++) {
    if (i) s += ':';
    s += digits[fp[i] >> 4];
    s += digits[fp[i] & 15];
  }
  return s;
}

namespace {
void setup_handle(DavClient* c);

// The domain of an address that names nothing but one (no port, no path,
// no IP address), for the SRV records; "" for any other.
std::string domain_of(const Url& u) {
  std::string host = u.get(CURLUPART_HOST);
  if (!u.get(CURLUPART_PORT).empty() || u.get(CURLUPART_PATH) != "/") return "";
  if (host.find('.') == std::string::npos || host.front() == '[') return "";
  in_addr v4;
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 ? "" : host;
}

// The client's host, scheme and first authentication from its url.
void take_url(DavClient* c) {
  Url u;
  u.set(CURLUPART_URL, c->url.c_str());
  c->host = u.get(CURLUPART_HOST);
  c->impl->https = u.get(CURLUPART_SCHEME) == "https";
  // Over https the password goes with the first request; over plain http
  // the server first says which scheme it takes, so that a digest server
  // never sees it in clear.
  if (!c->user.empty()) c->impl->auth = c->impl->https ? AUTH_BASIC : AUTH_NONE;
}
}  // namespace

int dav_open(DavClient* c, const DavAccount& account) {
  global_init();
  if (!g_curl_ok || g_ssl_index < 0) {
    log_message(LOG_ERROR, "dav_open: no HTTP library");
    return DAV_ERR_INTERNAL;
  }
  int rc = dav_normalize_url(account.url, &c->url);
  if (rc) return rc;
  c->pinned = false;
  if (!account.trusted_fingerprint.empty()) {
    if (!dav_parse_fingerprint(account.trusted_fingerprint, c->pin)) return DAV_ERR_BAD_FINGERPRINT;
    c->pinned = true;
  }
  Url u;
  u.set(CURLUPART_URL, c->url.c_str());
  c->domain = domain_of(u);
  c->domain_plain = u.get(CURLUPART_SCHEME) == "http";
  c->impl = std::make_unique<DavClient::Impl>();
  c->impl->curl = curl_easy_init();
  if (!c->impl->curl) return DAV_ERR_INTERNAL;
  setup_handle(c);
  c->user = account.user;
  wipe(&c->password);
  c->password = account.password;
  if (!c->user.empty()) {
    std::string plain = c->user + ":" + c->password;
    std::string encoded(4 * ((plain.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                            reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()));
    // Built in place: no temporary copy of the credentials is left behind.
    c->impl->basic.reserve(21 + encoded.size());
    c->impl->basic = "Authorization: Basic ";
    c->impl->basic.append(encoded.data(), n > 0 ? static_cast<size_t>(n) : 0);
    wipe(&plain);
    wipe(&encoded);
  }
  take_url(c);
  return 0;
}

int dav_retarget(DavClient* c, const std::string& url) {
  if (!c->impl || !c->impl->curl) return DAV_ERR_INTERNAL;
  std::string norm;
  if (dav_normalize_url(url, &norm) != 0) return DAV_ERR_BAD_URL;
  c->url = norm;
  take_url(c);
  // A digest round with the previous host leaves nothing for the next.
  curl_easy_setopt(c->impl->curl, CURLOPT_USERNAME, nullptr);
  curl_easy_setopt(c->impl->curl, CURLOPT_PASSWORD, nullptr);
  curl_easy_setopt(c->impl->curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  return 0;
}

std::string dav_url_path(const std::string& url) {
  Url u;
  if (!u.set(CURLUPART_URL, url.c_str())) return "/";
  std::string path = u.get(CURLUPART_PATH);
  std::string query = u.get(CURLUPART_QUERY);
  if (path.empty()) path = "/";
  return query.empty() ? path : path + "?" + query;
}

int dav_resolve(DavClient* c, const std::string& base, const std::string& ref_in, std::string* out) {
  std::string ref = trim(ref_in);
  Url u;
  if (ref.empty() || !u.set(CURLUPART_URL, base.c_str()) || !u.set(CURLUPART_URL, ref.c_str()))
    return DAV_ERR_PROTOCOL;
  std::string url = u.get(CURLUPART_URL);
  std::string scheme = lower(u.get(CURLUPART_SCHEME));
  bool same_host = lower(u.get(CURLUPART_HOST)) == c->host;
  bool downgrade = c->impl && c->impl->https && scheme != "https";
  if (!same_host || downgrade || (scheme != "http" && scheme != "https") ||
      !u.get(CURLUPART_USER).empty()) {
    c->refused_url = url;
    log_message(LOG_WARNING, "dav_resolve: refused %s", same_host ? "downgrade" : "other host");
    return DAV_ERR_OTHER_HOST;
  }
  *out = url;
  return 0;
}

int dav_status_error(long status) {
  if (status >= 200 && status < 300) return 0;
  switch (status) {
    case 401: return DAV_ERR_AUTH;
    case 403: return DAV_ERR_FORBIDDEN;
    case 404:
    case 410: return DAV_ERR_NOT_FOUND;
    case 412: return DAV_ERR_PRECONDITION;
    case 507: return DAV_ERR_QUOTA;
    default: return status >= 500 && status < 600 ? DAV_ERR_SERVER : DAV_ERR_HTTP;
  }
}

namespace {

// Records the leaf certificate's fingerprint on every handshake and decides:
// the pinned certificate passes whatever the chain says; anything else must
// verify, and, since a pin turns curl's own name check off, match the host.
int verify_cb(int ok, X509_STORE_CTX* store) {
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* c = ssl ? static_cast<DavClient*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), g_ssl_index)) : nullptr;
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  if (!c || !leaf) return 0;
  uint8_t fp[32];
  unsigned len = 0;
  if (!X509_digest(leaf, EVP_sha256(), fp, &len) || len != 32) return 0;
  c->fingerprint = dav_format_fingerprint(fp);
  if (c->pinned && CRYPTO_memcmp(fp, c->pin, 32) == 0) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  if (ok && c->pinned && X509_STORE_CTX_get_error_depth(store) == 0) {
    std::string host = c->impl->host;
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    bool ip = X509_check_ip_asc(leaf, host.c_str(), 0) == 1;
    if (!ip && X509_check_host(leaf, host.c_str(), host.size(), 0, nullptr) != 1) {
      X509_STORE_CTX_set_error(store, X509_V_ERR_HOSTNAME_MISMATCH);
      ok = 0;
    }
  }
  if (!ok) c->impl->tls_rejected = true;
  return ok;
}

CURLcode ssl_ctx_cb(CURL*, void* ssl_ctx, void* clientp) {
  auto* ctx = static_cast<SSL_CTX*>(ssl_ctx);
  SSL_CTX_set_ex_data(ctx, g_ssl_index, clientp);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, verify_cb);
  return CURLE_OK;
}

size_t write_cb(char* data, size_t size, size_t n, void* userp) {
  auto* impl = static_cast<DavClient::Impl*>(userp);
  size_t len = size * n;
  if (impl->reply->body.size() + len > impl->owner->max_response) {
    impl->too_large = true;
    return 0;
  }
  impl->reply->body.append(data, len);
  return len;
}

size_t header_cb(char* data, size_t size, size_t n, void* userp) {
  auto* impl = static_cast<DavClient::Impl*>(userp);
  size_t len = size * n;
  std::string line(data, len);
  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new answer: an interim 1xx one, an authentication round or the final.
    size_t sp = line.find(' ');
    long status = sp == std::string::npos ? 0 : std::strtol(line.c_str() + sp + 1, nullptr, 10);
    if (status >= 200) impl->answers++;
    impl->location.clear();
    impl->challenge.clear();
    impl->reply->etag.clear();
    impl->reply->content_type.clear();
    return len;
  }
  size_t colon = line.find(':');
  if (colon == std::string::npos) return len;
  std::string name = lower(line.substr(0, colon));
  std::string value = trim(line.substr(colon + 1));
  if (name == "etag") impl->reply->etag = value;
  else if (name == "location") impl->location = value;
  else if (name == "content-type") impl->reply->content_type = value;
  else if (name == "www-authenticate") impl->challenge += lower(value) + "\n";
  return len;
}

int progress_cb(void* clientp, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<DavClient*>(clientp)->cancel.load() ? 1 : 0;
}

int map_curl(const DavClient::Impl& impl, CURLcode code, bool cancelled) {
  if (impl.tls_rejected) return DAV_ERR_TLS_UNTRUSTED;
  switch (code) {
    case CURLE_OK: return 0;
    case CURLE_ABORTED_BY_CALLBACK: return cancelled ? DAV_ERR_CANCELLED : DAV_ERR_NETWORK;
    case CURLE_WRITE_ERROR: return impl.too_large ? DAV_ERR_TOO_LARGE : DAV_ERR_NETWORK;
    case CURLE_OPERATION_TIMEDOUT: return DAV_ERR_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST: return DAV_ERR_RESOLVE;
    case CURLE_COULDNT_CONNECT: return DAV_ERR_CONNECT;
    case CURLE_PEER_FAILED_VERIFICATION: return DAV_ERR_TLS_UNTRUSTED;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED: return DAV_ERR_TLS;
    case CURLE_URL_MALFORMAT: return DAV_ERR_BAD_URL;
    // Only http and https addresses get this far: these are answers that are
    // no HTTP at all.
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY: return DAV_ERR_PROTOCOL;
    case CURLE_OUT_OF_MEMORY:
    case CURLE_FAILED_INIT:
    case CURLE_NOT_BUILT_IN:
    case CURLE_UNKNOWN_OPTION:
    case CURLE_BAD_FUNCTION_ARGUMENT: return DAV_ERR_INTERNAL;
    default: return DAV_ERR_NETWORK;
  }
}

// Header lines of one request; the list is wiped as it may hold the password.
struct HeaderList {
  curl_slist* list = nullptr;
  bool ok = true;
  HeaderList() = default;
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() {
    for (curl_slist* p = list; p; p = p->next) wipe(p->data, std::strlen(p->data));
    curl_slist_free_all(list);
  }
  void add(const std::string& line) {
    curl_slist* next = curl_slist_append(list, line.c_str());
    if (next) list = next;
    else ok = false;
  }
};

// The options every request of the client shares.
void setup_handle(DavClient* c) {
  CURL* h = c->impl->curl;
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  std::string agent = std::string("Ordika/") + program_version();
  curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  // A pinned certificate names whatever host it was made for; verify_cb
  // checks the name of any other certificate itself.
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, c->pinned ? 0L : 2L);
  curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, ssl_ctx_cb);
  curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, c);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, write_cb);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, c->impl.get());
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, header_cb);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, c->impl.get());
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, progress_cb);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, c);
}

// One exchange without redirects: 0 with reply->status, or a transport error.
int perform(DavClient* c, const DavRequest& req, const std::string& url, DavReply* reply) {
  DavClient::Impl* impl = c->impl.get();
  CURL* h = impl->curl;
  reply->status = 0;
  reply->body.clear();
  reply->etag.clear();
  reply->content_type.clear();
  impl->reply = reply;
  impl->owner = c;
  impl->location.clear();
  impl->challenge.clear();
  impl->answers = 0;
  impl->too_large = false;
  impl->tls_rejected = false;
  {
    Url u;
    u.set(CURLUPART_URL, url.c_str());
    impl->host = u.get(CURLUPART_HOST);
  }

  // The handle keeps its options between requests (and with them the live
  // connection, the TLS session and a digest nonce): only what differs from
  // one request to the next is set here.
  HeaderList headers;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, c->connect_timeout);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, c->stall_timeout);
  std::string method = req.method;
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);  // clears the previous method and body
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
  if (method == "HEAD") {
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else if (method != "GET") {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, req.method);
    if (!req.body.empty() || method == "PUT") {
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, req.body.data());
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(req.body.size()));
    }
  }
  headers.add("Expect:");  // no 100-continue pause before a body
  if (req.content_type) headers.add(std::string("Content-Type: ") + req.content_type);
  if (req.depth >= 0) headers.add("Depth: " + std::to_string(req.depth));
  if (!req.if_match.empty()) headers.add("If-Match: " + req.if_match);
  if (req.if_none_match) headers.add("If-None-Match: *");
  if (method == "PROPFIND" || method == "REPORT") headers.add("Prefer: return=minimal");
  if (impl->auth == AUTH_BASIC) headers.add(impl->basic);
  if (impl->auth == AUTH_DIGEST) {
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_DIGEST));
    curl_easy_setopt(h, CURLOPT_USERNAME, c->user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, c->password.c_str());
  }
  if (!headers.ok) return DAV_ERR_INTERNAL;
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);

  CURLcode code = curl_easy_perform(h);
  c->requests += impl->answers > 0 ? impl->answers : 1;
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  // Nothing of the credentials stays in the handle's options.
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
  if (impl->auth == AUTH_DIGEST) curl_easy_setopt(h, CURLOPT_PASSWORD, "");
  int rc = map_curl(*impl, code, c->cancel.load());
  if (rc) return rc;
  reply->status = status;
  return 0;
}

// The scheme to answer a 401 with, or AUTH_NONE when there is nothing new
// to try: digest where the server offers only that, or where it offers both
// over plain http; else basic.
int pick_auth(const DavClient::Impl& impl) {
  bool basic = impl.challenge.find("basic") != std::string::npos;
  bool digest = impl.challenge.find("digest") != std::string::npos;
  int want = digest && (!basic || !impl.https) ? AUTH_DIGEST : basic ? AUTH_BASIC : AUTH_NONE;
  return want == impl.auth ? AUTH_NONE : want;
}

}  // namespace

int dav_send(DavClient* c, const DavRequest& req, DavReply* reply) {
  if (!c->impl || !c->impl->curl) return DAV_ERR_INTERNAL;
  c->status = 0;
  c->refused_url.clear();
  if (c->cancel.load()) return DAV_ERR_CANCELLED;
  std::string url;
  int rc = dav_resolve(c, c->url, req.url.empty() ? c->url : req.url, &url);
  if (rc) return rc;
  auto start = std::chrono::steady_clock::now();
  bool auth_retried = false;
  int hops = 0;
  for (;;) {
    rc = perform(c, req, url, reply);
    if (rc) break;
    c->status = reply->status;
    if (reply->status == 401 && !auth_retried && !c->user.empty()) {
      auth_retried = true;
      int want = pick_auth(*c->impl);
      if (want != AUTH_NONE) {
        c->impl->auth = want;
        continue;
      }
    }
    if (is_redirect(reply->status) && !c->impl->location.empty()) {
      if (++hops > MAX_REDIRECTS) {
        rc = DAV_ERR_PROTOCOL;
        break;
      }
      rc = dav_resolve(c, url, c->impl->location, &url);
      if (rc) break;
      continue;
    }
    reply->url = url;
    break;
  }
  long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  if (rc) log_message(LOG_WARNING, "dav_send: %s %d after %ld ms", req.method, rc, ms);
  else log_message(LOG_DEBUG, "dav_send: %s %ld in %ld ms", req.method, reply->status, ms);
  return rc;
}

StrId dav_message_id(int rc) {
  return rc < 0 && rc >= DAV_ERR_INTERNAL ? str_at(STR_DAV_ERROR_RANGE, -rc - 1) : STR_NONE;
}

std::string dav_error_message(const DavClient& c, int rc) {
  StrId id = dav_message_id(rc);
  if (rc == 0) return "";
  if (id == STR_NONE) return ui_string_line(dav_message_id(DAV_ERR_PROTOCOL));
  switch (rc) {
    case DAV_ERR_RESOLVE:
    case DAV_ERR_CONNECT:
    case DAV_ERR_TLS:
    case DAV_ERR_NO_SERVICE: return ui_format(id, c.host.c_str());
    case DAV_ERR_TLS_UNTRUSTED:
      if (c.fingerprint.empty()) return ui_format(dav_message_id(DAV_ERR_TLS), c.host.c_str());
      return ui_format(id, c.host.c_str(), c.fingerprint.c_str());
    case DAV_ERR_OTHER_HOST: return ui_format(id, c.refused_url.c_str());
    case DAV_ERR_SERVER:
    case DAV_ERR_HTTP: return ui_format(id, static_cast<int>(c.status));
    default: return ui_string_line(id);
  }
}
